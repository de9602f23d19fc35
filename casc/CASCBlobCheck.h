#pragma once
#include "platform/Md5.h"
#include "platform/Md5Pair.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace Orvane {
namespace CASC {

/// Checks a BLTE blob while its bytes arrive, with one MD5 pass over them: the header against
/// the blob's index key as soon as the header is in, then each chunk against its checksum as
/// the chunk completes. The header's MD5 (the encoding key) covers the chunk table and each
/// chunk's MD5 covers its bytes, so a blob that passes is the blob its key names. While every
/// chunk is plain ('N'), the same pass also gives the content key (the MD5 of what the blob
/// decodes to), so that accepting it needs no second pass. Used on one thread.
class CASCBlobCheck
{
public:
    /// p_Size: the blob's size from the CDN index; p_IndexKey: its first 9 key bytes.
    CASCBlobCheck(quint32 p_Size, const QByteArray& p_IndexKey);

    /// The blob's next bytes, in order.
    void Add(const char* p_Data, qint64 p_Size);

    bool Failed() const { return !m_Problem.isEmpty(); }
    /// Every byte is in and checked.
    bool Passed() const { return m_Stage == Stage::Done; }
    /// Why the blob is refused; empty while it is not.
    const QString& Problem() const { return m_Problem; }
    /// The 16-byte encoding key, once the header (or a blob without a table) is in.
    const QByteArray& Key() const { return m_Key; }
    /// The 16-byte content key of a blob that passed with a chunk table of plain chunks only;
    /// empty for any other (its content is known only once it is decoded).
    const QByteArray& ContentKey() const { return m_ContentKey; }

    /// The largest header taken: 12 bytes and a table of 24 bytes per chunk, about 175000 chunks
    /// (a 2 GiB blob in 16 KiB chunks needs 3 MiB).
    static constexpr quint32 MaxHeaderSize = 12 + 24 * 174762; // 4 MiB less 4 bytes

private:
    enum class Stage { Prefix, Header, Chunks, WholeBlob, Done, Refused };
    void Fail(const QString& p_Problem);
    void HeaderIn();
    void ChunkBytes(const char* p_Data, qint64 p_Size);

    quint32 m_Size;
    QByteArray m_IndexKey;
    Stage m_Stage = Stage::Prefix;
    quint64 m_Received = 0;
    QByteArray m_Header; ///< the prefix, then the whole header
    quint32 m_HeaderSize = 0;
    Md5 m_Md5;                 ///< the header, a blob without a table, chunks once one was not plain
    Md5Pair m_Pair;            ///< lane 0: a plain chunk; lane 1: the content so far
    bool m_Plain = true;       ///< every chunk so far is plain: lane 1 holds the content
    bool m_ChunkInPair = false; ///< the chunk being received goes through m_Pair
    QByteArray m_Key;
    QByteArray m_ContentKey;
    struct Chunk
    {
        quint32 _Size;
        char _Md5[16];
    };
    std::vector<Chunk> m_Chunks;
    size_t m_Chunk = 0;        ///< the chunk being received
    quint32 m_ChunkDone = 0;   ///< its bytes received
    QString m_Problem;
};

} // namespace CASC
} // namespace Orvane
