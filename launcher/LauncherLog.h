#pragma once
// The host interface and the game module log under "kestrun.launcher"; Qt's logging rules turn it up or down
// (QT_LOGGING_RULES="kestrun.launcher.warning=false" silences it).
#include <QLoggingCategory>

namespace Orvane {
namespace Launcher {

Q_DECLARE_LOGGING_CATEGORY(LauncherLog)

} // namespace Launcher
} // namespace Orvane
