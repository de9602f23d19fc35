#include "launcher/LauncherLog.h"

namespace Orvane {
namespace Launcher {

Q_LOGGING_CATEGORY(LauncherLog, "kestrun.launcher")

} // namespace Launcher
} // namespace Orvane
