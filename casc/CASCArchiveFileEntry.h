#pragma once
#include <QtGlobal>

namespace Orvane {
namespace CASC {

struct CASCIndexRecord;

#pragma pack(push, 1)
/// One slot of a local data archive to fill: byte-packed, it points at the CDN index record
/// instead of copying its key.
struct CASCArchiveFileEntry
{
    const CASCIndexRecord* _IndexRecord; ///< the blob's CDN archive, offset, size and patch flag
    quint8 _Archive;                    ///< NNN of data.NNN
    quint32 _Offset;                    ///< of the slot in the local archive
    quint32 _Size;                      ///< of the slot: 30-byte entry header plus blob
};
#pragma pack(pop)

} // namespace CASC
} // namespace Orvane
