#pragma once
#include <QElapsedTimer>
#include <QMutex>
#include <QtGlobal>

namespace Orvane {
namespace Launcher {

/// Bytes per second over all transfers of the module, as a bucket that fills at the rate and holds at most one
/// second of it. Bytes taken without asking (the end of a reply) put it in debt, which the next transfers pay
/// back before they get more. Any thread (one mutex).
class RateLimiter
{
public:
    /// The limiter of the module's transfers.
    static RateLimiter& Shared();

    /// p_BytesPerSecond 0: unlimited. A new rate starts from an empty bucket.
    void SetRate(qint64 p_BytesPerSecond);
    bool Limited() const;
    qint64 Rate() const;
    /// Bytes that may be taken now (negative while in debt); unlimited: a very large number.
    qint64 Allowance();
    void Spend(qint64 p_Bytes);
    /// Milliseconds until the debt is paid; 0 when there is none.
    qint64 MsUntilPaid();

private:
    void Refill(); ///< under m_Mutex

    mutable QMutex m_Mutex;
    qint64 m_Rate = 0;    ///< m_Mutex
    double m_Balance = 0; ///< m_Mutex
    QElapsedTimer m_Clock; ///< m_Mutex
};

} // namespace Launcher
} // namespace Orvane
