#include "net/NetLog.h"

namespace Orvane {
namespace Launcher {

Q_LOGGING_CATEGORY(NetLog, "kestrun.net")

} // namespace Launcher
} // namespace Orvane
