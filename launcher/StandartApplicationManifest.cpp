// Download manifest: list building, list files and size requests.
#include "launcher/StandartApplication.h"

namespace Orvane {
namespace Launcher {

void StandartApplication::BuildBaseList() {}
void StandartApplication::StartStreamedPhase(bool) {}
void StandartApplication::BuildStreamedList(bool) {}
void StandartApplication::RequestFileSizes() {}
void StandartApplication::RequestSizesOfList(bool) {}
void StandartApplication::UpdateListFile(QString) {}
QString StandartApplication::CurrentListFile() { return QString(); }

} // namespace Launcher
} // namespace Orvane
