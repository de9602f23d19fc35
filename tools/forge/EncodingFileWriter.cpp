#include "tools/forge/EncodingFileWriter.h"

#include "casc/Bytes.h"

#include <QCryptographicHash>
#include <QList>

#include <algorithm>
#include <functional>

namespace Orvane {
namespace CASC {
namespace Forge {

namespace {

/// Cuts the entries into zero-padded pages and returns (page index, pages).
void Paginate(size_t p_Count, int p_PerPage, const std::function<QByteArray(size_t)>& p_Entry,
              const std::function<QByteArray(size_t)>& p_FirstKey, QByteArray& p_Index, QByteArray& p_Pages,
              quint32& p_PageCount)
{
    p_PageCount = 0;
    for (size_t l_First = 0; l_First < p_Count; l_First += size_t(p_PerPage))
    {
        QByteArray l_Page;
        l_Page.reserve(EncodingFileWriter::PageSize);
        const size_t l_End = qMin(p_Count, l_First + size_t(p_PerPage));
        for (size_t l_I = l_First; l_I < l_End; ++l_I)
            l_Page.append(p_Entry(l_I));
        l_Page.append(QByteArray(EncodingFileWriter::PageSize - l_Page.size(), '\0'));
        p_Index.append(p_FirstKey(l_First));
        p_Index.append(QCryptographicHash::hash(l_Page, QCryptographicHash::Md5));
        p_Pages.append(l_Page);
        ++p_PageCount;
    }
}

} // namespace

QByteArray EncodingFileWriter::Build(std::vector<Entry> p_Entries, const QList<QByteArray>& p_Recipes)
{
    QByteArray l_Strings;
    for (const QByteArray& l_Recipe : p_Recipes)
        l_Strings.append(l_Recipe).append('\0');

    std::sort(p_Entries.begin(), p_Entries.end(),
              [](const Entry& p_A, const Entry& p_B) { return p_A.m_ContentKey < p_B.m_ContentKey; });
    QByteArray l_IndexA;
    QByteArray l_PagesA;
    quint32 l_PageCountA = 0;
    Paginate(
        p_Entries.size(), EntriesPerPageA,
        [&](size_t p_I) {
            const Entry& l_Entry = p_Entries[p_I];
            QByteArray l_Out;
            l_Out.append(char(1));                                  // key count
            l_Out.append(char((l_Entry.m_ContentSize >> 32) & 0xFF)); // top byte of the 40-bit size
            Bytes::AppendBigEndian32(l_Out, quint32(l_Entry.m_ContentSize));
            l_Out.append(l_Entry.m_ContentKey).append(l_Entry.m_EncodingKey);
            return l_Out;
        },
        [&](size_t p_I) { return p_Entries[p_I].m_ContentKey; }, l_IndexA, l_PagesA, l_PageCountA);

    std::sort(p_Entries.begin(), p_Entries.end(),
              [](const Entry& p_A, const Entry& p_B) { return p_A.m_EncodingKey < p_B.m_EncodingKey; });
    QByteArray l_IndexB;
    QByteArray l_PagesB;
    quint32 l_PageCountB = 0;
    Paginate(
        p_Entries.size(), EntriesPerPageB,
        [&](size_t p_I) {
            const Entry& l_Entry = p_Entries[p_I];
            QByteArray l_Out = l_Entry.m_EncodingKey;
            Bytes::AppendBigEndian32(l_Out, 0); // index of its encoding recipe in the string block
            l_Out.append(char((l_Entry.m_EncodedSize >> 32) & 0xFF));
            Bytes::AppendBigEndian32(l_Out, quint32(l_Entry.m_EncodedSize));
            return l_Out;
        },
        [&](size_t p_I) { return p_Entries[p_I].m_EncodingKey; }, l_IndexB, l_PagesB, l_PageCountB);

    QByteArray l_Out;
    l_Out.append("EN", 2);
    l_Out.append(char(1));  // version
    l_Out.append(char(16)); // content key size
    l_Out.append(char(16)); // encoding key size
    // Page sizes in KiB, little-endian as the launcher reads them.
    const char l_PageSizes[4] = {4, 0, 4, 0};
    l_Out.append(l_PageSizes, 4);
    Bytes::AppendBigEndian32(l_Out, l_PageCountA);
    Bytes::AppendBigEndian32(l_Out, l_PageCountB);
    l_Out.append(char(0));
    Bytes::AppendBigEndian32(l_Out, quint32(l_Strings.size()));
    l_Out.append(l_Strings).append(l_IndexA).append(l_PagesA).append(l_IndexB).append(l_PagesB);
    return l_Out;
}

} // namespace Forge
} // namespace CASC
} // namespace Orvane
