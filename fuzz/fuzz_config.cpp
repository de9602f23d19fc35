// CDN and build configuration files come from the CDN: any text parses into fields without
// reading past a line's parts, and list fields never hold an empty item.
#include "casc/CASCConfigParser.h"

#include <cstdint>
#include <cstdlib>

using namespace Orvane::CASC;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* p_Data, size_t p_Size)
{
    const QString l_Text = CASCConfigParser::Text(QByteArray(reinterpret_cast<const char*>(p_Data), int(p_Size)));
    CASCCDNConfig l_Cdn;
    CASCBuildConfig l_Build;
    const int l_CdnKeys = CASCConfigParser::ParseCDNConfig(l_Text, l_Cdn);
    const int l_BuildKeys = CASCConfigParser::ParseBuildConfig(l_Text, l_Build);
    if (l_CdnKeys < 0 || l_BuildKeys < 0 || l_Text.contains(QChar(0)))
        std::abort();
    for (const QStringList* l_List : {&l_Cdn._Archives, &l_Cdn._PatchArchives, &l_Cdn._Builds, &l_Build._Encoding})
        if (l_List->contains(QString()) || l_List->join(QString()).contains(' '))
            std::abort();
    if (l_Build._PatchSize > INT32_MAX || l_Build._PatchSize < INT32_MIN)
        std::abort();
    return 0;
}
