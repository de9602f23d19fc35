#pragma once
#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <memory>

class QFile;

namespace Orvane {
namespace Launcher {

/// Where a transfer's body goes: memory up to a cap, or a file opened for append. Used on one thread.
class TransferSink
{
public:
    /// In memory, at most p_Cap bytes.
    static std::unique_ptr<TransferSink> Memory(qint64 p_Cap);
    /// Appended to p_Path (created if missing); p_Cap < 0: no bound beyond the transfer's own.
    static std::unique_ptr<TransferSink> File(const QString& p_Path, qint64 p_Cap = -1);
    ~TransferSink();

    /// File: opens it for append (false with ErrorText set). Memory: always true.
    bool Open();
    void Close();
    bool IsFile() const { return !m_Path.isEmpty(); }
    /// Bytes held (the file's size).
    qint64 Size() const;
    qint64 Cap() const { return m_Cap; }
    /// Appends p_Bytes; false (ErrorText set) when not all of it was taken.
    bool Write(const QByteArray& p_Bytes);
    /// Drops everything held.
    void Truncate();

    QByteArray& Data() { return m_Data; }
    const QString& Path() const { return m_Path; }
    const QString& ErrorText() const { return m_ErrorText; }

private:
    TransferSink() = default;
    QByteArray m_Data;
    QString m_Path;
    std::unique_ptr<QFile> m_File;
    qint64 m_FileSize = 0;
    qint64 m_Cap = -1;
    QString m_ErrorText;
};

} // namespace Launcher
} // namespace Orvane
