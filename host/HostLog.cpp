#include "host/HostLog.h"

namespace Orvane {
namespace Host {

Q_LOGGING_CATEGORY(HostLog, "kestrun.host")

} // namespace Host
} // namespace Orvane
