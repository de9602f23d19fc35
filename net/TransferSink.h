#pragma once
#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <vector>

class QFile;

namespace Orvane {
class Md5Worker;
}

namespace Orvane {
namespace Launcher {

/// Where a transfer's body goes: memory up to a cap, or a file opened for append; a layer above may take the
/// bytes itself (a subclass). Used on one thread.
class TransferSink
{
public:
    /// In memory, at most p_Cap bytes.
    static std::unique_ptr<TransferSink> Memory(qint64 p_Cap);
    /// Appended to p_Path (created if missing); p_Cap < 0: no bound beyond the transfer's own.
    static std::unique_ptr<TransferSink> File(const QString& p_Path, qint64 p_Cap = -1);
    virtual ~TransferSink();

    /// File: opens it for append (false with ErrorText set). Memory: always true.
    virtual bool Open();
    /// A file not begun yet: the transfer sends its request first and opens the file while it travels
    /// (creating a file can cost as much as a round trip). Otherwise it is opened before anything is sent.
    void SetOpenAfterSending(bool p_After) { m_OpenAfterSending = p_After; }
    bool OpensAfterSending() const { return m_OpenAfterSending; }
    virtual void Close();
    bool IsFile() const { return !m_Path.isEmpty(); }
    /// Bytes held (the file's size).
    virtual qint64 Size() const;
    qint64 Cap() const { return m_Cap; }
    /// Appends p_Bytes; false (ErrorText set) when not all of it was taken.
    bool Write(const QByteArray& p_Bytes) { return Write(p_Bytes.constData(), p_Bytes.size()); }
    virtual bool Write(const char* p_Data, qint64 p_Size);
    /// Drops everything held.
    virtual void Truncate();
    /// Where the caller may place the next bytes so that WriteRoom takes them without a copy: at least 1 and at
    /// most *p_Size bytes (*p_Size > 0; set to the room given). Valid until the next call. A hashed file gives
    /// room in the hashing ring, so the bytes are read once into the place they are hashed from.
    char* Room(qint64* p_Size);
    /// Writes the first p_Size bytes of the last Room, as Write.
    bool WriteRoom(qint64 p_Size);

    /// File: every byte written from now on goes through MD5 as it is written (on a hashing thread, while the
    /// next bytes are written), so the file is never read back for its digest. Before any Open.
    void HashWhileWriting();
    /// After Open: hashes the bytes the file already holds that the digest does not cover yet (a kept part,
    /// read once), asking p_KeepGoing before each block. False when they could not be read or it turned false.
    bool CatchUpHash(const std::function<bool()>& p_KeepGoing);
    /// Upper-case hexadecimal MD5 of the whole file and its size, when every byte of it went through the
    /// digest; the digest then starts over (the next CatchUpHash reads the file again). False otherwise.
    bool TakeDigest(QString* p_Md5, qint64* p_Bytes);

    QByteArray& Data() { return m_Data; }
    const QString& Path() const { return m_Path; }
    const QString& ErrorText() const { return m_ErrorText; }

protected:
    TransferSink();
    /// Opens p_Path into p_File with p_Mode (unbuffered); false with ErrorText set and p_File empty.
    bool OpenFile(std::unique_ptr<QFile>& p_File, const QString& p_Path, QIODevice::OpenMode p_Mode);
    QString m_Path;      ///< a file sink's file; what a write error names
    qint64 m_Cap = -1;
    QString m_ErrorText;

private:
    /// p_InRing: p_Data is the last Room, in the hashing ring.
    bool WriteFile(const char* p_Data, qint64 p_Size, bool p_InRing);

    QByteArray m_Data;
    std::vector<char> m_Buffer; ///< the room when the hashing ring does not give it; allocated on first use
    char* m_Room = nullptr;     ///< the last Room
    bool m_OpenAfterSending = false;
    bool m_RoomInRing = false;  ///< it is in the hashing ring
    std::unique_ptr<QFile> m_File;
    qint64 m_FileSize = 0;
    std::unique_ptr<Orvane::Md5Worker> m_Md5; ///< null: not hashed
    qint64 m_Hashed = -1;               ///< bytes of the file in m_Md5; -1: the digest must start over
};

} // namespace Launcher
} // namespace Orvane
