#pragma once
#include "support/FakeHost.h"
#include "support/TestApplication.h"

#include <QMap>
#include <QVariant>

#include <functional>
#include <memory>

/// Launcher runs one after the other over the same stored settings: each run is a fresh
/// application and host, as at a launcher start, and ends as at a launcher exit.
class LauncherRun
{
public:
    QMap<QString, QVariant> Settings; ///< the host's stored settings, kept between runs
    std::unique_ptr<TestApplication> App;
    std::unique_ptr<FakeHost> Host; ///< after App: goes before the application

    ~LauncherRun() { Close(); }

    /// A new application and host with the stored settings; p_Prepare runs before the host
    /// attaches and the application starts.
    void Start(const std::function<void()>& p_Prepare = {});
    /// Waits until the application rests: installed, not busy, no transfer asked for.
    bool WaitIdle(int p_TimeoutMs = 30000);
    /// Ends the run; the host's settings are kept for the next one.
    void Close();
};
