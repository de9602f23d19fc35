#pragma once
// The transfer engine and the downloader log under "kestrun.net"; Qt's logging rules turn it up or down
// (QT_LOGGING_RULES="kestrun.net.warning=false" silences it).
#include <QLoggingCategory>

namespace Orvane {
namespace Launcher {

Q_DECLARE_LOGGING_CATEGORY(NetLog)

} // namespace Launcher
} // namespace Orvane
