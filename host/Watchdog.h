#pragma once
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace Orvane {
namespace Host {

/// Ends the process when the main thread stops responding, or when a shutdown
/// takes longer than its limit: the launcher never hangs, whatever the module does.
class Watchdog
{
public:
    Watchdog() = default;
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    /// p_StallLimitMs: longest time between two Beat calls (0: not watched).
    void Start(long long p_StallLimitMs);
    /// The main thread is alive.
    void Beat();
    /// The run is ending: it must be over within p_LimitMs, else exit with p_ExitCode.
    void ArmShutdown(long long p_LimitMs, int p_ExitCode);

private:
    void Loop();
    static long long NowMs();

    std::thread m_Thread;
    std::mutex m_Mutex;
    std::condition_variable m_Wake;
    bool m_Stop = false;
    long long m_StallLimitMs = 0;
    std::atomic<long long> m_LastBeat{0};
    std::atomic<long long> m_Deadline{0};
    std::atomic<int> m_ExitCode{1};
};

} // namespace Host
} // namespace Orvane
