#pragma once
#include "net/RateLimiter.h"

#include <QSemaphore>
#include <QThread>

class QNetworkAccessManager;
class QUrl;

namespace Orvane {
namespace Launcher {

class RequestAhead;

/// The long-lived thread on which the application's file transfers run one after the other. Its one
/// network manager keeps connections alive between files, so consecutive files from a host share a
/// connection instead of paying a handshake each. Owned by the application; the manager belongs to this thread.
class DownloadThread : public QThread
{
public:
    DownloadThread() = default;
    ~DownloadThread() override;

    /// Starts the thread; returns once its network manager exists.
    void Launch();
    QNetworkAccessManager* Manager() const { return m_Manager; } ///< this thread
    RequestAhead& Ahead() { return *m_Ahead; }                    ///< this thread: the next file's request
    RateLimiter& Limiter() { return RateLimiter::Shared(); }      ///< any thread
    /// Any thread: opens a connection to p_BaseUrl's host (http or https) on this thread's manager, which the
    /// next transfer to that host then takes: its handshake overlaps whatever comes before that transfer.
    /// Nothing is sent on it; it fails silently.
    void Preconnect(const QUrl& p_BaseUrl);

protected:
    void run() override;

private:
    QNetworkAccessManager* m_Manager = nullptr; ///< created and deleted by run()
    RequestAhead* m_Ahead = nullptr;            ///< created and deleted by run(), before the manager goes
    QSemaphore m_Ready; ///< released by run() once the manager exists
};

} // namespace Launcher
} // namespace Orvane
