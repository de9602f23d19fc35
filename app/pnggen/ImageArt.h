#pragma once
#include <cstdint>
#include <vector>

namespace Orvane {
namespace Launcher {

/// The application's artwork, drawn from code: a dusk seascape for the
/// background and a shield emblem for the icon in its two states.
class ImageArt
{
public:
    /// RGB pixels, row after row.
    static std::vector<uint8_t> Background(int p_Width, int p_Height);
    /// RGBA pixels (straight alpha), row after row.
    static std::vector<uint8_t> Icon(int p_Width, int p_Height, bool p_Active);
};

} // namespace Launcher
} // namespace Orvane
