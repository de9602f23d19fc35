#pragma once
#include <QByteArray>
#include <vector>

namespace Orvane {
namespace CASC {
namespace Forge {

/// Writes the (decoded) encoding file: content key -> size and encoding key, and back.
class EncodingFileWriter
{
public:
    struct Entry
    {
        QByteArray m_ContentKey;  ///< 16 raw bytes
        QByteArray m_EncodingKey; ///< 16 raw bytes
        quint64 m_ContentSize = 0; ///< 40 bits
        quint64 m_EncodedSize = 0; ///< 40 bits
    };

    /// Header, string block (p_Recipes, each NUL-terminated), page index and 4096-byte pages
    /// of table A (sorted by content key), page index and pages of table B (sorted by
    /// encoding key; every entry names the first recipe).
    static QByteArray Build(std::vector<Entry> p_Entries, const QList<QByteArray>& p_Recipes);

    static constexpr int HeaderSize = 22;
    static constexpr int PageSize = 4096;
    static constexpr int EntrySizeA = 2 + 4 + 16 + 16; ///< one encoding key per entry
    static constexpr int EntrySizeB = 16 + 4 + 1 + 4;
    /// A page of table A always keeps 2 bytes for the zero count word that ends it.
    static constexpr int EntriesPerPageA = (PageSize - 2) / EntrySizeA;
    static constexpr int EntriesPerPageB = PageSize / EntrySizeB;
};

} // namespace Forge
} // namespace CASC
} // namespace Orvane
