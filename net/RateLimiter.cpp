#include "net/RateLimiter.h"

#include <QMutexLocker>

#include <algorithm>
#include <cmath>
#include <limits>

namespace Orvane {
namespace Launcher {

qint64 RateLimiter::Parse(QString p_Text)
{
    p_Text = p_Text.trimmed();
    if (p_Text.endsWith('B', Qt::CaseInsensitive))
        p_Text.chop(1); // "512KB", "512B"
    qint64 l_Unit = 1;
    if (p_Text.endsWith('K', Qt::CaseInsensitive))
        l_Unit = 1024;
    else if (p_Text.endsWith('M', Qt::CaseInsensitive))
        l_Unit = 1024 * 1024;
    else if (p_Text.endsWith('G', Qt::CaseInsensitive))
        l_Unit = 1024 * 1024 * 1024;
    if (l_Unit > 1)
        p_Text.chop(1);
    bool l_Ok = false;
    const qint64 l_Value = p_Text.toLongLong(&l_Ok);
    // Digits only (no sign, no spaces inside), and far from overflowing.
    if (!l_Ok || p_Text.isEmpty() || !p_Text.at(0).isDigit() || l_Value > MaxRate || l_Value * l_Unit > MaxRate)
        return -1;
    return l_Value * l_Unit;
}

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
