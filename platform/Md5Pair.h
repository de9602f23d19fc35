#pragma once
#include <QByteArray>
#include <QtGlobal>

namespace Orvane {

/// Two MD5 digests in one pass, their rounds interleaved. Each MD5 step waits on the one before it,
/// so a core has room for a second, independent digest beside the first: both together cost little
/// more than one. For a content-store chunk's checksum (the chunk with its mode byte) and the blob's
/// content key (the chunks without) at once. Owned by one thread at a time.
class Md5Pair
{
public:
    Md5Pair() { Reset(0); Reset(1); }

    /// Adds p_First to the first digest and p_Second to the second.
    void Add(const char* p_First, qint64 p_FirstSize, const char* p_Second, qint64 p_SecondSize);
    /// Writes the 16-byte digest of lane p_Lane (0 or 1) to p_Digest; that lane starts over.
    void Result(int p_Lane, char* p_Digest);
    QByteArray Result(int p_Lane);
    void Reset(int p_Lane);

private:
    struct Lane
    {
        quint32 _State[4];
        quint64 _Bytes;
        uchar _Held[64]; ///< a block not yet whole
        int _HeldSize;
        const uchar* NextBlock(const uchar*& p_Data, qint64& p_Size);
    };
    Lane m_Lanes[2];
};

} // namespace Orvane
