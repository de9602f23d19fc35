#pragma once
#include <QtEndian>
#include <QtGlobal>

#include <cstring>

namespace Orvane {
namespace CASC {

/// The layout of a CDN archive index: 24-byte entries (16-byte encoding key, big-endian size
/// and offset) from offset 0, a block may end in 16 zero bytes, and the last 12 bytes start
/// with the little-endian entry count. Reads only the bytes it is given.
class CASCIndexFile
{
public:
    enum Result
    {
        Ok,
        TooShort,      ///< shorter than its tail
        CountTooLarge, ///< the count needs more entries than the bytes before the tail hold
        ZeroedKey,     ///< two all-zero keys in a row
    };

    static constexpr qint64 TailSize = 12;
    static constexpr qint64 EntrySize = 24;
    static constexpr qint64 KeySize = 16;

    /// Calls p_Visit(const uchar* key16, quint32 size, quint32 offset) for each of the entries
    /// the tail counts. p_Count gets the count (when the tail is there); p_Where the position
    /// of the first zero key of a ZeroedKey, or of the entry that does not fit.
    template <class F>
    static Result Parse(const uchar* p_Data, qint64 p_Size, F p_Visit, quint32* p_Count = nullptr,
                        qint64* p_Where = nullptr)
    {
        if (p_Size < TailSize)
            return TooShort;
        const quint32 l_Count = qFromLittleEndian<quint32>(p_Data + p_Size - TailSize);
        if (p_Count)
            *p_Count = l_Count;
        const qint64 l_End = p_Size - TailSize;
        qint64 l_At = 0;
        if (qint64(l_Count) * EntrySize > l_End)
            return Report(l_At, p_Where, CountTooLarge);
        for (quint32 l_N = 0; l_N < l_Count; ++l_N)
        {
            if (l_At + EntrySize > l_End)
                return Report(l_At, p_Where, CountTooLarge);
            if (IsZero(p_Data + l_At))
            {
                // The padding at the end of a block.
                l_At += KeySize;
                if (l_At + EntrySize > l_End)
                    return Report(l_At, p_Where, CountTooLarge);
                if (IsZero(p_Data + l_At))
                    return Report(l_At - KeySize, p_Where, ZeroedKey);
            }
            p_Visit(p_Data + l_At, qFromBigEndian<quint32>(p_Data + l_At + 16),
                    qFromBigEndian<quint32>(p_Data + l_At + 20));
            l_At += EntrySize;
        }
        return Ok;
    }

private:
    static bool IsZero(const uchar* p_Key)
    {
        static const uchar s_Zero[KeySize] = {};
        return std::memcmp(p_Key, s_Zero, KeySize) == 0;
    }
    static Result Report(qint64 p_At, qint64* p_Where, Result p_Result)
    {
        if (p_Where)
            *p_Where = p_At;
        return p_Result;
    }
};

} // namespace CASC
} // namespace Orvane
