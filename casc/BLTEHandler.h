#pragma once
#include <QByteArray>
#include <QDataStream>

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

    static constexpr qint64 HashSlice = 8192;
};

} // namespace CASC
} // namespace Orvane
