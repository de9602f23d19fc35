#pragma once
#include <QElapsedTimer>
#include <QString>
#include <QtGlobal>

namespace Orvane {
namespace Launcher {

/// Bytes per second over all file transfers, as a bucket that fills at the rate and holds at most one
/// second of it. Bytes taken without asking (the end of a reply) put it in debt, which the next
/// transfers pay back before they get more. Used on the download thread only.
class RateLimiter
{
public:
    /// "RATE" with an optional K or M suffix (1024, 1024 * 1024), as bytes per second; -1 when malformed.
    static qint64 Parse(QString p_Text);

    /// p_BytesPerSecond 0: unlimited. A new rate starts from an empty bucket.
    void SetRate(qint64 p_BytesPerSecond);
    bool Limited() const { return m_Rate > 0; }
    qint64 Rate() const { return m_Rate; }
    /// Bytes that may be taken now (negative while in debt); unlimited: a very large number.
    qint64 Allowance();
    void Spend(qint64 p_Bytes);
    /// Milliseconds until the debt is paid; 0 when there is none.
    qint64 MsUntilPaid();

private:
    void Refill();

    qint64 m_Rate = 0;
    double m_Balance = 0;
    QElapsedTimer m_Clock;
};

} // namespace Launcher
} // namespace Orvane
