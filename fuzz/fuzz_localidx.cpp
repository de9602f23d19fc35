// Local .idx files are read from the installation, which other programs and failing disks
// write: any bytes must give entries or a refusal, never a read past the end.
#include "casc/CASCLocalIndex.h"

#include <climits>
#include <cstdint>
#include <cstdlib>

using namespace Orvane::CASC;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* p_Data, size_t p_Size)
{
    if (p_Size > size_t(INT_MAX))
        return 0;
    const QByteArray l_Bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(p_Data), int(p_Size));
    std::vector<CASCLocalIndexEntry> l_Entries;
    QString l_Error;
    int l_Skipped = 0;
    const bool l_Ok = CASCLocalIndex::Parse(l_Bytes, l_Entries, l_Error, &l_Skipped);
    if (!l_Ok && (!l_Entries.empty() || l_Error.isEmpty()))
        std::abort();
    if (l_Entries.size() * size_t(CASCLocalIndex::EntrySize) > p_Size)
        std::abort();
    for (const CASCLocalIndexEntry& l_Entry : l_Entries)
        if (quint64(l_Entry.Offset) + l_Entry.Size > 0xFFFFFFFFull || l_Entry.Offset > 0x3FFFFFFF)
            std::abort();
    return 0;
}
