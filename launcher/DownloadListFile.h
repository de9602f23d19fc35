#pragma once
#include <QString>
#include <QStringList>

namespace Orvane {
namespace Launcher {

/// A persistent download list ("ToDownloadBase.db", "ToDownload.db"): UTF-8,
/// one relative path per line, each followed by a line feed. Rewrites go to a
/// new file that then replaces the old one, so a kill or a full disk at any
/// moment leaves either the old or the new list, never a partial one.
class DownloadListFile
{
public:
    explicit DownloadListFile(const QString& p_Path);

    const QString& Path() const { return m_Path; }

    /// False for a list that was never written (nothing is known about the disk).
    bool Exists() const;

    /// The non-empty lines, in file order; LF and CR LF ends both accepted.
    /// A missing or unreadable file reads as empty.
    QStringList Read() const;

    /// Replaces the file by p_Lines; false (old file untouched) when it could not be written.
    bool Write(const QStringList& p_Lines) const;

private:
    QString m_Path;
};

} // namespace Launcher
} // namespace Orvane
