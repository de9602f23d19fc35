#pragma once
#include <QByteArray>
#include <vector>

namespace Orvane {
namespace CASC {
namespace Forge {

/// Writes the ".index" file that the CDN serves beside each data archive.
class ArchiveIndexWriter
{
public:
    struct Entry
    {
        QByteArray m_EncodingKey; ///< 16 raw bytes
        quint32 m_Size = 0;
        quint32 m_Offset = 0;
    };

    /// Entries sorted by key, 170 to a 4096-byte block whose unused end is zero (a full block
    /// ends with 16 zero bytes), then the block table (last key and 8-byte MD5 of each block)
    /// and a 28-byte footer whose last 12 bytes start with the little-endian entry count.
    static QByteArray Build(std::vector<Entry> p_Entries);

    static constexpr int EntrySize = 24;
    static constexpr int BlockSize = 4096;
    static constexpr int EntriesPerBlock = BlockSize / EntrySize; // 170
    static constexpr int FooterSize = 28;
};

} // namespace Forge
} // namespace CASC
} // namespace Orvane
