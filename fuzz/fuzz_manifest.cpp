// The build's download manifest comes from the application server: any bytes
// must parse without a crash, and no entry may point outside the install folder.
#include "launcher/Manifest.h"

#include <climits>
#include <cstdint>
#include <cstdlib>

using namespace Orvane::Launcher;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* p_Data, size_t p_Size)
{
    if (p_Size > size_t(INT_MAX))
        return 0;
    bool l_Ok = true;
    const Manifest l_Manifest = ParseManifest(QByteArray(reinterpret_cast<const char*>(p_Data), int(p_Size)), &l_Ok);
    if (!l_Ok && (!l_Manifest.BaseFiles.empty() || !l_Manifest.StreamedFiles.empty()))
        std::abort(); // a rejected document yields nothing to download
    for (const std::vector<ManifestFile>* l_List : {&l_Manifest.BaseFiles, &l_Manifest.StreamedFiles})
        for (const ManifestFile& l_File : *l_List)
        {
            if (!IsSafeRelativePath(l_File.Path))
                std::abort();
            if (!l_File.Locale.isEmpty() && l_Manifest.AvailableLocales.count(l_File.Locale) == 0)
                std::abort(); // files of unknown locales are dropped
        }
    return 0;
}
