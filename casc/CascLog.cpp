#include "casc/CascLog.h"

namespace Orvane {
namespace CASC {

Q_LOGGING_CATEGORY(CascLog, "kestrun.casc")

} // namespace CASC
} // namespace Orvane
