#pragma once
#include <QByteArray>
#include <QString>

namespace Orvane {
namespace CASC {

/// Encodes content as a BLTE blob: the form in which a content store keeps and
/// serves every file. The decoder (BLTEHandler) reads back everything this writes.
class BLTEWriter
{
public:
    enum class Mode
    {
        Plain, ///< 'N' chunks: the content unchanged
        Zlib,  ///< 'Z' chunks: a zlib stream each
    };

    struct Options
    {
        Mode ChunkMode = Mode::Zlib;
        /// Content bytes per chunk; 0 puts everything in one chunk.
        qint64 ChunkSize = 256 * 1024;
        /// Without a chunk table the blob is one plain chunk; its key is the MD5 of the whole blob.
        bool WithTable = true;
        int ZlibLevel = 6;
    };

    /// Encodes p_Content into p_Blob. Fails, with a reason in p_Error, on options that
    /// cannot give a blob that decodes back: a zlib blob without a chunk table, a negative
    /// chunk size, or more chunks than the 24-bit count holds.
    static bool Encode(const QByteArray& p_Content, const Options& p_Options, QByteArray& p_Blob,
                       QString* p_Error = nullptr);

    /// The blob's encoding key (16 raw bytes): the MD5 of its header when it has a chunk
    /// table, of the whole blob otherwise. Empty when p_Blob is not a BLTE blob.
    static QByteArray EncodingKey(const QByteArray& p_Blob);

    static constexpr int HeaderSizeWithoutTable = 8;
    static constexpr int TablePrefixSize = 12;
    static constexpr int TableEntrySize = 24;
    static constexpr quint32 MaxChunkCount = 0xFFFFFF;
};

} // namespace CASC
} // namespace Orvane
