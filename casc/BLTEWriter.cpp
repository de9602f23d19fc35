#include "casc/BLTEWriter.h"

#include "casc/Bytes.h"
#include "platform/Md5.h"

#include <QtEndian>

#include <zlib.h>

namespace Orvane {
namespace CASC {

namespace {

bool Fail(QString* p_Error, const QString& p_Reason)
{
    if (p_Error)
        *p_Error = p_Reason;
    return false;
}

/// One encoded chunk: the mode byte and its payload.
bool EncodeChunk(const char* p_Data, qint64 p_Size, const BLTEWriter::Options& p_Options, QByteArray& p_Chunk,
                 QString* p_Error)
{
    if (p_Options.ChunkMode == BLTEWriter::Mode::Plain)
    {
        p_Chunk.reserve(int(p_Size + 1));
        p_Chunk.append('N');
        p_Chunk.append(p_Data, int(p_Size));
        return true;
    }
    uLongf l_Length = compressBound(uLong(p_Size));
    p_Chunk.resize(int(l_Length + 1));
    p_Chunk[0] = 'Z';
    const int l_Result = compress2(reinterpret_cast<Bytef*>(p_Chunk.data() + 1), &l_Length,
                                   reinterpret_cast<const Bytef*>(p_Data), uLong(p_Size), p_Options.ZlibLevel);
    if (l_Result != Z_OK)
        return Fail(p_Error, QStringLiteral("zlib failed with code %1").arg(l_Result));
    p_Chunk.resize(int(l_Length + 1));
    return true;
}

} // namespace

bool BLTEWriter::Encode(const QByteArray& p_Content, const Options& p_Options, QByteArray& p_Blob, QString* p_Error)
{
    p_Blob.clear();
    if (p_Options.ChunkSize < 0)
        return Fail(p_Error, QStringLiteral("the chunk size must not be negative"));
    if (!p_Options.WithTable && p_Options.ChunkMode != Mode::Plain)
        return Fail(p_Error, QStringLiteral("a blob without a chunk table holds one plain chunk; zlib needs a table"));

    if (!p_Options.WithTable)
    {
        p_Blob.reserve(p_Content.size() + HeaderSizeWithoutTable + 1);
        p_Blob.append("BLTE", 4);
        Bytes::AppendBigEndian32(p_Blob, 0);
        p_Blob.append('N');
        p_Blob.append(p_Content);
        return true;
    }

    const qint64 l_Total = p_Content.size();
    const qint64 l_ChunkSize = p_Options.ChunkSize == 0 ? qMax<qint64>(l_Total, 1) : p_Options.ChunkSize;
    // Empty content still gets one (empty) chunk: a table may not be empty.
    const qint64 l_Count = qMax<qint64>(1, (l_Total + l_ChunkSize - 1) / l_ChunkSize);
    if (l_Count > MaxChunkCount)
        return Fail(p_Error, QStringLiteral("%1 chunks do not fit in a chunk table").arg(l_Count));

    QByteArray l_Table;
    QByteArray l_Chunks;
    l_Table.reserve(int(l_Count * TableEntrySize));
    for (qint64 l_Index = 0; l_Index < l_Count; ++l_Index)
    {
        const qint64 l_Offset = l_Index * l_ChunkSize;
        const qint64 l_Size = qMin(l_ChunkSize, l_Total - l_Offset);
        QByteArray l_Chunk;
        if (!EncodeChunk(p_Content.constData() + l_Offset, l_Size, p_Options, l_Chunk, p_Error))
            return false;
        Bytes::AppendBigEndian32(l_Table, quint32(l_Chunk.size()));
        Bytes::AppendBigEndian32(l_Table, quint32(l_Size));
        l_Table.append(Md5::Hash(l_Chunk));
        l_Chunks.append(l_Chunk);
    }

    const quint32 l_HeaderSize = quint32(TablePrefixSize + l_Table.size());
    p_Blob.reserve(int(l_HeaderSize) + l_Chunks.size());
    p_Blob.append("BLTE", 4);
    Bytes::AppendBigEndian32(p_Blob, l_HeaderSize);
    p_Blob.append(char(0x0F));
    p_Blob.append(char((l_Count >> 16) & 0xFF));
    p_Blob.append(char((l_Count >> 8) & 0xFF));
    p_Blob.append(char(l_Count & 0xFF));
    p_Blob.append(l_Table);
    p_Blob.append(l_Chunks);
    return true;
}

QByteArray BLTEWriter::EncodingKey(const QByteArray& p_Blob)
{
    if (p_Blob.size() < HeaderSizeWithoutTable || !p_Blob.startsWith("BLTE"))
        return QByteArray();
    const quint32 l_HeaderSize = qFromBigEndian<quint32>(reinterpret_cast<const uchar*>(p_Blob.constData() + 4));
    if (l_HeaderSize > quint32(p_Blob.size()))
        return QByteArray();
    const int l_Hashed = l_HeaderSize == 0 ? p_Blob.size() : int(l_HeaderSize);
    return Md5::Hash(p_Blob.constData(), l_Hashed);
}

} // namespace CASC
} // namespace Orvane
