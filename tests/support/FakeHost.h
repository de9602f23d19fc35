#pragma once
#include "launcher/Application.h"

#include <QMap>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVariant>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

/// A launcher host for tests: fills the callback table with recording
/// callbacks, drains the main task queue on the test's thread (from its event
/// loop) and the worker queue on a thread of its own.
class FakeHost : public QObject
{
    Q_OBJECT

public:
    static FakeHost* Current() { return s_Current; }

    FakeHost();
    ~FakeHost() override;

    /// Fills p_App's callback table and starts draining its queues. p_App must outlive
    /// the drain: declare the host after the application, or Detach() first.
    void Attach(Orvane::Launcher::Application* p_App);
    /// Stops draining (before the application is deleted).
    void Detach();
    /// Processes events (and so the main queue) until p_Condition holds or the time is up.
    bool WaitFor(const std::function<bool()>& p_Condition, int p_TimeoutMs = 20000);

    // What the module did through the callbacks.
    QMap<QString, QVariant> Settings;
    QStringList Notices;
    QStringList Errors;
    QStringList OffThreadMessages; ///< messages shown from another thread than the host's
    /// Callbacks (but IsLauncherRunning, which long checks poll) called from another thread than the host's.
    QStringList OffThreadCalls;
    std::atomic<int> LockCount{0};
    std::atomic<int> UnlockCount{0};

    // What the host answers.
    Orvane::Launcher::LauncherLocale Locale;
    std::atomic<bool> DownloadLocked{false};
    std::atomic<bool> LauncherRunning{true};
    std::atomic<bool> DevChannel{false};

    std::recursive_mutex Mutex; ///< guards Settings, Notices, Errors, OffThreadMessages, OffThreadCalls

private:
    static FakeHost* s_Current;
    Orvane::Launcher::Application* m_App = nullptr;
    QTimer m_MainTimer;
    std::thread m_Worker;
    std::atomic<bool> m_WorkerRunning{false};
};
