#pragma once
#include "casc/CASCEncodingMap.h"

#include <QFile>
#include <QString>

namespace Orvane {
namespace CASC {

/// Checks one slot of a local data archive: header, blob and decoded content.
class CASCSlotCheck
{
public:
    enum class Verdict : quint8
    {
        Whole,
        MissingArchive,  ///< the data archive cannot be opened
        BeyondEnd,       ///< the archive ends before the slot does
        SizeMismatch,    ///< the header's size is not 30 + the indexed blob size
        KeyMismatch,     ///< the blob's key is not the one its header and index give
        NoChunkTable,    ///< the blob has no chunk table
        DecodeError,     ///< the blob does not decode against its key
        MissingMd5,      ///< no encoding record for the index key
        ContentMismatch, ///< the decoded content has another MD5
    };

    /// p_Archive is open for reading; p_IndexKey holds 9 bytes; p_BlobSize is the CDN index's
    /// size of the blob. Blobs up to InMemoryBlob bytes are read with one call.
    static Verdict Check(QFile& p_Archive, qint64 p_ArchiveSize, quint32 p_Offset, quint32 p_BlobSize,
                         const char* p_IndexKey, const CASCEncodingMap& p_Map);

    /// The same acceptance for a blob received in memory (p_BlobSize bytes at p_Blob) whose key
    /// (p_Key, 16 bytes) and chunk checksums were checked as it arrived: chunk table, decoding
    /// and content key, so that nothing is written that a scan would list again. A content key
    /// that its arrival gave (p_ContentKey, plain chunks only) spares the decoding.
    static Verdict CheckReceived(const char* p_Blob, quint32 p_BlobSize, const QByteArray& p_Key,
                                 const QByteArray& p_ContentKey, const CASCEncodingMap& p_Map);

    /// Short name for reports ("content-mismatch").
    static const char* Name(Verdict p_Verdict);

    static constexpr int EntryHeaderSize = 30;
    static constexpr qint64 InMemoryBlob = 16 * 1024 * 1024;
};

} // namespace CASC
} // namespace Orvane
