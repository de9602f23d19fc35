#include "tools/forge/ArchiveIndexWriter.h"

#include "casc/Bytes.h"
#include "platform/Md5.h"

#include <QtEndian>

#include <algorithm>

namespace Orvane {
namespace CASC {
namespace Forge {

QByteArray ArchiveIndexWriter::Build(std::vector<Entry> p_Entries)
{
    std::sort(p_Entries.begin(), p_Entries.end(),
              [](const Entry& p_A, const Entry& p_B) { return p_A.m_EncodingKey < p_B.m_EncodingKey; });

    QByteArray l_Blocks;
    QByteArray l_LastKeys;
    QByteArray l_BlockHashes;
    for (size_t l_First = 0; l_First < p_Entries.size(); l_First += EntriesPerBlock)
    {
        QByteArray l_Block;
        l_Block.reserve(BlockSize);
        const size_t l_End = qMin(p_Entries.size(), l_First + EntriesPerBlock);
        for (size_t l_I = l_First; l_I < l_End; ++l_I)
        {
            l_Block.append(p_Entries[l_I].m_EncodingKey);
            Bytes::AppendBigEndian32(l_Block, p_Entries[l_I].m_Size);
            Bytes::AppendBigEndian32(l_Block, p_Entries[l_I].m_Offset);
        }
        l_Block.append(QByteArray(BlockSize - l_Block.size(), '\0'));
        l_LastKeys.append(p_Entries[l_End - 1].m_EncodingKey);
        l_BlockHashes.append(Md5::Hash(l_Block).left(8));
        l_Blocks.append(l_Block);
    }

    const QByteArray l_Toc = l_LastKeys + l_BlockHashes;
    QByteArray l_Footer = Md5::Hash(l_Toc).left(8);
    // version, two reserved bytes, block size in KiB, offset bytes, size bytes, key bytes, hash bytes
    const char l_Format[] = {1, 0, 0, 4, 4, 4, 16, 8};
    l_Footer.append(l_Format, sizeof(l_Format));
    uchar l_Count[4];
    qToLittleEndian(quint32(p_Entries.size()), l_Count);
    l_Footer.append(reinterpret_cast<const char*>(l_Count), 4);
    l_Footer.append(Md5::Hash(l_Footer.mid(8) + QByteArray(8, '\0')).left(8));

    return l_Blocks + l_Toc + l_Footer;
}

} // namespace Forge
} // namespace CASC
} // namespace Orvane
