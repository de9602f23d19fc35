#include "tools/forge/EncodingFileWriter.h"

#include "casc/Bytes.h"
#include "platform/Md5.h"

#include <QList>

#include <algorithm>
#include <functional>

namespace Orvane {
namespace CASC {
namespace Forge {

namespace {

/// One table: the entries sorted by p_Key, cut into zero-padded pages; appends its page index
/// (first key and MD5 of each page) and its pages, and returns the page count.
quint32 Table(std::vector<EncodingFileWriter::Entry>& p_Entries, int p_PerPage,
              QByteArray EncodingFileWriter::Entry::*p_Key,
              const std::function<QByteArray(const EncodingFileWriter::Entry&)>& p_Bytes, QByteArray& p_Index,
              QByteArray& p_Pages)
{
    std::sort(p_Entries.begin(), p_Entries.end(), [&](const EncodingFileWriter::Entry& p_A,
                                                      const EncodingFileWriter::Entry& p_B) {
        return p_A.*p_Key < p_B.*p_Key;
    });
    quint32 l_PageCount = 0;
    for (size_t l_First = 0; l_First < p_Entries.size(); l_First += size_t(p_PerPage))
    {
        QByteArray l_Page;
        l_Page.reserve(EncodingFileWriter::PageSize);
        const size_t l_End = qMin(p_Entries.size(), l_First + size_t(p_PerPage));
        for (size_t l_I = l_First; l_I < l_End; ++l_I)
            l_Page.append(p_Bytes(p_Entries[l_I]));
        l_Page.append(QByteArray(EncodingFileWriter::PageSize - l_Page.size(), '\0'));
        p_Index.append(p_Entries[l_First].*p_Key).append(Md5::Hash(l_Page));
        p_Pages.append(l_Page);
        ++l_PageCount;
    }
    return l_PageCount;
}

} // namespace

QByteArray EncodingFileWriter::Build(std::vector<Entry> p_Entries, const QList<QByteArray>& p_Recipes)
{
    QByteArray l_Strings;
    for (const QByteArray& l_Recipe : p_Recipes)
        l_Strings.append(l_Recipe).append('\0');

    QByteArray l_IndexA, l_PagesA, l_IndexB, l_PagesB;
    const quint32 l_PageCountA = Table(p_Entries, EntriesPerPageA, &Entry::m_ContentKey, [](const Entry& p_Entry) {
        QByteArray l_Out;
        l_Out.append(char(1));                                  // key count
        l_Out.append(char((p_Entry.m_ContentSize >> 32) & 0xFF)); // top byte of the 40-bit size
        Bytes::AppendBigEndian32(l_Out, quint32(p_Entry.m_ContentSize));
        return l_Out.append(p_Entry.m_ContentKey).append(p_Entry.m_EncodingKey);
    }, l_IndexA, l_PagesA);
    const quint32 l_PageCountB = Table(p_Entries, EntriesPerPageB, &Entry::m_EncodingKey, [](const Entry& p_Entry) {
        QByteArray l_Out = p_Entry.m_EncodingKey;
        Bytes::AppendBigEndian32(l_Out, 0); // index of its encoding recipe in the string block
        l_Out.append(char((p_Entry.m_EncodedSize >> 32) & 0xFF));
        Bytes::AppendBigEndian32(l_Out, quint32(p_Entry.m_EncodedSize));
        return l_Out;
    }, l_IndexB, l_PagesB);

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
