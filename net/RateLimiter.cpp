#include "net/RateLimiter.h"

#include <QMutexLocker>

#include <algorithm>
#include <cmath>
#include <limits>

namespace Orvane {
namespace Launcher {

RateLimiter& RateLimiter::Shared()
{
    static RateLimiter s_Limiter;
    return s_Limiter;
}

void RateLimiter::SetRate(qint64 p_BytesPerSecond)
{
    QMutexLocker l_Lock(&m_Mutex);
    p_BytesPerSecond = std::max<qint64>(0, p_BytesPerSecond);
    if (p_BytesPerSecond == m_Rate)
        return;
    m_Rate = p_BytesPerSecond;
    m_Balance = 0;
    m_Clock.start();
}

bool RateLimiter::Limited() const
{
    QMutexLocker l_Lock(&m_Mutex);
    return m_Rate > 0;
}

qint64 RateLimiter::Rate() const
{
    QMutexLocker l_Lock(&m_Mutex);
    return m_Rate;
}

void RateLimiter::Refill()
{
    if (m_Rate <= 0)
        return;
    const qint64 l_Ns = m_Clock.nsecsElapsed();
    m_Clock.start();
    m_Balance = std::min<double>(double(m_Rate), m_Balance + double(m_Rate) * double(l_Ns) / 1e9);
}

qint64 RateLimiter::Allowance()
{
    QMutexLocker l_Lock(&m_Mutex);
    if (m_Rate <= 0)
        return std::numeric_limits<qint64>::max();
    Refill();
    return qint64(std::floor(m_Balance));
}

void RateLimiter::Spend(qint64 p_Bytes)
{
    QMutexLocker l_Lock(&m_Mutex);
    if (m_Rate <= 0)
        return;
    Refill();
    m_Balance -= double(p_Bytes);
}

qint64 RateLimiter::MsUntilPaid()
{
    QMutexLocker l_Lock(&m_Mutex);
    if (m_Rate <= 0)
        return 0;
    Refill();
    return m_Balance >= 0 ? 0 : qint64(std::ceil(-m_Balance * 1000.0 / double(m_Rate)));
}

} // namespace Launcher
} // namespace Orvane
