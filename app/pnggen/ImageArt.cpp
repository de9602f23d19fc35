#include "ImageArt.h"

#include <algorithm>
#include <cmath>

namespace Orvane {
namespace Launcher {

namespace {
struct Rgb
{
    float r, g, b;
};

Rgb Hex(uint32_t p_Value)
{
    return {float((p_Value >> 16) & 0xFF) / 255.f, float((p_Value >> 8) & 0xFF) / 255.f, float(p_Value & 0xFF) / 255.f};
}
Rgb Mix(Rgb p_A, Rgb p_B, float p_T)
{
    return {p_A.r + (p_B.r - p_A.r) * p_T, p_A.g + (p_B.g - p_A.g) * p_T, p_A.b + (p_B.b - p_A.b) * p_T};
}
Rgb Add(Rgb p_A, Rgb p_B, float p_K)
{
    return {p_A.r + p_B.r * p_K, p_A.g + p_B.g * p_K, p_A.b + p_B.b * p_K};
}
float Clamp01(float p_V) { return std::min(1.f, std::max(0.f, p_V)); }
float Smooth(float p_Edge0, float p_Edge1, float p_X)
{
    float l_T = Clamp01((p_X - p_Edge0) / (p_Edge1 - p_Edge0));
    return l_T * l_T * (3.f - 2.f * l_T);
}
uint8_t Byte(float p_V) { return uint8_t(std::lround(Clamp01(p_V) * 255.f)); }

// Deterministic lattice noise, so every build draws the same pixels.
float Hash(int p_X, int p_Y)
{
    uint32_t l_H = uint32_t(p_X) * 374761393u + uint32_t(p_Y) * 668265263u;
    l_H = (l_H ^ (l_H >> 13)) * 1274126177u;
    return float((l_H ^ (l_H >> 16)) & 0xFFFFFF) / float(0xFFFFFF);
}
float Noise(float p_X, float p_Y)
{
    int l_X = int(std::floor(p_X)), l_Y = int(std::floor(p_Y));
    float l_Fx = p_X - float(l_X), l_Fy = p_Y - float(l_Y);
    float l_Sx = l_Fx * l_Fx * (3.f - 2.f * l_Fx), l_Sy = l_Fy * l_Fy * (3.f - 2.f * l_Fy);
    float l_Top = Hash(l_X, l_Y) + (Hash(l_X + 1, l_Y) - Hash(l_X, l_Y)) * l_Sx;
    float l_Bottom = Hash(l_X, l_Y + 1) + (Hash(l_X + 1, l_Y + 1) - Hash(l_X, l_Y + 1)) * l_Sx;
    return l_Top + (l_Bottom - l_Top) * l_Sy;
}
float Fbm(float p_X, float p_Y, int p_Octaves)
{
    float l_Sum = 0.f, l_Amp = 0.5f, l_Norm = 0.f;
    for (int l_I = 0; l_I < p_Octaves; ++l_I)
    {
        l_Sum += Noise(p_X, p_Y) * l_Amp;
        l_Norm += l_Amp;
        p_X = p_X * 2.03f + 17.f;
        p_Y = p_Y * 2.03f + 31.f;
        l_Amp *= 0.5f;
    }
    return l_Sum / l_Norm;
}

// Piecewise gradient through (position, colour) stops.
Rgb Ramp(const std::vector<std::pair<float, Rgb>>& p_Stops, float p_T)
{
    if (p_T <= p_Stops.front().first)
        return p_Stops.front().second;
    for (size_t l_I = 1; l_I < p_Stops.size(); ++l_I)
        if (p_T <= p_Stops[l_I].first)
        {
            float l_K = (p_T - p_Stops[l_I - 1].first) / (p_Stops[l_I].first - p_Stops[l_I - 1].first);
            return Mix(p_Stops[l_I - 1].second, p_Stops[l_I].second, Smooth(0.f, 1.f, l_K));
        }
    return p_Stops.back().second;
}

// A small two-masted ship, in units of its hull length, origin at the waterline's centre.
bool InShip(float p_X, float p_Y)
{
    if (p_Y <= 0.f && p_Y >= -0.09f && std::fabs(p_X) <= 0.5f + p_Y * 1.2f)
        return true; // hull, narrowing to the keel
    if (p_Y > 0.f)
        return false;
    for (float l_Mast : {-0.14f, 0.16f})
    {
        if (std::fabs(p_X - l_Mast) < 0.012f && p_Y > -0.78f)
            return true;
        float l_Top = -0.72f + (l_Mast > 0 ? 0.08f : 0.f), l_Bottom = -0.14f;
        if (p_Y > l_Top && p_Y < l_Bottom)
        {
            float l_T = (p_Y - l_Top) / (l_Bottom - l_Top);
            float l_Half = 0.07f + 0.1f * l_T;
            float l_Belly = 0.03f * std::sin(l_T * 3.14159f);
            if (std::fabs(p_X - l_Mast - l_Belly) < l_Half)
                return true;
        }
    }
    // jib towards the bow
    if (p_Y > -0.62f && p_Y < -0.12f && p_X > 0.18f)
    {
        float l_T = (p_Y + 0.62f) / 0.5f;
        return p_X < 0.18f + 0.3f * l_T;
    }
    return false;
}
} // namespace

std::vector<uint8_t> ImageArt::Background(int p_Width, int p_Height)
{
    const float l_W = float(p_Width), l_H = float(p_Height);
    const Rgb l_Base = Hex(0x09111C); // the colour the host paints around the image
    const float l_HorizonY = 0.64f * l_H;
    const float l_SunX = 0.70f * l_W, l_SunY = 0.575f * l_H, l_SunR = 0.043f * l_H;
    const float l_ShipX = 0.60f * l_W, l_ShipLen = 0.045f * l_W;
    const std::vector<std::pair<float, Rgb>> l_SkyStops = {
        {0.00f, Hex(0x0A1530)}, {0.45f, Hex(0x1D3660)}, {0.75f, Hex(0x5B5680)},
        {0.92f, Hex(0xC98A6E)}, {1.00f, Hex(0xF4B36C)}};
    const std::vector<std::pair<float, Rgb>> l_SeaStops = {
        {0.00f, Hex(0x8C7088)}, {0.12f, Hex(0x3E4A6E)}, {0.50f, Hex(0x172A48)}, {1.00f, Hex(0x0B1628)}};

    // Ridge lines: distant islands across the horizon and a headland on the right.
    auto l_FarRidge = [&](float p_X) {
        float l_U = p_X / l_W;
        float l_Env = 0.35f + 0.65f * Smooth(0.55f, 0.05f, l_U) + 0.4f * Smooth(0.80f, 0.98f, l_U);
        float l_Hill = 0.5f + 0.5f * std::sin(l_U * 11.f + 1.3f) * std::sin(l_U * 4.7f);
        return l_HorizonY - l_Env * (10.f + 46.f * l_Hill + 26.f * Fbm(p_X / 90.f, 3.f, 4));
    };
    auto l_NearRidge = [&](float p_X) {
        float l_U = p_X / l_W;
        float l_Rise = Smooth(0.72f, 1.04f, l_U);
        float l_Crag = Fbm(p_X / 60.f, 9.f, 5);
        return l_HorizonY + 0.45f * l_H - l_Rise * (0.88f * l_H) - l_Rise * 60.f * l_Crag;
    };

    std::vector<uint8_t> l_Pixels(size_t(p_Width) * size_t(p_Height) * 3);
    for (int l_Y = 0; l_Y < p_Height; ++l_Y)
    {
        const float l_Py = float(l_Y) + 0.5f;
        for (int l_X = 0; l_X < p_Width; ++l_X)
        {
            const float l_Px = float(l_X) + 0.5f;
            const float l_SunDist = std::hypot(l_Px - l_SunX, (l_Py - l_SunY) * 1.1f);
            Rgb l_C;
            if (l_Py < l_HorizonY)
            {
                l_C = Ramp(l_SkyStops, l_Py / l_HorizonY);
                // Sparse stars high up, fading out towards the glow.
                float l_Star = Hash(l_X / 3, l_Y / 3);
                if (l_Star > 0.9985f && l_X % 3 == 1 && l_Y % 3 == 1)
                    l_C = Add(l_C, Hex(0xDDE6FF), (l_Star - 0.9985f) / 0.0015f * Smooth(0.55f, 0.1f, l_Py / l_HorizonY));
                // Glow around the sun.
                l_C = Add(l_C, Hex(0xFFB46A), 0.55f * std::exp(-l_SunDist / 140.f));
                l_C = Add(l_C, Hex(0xC86A5A), 0.22f * std::exp(-l_SunDist / 520.f));
                // Long thin clouds, lit from below near the sun.
                float l_Band = Smooth(0.18f, 0.35f, l_Py / l_H) * Smooth(0.60f, 0.45f, l_Py / l_H);
                float l_Cloud = Smooth(0.52f, 0.78f, Fbm(l_Px / 520.f, l_Py / 70.f, 5)) * l_Band;
                Rgb l_Lit = Mix(Hex(0x3B3557), Hex(0xF09A6A), Clamp01(1.2f * std::exp(-l_SunDist / 600.f)));
                l_C = Mix(l_C, l_Lit, 0.75f * l_Cloud);
                // The sun disc, soft-edged.
                l_C = Mix(l_C, Hex(0xFFE7B8), Clamp01(l_SunR - l_SunDist + 0.5f));
            }
            else
            {
                float l_Depth = (l_Py - l_HorizonY) / (l_H - l_HorizonY);
                l_C = Ramp(l_SeaStops, l_Depth);
                // The sun's path on the water: broken horizontal glints.
                float l_Spread = 18.f + 260.f * l_Depth;
                float l_Path = std::exp(-std::pow((l_Px - l_SunX) / l_Spread, 2.f));
                float l_Wave = Fbm(l_Px / (30.f + 200.f * l_Depth), l_Py / (1.5f + 9.f * l_Depth), 3);
                float l_Glint = Smooth(0.45f, 0.75f, l_Wave) * l_Path * (1.f - 0.6f * l_Depth);
                l_C = Add(l_C, Hex(0xFFC98A), 0.85f * l_Glint);
                l_C = Add(l_C, Hex(0xB0708A), 0.25f * std::exp(-std::fabs(l_Py - l_HorizonY) / 25.f));
            }

            // Distant islands, hazy with the light behind them.
            float l_Far = Clamp01(l_Py + 0.5f - l_FarRidge(l_Px)) * (l_Py < l_HorizonY + 1.f ? 1.f : 0.f);
            if (l_Far > 0.f)
            {
                Rgb l_Isle = Mix(Hex(0x2E2A4A), Hex(0x7A5A6E), Clamp01(std::exp(-l_SunDist / 420.f)));
                l_C = Mix(l_C, l_Isle, l_Far * 0.92f);
            }
            // The headland, dark, with a warm rim along its crest.
            float l_RidgeY = l_NearRidge(l_Px);
            float l_Near = Clamp01(l_Py + 0.5f - l_RidgeY);
            if (l_Near > 0.f)
            {
                float l_Below = l_Py - l_RidgeY;
                Rgb l_Rock = Mix(Hex(0x141C30), Hex(0x0B1220), Clamp01(l_Below / 300.f));
                l_Rock = Add(l_Rock, Hex(0xE08A5A), 0.45f * std::exp(-std::max(0.f, l_Below) / 3.f));
                float l_Texture = Fbm(l_Px / 70.f, l_Py / 120.f, 2);
                l_Rock = Add(l_Rock, Hex(0x1A2238), 0.5f * (l_Texture - 0.5f));
                l_C = Mix(l_C, l_Rock, l_Near);
            }

            // The ship, supersampled for clean edges.
            float l_Sx = (l_Px - l_ShipX) / l_ShipLen, l_Sy = (l_Py - l_HorizonY - 6.f) / l_ShipLen;
            if (std::fabs(l_Sx) < 0.6f && l_Sy > -0.85f && l_Sy < 0.05f)
            {
                int l_Hits = 0;
                for (int l_J = 0; l_J < 4; ++l_J)
                    for (int l_I = 0; l_I < 4; ++l_I)
                        l_Hits += InShip(l_Sx + (float(l_I) - 1.5f) / 4.f / l_ShipLen,
                                         l_Sy + (float(l_J) - 1.5f) / 4.f / l_ShipLen);
                l_C = Mix(l_C, Hex(0x141626), float(l_Hits) / 16.f);
            }

            // Fade into the host's colour on the left and at the bottom.
            float l_Keep = Smooth(0.0f, 0.45f, l_Px / l_W) * Smooth(1.0f, 0.78f, l_Py / l_H);
            l_C = Mix(l_Base, l_C, l_Keep);

            uint8_t* l_Out = &l_Pixels[(size_t(l_Y) * size_t(p_Width) + size_t(l_X)) * 3];
            l_Out[0] = Byte(l_C.r);
            l_Out[1] = Byte(l_C.g);
            l_Out[2] = Byte(l_C.b);
        }
    }
    return l_Pixels;
}

namespace {
// Icon geometry in a 72 x 75 frame, scaled for other sizes.
bool InShield(float p_X, float p_Y, float p_Inset)
{
    float l_Dx = std::fabs(p_X - 36.f);
    float l_Top = 6.f + p_Inset + 4.f * (l_Dx / 30.f) * (l_Dx / 30.f);
    if (p_Y < l_Top)
        return false;
    float l_Half = 30.f - p_Inset;
    float l_Bottom = 71.f - p_Inset * 1.4f;
    if (p_Y <= 38.f)
        return l_Dx <= l_Half;
    float l_T = (p_Y - 38.f) / (l_Bottom - 38.f);
    if (l_T >= 1.f)
        return false;
    return l_Dx <= l_Half * (1.f - std::pow(l_T, 1.7f));
}

bool InStar(float p_X, float p_Y, float p_Cx, float p_Cy, float p_Outer, float p_Inner, float p_Turn)
{
    float l_Dx = p_X - p_Cx, l_Dy = p_Y - p_Cy;
    float l_R = std::hypot(l_Dx, l_Dy);
    if (l_R > p_Outer)
        return false;
    // Four points: the radius of the edge interpolates between tips and notches.
    float l_A = std::atan2(l_Dy, l_Dx) - p_Turn;
    float l_Phase = std::fabs(std::remainder(l_A, 3.14159265f / 2.f)) / (3.14159265f / 4.f); // 0 tip, 1 notch
    float l_Edge = 1.f / ((1.f - l_Phase) / p_Outer + l_Phase / p_Inner);
    return l_R <= l_Edge;
}

struct Rgba
{
    float r, g, b, a; // premultiplied
};
Rgba Over(Rgba p_Under, Rgb p_Colour, float p_Alpha)
{
    return {p_Colour.r * p_Alpha + p_Under.r * (1 - p_Alpha), p_Colour.g * p_Alpha + p_Under.g * (1 - p_Alpha),
            p_Colour.b * p_Alpha + p_Under.b * (1 - p_Alpha), p_Alpha + p_Under.a * (1 - p_Alpha)};
}
} // namespace

std::vector<uint8_t> ImageArt::Icon(int p_Width, int p_Height, bool p_Active)
{
    const float l_ScaleX = 72.f / float(p_Width), l_ScaleY = 75.f / float(p_Height);
    const Rgb l_Rim0 = p_Active ? Hex(0xF6D889) : Hex(0x9AA8BC);
    const Rgb l_Rim1 = p_Active ? Hex(0xB07A26) : Hex(0x4F5C70);
    const Rgb l_Field0 = p_Active ? Hex(0x2E6FB8) : Hex(0x223048);
    const Rgb l_Field1 = p_Active ? Hex(0x0D2244) : Hex(0x0E1624);
    const Rgb l_Star0 = p_Active ? Hex(0xFFF4CF) : Hex(0xC9D2DE);
    const Rgb l_Star1 = p_Active ? Hex(0xE3A53A) : Hex(0x7D8AA0);
    const Rgb l_Wave = p_Active ? Hex(0x7FC4F0) : Hex(0x4A607C);
    const int l_Sub = 4;

    std::vector<float> l_Mask(size_t(p_Width) * size_t(p_Height));
    std::vector<Rgba> l_Paint(l_Mask.size());
    for (int l_Y = 0; l_Y < p_Height; ++l_Y)
        for (int l_X = 0; l_X < p_Width; ++l_X)
        {
            Rgba l_Sum{0, 0, 0, 0};
            int l_Inside = 0;
            for (int l_J = 0; l_J < l_Sub; ++l_J)
                for (int l_I = 0; l_I < l_Sub; ++l_I)
                {
                    float l_Px = (float(l_X) + (float(l_I) + 0.5f) / l_Sub) * l_ScaleX;
                    float l_Py = (float(l_Y) + (float(l_J) + 0.5f) / l_Sub) * l_ScaleY;
                    if (!InShield(l_Px, l_Py, 0.f))
                        continue;
                    ++l_Inside;
                    Rgb l_C = Mix(l_Rim0, l_Rim1, Clamp01((l_Py - 6.f) / 65.f));
                    if (InShield(l_Px, l_Py, 3.2f))
                    {
                        // Field with a light from the upper left, then the compass star and the waves.
                        float l_Light = Clamp01(std::hypot(l_Px - 24.f, l_Py - 16.f) / 48.f);
                        l_C = Mix(l_Field0, l_Field1, l_Light);
                        float l_WaveY = 55.f + 2.2f * std::sin(l_Px * 0.42f);
                        if (std::fabs(l_Py - l_WaveY) < 1.3f || std::fabs(l_Py - l_WaveY - 6.f) < 1.1f)
                            l_C = l_Wave;
                        const float l_Cx = 36.f, l_Cy = 33.f;
                        if (InStar(l_Px, l_Py, l_Cx, l_Cy, 11.f, 3.f, 3.14159265f / 4.f))
                            l_C = Mix(l_Star0, l_Star1, 0.6f);
                        if (InStar(l_Px, l_Py, l_Cx, l_Cy, 20.f, 4.2f, 0.f))
                        {
                            // Facets: the two halves of every point catch the light differently.
                            bool l_Lit = (l_Px - l_Cx) * (l_Py - l_Cy) < 0.f ? (l_Px < l_Cx) : (l_Py < l_Cy);
                            l_C = l_Lit ? l_Star0 : l_Star1;
                        }
                        if (std::hypot(l_Px - l_Cx, l_Py - l_Cy) < 2.4f)
                            l_C = l_Field1;
                    }
                    l_Sum.r += l_C.r;
                    l_Sum.g += l_C.g;
                    l_Sum.b += l_C.b;
                    l_Sum.a += 1.f;
                }
            const float l_N = float(l_Sub * l_Sub);
            size_t l_Index = size_t(l_Y) * size_t(p_Width) + size_t(l_X);
            l_Mask[l_Index] = float(l_Inside) / l_N;
            l_Paint[l_Index] = {l_Sum.r / l_N, l_Sum.g / l_N, l_Sum.b / l_N, l_Sum.a / l_N};
        }

    // The highlighted icon glows: a blurred copy of the shield's outline under it.
    std::vector<float> l_Glow(l_Mask.size(), 0.f);
    if (p_Active)
    {
        const int l_Radius = 4;
        for (int l_Y = 0; l_Y < p_Height; ++l_Y)
            for (int l_X = 0; l_X < p_Width; ++l_X)
            {
                float l_Sum = 0.f, l_Weight = 0.f;
                for (int l_J = -l_Radius; l_J <= l_Radius; ++l_J)
                    for (int l_I = -l_Radius; l_I <= l_Radius; ++l_I)
                    {
                        float l_W = std::exp(-float(l_I * l_I + l_J * l_J) / 8.f);
                        int l_Sx = l_X + l_I, l_Sy = l_Y + l_J;
                        if (l_Sx >= 0 && l_Sy >= 0 && l_Sx < p_Width && l_Sy < p_Height)
                            l_Sum += l_W * l_Mask[size_t(l_Sy) * size_t(p_Width) + size_t(l_Sx)];
                        l_Weight += l_W;
                    }
                l_Glow[size_t(l_Y) * size_t(p_Width) + size_t(l_X)] = l_Sum / l_Weight;
            }
    }

    std::vector<uint8_t> l_Pixels(l_Mask.size() * 4);
    for (size_t l_I = 0; l_I < l_Mask.size(); ++l_I)
    {
        Rgba l_Px = Over({0, 0, 0, 0}, Hex(0xFFC857), Clamp01(l_Glow[l_I] * 0.9f));
        Rgba l_Top = l_Paint[l_I];
        l_Px = {l_Top.r + l_Px.r * (1 - l_Top.a), l_Top.g + l_Px.g * (1 - l_Top.a), l_Top.b + l_Px.b * (1 - l_Top.a),
                l_Top.a + l_Px.a * (1 - l_Top.a)};
        float l_A = l_Px.a > 0.f ? l_Px.a : 1.f;
        l_Pixels[l_I * 4 + 0] = Byte(l_Px.r / l_A);
        l_Pixels[l_I * 4 + 1] = Byte(l_Px.g / l_A);
        l_Pixels[l_I * 4 + 2] = Byte(l_Px.b / l_A);
        l_Pixels[l_I * 4 + 3] = Byte(l_Px.a);
    }
    return l_Pixels;
}

} // namespace Launcher
} // namespace Orvane
