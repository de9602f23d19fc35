#pragma once
// Names of the numbers the host reads in the status record (ApplicationStatus). The values are the
// host's: never renumber them.
#include <cstdint>

namespace Orvane {
namespace Launcher {

namespace ApplicationState {
enum Value : int32_t
{
    Initialising = 0,
    NotInstalled = 1,
    Installed    = 2,
};
} // namespace ApplicationState

namespace DownloadStatus {
enum Value : int32_t
{
    WaitingForTurn = 0, ///< another application holds the launcher's download turn
    GameRunning    = 1, ///< the game runs: nothing is fetched
    Preparing      = 2, ///< sizes asked, configuration fetched
    Downloading    = 3,
    Stopped        = 4,
    Checking       = 5, ///< files compared with the manifest, the store scanned
};
} // namespace DownloadStatus

} // namespace Launcher
} // namespace Orvane
