// Draws the plugin's embedded images at build time:
//   kestrun_pnggen OUTPUT_DIR
#include "ImageArt.h"
#include "PngWriter.h"

#include <cstdio>
#include <string>

using namespace Orvane::Launcher;

int main(int p_Argc, char** p_Argv)
{
    if (p_Argc != 2)
    {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", p_Argv[0]);
        return 2;
    }
    const std::string l_Dir = std::string(p_Argv[1]) + "/";
    struct Image
    {
        const char* Name;
        int Width, Height, Channels;
        std::vector<uint8_t> Pixels;
    };
    const Image l_Images[] = {
        {"BG-Launcher_BFA.png", 1920, 1080, 3, ImageArt::Background(1920, 1080)},
        {"Launcher_icon_BFA_off.png", 72, 75, 4, ImageArt::Icon(72, 75, false)},
        {"Launcher_icon_BFA_on.png", 72, 75, 4, ImageArt::Icon(72, 75, true)},
    };
    for (const Image& l_Image : l_Images)
    {
        if (!PngWriter::Write(l_Dir + l_Image.Name, l_Image.Width, l_Image.Height, l_Image.Channels, l_Image.Pixels))
        {
            std::fprintf(stderr, "kestrun_pnggen: cannot write %s%s\n", l_Dir.c_str(), l_Image.Name);
            return 1;
        }
    }
    return 0;
}
