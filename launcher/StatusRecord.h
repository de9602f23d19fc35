#pragma once
// Writes of the status record shared by the game module's pieces. Each runs on the application's
// thread, which alone writes the record; the host reads it once m_StateChanged is set.
#include "launcher/Application.h"
#include "launcher/StatusValues.h"
#include "platform/ThreadOwner.h"

namespace Orvane {
namespace Launcher {
namespace StatusRecord {

/// Tells the host the record changed (after every write of it).
inline void Changed(Application& p_App)
{
    KESTRUN_OWNED_BY(p_App.thread());
    p_App.m_StateChanged = true;
}

inline void SetPercent(Application& p_App, qint64 p_Done, qint64 p_Total)
{
    KESTRUN_OWNED_BY(p_App.thread());
    // A size answered as unknown (0) lets Done pass Total for a while: never past 100.
    p_App.m_Status.Percent = int32_t(qBound<qint64>(0, p_Done * 100 / (p_Total <= 0 ? 1 : p_Total), 100));
}

/// Installed with nothing going on: Detail hidden, not busy.
inline void ShowInstalled(Application& p_App)
{
    KESTRUN_OWNED_BY(p_App.thread());
    p_App.m_Status.ApplicationState = ApplicationState::Installed;
    p_App.m_Status.DetailVisible = false;
    p_App.m_Status.DetailValue = 0;
    p_App.m_Status.Busy = false;
    Changed(p_App);
}

/// IsLauncherRunning, true when the host gave none.
inline bool LauncherRunning(const Application& p_App)
{
    return !p_App.IsLauncherRunning || p_App.IsLauncherRunning();
}

} // namespace StatusRecord
} // namespace Launcher
} // namespace Orvane
