#include "tools/forge/LocalIndexWriter.h"

#include "casc/Bytes.h"

#include <QtEndian>

#include <algorithm>

namespace Orvane {
namespace CASC {
namespace Forge {

int LocalIndexWriter::Bucket(const QByteArray& p_IndexKey)
{
    quint8 l_Xor = 0;
    for (int l_I = 0; l_I < 9 && l_I < p_IndexKey.size(); ++l_I)
        l_Xor ^= quint8(p_IndexKey.at(l_I));
    return (l_Xor & 0x0F) ^ (l_Xor >> 4);
}

QByteArray LocalIndexWriter::FileName(int p_Bucket)
{
    return QByteArray::number(p_Bucket, 16).rightJustified(2, '0') + "00000001.idx";
}

QByteArray LocalIndexWriter::Build(int p_Bucket, std::vector<Entry> p_Entries)
{
    std::sort(p_Entries.begin(), p_Entries.end(),
              [](const Entry& p_A, const Entry& p_B) { return p_A.m_IndexKey < p_B.m_IndexKey; });

    QByteArray l_Out;
    Bytes::AppendLittleEndian32(l_Out, HeaderBlockSize);
    Bytes::AppendLittleEndian32(l_Out, 0); // hash: readers do not check it
    // version 7, bucket, reserved, then size/offset/key byte widths, 30 offset bits, max archive size
    const char l_Header[8] = {7, 0, char(p_Bucket), 0, 4, 5, 9, 30};
    l_Out.append(l_Header, sizeof(l_Header));
    uchar l_Max[8];
    qToLittleEndian(quint64(0x40000000), l_Max);
    l_Out.append(reinterpret_cast<const char*>(l_Max), 8);
    const int l_EntryArea = (HeaderBlockSize + 23) & ~15;
    l_Out.append(QByteArray(l_EntryArea - l_Out.size(), '\0'));

    Bytes::AppendLittleEndian32(l_Out, quint32(p_Entries.size() * EntrySize));
    Bytes::AppendLittleEndian32(l_Out, 0);
    for (const Entry& l_Entry : p_Entries)
    {
        l_Out.append(l_Entry.m_IndexKey.left(9));
        l_Out.append(char(quint8(l_Entry.m_Archive) >> 2));
        uchar l_Low[4];
        qToBigEndian(quint32((quint32(l_Entry.m_Archive & 3) << 30) | (l_Entry.m_Offset & 0x3FFFFFFF)), l_Low);
        l_Out.append(reinterpret_cast<const char*>(l_Low), 4);
        Bytes::AppendLittleEndian32(l_Out, l_Entry.m_Size);
    }
    return l_Out;
}

} // namespace Forge
} // namespace CASC
} // namespace Orvane
