#include "platform/PlatformLog.h"

namespace Orvane {
namespace Launcher {

Q_LOGGING_CATEGORY(PlatformLog, "kestrun.platform")

} // namespace Launcher
} // namespace Orvane
