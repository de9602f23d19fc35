#pragma once
#include <QByteArray>
#include <vector>

namespace Orvane {
namespace CASC {
namespace Forge {

/// Writes the ".idx" files of an installation's "data/data/" folder, one per bucket.
class LocalIndexWriter
{
public:
    struct Entry
    {
        QByteArray m_IndexKey; ///< 9 raw bytes
        int m_Archive = 0;     ///< NNN of data.NNN, 0 to 255
        quint32 m_Offset = 0;  ///< below 2^30
        quint32 m_Size = 0;    ///< slot size, entry header included
    };

    /// The bucket (0 to 15) whose .idx file lists a key.
    static int Bucket(const QByteArray& p_IndexKey);
    /// "%02x00000001.idx"
    static QByteArray FileName(int p_Bucket);
    /// Header block, padding to the entry area, then the entries sorted by key.
    static QByteArray Build(int p_Bucket, std::vector<Entry> p_Entries);

    static constexpr int HeaderBlockSize = 16;
    static constexpr int EntrySize = 18;
    static constexpr int BucketCount = 16;
};

} // namespace Forge
} // namespace CASC
} // namespace Orvane
