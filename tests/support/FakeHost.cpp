#include "FakeHost.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QtTest>

using namespace Orvane::Launcher;

FakeHost* FakeHost::s_Current = nullptr;

FakeHost::FakeHost()
{
    s_Current = this;
    Locale = g_LauncherLocales[0];
    m_MainTimer.setInterval(1);
    connect(&m_MainTimer, &QTimer::timeout, this, &FakeHost::DrainMain);
}

FakeHost::~FakeHost()
{
    Detach();
    if (s_Current == this)
        s_Current = nullptr;
}

namespace {
FakeHost& Host() { return *FakeHost::Current(); }
} // namespace

void FakeHost::Attach(Application* p_App)
{
    m_App = p_App;
    p_App->ShowMessageBox = [](QString p_Text, bool p_Flag) {
        std::lock_guard<std::recursive_mutex> l_Lock(Host().Mutex);
        (p_Flag ? Host().Notices : Host().Errors).append(p_Text);
    };
    p_App->GetLocalSetting = [](QString p_Key, QVariant p_Default) {
        std::lock_guard<std::recursive_mutex> l_Lock(Host().Mutex);
        return Host().Settings.value(p_Key, p_Default);
    };
    p_App->SetLocalSetting = [](QString p_Key, QVariant p_Value) {
        std::lock_guard<std::recursive_mutex> l_Lock(Host().Mutex);
        Host().Settings[p_Key] = p_Value;
    };
    p_App->GetLocalSettingKeys = []() {
        std::lock_guard<std::recursive_mutex> l_Lock(Host().Mutex);
        return QStringList(Host().Settings.keys());
    };
    p_App->RemoveLocalSetting = [](QString p_Key) {
        std::lock_guard<std::recursive_mutex> l_Lock(Host().Mutex);
        Host().Settings.remove(p_Key);
    };
    p_App->GetLauncherLocale = []() { return Host().Locale; };
    p_App->IsDownloadLocked = []() { return bool(Host().DownloadLocked); };
    p_App->LockDownload = []() { ++Host().LockCount; };
    p_App->UnlockDownload = []() { ++Host().UnlockCount; };
    p_App->IsLauncherRunning = []() { return bool(Host().LauncherRunning); };
    p_App->IsDevChannel = []() { return bool(Host().DevChannel); };

    m_MainTimer.start();
    m_WorkerRunning = true;
    m_Worker = std::thread([this] {
        while (m_WorkerRunning)
        {
            Task l_Task;
            if (m_App && m_App->TakeWorkerTask(l_Task))
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
    // Finish the clean-up actions that were already queued (downloader threads).
    if (m_App)
    {
        size_t l_Pending = 0;
        {
            QMutexLocker l_Lock(&m_App->m_WorkerTasksMutex);
            l_Pending = m_App->m_WorkerTasks.size();
        }
        Task l_Task;
        while (l_Pending-- > 0 && m_App->TakeWorkerTask(l_Task))
            l_Task();
    }
    m_App = nullptr;
}

void FakeHost::DrainMain()
{
    Task l_Task;
    int l_Count = 0;
    while (m_App && l_Count++ < 64 && m_App->TakeMainTask(l_Task))
        l_Task();
}

bool FakeHost::WaitFor(const std::function<bool()>& p_Condition, int p_TimeoutMs)
{
    return QTest::qWaitFor(p_Condition, p_TimeoutMs);
}
