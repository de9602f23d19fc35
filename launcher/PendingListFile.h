#pragma once
#include "platform/QtCompat.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QVector>

#include <vector>

namespace Orvane {
namespace Launcher {

/// The lines of one download list file, kept in memory while a phase completes its files, so that a
/// completion costs no read and no rewrite of the whole file. A change that names a file the file on
/// disk lacks is written at once (a kill never loses a file to fetch); removals are written at most once
/// per p_WriteEveryMs and at every Flush (stop, phase end, exit), so a kill costs at most the files of
/// the last interval being fetched again. Used on the application's thread only.
class PendingListFile
{
public:
    explicit PendingListFile(qint64 p_WriteEveryMs = 1000) : m_WriteEveryMs(p_WriteEveryMs) {}

    /// Works on p_Path from now on (the lines of another file are written first). Same path: nothing.
    void Open(const QString& p_Path);
    /// Writes what is pending, then forgets the file (it may be rewritten or deleted by others now).
    void Close();
    const QString& Path() const { return m_Path; }

    /// Drops every line equal to p_Remove, then appends p_Append when it is not empty; written now
    /// when due (see above). False when a write failed (the lines stay pending).
    bool Update(const QString& p_Remove, const QString& p_Append);
    /// Writes the pending lines, if any. False when the write failed.
    bool Flush();
    /// Lines not yet written.
    bool Pending() const { return m_Dirty; }

private:
    bool Write();

    qint64 m_WriteEveryMs;
    QString m_Path;
    std::vector<QString> m_Lines; ///< in file order; removed ones are empty
    QHash<QString, QVector<int>> m_Where; ///< the positions of each line still present
    QSet<QString> m_OnDisk;       ///< the lines of the file as last written or read
    bool m_Dirty = false;
    Compat::ElapsedTimer m_SinceWrite;
};

} // namespace Launcher
} // namespace Orvane
