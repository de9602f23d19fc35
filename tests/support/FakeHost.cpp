#include "FakeHost.h"

#include <QtTest>

using namespace Orvane::Launcher;

FakeHost* FakeHost::s_Current = nullptr;

namespace {
// The callback table holds plain functions: they reach the host through Current().
FakeHost& Host() { return *FakeHost::Current(); }
using Lock = std::lock_guard<std::recursive_mutex>;
/// Notes a callback the module made from another thread than the host's.
void Called(const char* p_Name)
{
    if (QThread::currentThread() == Host().thread())
        return;
    Lock l_Lock(Host().Mutex);
    Host().OffThreadCalls.append(QString::fromLatin1(p_Name));
}
} // namespace

FakeHost::FakeHost()
{
    s_Current = this;
    Locale = g_LauncherLocales[0];
    m_MainTimer.setInterval(1);
    connect(&m_MainTimer, &QTimer::timeout, this, [this] {
        Task l_Task;
        for (int l_Count = 0; m_App && l_Count < 64 && m_App->TakeMainTask(l_Task); ++l_Count)
            l_Task();
    });
}

FakeHost::~FakeHost()
{
    Detach();
    if (s_Current == this)
        s_Current = nullptr;
}

void FakeHost::Attach(Application* p_App)
{
    m_App = p_App;
    p_App->ShowMessageBox = [](QString p_Text, bool p_Notice) {
        Lock l_Lock(Host().Mutex);
        (p_Notice ? Host().Notices : Host().Errors).append(p_Text);
        if (QThread::currentThread() != Host().thread())
            Host().OffThreadMessages.append(p_Text);
    };
    p_App->GetLocalSetting = [](QString p_Key, QVariant p_Default) {
        Called("GetLocalSetting");
        Lock l_Lock(Host().Mutex);
        return Host().Settings.value(p_Key, p_Default);
    };
    p_App->SetLocalSetting = [](QString p_Key, QVariant p_Value) {
        Called("SetLocalSetting");
        Lock l_Lock(Host().Mutex);
        Host().Settings[p_Key] = p_Value;
    };
    p_App->GetLocalSettingKeys = []() {
        Called("GetLocalSettingKeys");
        Lock l_Lock(Host().Mutex);
        return QStringList(Host().Settings.keys());
    };
    p_App->RemoveLocalSetting = [](QString p_Key) {
        Called("RemoveLocalSetting");
        Lock l_Lock(Host().Mutex);
        Host().Settings.remove(p_Key);
    };
    p_App->GetLauncherLocale = []() { return Called("GetLauncherLocale"), Host().Locale; };
    p_App->IsDownloadLocked = []() { return Called("IsDownloadLocked"), bool(Host().DownloadLocked); };
    p_App->LockDownload = []() { Called("LockDownload"), ++Host().LockCount; };
    p_App->UnlockDownload = []() { Called("UnlockDownload"), ++Host().UnlockCount; };
    p_App->IsLauncherRunning = []() { return bool(Host().LauncherRunning); };
    p_App->IsDevChannel = []() { return Called("IsDevChannel"), bool(Host().DevChannel); };

    m_MainTimer.start();
    m_WorkerRunning = true;
    m_Worker = std::thread([this, p_App] {
        while (m_WorkerRunning)
        {
            Task l_Task;
            if (p_App->TakeWorkerTask(l_Task))
                l_Task();
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
}

void FakeHost::Detach()
{
    m_MainTimer.stop();
    m_WorkerRunning = false;
    if (m_Worker.joinable())
        m_Worker.join();
    if (!m_App)
        return;
    // Run the worker tasks already queued (the clean-up of downloader threads), not those they add.
    size_t l_Pending = 0;
    {
        QMutexLocker l_Lock(&m_App->m_WorkerTasksMutex);
        l_Pending = m_App->m_WorkerTasks.size();
    }
    Task l_Task;
    while (l_Pending-- > 0 && m_App->TakeWorkerTask(l_Task))
        l_Task();
    m_App = nullptr;
}

bool FakeHost::WaitFor(const std::function<bool()>& p_Condition, int p_TimeoutMs)
{
    return QTest::qWaitFor(p_Condition, p_TimeoutMs);
}
