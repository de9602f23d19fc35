#include "host/TaskWorker.h"

#include <QMutexLocker>

#include <algorithm>
#include <chrono>

namespace Orvane {
namespace Host {

void TaskWorker::Start()
{
    if (m_Running)
        return;
    m_Running = true;
    m_Thread = std::thread([this] { Loop(); });
}

void TaskWorker::Stop()
{
    m_Running = false;
    Wake();
    if (m_Thread.joinable())
        m_Thread.join();
}

void TaskWorker::Wake()
{
    {
        std::lock_guard<std::mutex> l_Lock(m_WakeMutex);
        m_WakePending = true;
    }
    m_WakeUp.notify_one();
}

bool TaskWorker::QueueEmpty() const
{
    QMutexLocker l_Lock(&m_App->m_WorkerTasksMutex);
    return m_App->m_WorkerTasks.empty();
}

void TaskWorker::Loop()
{
    // Idle, the wait grows to c_MaxWaitMs: no thousand wake-ups a second, and a task queued
    // after a busy stretch is still taken at once. The host wakes it sooner when it sees a task queued
    // (the module's poster cannot tell it); the poll catches the rest.
    constexpr int c_MaxWaitMs = 20;
    int l_WaitMs = 1;
    while (m_Running)
    {
        Launcher::Task l_Task;
        // Busy is raised before taking, so that "idle and queue empty" is never seen mid-handover.
        m_Busy = true;
        if (m_Open && m_App->TakeWorkerTask(l_Task))
        {
            l_Task();
            l_Task = nullptr;
            m_Busy = false;
            l_WaitMs = 1;
            // The next step of a long action is usually queued on the main queue: said at once.
            if (m_OnMainQueued && !MainQueueEmpty())
                m_OnMainQueued();
            continue;
        }
        m_Busy = false;
        std::unique_lock<std::mutex> l_Lock(m_WakeMutex);
        m_WakeUp.wait_for(l_Lock, std::chrono::milliseconds(l_WaitMs), [this] { return m_WakePending; });
        if (m_WakePending)
            l_WaitMs = 1;
        else
            l_WaitMs = std::min(c_MaxWaitMs, l_WaitMs * 2);
        m_WakePending = false;
    }
}

bool TaskWorker::MainQueueEmpty() const
{
    QMutexLocker l_Lock(&m_App->m_MainTasksMutex);
    return m_App->m_MainTasks.empty();
}

void TaskWorker::RunQueued()
{
    size_t l_Count = 0;
    {
        QMutexLocker l_Lock(&m_App->m_WorkerTasksMutex);
        l_Count = m_App->m_WorkerTasks.size();
    }
    Launcher::Task l_Task;
    while (l_Count-- > 0 && m_App->TakeWorkerTask(l_Task))
    {
        l_Task();
        l_Task = nullptr;
    }
}

} // namespace Host
} // namespace Orvane
