#pragma once
#include "launcher/Application.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace Orvane {
namespace Host {

/// Drains the module's worker task queue on a thread of its own, one action at
/// a time. A closed gate lets the running action finish and takes no other.
class TaskWorker
{
public:
    explicit TaskWorker(Launcher::Application* p_App) : m_App(p_App) {}
    ~TaskWorker() { Stop(); }
    TaskWorker(const TaskWorker&) = delete;
    TaskWorker& operator=(const TaskWorker&) = delete;

    void Start();
    /// Ends the thread after the running action (if any).
    void Stop();
    void SetOpen(bool p_Open) { m_Open = p_Open; }
    /// No action running (taking one counts as running).
    bool Idle() const { return !m_Busy; }
    bool QueueEmpty() const;
    /// Any thread: the module's main queue holds no action.
    bool MainQueueEmpty() const;
    /// Runs, on the caller's thread, the actions queued at this moment, once each.
    void RunQueued();
    /// Any thread: an action may be queued; the thread looks now instead of at its next poll.
    void Wake();
    /// Before Start: called on the worker's thread after an action that left the main queue non-empty.
    void SetOnMainQueued(std::function<void()> p_Notify) { m_OnMainQueued = std::move(p_Notify); }

private:
    void Loop();

    Launcher::Application* m_App;
    std::thread m_Thread;
    std::atomic<bool> m_Running{false};
    std::atomic<bool> m_Open{true};
    std::atomic<bool> m_Busy{false};
    std::function<void()> m_OnMainQueued; ///< set before Start, read by the worker's thread
    std::mutex m_WakeMutex;
    std::condition_variable m_WakeUp;
    bool m_WakePending = false; ///< m_WakeMutex
};

} // namespace Host
} // namespace Orvane
