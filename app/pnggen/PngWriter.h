#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace Orvane {
namespace Launcher {

/// Writes 8-bit RGB (3 channels) or RGBA (4 channels) pixels as a PNG file.
/// The output depends only on the pixels (no time stamps), so builds are reproducible.
class PngWriter
{
public:
    static bool Write(const std::string& p_Path, int p_Width, int p_Height, int p_Channels,
                      const std::vector<uint8_t>& p_Pixels);

private:
    static void Chunk(std::string& p_Out, const char* p_Type, const std::string& p_Data);
    static std::string Filtered(int p_Width, int p_Height, int p_Channels, const std::vector<uint8_t>& p_Pixels);
};

} // namespace Launcher
} // namespace Orvane
