#pragma once
#include "launcher/Application.h"

#include <atomic>
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
    /// Runs, on the caller's thread, the actions queued at this moment, once each.
    void RunQueued();

private:
    void Loop();

    Launcher::Application* m_App;
    std::thread m_Thread;
    std::atomic<bool> m_Running{false};
    std::atomic<bool> m_Open{true};
    std::atomic<bool> m_Busy{false};
};

} // namespace Host
} // namespace Orvane
