#include "PngWriter.h"

#include <zlib.h>

#include <cstdio>
#include <cstdlib>

namespace Orvane {
namespace Launcher {

namespace {
void PutU32(std::string& p_Out, uint32_t p_Value)
{
    for (int l_Shift = 24; l_Shift >= 0; l_Shift -= 8)
        p_Out.push_back(char((p_Value >> l_Shift) & 0xFF));
}

int Paeth(int p_Left, int p_Up, int p_UpLeft)
{
    int l_P = p_Left + p_Up - p_UpLeft;
    int l_A = std::abs(l_P - p_Left), l_B = std::abs(l_P - p_Up), l_C = std::abs(l_P - p_UpLeft);
    if (l_A <= l_B && l_A <= l_C)
        return p_Left;
    return l_B <= l_C ? p_Up : p_UpLeft;
}
} // namespace

void PngWriter::Chunk(std::string& p_Out, const char* p_Type, const std::string& p_Data)
{
    PutU32(p_Out, uint32_t(p_Data.size()));
    std::string l_Body(p_Type, 4);
    l_Body += p_Data;
    p_Out += l_Body;
    PutU32(p_Out, uint32_t(crc32(0L, reinterpret_cast<const Bytef*>(l_Body.data()), uInt(l_Body.size()))));
}

// Each row gets the filter whose output has the smallest sum of absolute
// values, the usual heuristic that lets deflate see long runs in gradients.
std::string PngWriter::Filtered(int p_Width, int p_Height, int p_Channels, const std::vector<uint8_t>& p_Pixels)
{
    const size_t l_Stride = size_t(p_Width) * size_t(p_Channels);
    std::string l_Out;
    l_Out.reserve((l_Stride + 1) * size_t(p_Height));
    std::vector<uint8_t> l_Zero(l_Stride, 0);
    std::string l_Candidate(l_Stride, '\0'), l_Best;
    for (int l_Y = 0; l_Y < p_Height; ++l_Y)
    {
        const uint8_t* l_Row = &p_Pixels[size_t(l_Y) * l_Stride];
        const uint8_t* l_Prev = l_Y > 0 ? &p_Pixels[size_t(l_Y - 1) * l_Stride] : l_Zero.data();
        long l_BestScore = -1;
        int l_BestFilter = 0;
        for (int l_Filter = 0; l_Filter < 5; ++l_Filter)
        {
            long l_Score = 0;
            for (size_t l_I = 0; l_I < l_Stride; ++l_I)
            {
                int l_Left = l_I >= size_t(p_Channels) ? l_Row[l_I - p_Channels] : 0;
                int l_Up = l_Prev[l_I];
                int l_UpLeft = l_I >= size_t(p_Channels) ? l_Prev[l_I - p_Channels] : 0;
                int l_Predict = 0;
                switch (l_Filter)
                {
                    case 1: l_Predict = l_Left; break;
                    case 2: l_Predict = l_Up; break;
                    case 3: l_Predict = (l_Left + l_Up) / 2; break;
                    case 4: l_Predict = Paeth(l_Left, l_Up, l_UpLeft); break;
                    default: break;
                }
                uint8_t l_Value = uint8_t(l_Row[l_I] - l_Predict);
                l_Candidate[l_I] = char(l_Value);
                l_Score += l_Value < 128 ? l_Value : 256 - l_Value;
            }
            if (l_BestScore < 0 || l_Score < l_BestScore)
            {
                l_BestScore = l_Score;
                l_BestFilter = l_Filter;
                l_Best = l_Candidate;
            }
        }
        l_Out.push_back(char(l_BestFilter));
        l_Out += l_Best;
    }
    return l_Out;
}

bool PngWriter::Write(const std::string& p_Path, int p_Width, int p_Height, int p_Channels,
                      const std::vector<uint8_t>& p_Pixels)
{
    if ((p_Channels != 3 && p_Channels != 4) || p_Width <= 0 || p_Height <= 0 ||
        p_Pixels.size() != size_t(p_Width) * size_t(p_Height) * size_t(p_Channels))
        return false;

    std::string l_Raw = Filtered(p_Width, p_Height, p_Channels, p_Pixels);
    uLongf l_PackedSize = compressBound(uLong(l_Raw.size()));
    std::string l_Packed(l_PackedSize, '\0');
    if (compress2(reinterpret_cast<Bytef*>(&l_Packed[0]), &l_PackedSize,
                  reinterpret_cast<const Bytef*>(l_Raw.data()), uLong(l_Raw.size()), 9) != Z_OK)
        return false;
    l_Packed.resize(l_PackedSize);

    std::string l_Header;
    PutU32(l_Header, uint32_t(p_Width));
    PutU32(l_Header, uint32_t(p_Height));
    l_Header.push_back(char(8));                        // bit depth
    l_Header.push_back(char(p_Channels == 4 ? 6 : 2)); // colour type: RGBA or RGB
    l_Header.append(3, '\0');                           // deflate, adaptive filters, no interlace

    std::string l_File("\x89PNG\r\n\x1a\n", 8);
    Chunk(l_File, "IHDR", l_Header);
    Chunk(l_File, "IDAT", l_Packed);
    Chunk(l_File, "IEND", std::string());

    // Written under a temporary name so an interrupted build never leaves half an image behind.
    std::string l_Temp = p_Path + ".tmp";
    FILE* l_Out = std::fopen(l_Temp.c_str(), "wb");
    if (!l_Out)
        return false;
    bool l_Ok = std::fwrite(l_File.data(), 1, l_File.size(), l_Out) == l_File.size();
    l_Ok = (std::fclose(l_Out) == 0) && l_Ok;
#ifdef _WIN32
    // The C library's rename on Windows refuses a target that exists: a rebuild draws over the last images.
    if (l_Ok)
        std::remove(p_Path.c_str());
#endif
    if (!l_Ok || std::rename(l_Temp.c_str(), p_Path.c_str()) != 0)
    {
        std::remove(l_Temp.c_str());
        return false;
    }
    return true;
}

} // namespace Launcher
} // namespace Orvane
