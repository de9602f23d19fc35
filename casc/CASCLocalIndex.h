#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

namespace Orvane {
namespace CASC {

/// One entry of a local ".idx" file: the slot that an index key owns in a data archive.
struct CASCLocalIndexEntry
{
    char Key[9];
    quint8 Archive;
    quint32 Offset;
    quint32 Size; ///< slot size, 30-byte entry header included
};

/// Reads the installation's local ".idx" files (data/data/), which are never written here.
class CASCLocalIndex
{
public:
    /// The newest ".idx" of each of the 16 buckets, in bucket order (at most 16 paths).
    static QStringList List(const QString& p_InstallFolder);

    /// Entries of one file. False, with the reason in p_Error, when the file cannot be read or
    /// is shorter than its header or entry area says; p_Entries is then left untouched.
    /// Entries whose slot ends beyond what a 32-bit offset holds are skipped and counted in
    /// p_Skipped.
    static bool Read(const QString& p_Path, std::vector<CASCLocalIndexEntry>& p_Entries, QString& p_Error,
                     int* p_Skipped = nullptr);
    static bool Parse(const QByteArray& p_Data, std::vector<CASCLocalIndexEntry>& p_Entries, QString& p_Error,
                      int* p_Skipped = nullptr);

    static constexpr int EntrySize = 18;
};

} // namespace CASC
} // namespace Orvane
