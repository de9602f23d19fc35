#pragma once
// The operating-system calls log under "kestrun.platform"; Qt's logging rules turn it up or down
// (QT_LOGGING_RULES="kestrun.platform.warning=false" silences it).
#include <QLoggingCategory>

namespace Orvane {
namespace Launcher {

Q_DECLARE_LOGGING_CATEGORY(PlatformLog)

} // namespace Launcher
} // namespace Orvane
