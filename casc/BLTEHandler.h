#pragma once
#include <QByteArray>
#include <QDataStream>

#include <functional>

namespace Orvane {
namespace CASC {

/// Reads BLTE blobs, the container of every file in a content store. Both
/// operations start at the stream's current position, take the blob's total size,
/// and leave the stream little-endian.
class BLTEHandler
{
public:
    enum Result : qint32
    {
        Ok = 0,
        InvalidMagic = 1,
        KeyMismatch = 2,
        HeaderTooShort = 3,
        BadTableFormat = 4,
        NoChunks = 5,
        HeaderSizeMismatch = 6,
        NotEnoughData = 7,
        ShortChunk = 8,
        ChunkHashMismatch = 9,
        UncompressError = 10,
        UnsupportedMode = 11,
    };

    /// The blob's encoding key (16 raw bytes): the MD5 of its header, or of the whole
    /// blob when it has no chunk table. Empty when the magic is wrong. Leaves the
    /// stream just past the hashed bytes.
    static QByteArray ExtractEntryMD5(QDataStream& p_Stream, quint64 p_Size, quint32* p_HeaderSize = nullptr);

    /// Checks the blob against p_ExpectedKey (16 raw bytes) and decodes it into p_Output.
    /// Returns a Result; only Ok leaves the whole content in p_Output. p_ChunksChecked: the
    /// chunks' checksums were checked already (as the blob arrived), so they are not hashed again.
    static qint32 ExtractData(QDataStream& p_Stream, quint64 p_Size, const char* p_ExpectedKey, QByteArray& p_Output,
                              quint32* p_HeaderSize = nullptr, bool p_ChunksChecked = false);

    /// As ExtractData, but only the content's MD5 (16 raw bytes) goes to p_Digest: the content key a
    /// scan compares, without the content held in memory.
    static qint32 ContentDigest(QDataStream& p_Stream, quint64 p_Size, const char* p_ExpectedKey, QByteArray* p_Digest,
                                quint32* p_HeaderSize = nullptr, bool p_ChunksChecked = false);

    static constexpr qint64 HashSlice = 8192;
    /// No blob, and no content a table declares, may outgrow what one byte array holds.
    static constexpr qint64 MaxBytes = 0x7FFFFFFF - 64;

private:
    /// The checks and decoding of ExtractData; p_Reserve hears the content's likely size, p_Take gets the
    /// content chunk by chunk (false: too large).
    static qint32 Decode(QDataStream& p_Stream, quint64 p_Size, const char* p_ExpectedKey, quint32* p_HeaderSize,
                         bool p_ChunksChecked, const std::function<void(qint64)>& p_Reserve,
                         const std::function<bool(const char*, qint64)>& p_Take);
};

} // namespace CASC
} // namespace Orvane
