// The "cdns" and "versions" tables come from the CDN: any bytes parse into rows of known
// regions, each with the column count its table has.
#include "casc/CASCTables.h"

#include <cstdint>
#include <cstdlib>

using namespace Orvane::CASC;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* p_Data, size_t p_Size)
{
    const QByteArray l_Body(reinterpret_cast<const char*>(p_Data), int(p_Size));
    CASCCdnTable l_Cdns;
    CASCVersionTable l_Versions;
    const int l_CdnRows = CASCTables::ParseCdns(l_Body, l_Cdns);
    const int l_VersionRows = CASCTables::ParseVersions(l_Body, l_Versions);
    if (l_CdnRows < 0 || l_VersionRows < 0 || int(l_Versions.size()) > l_VersionRows)
        std::abort();
    for (const auto& l_Region : l_Cdns)
        for (const CASCCdnEntry& l_Entry : l_Region.second)
            if (l_Entry._Region != l_Region.first || CASCTables::RegionName(l_Region.first).isEmpty() ||
                l_Entry._Host.isEmpty() || l_Entry._Host.contains(' ') || l_Entry._Host.contains('\r'))
                std::abort();
    for (const auto& l_Region : l_Versions)
        if (l_Region.second._Region != l_Region.first || CASCTables::RegionName(l_Region.first).isEmpty())
            std::abort();
    return 0;
}
