#pragma once
#include "tools/forge/ForgeOptions.h"

#include <QByteArray>
#include <QStringList>

namespace Orvane {
namespace CASC {
namespace Forge {

/// One encoded file of the store and where it lives on both sides.
struct ForgeBlob
{
    QStringList m_Paths;      ///< content files with these bytes (identical files share one blob)
    QByteArray m_ContentKey;  ///< 16 raw bytes: MD5 of the content
    QByteArray m_EncodingKey; ///< 16 raw bytes: BLTE key of m_Blob
    qint64 m_ContentSize = 0;
    QByteArray m_Blob;

    int m_CdnArchive = 0; ///< position in the CDN archive list (data archives, then patch archives)
    quint32 m_CdnOffset = 0;

    int m_LocalArchive = 0; ///< NNN of data.NNN
    quint32 m_LocalOffset = 0;
    quint32 m_SlotSize = 0; ///< entry header plus blob, as the .idx gives it
    quint32 m_Reserved = 0; ///< bytes the slot takes in its archive (more when it holds a larger blob)

    SlotDamage m_Damage = SlotDamage::None;
    int m_HeldBlob = -1; ///< for OtherBlob: the blob whose header and bytes the slot holds

    static constexpr int EntryHeaderSize = 30;
    QByteArray IndexKey() const { return m_EncodingKey.left(9); }
};

} // namespace Forge
} // namespace CASC
} // namespace Orvane
