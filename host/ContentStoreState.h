#pragma once
#include <QString>

namespace Orvane {
namespace Host {

/// What an install folder tells about its content store, read from disk: the local
/// indices the store keeps, and the list of slots its last scan left to fetch.
class ContentStoreState
{
public:
    /// The folder holds a content store (local ".idx" files under "data/data/").
    static bool Present(const QString& p_Folder);
    /// Slots listed in "ToDownloadCASC.db"; -1 when there is no list (never scanned).
    static int SlotsToFetch(const QString& p_Folder);
};

} // namespace Host
} // namespace Orvane
