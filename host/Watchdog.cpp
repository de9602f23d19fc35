#include "host/Watchdog.h"
#include "host/Console.h"
#include "host/Interrupts.h"

#include <chrono>
#include <cstdlib>

namespace Orvane {
namespace Host {

long long Watchdog::NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

Watchdog::~Watchdog()
{
    {
        std::lock_guard<std::mutex> l_Lock(m_Mutex);
        m_Stop = true;
    }
    m_Wake.notify_all();
    if (m_Thread.joinable())
        m_Thread.join();
}

void Watchdog::Start(long long p_StallLimitMs)
{
    m_StallLimitMs = p_StallLimitMs;
    m_LastBeat = NowMs();
    m_Thread = std::thread([this] { Loop(); });
}

void Watchdog::Beat()
{
    m_LastBeat = NowMs();
}

void Watchdog::ArmShutdown(long long p_LimitMs, int p_ExitCode)
{
    m_ExitCode = p_ExitCode;
    m_Deadline = NowMs() + p_LimitMs;
}

void Watchdog::Loop()
{
    std::unique_lock<std::mutex> l_Lock(m_Mutex);
    while (!m_Stop)
    {
        m_Wake.wait_for(l_Lock, std::chrono::milliseconds(100));
        if (m_Stop)
            break;
        long long l_Now = NowMs();
        long long l_Deadline = m_Deadline;
        if (l_Deadline != 0 && l_Now > l_Deadline)
        {
            Console::Err("error: stopping took too long; exiting without a clean shutdown");
            std::_Exit(m_ExitCode);
        }
        if (l_Deadline == 0 && m_StallLimitMs > 0 && l_Now - m_LastBeat > m_StallLimitMs)
        {
            Console::Err("error: the application module stopped responding (" +
                         QString::number((l_Now - m_LastBeat) / 1000) + " s); exiting");
            std::_Exit(Interrupts::Pending() ? 128 + Interrupts::Pending() : 1);
        }
    }
}

} // namespace Host
} // namespace Orvane
