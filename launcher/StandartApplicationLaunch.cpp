// Game launch, client configuration and running-game detection.
#include "launcher/StandartApplication.h"

namespace Orvane {
namespace Launcher {

bool StandartApplication::IsGameRunning() { return false; }
bool StandartApplication::Start(QString, QString) { return false; }
void StandartApplication::PatchWoWTextFile(QString, QString, QString, bool) {}
bool StandartApplication::FindGameProcess(QString, QStringList, QString*) { return false; }
bool StandartApplication::MatchGameProcess(const QStringList&, const QString&, const QStringList&, QString*)
{
    return false;
}

} // namespace Launcher
} // namespace Orvane
