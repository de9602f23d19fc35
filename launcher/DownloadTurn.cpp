#include "launcher/DownloadTurn.h"
#include "launcher/StatusRecord.h"
#include "platform/ThreadOwner.h"

#include <QThread>

namespace Orvane {
namespace Launcher {

DownloadTurn::DownloadTurn(Application& p_App) : m_App(p_App) {}

void DownloadTurn::Take()
{
    KESTRUN_OWNED_BY(m_App.thread());
    if (m_Holds)
        return;
    m_Holds = true;
    if (m_App.LockDownload)
        m_App.LockDownload();
}

void DownloadTurn::Release()
{
    KESTRUN_OWNED_BY(m_App.thread());
    if (!m_Holds)
        return;
    m_Holds = false;
    if (m_App.UnlockDownload)
        m_App.UnlockDownload();
}

bool DownloadTurn::TakeOrRetry(bool p_ClearMessage, std::function<void()> p_Retry)
{
    KESTRUN_OWNED_BY(m_App.thread());
    const bool l_GameRunning = m_App.IsGameRunning();
    m_App.m_Status.Percent = 100;
    m_App.m_Status.DownloadStatus = l_GameRunning ? DownloadStatus::GameRunning : DownloadStatus::WaitingForTurn;
    if (p_ClearMessage)
        m_App.m_Status.Message.clear();
    StatusRecord::Changed(m_App);
    if (!l_GameRunning && (m_Holds || !m_App.IsDownloadLocked || !m_App.IsDownloadLocked()))
    {
        Take();
        return true;
    }
    // The worker queue only waits; the retry itself runs on the application's thread.
    Application* const l_App = &m_App;
    m_App.PostWorkerTask([l_App, p_Retry] {
        QThread::msleep(100);
        l_App->PostMainTask(p_Retry);
    });
    return false;
}

} // namespace Launcher
} // namespace Orvane
