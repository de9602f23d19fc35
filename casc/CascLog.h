#pragma once
// The content store logs under "kestrun.casc"; Qt's logging rules turn it up or down
// (QT_LOGGING_RULES="kestrun.casc.warning=false" silences it).
#include <QLoggingCategory>

namespace Orvane {
namespace CASC {

Q_DECLARE_LOGGING_CATEGORY(CascLog)

} // namespace CASC
} // namespace Orvane
