#include "casc/BLTEHandler.h"

#include "casc/Bytes.h"
#include "casc/CascLog.h"
#include "platform/Md5.h"

#include <QDebug>
#include <QIODevice>

#include <array>
#include <vector>

#include <zlib.h>

namespace Orvane {
namespace CASC {

namespace {

constexpr quint32 s_Magic = 0x45544C42; // "BLTE" read little-endian
constexpr quint8 s_TableFormat = 0x0F;
constexpr qint64 s_MaxBytes = BLTEHandler::MaxBytes;
// Deflate never expands more than 1032:1 (a 258-byte match per two 1-bit codes).
constexpr qint64 s_MaxInflateRatio = 1032;

struct ChunkDescriptor
{
    quint32 CompressedSize = 0;
    quint32 DecompressedSize = 0;
    std::array<char, 16> Checksum{};
};

/// The most a zlib stream of p_StreamBytes bytes can inflate to.
qint64 InflateCap(qint64 p_StreamBytes)
{
    return p_StreamBytes <= 0 ? 0 : p_StreamBytes * s_MaxInflateRatio + 258;
}

/// Feeds up to p_Count bytes of the stream to p_Hash in slices; returns how many it read.
qint64 HashFromStream(QDataStream& p_Stream, qint64 p_Count, Orvane::Md5& p_Hash)
{
    char l_Slice[BLTEHandler::HashSlice];
    qint64 l_Done = 0;
    while (l_Done < p_Count)
    {
        const int l_Want = int(qMin<qint64>(BLTEHandler::HashSlice, p_Count - l_Done));
        const int l_Read = p_Stream.readRawData(l_Slice, l_Want);
        if (l_Read <= 0)
            break;
        p_Hash.Add(l_Slice, l_Read);
        l_Done += l_Read;
        if (l_Read < l_Want)
            break;
    }
    return l_Done;
}

/// What the prefix of a blob says, and the key its hashed bytes give.
struct BlobKey
{
    quint32 HeaderSize = 0;
    qint64 Start = 0;       ///< device position of the magic
    qint64 AfterPrefix = 0; ///< device position after the header-size field
    QByteArray Key;
    bool Complete = false;  ///< every hashed byte could be read
};

/// Reads the magic and the header-size field, then hashes the header (or the whole
/// blob without a table) in slices, so that a forged header size decides nothing
/// about memory. False on a wrong magic. The stream is left little-endian.
bool ReadKey(QDataStream& p_Stream, quint64 p_Size, BlobKey& p_Blob)
{
    QIODevice* l_Device = p_Stream.device();
    p_Stream.resetStatus();
    p_Stream.setByteOrder(QDataStream::LittleEndian);
    if (!l_Device)
        return false;
    p_Blob.Start = l_Device->pos();
    quint32 l_Magic = 0;
    p_Stream >> l_Magic;
    if (p_Stream.status() != QDataStream::Ok || l_Magic != s_Magic)
        return false;
    p_Stream.setByteOrder(QDataStream::BigEndian);
    p_Stream >> p_Blob.HeaderSize;
    p_Stream.setByteOrder(QDataStream::LittleEndian);
    p_Blob.AfterPrefix = l_Device->pos();
    l_Device->seek(p_Blob.Start);

    const qint64 l_Hashed = p_Blob.HeaderSize != 0 ? qint64(p_Blob.HeaderSize) : qint64(p_Size & 0xFFFFFFFFu);
    Orvane::Md5 l_Hash;
    p_Blob.Complete = HashFromStream(p_Stream, l_Hashed, l_Hash) == l_Hashed;
    p_Blob.Key = l_Hash.Result();
    return true;
}

qint32 Fail(qint32 p_Code, const char* p_Text)
{
    qCWarning(CascLog) << QString::fromLatin1(p_Text);
    return p_Code;
}

} // namespace

QByteArray BLTEHandler::ExtractEntryMD5(QDataStream& p_Stream, quint64 p_Size, quint32* p_HeaderSize)
{
    BlobKey l_Blob;
    if (!ReadKey(p_Stream, p_Size, l_Blob))
    {
        qCWarning(CascLog) << QStringLiteral("BLTEHandler::ExtractEntryMD5() Invalid magic header");
        return QByteArray();
    }
    if (p_HeaderSize)
        *p_HeaderSize = l_Blob.HeaderSize;
    return l_Blob.Key;
}

qint32 BLTEHandler::ExtractData(QDataStream& p_Stream, quint64 p_Size, const char* p_ExpectedKey, QByteArray& p_Output,
                                quint32* p_HeaderSize, bool p_ChunksChecked)
{
    return Decode(p_Stream, p_Size, p_ExpectedKey, p_HeaderSize, p_ChunksChecked, [&](qint64 p_Reserve) {
        p_Output.clear(); // a blob refused before its chunks leaves the caller's bytes alone
        p_Output.reserve(int(qMin(p_Reserve, s_MaxBytes)));
    }, [&](const char* p_Data, qint64 p_Bytes) {
        if (p_Output.size() + p_Bytes > s_MaxBytes)
            return false;
        p_Output.append(p_Data, int(p_Bytes));
        return true;
    });
}

qint32 BLTEHandler::ContentDigest(QDataStream& p_Stream, quint64 p_Size, const char* p_ExpectedKey,
                                  QByteArray* p_Digest, quint32* p_HeaderSize, bool p_ChunksChecked)
{
    // Hashed chunk by chunk as it is decoded: the content is never held whole.
    Orvane::Md5 l_Content;
    const qint32 l_Result = Decode(p_Stream, p_Size, p_ExpectedKey, p_HeaderSize, p_ChunksChecked, [](qint64) {},
                                   [&](const char* p_Data, qint64 p_Bytes) {
                                       l_Content.Add(p_Data, p_Bytes);
                                       return true;
                                   });
    if (l_Result == Ok)
        *p_Digest = l_Content.Result();
    return l_Result;
}

qint32 BLTEHandler::Decode(QDataStream& p_Stream, quint64 p_Size, const char* p_ExpectedKey, quint32* p_HeaderSize,
                           bool p_ChunksChecked, const std::function<void(qint64)>& p_Reserve,
                           const std::function<bool(const char*, qint64)>& p_Take)
{
    // The key check comes before any look at the header's structure.
    BlobKey l_Blob;
    if (!ReadKey(p_Stream, p_Size, l_Blob))
        return Fail(InvalidMagic, "BLTEHandler::ExtractData() Invalid magic header");
    if (p_HeaderSize)
        *p_HeaderSize = l_Blob.HeaderSize;
    QIODevice* l_Device = p_Stream.device();
    const quint32 l_HeaderSize = l_Blob.HeaderSize;
    const qint64 l_Start = l_Blob.Start;
    const QByteArray l_Expected(p_ExpectedKey, 16);
    if (!l_Blob.Complete || l_Blob.Key != l_Expected)
    {
        // A header cut short never matches, even if its partial hash happened to.
        qCWarning(CascLog) << QStringLiteral("BLTEHandler::ExtractData() Data corrupted computed hash : ")
                           << Bytes::Hex(l_Blob.Key) << QStringLiteral(" gived : ") << Bytes::Hex(l_Expected);
        return KeyMismatch;
    }
    l_Device->seek(l_Blob.AfterPrefix);

    std::vector<ChunkDescriptor> l_Chunks;
    qint64 l_DeclaredTotal = 0;
    if (l_HeaderSize != 0)
    {
        if (p_Size < 12)
            return Fail(HeaderTooShort, "BLTEHandler::ExtractData() Invalid chunked header lenght");
        quint8 l_Format = 0;
        p_Stream >> l_Format;
        if (l_Format != s_TableFormat)
            return Fail(BadTableFormat, "BLTEHandler::ExtractData() Invalid chunked header unk magic");
        quint8 l_CountBytes[3] = {0, 0, 0};
        p_Stream >> l_CountBytes[0] >> l_CountBytes[1] >> l_CountBytes[2];
        const quint32 l_Count = (quint32(l_CountBytes[0]) << 16) | (quint32(l_CountBytes[1]) << 8) | l_CountBytes[2];
        if (l_Count == 0)
            return Fail(NoChunks, "BLTEHandler::ExtractData() Invalid chunk count");
        if (qint64(l_HeaderSize) != 12 + 24 * qint64(l_Count))
            return Fail(HeaderSizeMismatch, "BLTEHandler::ExtractData() Header size mismatch");
        if (p_Size < l_HeaderSize)
            return Fail(NotEnoughData, "BLTEHandler::ExtractData() No enough data");
        // The whole table was hashed above, so the blob really holds these entries.
        l_Chunks.resize(l_Count);
        for (ChunkDescriptor& l_Chunk : l_Chunks)
        {
            p_Stream.setByteOrder(QDataStream::BigEndian);
            p_Stream >> l_Chunk.CompressedSize >> l_Chunk.DecompressedSize;
            p_Stream.setByteOrder(QDataStream::LittleEndian);
            p_Stream.readRawData(l_Chunk.Checksum.data(), 16);
            l_DeclaredTotal += l_Chunk.DecompressedSize;
        }
    }
    else
    {
        // The single chunk is everything after the 8-byte prefix: a mode byte at least.
        if (p_Size < 9 || p_Size - 8 > 0xFFFFFFFFu)
            return Fail(NotEnoughData, "BLTEHandler::ExtractData() No enough data");
        ChunkDescriptor l_Chunk;
        l_Chunk.CompressedSize = quint32(p_Size - 8);
        l_Chunk.DecompressedSize = quint32(p_Size - 9);
        l_Chunks.push_back(l_Chunk);
        l_DeclaredTotal = qint64(p_Size - 9);
    }
    if (p_Size > quint64(s_MaxBytes) || l_DeclaredTotal > s_MaxBytes)
        return Fail(NotEnoughData, "BLTEHandler::ExtractData() Blob too large");

    // Reserve only what the blob's own bytes can produce: a table may declare
    // gigabytes of output for a few bytes of input.
    const qint64 l_DataStart = l_Device->pos() - l_Start;
    qint64 l_Reserve = 0;
    qint64 l_Left = qint64(p_Size) - l_DataStart;
    for (const ChunkDescriptor& l_Chunk : l_Chunks)
    {
        const qint64 l_Available = qMin<qint64>(l_Chunk.CompressedSize, qMax<qint64>(l_Left, 0));
        l_Reserve += qMin<qint64>(l_Chunk.DecompressedSize, InflateCap(l_Available - 1));
        l_Left -= l_Available;
    }
    p_Reserve(l_Reserve);
    qint64 l_Produced = 0;

    for (const ChunkDescriptor& l_Chunk : l_Chunks)
    {
        const qint64 l_Remaining = qint64(p_Size) - (l_Device->pos() - l_Start);
        if (l_Chunk.CompressedSize == 0 || qint64(l_Chunk.CompressedSize) > l_Remaining)
            return Fail(ShortChunk, "BLTEHandler::ExtractData() Invalid readed size");
        QByteArray l_Buffer(int(l_Chunk.CompressedSize), Qt::Uninitialized);
        if (p_Stream.readRawData(l_Buffer.data(), l_Buffer.size()) != l_Buffer.size())
            return Fail(ShortChunk, "BLTEHandler::ExtractData() Invalid readed size");

        if (l_HeaderSize != 0 && !p_ChunksChecked)
        {
            if (Orvane::Md5::Hash(l_Buffer) != QByteArray::fromRawData(l_Chunk.Checksum.data(), 16))
                return Fail(ChunkHashMismatch, "BLTEHandler::ExtractData() Chunk hash differ");
        }

        const qint64 l_Payload = l_Buffer.size() - 1;
        switch (qint8(l_Buffer.at(0)))
        {
        case 'N':
            if (l_Produced + l_Payload > s_MaxBytes || !p_Take(l_Buffer.constData() + 1, l_Payload))
                return Fail(NotEnoughData, "BLTEHandler::ExtractData() Blob too large");
            l_Produced += l_Payload;
            break;
        case 'Z':
        {
            // A declared size that the stream cannot reach would leave undefined bytes.
            if (qint64(l_Chunk.DecompressedSize) > InflateCap(l_Payload)
                || l_Produced + qint64(l_Chunk.DecompressedSize) > s_MaxBytes)
                return Fail(UncompressError, "BLTEHandler::ExtractData() uncompress error");
            QByteArray l_Inflated(int(l_Chunk.DecompressedSize), Qt::Uninitialized);
            uLongf l_Length = l_Chunk.DecompressedSize;
            const int l_Result = uncompress(reinterpret_cast<Bytef*>(l_Inflated.data()), &l_Length,
                                            reinterpret_cast<const Bytef*>(l_Buffer.constData() + 1), uLong(l_Payload));
            if (l_Result != Z_OK || l_Length != l_Chunk.DecompressedSize)
                return Fail(UncompressError, "BLTEHandler::ExtractData() uncompress error");
            if (!p_Take(l_Inflated.constData(), l_Inflated.size()))
                return Fail(NotEnoughData, "BLTEHandler::ExtractData() Blob too large");
            l_Produced += l_Inflated.size();
            break;
        }
        case 'E':
            return Fail(UnsupportedMode, "BLTEHandler::ExtractData() BLTE_CHUNK_DATA_ENCRYPED not implemented");
        case 'F':
            return Fail(UnsupportedMode, "BLTEHandler::ExtractData() BLTE_CHUNK_DATA_FRAME_RECURSIVE not implemented");
        default:
        {
            // Shown as a signed byte: 0xFF reads "-1".
            const int l_Mode = qint8(l_Buffer.at(0));
            const QString l_Shown = (l_Mode < 0 ? "-" : "") + QString::number(qAbs(l_Mode), 16).toUpper();
            qCWarning(CascLog) << QStringLiteral("BLTEHandler::ExtractData() 0x") << l_Shown
                               << QStringLiteral(" not implemented");
            return UnsupportedMode;
        }
        }
    }
    return Ok;
}

} // namespace CASC
} // namespace Orvane
