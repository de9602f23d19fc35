#include "net/NetLog.h"
#include "net/Transfer.h"
#include "net/HttpAnswer.h"
#include "net/RateLimiter.h"
#include "net/TransferBody.h"
#include "net/TransferSink.h"
#include "net/UrlText.h"
#include "platform/ThreadOwner.h"

#include <QDebug>
#include <QNetworkAccessManager>
#include <QTimer>
#include <QUrl>
#ifndef QT_NO_SSL
#include <QSslError>
#endif

#include <algorithm>

namespace Orvane {
namespace Launcher {

namespace {
constexpr int c_TickMs = 20;                // bound of a stop acknowledgement on a silent connection
constexpr qint64 c_MaxErrorPage = 65536;    // an error page longer than this is cut rather than read
} // namespace

Transfer::Transfer(QNetworkAccessManager* p_Manager, QObject* p_Parent) : QObject(p_Parent), m_Manager(p_Manager)
{
    static const int s_ErrorType = qRegisterMetaType<QNetworkReply::NetworkError>("QNetworkReply::NetworkError");
    Q_UNUSED(s_ErrorType);
}

Transfer::~Transfer()
{
    if (m_Sent)
    {
        m_Sent->abort();
        m_Sent->deleteLater();
    }
    if (m_Reply)
    {
        m_Reply->disconnect(this);
        m_Reply->abort();
        m_Reply->deleteLater();
    }
}

void Transfer::SetLimiter(RateLimiter* p_Limiter)
{
    KESTRUN_OWNED_BY(m_Manager->thread());
    m_Limiter = p_Limiter;
}

void Transfer::SetStopWhen(std::function<bool()> p_Stop)
{
    KESTRUN_OWNED_BY(m_Manager->thread());
    m_StopWhen = std::move(p_Stop);
}

void Transfer::Start(const TransferRequest& p_Request, TransferSink* p_Sink, int p_DelayMs, QNetworkReply* p_Sent)
{
    KESTRUN_OWNED_BY(m_Manager->thread());
    m_Request = p_Request;
    m_Sent = p_Sent;
    m_Sink = p_Sink;
    m_DelayMs = std::max(0, p_DelayMs);
    m_Waiting.start();
    m_Watchdog = new QTimer(this);
    m_Watchdog->setInterval(c_TickMs);
    connect(m_Watchdog, &QTimer::timeout, this, [this] { Tick(); });
    m_Watchdog->start();
    // The first tick sends the request, unless a stop came first.
    QTimer::singleShot(0, this, [this] { Tick(); });
}

void Transfer::Tick()
{
    KESTRUN_OWNED_BY(m_Manager->thread());
    if (m_Ended)
        return;
    if (m_EndPending)
    {
        if (StopAsked() || !m_Limiter || m_Limiter->MsUntilPaid() <= 0)
            End();
        return;
    }
    if (!m_Issued)
    {
        if (StopAsked())
        {
            m_Issued = true; // nothing goes out
            m_Result.Ending.StopAsked = true;
            return Judge();
        }
        if (m_Waiting.elapsed() >= m_DelayMs)
            Issue();
        return;
    }
    if (!m_Reply)
        return;
    if (StopAsked())
        return Cut();
    if (m_Accepted && m_Limiter && m_Limiter->Limited() && m_Reply->bytesAvailable() > 0)
    {
        // Held back by the limit, not stalled.
        Take(true);
        m_SinceActivity.restart();
        return;
    }
    if (m_SinceActivity.elapsed() >= m_Request.SilenceMs())
    {
        qCWarning(NetLog) << "Transfer nothing received for" << m_SinceActivity.elapsed() << "ms, aborting \""
                          << UrlText::Safe(m_Request.Url) << "\"";
        m_Result.Ending.Stalled = true;
        Cut();
    }
}

void Transfer::Issue()
{
    m_Issued = true;
    const bool l_OpenLater = m_Sink && m_Sink->OpensAfterSending();
    if (m_Sink && !l_OpenLater && !OpenSink())
        return Judge();
    m_Result.Ending = TransferResult::Facts();
    m_Result.Ending.AskedFrom = m_Request.SizeOnly ? -1 : m_Request.From;
    m_Answered = m_Accepted = false;
    m_TlsProblems.clear();

    m_Chain.Start(m_Request);
    const bool l_Adopted = m_Sent != nullptr;
    Send(m_Request, m_Request.SizeOnly && !m_HeadRefused);
    // Nothing of the answer is read before this function returns: the file is opened while the request
    // travels. A file that cannot be opened calls the request off.
    if (l_OpenLater && !OpenSink())
    {
        m_Reply->abort();
        m_Reply->deleteLater();
        m_Reply = nullptr;
        return Judge();
    }
    m_Result.Ending.Kept = m_Sink ? m_Sink->Size() : 0;
    Watch();
    m_SinceActivity.start();
    emit Sent();
    if (l_Adopted)
        CatchUp();
}

void Transfer::Send(const TransferRequest& p_Request, bool p_Head)
{
    m_Redirecting = false;
    m_Dropped = 0;
    if (m_Sent)
        m_Reply = std::exchange(m_Sent, nullptr);
    else if (p_Head)
        m_Reply = m_Manager->head(p_Request.Network());
    else
        m_Reply = m_Manager->get(p_Request.Network());
    // Bounded at once: Qt's network thread learns the bound from a queued message, and what it hands over
    // before that counts against no bound for the whole answer (bounded after a slow file creation, a
    // 40 MiB body bounded at 8 MiB waited in memory almost whole).
    m_Reply->setReadBufferSize(p_Request.ReadBuffer(m_Limiter));
}

void Transfer::Watch()
{
    // Each slot hears only the reply in flight (a HEAD refused or a redirect leaves an old one behind).
    QNetworkReply* l_Reply = m_Reply;
    connect(l_Reply, &QNetworkReply::metaDataChanged, this, [this, l_Reply] {
        if (l_Reply == m_Reply)
            OnMetaData();
    });
    connect(l_Reply, &QNetworkReply::readyRead, this, [this, l_Reply] {
        if (l_Reply == m_Reply)
            OnReadyRead();
    });
    connect(l_Reply, &QNetworkReply::downloadProgress, this, [this, l_Reply](qint64 p_Received, qint64 p_Total) {
        if (l_Reply != m_Reply)
            return;
        m_SinceActivity.restart();
        if (m_Accepted)
            emit Progress(p_Received, p_Total);
    });
    connect(l_Reply, &QNetworkReply::finished, this, [this, l_Reply] {
        if (l_Reply == m_Reply)
            OnFinished();
    });
    connect(l_Reply, Compat::ReplyError, this, [this, l_Reply](QNetworkReply::NetworkError p_Error) {
        if (l_Reply == m_Reply)
            OnError(p_Error);
    });
#ifndef QT_NO_SSL
    connect(m_Reply, &QNetworkReply::sslErrors, this, [this](const QList<QSslError>& p_Errors) {
        // Never ignored: the handshake fails and the reason is told.
        m_TlsProblems = HttpAnswer::TlsProblems(m_TlsProblems, p_Errors);
    });
#endif
}

void Transfer::Follow()
{
    QNetworkReply* l_Old = std::exchange(m_Reply, nullptr);
    l_Old->disconnect(this);
    l_Old->deleteLater();
    TransferResult::Facts& l_Ending = m_Result.Ending;
    TransferRequest l_Hop;
    QString l_Refused;
    const QNetworkReply::NetworkError l_Error = m_Chain.Follow(l_Old, &l_Hop, &l_Refused);
    if (StopAsked() || l_Error != QNetworkReply::NoError)
    {
        // The chain ends here, with no answer: the kept bytes stay. A host that sends its files where they
        // cannot be fetched is as good as unreachable; the other refusals may pass on the next attempt.
        l_Ending.StopAsked = StopAsked();
        l_Ending.Error = l_Error;
        l_Ending.Unreachable = l_Error == QNetworkReply::ProtocolUnknownError;
        if (!l_Refused.isEmpty())
        {
            qCWarning(NetLog) << "Transfer" << l_Refused << HttpAnswer::Status(l_Old) << "for \""
                              << UrlText::Safe(m_Request.Url) << "\"";
            m_Result.Reason = l_Refused;
        }
        return Judge();
    }
    Send(l_Hop, l_Old->operation() == QNetworkAccessManager::HeadOperation);
    Watch();
    m_SinceActivity.restart();
}

void Transfer::CatchUp()
{
    // Nothing runs between the connections above and this: no signal of the reply falls in between.
    QNetworkReply* l_Reply = m_Reply;
    if (l_Reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
        OnMetaData();
    if (m_Reply == l_Reply && l_Reply->bytesAvailable() > 0)
        OnReadyRead();
    if (m_Reply == l_Reply && l_Reply->isFinished())
        OnFinished();
}

bool Transfer::OpenSink()
{
    if (m_Sink->Open())
        return true;
    m_Result.Ending.WriteFailed = true;
    m_Result.OpenFailed = true;
    m_Result.Reason = "could not open " + m_Sink->Path() + ": " + m_Sink->ErrorText();
    return false;
}

void Transfer::OnMetaData()
{
    KESTRUN_OWNED_BY(m_Manager->thread());
    if (!m_Reply || m_Answered)
        return;
    m_SinceActivity.restart();
    if (HttpAnswer::IsRedirect(m_Reply))
    {
        m_Redirecting = true; // the answer at the end of the chain counts; this one's body is dropped
        return;
    }
    const int l_Status = HttpAnswer::Status(m_Reply);
    if (l_Status == 0)
        return;
    m_Answered = true;
    HttpAnswer::Read(m_Reply, m_Result);
    TransferResult::Facts& l_Ending = m_Result.Ending;
    const QByteArray l_AcceptRanges = m_Reply->rawHeader("Accept-Ranges").trimmed().toLower();

    if (m_Request.SizeOnly)
    {
        if (!m_HeadRefused && m_Reply->operation() == QNetworkAccessManager::HeadOperation &&
            (l_Status == 405 || l_Status == 501))
        {
            // A server that refuses HEAD gets a GET, whose headers tell the size.
            qCWarning(NetLog) << "Transfer HEAD refused with" << l_Status << ", asking with GET"
                              << UrlText::Safe(m_Request.Url);
            m_HeadRefused = true;
            QNetworkReply* l_Old = m_Reply;
            m_Reply = nullptr;
            l_Old->disconnect(this);
            connect(l_Old, &QNetworkReply::finished, l_Old, &QObject::deleteLater);
            if (l_Old->isFinished())
                l_Old->deleteLater();
            return Issue();
        }
        l_Ending.BodyComplete = true;
        if (m_Reply->operation() == QNetworkAccessManager::HeadOperation)
            return; // its end comes with finished(), and the connection stays usable
        // The body of a GET is never read: what Qt already took counts against the limit.
        if (m_Limiter)
            m_Limiter->Spend(m_Reply->bytesAvailable());
        return Cut();
    }

    if (!TransferResult::IsBody(l_Status))
        return; // an error page is not the resource: read and dropped (the connection stays usable), judged at the end
    if (!m_Body.Accept(m_Request, m_Result, l_AcceptRanges, m_Sink))
        return Cut();
    m_Accepted = true;
    emit HeadersReceived();
}

void Transfer::OnReadyRead()
{
    KESTRUN_OWNED_BY(m_Manager->thread());
    if (!m_Reply)
        return;
    m_SinceActivity.restart();
    if (m_Accepted)
    {
        Take(true);
        // Time spent writing is not time the network was silent.
        m_SinceActivity.restart();
        return;
    }
    if (m_Answered || m_Redirecting)
    {
        m_Dropped += std::max<qint64>(0, m_Reply->skip(m_Reply->bytesAvailable()));
        if (m_Dropped > c_MaxErrorPage)
            Cut(); // a redirect is still followed (OnFinished)
    }
}

void Transfer::Take(bool p_Paced)
{
    if (!m_Reply || !m_Accepted || !m_Reply->isOpen())
        return;
    const qint64 l_Available = m_Reply->bytesAvailable();
    const qint64 l_Allowed = (p_Paced && m_Limiter) ? std::min(l_Available, m_Limiter->Allowance()) : l_Available;
    if (l_Allowed <= 0)
        return;
    const TransferBody::Taken l_Taken = m_Body.Take(
        m_Reply, m_Sink, m_Limiter, l_Allowed, [this] { return StopAsked(); },
        [this](qint64 p_Bytes) {
            m_Result.BodyBytes += p_Bytes;
            emit BodyWritten(p_Bytes);
        });
    switch (l_Taken)
    {
    case TransferBody::Taken::Ok:
        return;
    case TransferBody::Taken::Stopped:
        m_Result.Ending.StopAsked = true;
        return;
    case TransferBody::Taken::WriteFailed:
        qCWarning(NetLog) << "Transfer Error can't write \"" << m_Sink->Path() << "\"" << m_Sink->ErrorText();
        m_Result.Ending.WriteFailed = true;
        m_Result.Reason = "Could not write " + m_Sink->Path() + ": " + m_Sink->ErrorText();
        break;
    case TransferBody::Taken::OverCap:
        qCWarning(NetLog) << "Transfer more than" << m_Body.Cap() << "bytes, aborting \""
                          << UrlText::Safe(m_Request.Url) << "\"";
        m_Result.Ending.OverCap = true;
        break;
    }
    if (m_Reply)
    {
        m_Accepted = false; // nothing more is taken
        m_Reply->abort();
    }
}

void Transfer::Cut()
{
    if (!m_Reply)
        return;
    if (StopAsked())
        m_Result.Ending.StopAsked = true;
    // What already arrived is kept: the next request asks only for the rest.
    Take(false);
    if (m_Reply)
        m_Reply->abort();
}

void Transfer::OnError(QNetworkReply::NetworkError p_Error)
{
    KESTRUN_OWNED_BY(m_Manager->thread());
    if (!m_Reply)
        return;
    if (p_Error == QNetworkReply::OperationCanceledError)
        return; // the echo of an abort
    if (m_Result.Ending.Error == QNetworkReply::NoError)
        m_Result.Ending.Error = p_Error;
}

void Transfer::OnFinished()
{
    KESTRUN_OWNED_BY(m_Manager->thread());
    if (!m_Reply)
        return;
    QNetworkReply* l_Reply = m_Reply;
    if (!m_Answered && !m_Redirecting && l_Reply->error() == QNetworkReply::NoError)
        OnMetaData(); // a reply that finished before its headers were told
    if (m_Reply != l_Reply)
        return; // asked again (a HEAD refused)
    const bool l_CutLong = l_Reply->error() == QNetworkReply::OperationCanceledError && m_Dropped > c_MaxErrorPage;
    if (m_Redirecting && !m_Result.Ending.Stalled && (l_Reply->error() == QNetworkReply::NoError || l_CutLong))
        return Follow();
    // Everything the reply holds reaches the sink before the ending is judged.
    Take(false);
    TransferResult::Facts& l_Ending = m_Result.Ending;
    if (StopAsked())
        l_Ending.StopAsked = true;
    if (l_Ending.Error == QNetworkReply::NoError && l_Reply->error() != QNetworkReply::OperationCanceledError)
        l_Ending.Error = l_Reply->error();
    if (m_Accepted)
        l_Ending.BodyComplete = m_Result.ContentLength >= 0 ? m_Body.Read() >= m_Result.ContentLength
                                                            : l_Ending.Error == QNetworkReply::NoError;
    if (TransferResult::Unreachable(l_Ending.Error))
        l_Ending.Unreachable = !m_Answered;
    m_Result.TlsFailed = l_Ending.Error == QNetworkReply::SslHandshakeFailedError || !m_TlsProblems.isEmpty();
    if (!l_Ending.BodyComplete || !TransferResult::IsBody(l_Ending.Status))
        m_Result.Reason = l_Ending.Stalled && l_Ending.Status < 300
                              ? QString("timed out: nothing received for %1 s").arg(m_Request.SilenceMs() / 1000)
                              : TransferResult::Describe(l_Ending.Error, l_Ending.Status, m_TlsProblems,
                                                         l_Reply->errorString());
    l_Reply->disconnect(this);
    l_Reply->deleteLater();
    m_Reply = nullptr;
    Judge();
}

void Transfer::Judge()
{
    if (m_Sink)
        m_Sink->Close();
    m_Result.Classify();
    // Over the limit: the next transfer waits until these bytes are paid for.
    m_EndPending = m_Limiter && !m_Request.SizeOnly && !StopAsked() && m_Limiter->MsUntilPaid() > 0;
    if (!m_EndPending)
        QTimer::singleShot(0, this, [this] { End(); });
}

void Transfer::End()
{
    KESTRUN_OWNED_BY(m_Manager->thread());
    if (m_Ended)
        return;
    m_Ended = true;
    m_EndPending = false;
    if (m_Watchdog)
        m_Watchdog->stop();
    emit Ended();
}

} // namespace Launcher
} // namespace Orvane
