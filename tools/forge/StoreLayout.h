#pragma once
#include "tools/forge/ForgeBlob.h"
#include "tools/forge/ForgeOptions.h"

#include <QString>
#include <vector>

namespace Orvane {
namespace CASC {
namespace Forge {

struct CdnArchiveLayout
{
    bool m_Patch = false;
    std::vector<int> m_Blobs; ///< in archive order
    qint64 m_Size = 0;
};

struct LocalArchiveLayout
{
    int m_Number = 0;
    std::vector<int> m_Blobs; ///< in slot order
    qint64 m_Size = 0;        ///< bytes on disk, after truncation
    bool m_Present = true;
};

/// Decides where every blob goes: its CDN archive and offset, its local archive slot, and the
/// damage each slot receives. Pure computation; nothing is written.
class StoreLayout
{
public:
    /// Fails, with a one-line reason, when the options do not fit the content (a blob number
    /// out of range, two truncated slots in one archive, an archive that outgrows its offsets).
    static bool Place(const ForgeOptions& p_Options, std::vector<ForgeBlob>& p_Blobs,
                      std::vector<CdnArchiveLayout>& p_Cdn, std::vector<LocalArchiveLayout>& p_Local,
                      QString& p_Error);

    /// Local offsets keep 30 bits in the .idx entry.
    static constexpr qint64 MaxLocalOffset = 0x3FFFFFFF;
};

} // namespace Forge
} // namespace CASC
} // namespace Orvane
