#include "platform/Md5Pair.h"

#include <QtEndian>

#include <cstring>

namespace Orvane {

namespace {

inline quint32 Rotl(quint32 p_Value, int p_Shift)
{
    return (p_Value << p_Shift) | (p_Value >> (32 - p_Shift));
}

#define MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MD5_G(x, y, z) ((y) ^ ((z) & ((x) ^ (y))))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))

#define MD5_LANE(f, a, b, c, d, x, i, t, s) \
    a += f(b, c, d) + x[i] + quint32(t);     \
    a = Rotl(a, s) + b;
#define MD5_STEP1(f, a, b, c, d, i, t, s) MD5_LANE(f, a##0, b##0, c##0, d##0, l_X0, i, t, s)
// Both lanes' step side by side: neither waits on the other, so the core runs them together.
#define MD5_STEP2(f, a, b, c, d, i, t, s) \
    MD5_LANE(f, a##0, b##0, c##0, d##0, l_X0, i, t, s) MD5_LANE(f, a##1, b##1, c##1, d##1, l_X1, i, t, s)

// The 64 steps of one block (RFC 1321), each through STEP.
#define MD5_ROUNDS(STEP)                                  \
    STEP(MD5_F, a, b, c, d, 0, 0xd76aa478, 7)             \
    STEP(MD5_F, d, a, b, c, 1, 0xe8c7b756, 12)            \
    STEP(MD5_F, c, d, a, b, 2, 0x242070db, 17)            \
    STEP(MD5_F, b, c, d, a, 3, 0xc1bdceee, 22)            \
    STEP(MD5_F, a, b, c, d, 4, 0xf57c0faf, 7)             \
    STEP(MD5_F, d, a, b, c, 5, 0x4787c62a, 12)            \
    STEP(MD5_F, c, d, a, b, 6, 0xa8304613, 17)            \
    STEP(MD5_F, b, c, d, a, 7, 0xfd469501, 22)            \
    STEP(MD5_F, a, b, c, d, 8, 0x698098d8, 7)             \
    STEP(MD5_F, d, a, b, c, 9, 0x8b44f7af, 12)            \
    STEP(MD5_F, c, d, a, b, 10, 0xffff5bb1, 17)           \
    STEP(MD5_F, b, c, d, a, 11, 0x895cd7be, 22)           \
    STEP(MD5_F, a, b, c, d, 12, 0x6b901122, 7)            \
    STEP(MD5_F, d, a, b, c, 13, 0xfd987193, 12)           \
    STEP(MD5_F, c, d, a, b, 14, 0xa679438e, 17)           \
    STEP(MD5_F, b, c, d, a, 15, 0x49b40821, 22)           \
    STEP(MD5_G, a, b, c, d, 1, 0xf61e2562, 5)             \
    STEP(MD5_G, d, a, b, c, 6, 0xc040b340, 9)             \
    STEP(MD5_G, c, d, a, b, 11, 0x265e5a51, 14)           \
    STEP(MD5_G, b, c, d, a, 0, 0xe9b6c7aa, 20)            \
    STEP(MD5_G, a, b, c, d, 5, 0xd62f105d, 5)             \
    STEP(MD5_G, d, a, b, c, 10, 0x02441453, 9)            \
    STEP(MD5_G, c, d, a, b, 15, 0xd8a1e681, 14)           \
    STEP(MD5_G, b, c, d, a, 4, 0xe7d3fbc8, 20)            \
    STEP(MD5_G, a, b, c, d, 9, 0x21e1cde6, 5)             \
    STEP(MD5_G, d, a, b, c, 14, 0xc33707d6, 9)            \
    STEP(MD5_G, c, d, a, b, 3, 0xf4d50d87, 14)            \
    STEP(MD5_G, b, c, d, a, 8, 0x455a14ed, 20)            \
    STEP(MD5_G, a, b, c, d, 13, 0xa9e3e905, 5)            \
    STEP(MD5_G, d, a, b, c, 2, 0xfcefa3f8, 9)             \
    STEP(MD5_G, c, d, a, b, 7, 0x676f02d9, 14)            \
    STEP(MD5_G, b, c, d, a, 12, 0x8d2a4c8a, 20)           \
    STEP(MD5_H, a, b, c, d, 5, 0xfffa3942, 4)             \
    STEP(MD5_H, d, a, b, c, 8, 0x8771f681, 11)            \
    STEP(MD5_H, c, d, a, b, 11, 0x6d9d6122, 16)           \
    STEP(MD5_H, b, c, d, a, 14, 0xfde5380c, 23)           \
    STEP(MD5_H, a, b, c, d, 1, 0xa4beea44, 4)             \
    STEP(MD5_H, d, a, b, c, 4, 0x4bdecfa9, 11)            \
    STEP(MD5_H, c, d, a, b, 7, 0xf6bb4b60, 16)            \
    STEP(MD5_H, b, c, d, a, 10, 0xbebfbc70, 23)           \
    STEP(MD5_H, a, b, c, d, 13, 0x289b7ec6, 4)            \
    STEP(MD5_H, d, a, b, c, 0, 0xeaa127fa, 11)            \
    STEP(MD5_H, c, d, a, b, 3, 0xd4ef3085, 16)            \
    STEP(MD5_H, b, c, d, a, 6, 0x04881d05, 23)            \
    STEP(MD5_H, a, b, c, d, 9, 0xd9d4d039, 4)             \
    STEP(MD5_H, d, a, b, c, 12, 0xe6db99e5, 11)           \
    STEP(MD5_H, c, d, a, b, 15, 0x1fa27cf8, 16)           \
    STEP(MD5_H, b, c, d, a, 2, 0xc4ac5665, 23)            \
    STEP(MD5_I, a, b, c, d, 0, 0xf4292244, 6)             \
    STEP(MD5_I, d, a, b, c, 7, 0x432aff97, 10)            \
    STEP(MD5_I, c, d, a, b, 14, 0xab9423a7, 15)           \
    STEP(MD5_I, b, c, d, a, 5, 0xfc93a039, 21)            \
    STEP(MD5_I, a, b, c, d, 12, 0x655b59c3, 6)            \
    STEP(MD5_I, d, a, b, c, 3, 0x8f0ccc92, 10)            \
    STEP(MD5_I, c, d, a, b, 10, 0xffeff47d, 15)           \
    STEP(MD5_I, b, c, d, a, 1, 0x85845dd1, 21)            \
    STEP(MD5_I, a, b, c, d, 8, 0x6fa87e4f, 6)             \
    STEP(MD5_I, d, a, b, c, 15, 0xfe2ce6e0, 10)           \
    STEP(MD5_I, c, d, a, b, 6, 0xa3014314, 15)            \
    STEP(MD5_I, b, c, d, a, 13, 0x4e0811a1, 21)           \
    STEP(MD5_I, a, b, c, d, 4, 0xf7537e82, 6)             \
    STEP(MD5_I, d, a, b, c, 11, 0xbd3af235, 10)           \
    STEP(MD5_I, c, d, a, b, 2, 0x2ad7d2bb, 15)            \
    STEP(MD5_I, b, c, d, a, 9, 0xeb86d391, 21)

void Load(quint32* p_Words, const uchar* p_Block)
{
    for (int l_I = 0; l_I < 16; ++l_I)
        p_Words[l_I] = qFromLittleEndian<quint32>(p_Block + 4 * l_I);
}

/// Adds a block's result to the digest's state.
void Fold(quint32* p_State, quint32 p_A, quint32 p_B, quint32 p_C, quint32 p_D)
{
    p_State[0] += p_A;
    p_State[1] += p_B;
    p_State[2] += p_C;
    p_State[3] += p_D;
}

void Compress1(quint32* p_State, const uchar* p_Block)
{
    quint32 l_X0[16];
    Load(l_X0, p_Block);
    quint32 a0 = p_State[0], b0 = p_State[1], c0 = p_State[2], d0 = p_State[3];
    MD5_ROUNDS(MD5_STEP1)
    Fold(p_State, a0, b0, c0, d0);
}

void Compress2(quint32* p_First, const uchar* p_FirstBlock, quint32* p_Second, const uchar* p_SecondBlock)
{
    quint32 l_X0[16], l_X1[16];
    Load(l_X0, p_FirstBlock);
    Load(l_X1, p_SecondBlock);
    quint32 a0 = p_First[0], b0 = p_First[1], c0 = p_First[2], d0 = p_First[3];
    quint32 a1 = p_Second[0], b1 = p_Second[1], c1 = p_Second[2], d1 = p_Second[3];
    MD5_ROUNDS(MD5_STEP2)
    Fold(p_First, a0, b0, c0, d0);
    Fold(p_Second, a1, b1, c1, d1);
}

} // namespace

const uchar* Md5Pair::Lane::NextBlock(const uchar*& p_Data, qint64& p_Size)
{
    if (_HeldSize == 0 && p_Size >= 64)
    {
        const uchar* l_Block = p_Data;
        p_Data += 64;
        p_Size -= 64;
        return l_Block;
    }
    const int l_Take = int(qMin<qint64>(64 - _HeldSize, p_Size));
    if (l_Take > 0)
    {
        std::memcpy(_Held + _HeldSize, p_Data, size_t(l_Take));
        _HeldSize += l_Take;
        p_Data += l_Take;
        p_Size -= l_Take;
    }
    if (_HeldSize < 64)
        return nullptr;
    _HeldSize = 0; // the caller hashes it before this lane is asked again
    return _Held;
}

void Md5Pair::Add(const char* p_First, qint64 p_FirstSize, const char* p_Second, qint64 p_SecondSize)
{
    const uchar* l_Data[2] = {reinterpret_cast<const uchar*>(p_First), reinterpret_cast<const uchar*>(p_Second)};
    qint64 l_Size[2] = {qMax<qint64>(p_FirstSize, 0), qMax<qint64>(p_SecondSize, 0)};
    m_Lanes[0]._Bytes += quint64(l_Size[0]);
    m_Lanes[1]._Bytes += quint64(l_Size[1]);
    for (;;)
    {
        const uchar* l_First = m_Lanes[0].NextBlock(l_Data[0], l_Size[0]);
        const uchar* l_Second = m_Lanes[1].NextBlock(l_Data[1], l_Size[1]);
        if (l_First && l_Second)
            Compress2(m_Lanes[0]._State, l_First, m_Lanes[1]._State, l_Second);
        else if (l_First)
            Compress1(m_Lanes[0]._State, l_First);
        else if (l_Second)
            Compress1(m_Lanes[1]._State, l_Second);
        else
            return;
    }
}

void Md5Pair::Result(int p_Lane, char* p_Digest)
{
    Lane& l_Lane = m_Lanes[p_Lane];
    const quint64 l_Bits = l_Lane._Bytes * 8;
    uchar l_Tail[72] = {0x80};
    const int l_Pad = l_Lane._HeldSize < 56 ? 56 - l_Lane._HeldSize : 120 - l_Lane._HeldSize;
    qToLittleEndian<quint64>(l_Bits, l_Tail + l_Pad);
    const char* l_Bytes = reinterpret_cast<const char*>(l_Tail);
    if (p_Lane == 0)
        Add(l_Bytes, l_Pad + 8, nullptr, 0);
    else
        Add(nullptr, 0, l_Bytes, l_Pad + 8);
    for (int l_I = 0; l_I < 4; ++l_I)
        qToLittleEndian<quint32>(l_Lane._State[l_I], reinterpret_cast<uchar*>(p_Digest + 4 * l_I));
    Reset(p_Lane);
}

QByteArray Md5Pair::Result(int p_Lane)
{
    QByteArray l_Digest(16, Qt::Uninitialized);
    Result(p_Lane, l_Digest.data());
    return l_Digest;
}

void Md5Pair::Reset(int p_Lane)
{
    Lane& l_Lane = m_Lanes[p_Lane];
    l_Lane._State[0] = 0x67452301;
    l_Lane._State[1] = 0xefcdab89;
    l_Lane._State[2] = 0x98badcfe;
    l_Lane._State[3] = 0x10325476;
    l_Lane._Bytes = 0;
    l_Lane._HeldSize = 0;
}

} // namespace Orvane
