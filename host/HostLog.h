#pragma once
// orvane-launcher itself logs under "kestrun.host"; Qt's logging rules turn it up or down
// (QT_LOGGING_RULES="kestrun.host.warning=false" silences it).
#include <QLoggingCategory>

namespace Orvane {
namespace Host {

Q_DECLARE_LOGGING_CATEGORY(HostLog)

} // namespace Host
} // namespace Orvane
