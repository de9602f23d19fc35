#pragma once
#include "net/RedirectChain.h"
#include "net/TransferBody.h"
#include "net/TransferRequest.h"
#include "net/TransferResult.h"
#include "platform/QtCompat.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>
#include <QStringList>

#include <atomic>
#include <functional>

class QNetworkAccessManager;
class QTimer;

namespace Orvane {
namespace Launcher {

class RateLimiter;
class TransferSink;

/// One HTTP transfer into a sink: the only place where requests are made and answers judged. It sets identity
/// encoding and the User-Agent, follows redirects (at most MaxRedirects, never from https down to http), watches
/// for stalls, paces reads through the rate limiter, honours a stop before and during the transfer, bounds the
/// bytes it takes, checks status and Content-Range, drains what the reply holds before judging, and classifies
/// the ending once (TransferResult). Lives on the thread of its network manager; Ended() is emitted once.
class Transfer : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxRedirects = RedirectChain::Max;

    Transfer(QNetworkAccessManager* p_Manager, QObject* p_Parent = nullptr);
    ~Transfer() override;

    /// Before Start. The limiter is shared by every transfer that uses it.
    void SetLimiter(RateLimiter* p_Limiter);
    /// Asked on this transfer's thread before the request goes out and while it runs: true stops it.
    void SetStopWhen(std::function<bool()> p_Stop);

    /// Asks p_Request into p_Sink (kept by the caller, open or openable) after p_DelayMs.
    /// Ended() always follows, never from inside this call. p_Sent: a reply to p_Request already sent (asked
    /// ahead, see RequestAhead), which this transfer takes over and reads as if it had sent it.
    void Start(const TransferRequest& p_Request, TransferSink* p_Sink, int p_DelayMs = 0,
               QNetworkReply* p_Sent = nullptr);
    /// Any thread.
    void Stop() { m_Stop = true; }

    const TransferRequest& Request() const { return m_Request; }
    const TransferResult& Result() const { return m_Result; }
    /// The reply of the request in flight; null before it goes out and after the end.
    QNetworkReply* Reply() const { return m_Reply; }

signals:
    /// The request went out (or a reply sent ahead was taken over).
    void Sent();
    /// The final answer's headers, accepted as the body (200 or 206 that fits).
    void HeadersReceived();
    /// p_Bytes just went into the sink.
    void BodyWritten(qint64 p_Bytes);
    /// Of this answer's body, as the reply counts it; p_Total -1 when unknown.
    void Progress(qint64 p_Received, qint64 p_Total);
    void Ended();

private:
    void Issue();
    /// Sends p_Request (or takes over the reply sent ahead) as the reply in flight, its read buffer bounded.
    void Send(const TransferRequest& p_Request, bool p_Head);
    /// Hears the reply in flight.
    void Watch();
    /// The reply in flight ended as a redirect: its target is asked, within MaxRedirects and never from https
    /// down to http; otherwise the chain ends there.
    void Follow();
    /// What the reply did before it was taken over, told again now that it is watched.
    void CatchUp();
    /// Opens the sink; false: the ending says why.
    bool OpenSink();
    void Tick();
    void OnMetaData();
    void OnReadyRead();
    void OnFinished();
    void OnError(QNetworkReply::NetworkError p_Error);
    /// Takes what the reply holds; p_Paced: no more than the limiter allows now.
    void Take(bool p_Paced);
    /// Keeps what the reply holds, then aborts it.
    void Cut();
    void Judge();
    void End();
    bool StopAsked() const { return m_Stop || (m_StopWhen && m_StopWhen()); }

    // All: the thread of m_Manager; the slots and Start check it (KESTRUN_OWNED_BY).
    QNetworkAccessManager* m_Manager;
    RateLimiter* m_Limiter = nullptr;
    std::function<bool()> m_StopWhen;
    std::atomic<bool> m_Stop{false}; ///< any thread writes
    TransferRequest m_Request;
    TransferSink* m_Sink = nullptr;
    QNetworkReply* m_Reply = nullptr;
    QNetworkReply* m_Sent = nullptr; ///< a reply sent ahead, taken over when the request would go out (Send)
    QTimer* m_Watchdog = nullptr;
    Compat::ElapsedTimer m_SinceActivity;
    Compat::ElapsedTimer m_Waiting;
    int m_DelayMs = 0;
    bool m_Issued = false;
    RedirectChain m_Chain;       ///< the redirects followed since the request went out
    bool m_Redirecting = false;  ///< the reply in flight is a redirect: its body is dropped, its end leads on
    bool m_HeadRefused = false;  ///< the HEAD of a size request was refused: asked again with GET
    bool m_Answered = false;     ///< the final answer's headers were judged
    bool m_Accepted = false;     ///< its body goes into the sink
    bool m_EndPending = false;   ///< judged; waits for the limiter's debt
    bool m_Ended = false;
    TransferBody m_Body;         ///< the accepted body's bound and reads
    qint64 m_Dropped = 0;        ///< bytes of an error page read and dropped
    QStringList m_TlsProblems;
    TransferResult m_Result;
};

} // namespace Launcher
} // namespace Orvane
