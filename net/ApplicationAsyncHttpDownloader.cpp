#include "net/ApplicationAsyncHttpDownloader.h"
#include "net/Deployment.h"
#include "net/DownloadThread.h"
#include "net/NetLog.h"
#include "net/RequestAhead.h"
#include "net/Transfer.h"
#include "net/TransferSink.h"
#include "net/UrlText.h"
#include "platform/ThreadOwner.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace Orvane {
namespace Launcher {

std::atomic<int> ApplicationAsyncHttpDownloader::s_Live{0};

ApplicationAsyncHttpDownloader::ApplicationAsyncHttpDownloader()
    : m_Progress(this, [this] { emit AsyncOnHTTPDownloadProgressUpdate(m_Request); })
{
    ++s_Live;
}

ApplicationAsyncHttpDownloader::~ApplicationAsyncHttpDownloader()
{
    // Null once handed back through m_Setup.ReleaseRecord.
    delete m_Request;
    --s_Live;
}

HTTP_DownloadFileRequest* ApplicationAsyncHttpDownloader::Start(QString p_Url, QString p_Path, bool p_Resume)
{
    qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::Start << " << UrlText::Safe(p_Url) << " << " << p_Path
                      << " << " << p_Resume;

    QDir().mkpath(QFileInfo(p_Path).absoluteDir().absolutePath());
    if (QFile::exists(p_Path) && !p_Resume)
    {
        qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::Start removing file << " << p_Path;
        QFile::remove(p_Path);
    }

    m_Request = new HTTP_DownloadFileRequest();
    m_Request->Url = p_Url;
    m_Request->FilePath = p_Path;
    m_Request->SpeedTimer.start();
    m_Request->Resume = p_Resume;

    // Normally done by HTTP_DownloadFile; the slots must run on the download thread.
    if (thread() != m_Setup.Host)
        moveToThread(m_Setup.Host);

    // A short transfer can end, hand the record back and be cleaned up before the call is queued:
    // nothing of this object is touched after it.
    HTTP_DownloadFileRequest* l_Request = m_Request;
    qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::Start starting thread";
    QMetaObject::invokeMethod(this, [this] { RunOnHost(); }, Qt::QueuedConnection);
    qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::Start end";
    return l_Request;
}

void ApplicationAsyncHttpDownloader::RunOnHost()
{
    KESTRUN_OWNED_BY(m_Setup.Host);
    qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::run";
    m_NetworkManager = m_Setup.Host->Manager();
    m_Limiter = &m_Setup.Host->Limiter();
    m_Limiter->SetRate(m_Setup.RateLimit);
    if (!Begin())
        Finish();
}

bool ApplicationAsyncHttpDownloader::Begin()
{
    KESTRUN_OWNED_BY(m_Setup.Host);
    m_Progress.Start();
    m_File.Create(m_Request->FilePath);
    if (StartDownload())
    {
        m_Begun = true;
        m_Restarts.Start(m_Request->FileSize);
        return true;
    }
    qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::run StartDownload() failed";
    PostCleanUp();
    // Told as a completion (with no file), so that the caller's verification restarts it.
    emit AsyncOnHTTPDownloadProgressComplete(m_Request);
    if (m_Request->StopRequested)
        m_Request->Stopped = true;
    return false;
}

void ApplicationAsyncHttpDownloader::Finish()
{
    KESTRUN_OWNED_BY(m_Setup.Host);
    if (m_Finished)
        return;
    m_Finished = true;
    m_Progress.Stop();
    if (m_Begun)
        qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::run end";

    // Everything the transfer owns goes on its thread; the shared manager stays with it.
    delete m_Transfer;
    m_Transfer = nullptr;
    m_File.Release();
    m_Request->Reply = nullptr;
    m_NetworkManager = nullptr;
    // Nothing writes the record any more: a stop asked from now on is acknowledged at once.
    m_Request->Stopped = true;

    PostCleanUp();
    // Last touch of the record: from here the application owns it.
    if (m_Setup.ReleaseRecord)
    {
        HTTP_DownloadFileRequest* l_Request = m_Request;
        m_Request = nullptr;
        m_Setup.ReleaseRecord(l_Request);
    }
    m_Ended.release();
}

void ApplicationAsyncHttpDownloader::WaitEnded()
{
    m_Ended.acquire();
    m_Ended.release();
}

void ApplicationAsyncHttpDownloader::PostCleanUp()
{
    KESTRUN_OWNED_BY(m_Setup.Host);
    if (m_CleanUpPosted || !m_Setup.PostToApplication)
        return;
    m_CleanUpPosted = true;
    ApplicationAsyncHttpDownloader* l_Self = this;
    m_Setup.PostToApplication([l_Self] {
        // Deleted on the download thread, after the end of its transfer ran there.
        QMetaObject::invokeMethod(
            l_Self,
            [l_Self] {
                l_Self->Finish();
                delete l_Self;
            },
            Qt::BlockingQueuedConnection);
    });
}

bool ApplicationAsyncHttpDownloader::StartDownload()
{
    KESTRUN_OWNED_BY(m_Setup.Host);
    qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::StartDownload";
    if (!m_File.Prepare(*m_Request, [this] { return !StopWanted(); }))
    {
        CannotOpen();
        return false;
    }

    m_Transfer = new Transfer(m_NetworkManager, this);
    m_Transfer->SetLimiter(m_Limiter);
    m_Transfer->SetStopWhen([this] { return StopNow(); });
    using Self = ApplicationAsyncHttpDownloader;
    connect(m_Transfer, &Transfer::HeadersReceived, this, &Self::HTTP_MedaDataChanged, Qt::DirectConnection);
    connect(m_Transfer, &Transfer::BodyWritten, this, &Self::HTTP_OnReadyRead, Qt::DirectConnection);
    connect(m_Transfer, &Transfer::Progress, this, &Self::HTTP_OnProgressUpdate, Qt::DirectConnection);
    connect(m_Transfer, &Transfer::Ended, this, &Self::HTTP_DownloadFinished, Qt::DirectConnection);
    connect(m_Transfer, &Transfer::Sent, this, [this] { AskAhead(); }, Qt::DirectConnection);
    TransferRequest l_Asked = TransferRequest::Append(m_Request->Url, m_Request->FileSize);
    l_Asked.SizeHint = m_Setup.SizeHint;
    // A file's first request may have been sent ahead while the file before travelled: taken over, its answer
    // may already be here; anything else held (another file, a plan that changed) is dropped before this
    // request goes out. A restart leaves the next file's request alone, and is never queued behind it on a
    // connection (an answer nobody reads yet could hold it there).
    const bool l_First = !m_Begun;
    l_Asked.Pipelined = l_First && UsesAhead();
    QNetworkReply* l_Sent = l_First ? m_Setup.Host->Ahead().Take(l_Asked) : nullptr;
    m_Transfer->Start(l_Asked, m_File.Sink(), std::exchange(m_NextDelayMs, 0), l_Sent);
    qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::StartDownload end";
    return true;
}

bool ApplicationAsyncHttpDownloader::StopNow()
{
    if (!StopWanted())
        return false;
    // Dropped before the stopped file's reply is cut: Qt would otherwise send it again on a new connection.
    m_Setup.Host->Ahead().Drop();
    return true;
}

bool ApplicationAsyncHttpDownloader::UsesAhead() const
{
    return m_Setup.RateLimit == 0 && Deployment::AskAhead();
}

void ApplicationAsyncHttpDownloader::AskAhead()
{
    KESTRUN_OWNED_BY(m_Setup.Host);
    if (!UsesAhead() || m_Setup.Next.Url.isEmpty() || StopWanted())
        return;
    // Asked from what its file already holds, as its own turn would; a turn that finds otherwise drops it.
    TransferRequest l_Next = TransferRequest::Append(m_Setup.Next.Url, QFileInfo(m_Setup.Next.Path).size());
    l_Next.SizeHint = m_Setup.Next.SizeHint;
    l_Next.Pipelined = true;
    m_Setup.Host->Ahead().Ask(l_Next);
}

void ApplicationAsyncHttpDownloader::HTTP_MedaDataChanged()
{
    KESTRUN_OWNED_BY(m_Setup.Host);
    if (!m_Transfer || sender() != m_Transfer)
        return;
    const TransferResult& l_Result = m_Transfer->Result();
    m_Request->Reply = m_Transfer->Reply();
    m_Request->ContentLength = std::max<qint64>(0, l_Result.ContentLength);
    if (l_Result.FullSize > 0)
        m_Request->FullSize = l_Result.FullSize;
}

void ApplicationAsyncHttpDownloader::HTTP_OnReadyRead()
{
    KESTRUN_OWNED_BY(m_Setup.Host);
    if (m_Transfer && sender() == m_Transfer)
        m_Progress.Written(*m_Request, m_File.Sink()->Size());
}

void ApplicationAsyncHttpDownloader::HTTP_OnProgressUpdate(qint64 p_CurrentBytes, qint64 p_TotalBytes)
{
    KESTRUN_OWNED_BY(m_Setup.Host);
    if (m_Transfer && sender() == m_Transfer)
        m_Progress.Counted(*m_Request, m_Request->FileSize - m_Transfer->Result().BodyBytes, p_CurrentBytes,
                           p_TotalBytes);
}

bool ApplicationAsyncHttpDownloader::PlanRestart(void (ApplicationAsyncHttpDownloader::*p_Restart)(), int p_DelayMs)
{
    KESTRUN_OWNED_BY(m_Setup.Host);
    if (!AllowSelfRestart())
        return false;
    m_Request->RestartPending = true;
    m_NextDelayMs = p_DelayMs;
    m_Request->OnRestart = [this, p_Restart] { (this->*p_Restart)(); };
    return true;
}

bool ApplicationAsyncHttpDownloader::AllowSelfRestart()
{
    KESTRUN_OWNED_BY(m_Setup.Host);
    // A stop wins over a restart.
    return !StopWanted() && m_Restarts.Allow(m_Request->FileSize, m_Request->Url);
}

void ApplicationAsyncHttpDownloader::HTTP_OnError(QNetworkReply::NetworkError p_Error)
{
    TellError(p_Error, true);
}

void ApplicationAsyncHttpDownloader::TellError(QNetworkReply::NetworkError p_Error, bool p_Report)
{
    switch (p_Error)
    {
    case QNetworkReply::RemoteHostClosedError:
        qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::HTTP_OnError QNetworkReply::RemoteHostClosedError";
        break;
    case QNetworkReply::UnknownContentError:
        qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::HTTP_OnError QNetworkReply::UnknownContentError";
        break;
    case QNetworkReply::OperationCanceledError:
    case QNetworkReply::NoError:
        break; // the echo of an abort
    default:
        qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::HTTP_OnError error \"" << p_Error << "\"";
        if (m_Setup.ReportError && p_Report)
            m_Setup.ReportError("Http Error " + QString::number(int(p_Error)), false);
        break;
    }
}

void ApplicationAsyncHttpDownloader::CannotOpen()
{
    qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::StartDownload Error can't open file \"" << m_Request->FilePath
                      << "\" for writting";
    // A write the system refuses (read-only folder, no permission) is no fault of the transfer: fetching the
    // file again would change nothing. The caller is told, with the system's reason.
    m_Request->WriteError = m_File.Sink()->ErrorText();
    m_Request->WriteFailed = true;
}

void ApplicationAsyncHttpDownloader::Reissue()
{
    KESTRUN_OWNED_BY(m_Setup.Host);
    m_Request->RestartPending = false;
    m_Request->OnRestart = [] {};
    if (!StartDownload())
    {
        EndTransfer();
        return;
    }
    emit AsyncOnHTTPDownloadRestarted(m_Request);
}

void ApplicationAsyncHttpDownloader::FreshRestart()
{
    KESTRUN_OWNED_BY(m_Setup.Host);
    qCWarning(NetLog)
        << "ApplicationAsyncHttpDownloader::HTTP_OnError QNetworkReply::UnknownContentError removing file \""
        << m_Request->FilePath << "\"";
    m_File.StartOver(*m_Request);
    m_Request->OnRestart = [] {};
    m_Request->RestartPending = false;
    // StopRequested and Stopped are left alone: clearing them could lose a stop asked meanwhile.

    qCWarning(NetLog)
        << "ApplicationAsyncHttpDownloader::HTTP_OnError QNetworkReply::UnknownContentError restarting download "
           "for \""
        << UrlText::Safe(m_Request->Url) << "\"";
    if (!StartDownload())
    {
        EndTransfer();
        return;
    }
    emit AsyncOnHTTPDownloadRestarted(m_Request);
}

void ApplicationAsyncHttpDownloader::EndTransfer()
{
    KESTRUN_OWNED_BY(m_Setup.Host);
    m_Progress.Flush(); // the last progress is always sent
    m_File.End(*m_Request);
    // Queued before the completion is told: whoever sees the completion and then an
    // empty worker queue knows that this downloader is gone and no longer touches the application.
    PostCleanUp();
    emit AsyncOnHTTPDownloadProgressComplete(m_Request);
    if (m_Request->StopRequested)
        m_Request->Stopped = true;
    // Queued: the end runs once the slot that ended the transfer has returned.
    QMetaObject::invokeMethod(this, [this] { Finish(); }, Qt::QueuedConnection);
}

void ApplicationAsyncHttpDownloader::HTTP_DownloadFinished()
{
    KESTRUN_OWNED_BY(m_Setup.Host);
    if (!m_Transfer || sender() != m_Transfer)
        return;
    Transfer* l_Transfer = m_Transfer;
    m_Transfer = nullptr;
    l_Transfer->deleteLater();
    m_Request->Reply = nullptr;
    const TransferResult l_Result = l_Transfer->Result();
    if (m_Abandoned)
        m_Request->StopRequested = true;
    m_Request->FileSize = m_File.Sink()->Size();
    m_Request->ReceivedBytes = m_Request->FileSize;
    if (l_Result.FullSize > 0)
        m_Request->FullSize = l_Result.FullSize;
    m_Request->Reason = l_Result.Reason;

    qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::HTTP_DownloadFinished << " << bool(m_Request->StopRequested)
                      << " << " << m_Request->Resume << " << " << m_Request->RestartPending << " << "
                      << TransferResult::Name(l_Result.Outcome) << l_Result.Ending.Status;

    bool l_Restart = false;
    switch (l_Result.Outcome)
    {
    case TransferResult::Verdict::Complete:
        m_Request->EndedWhole = true;
        m_Setup.Host->Ahead().KeptAlive(m_Request->Url);
        break;
    case TransferResult::Verdict::Check:
        qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::HTTP_OnError nothing left to fetch at byte"
                          << m_Request->FileSize << "of \"" << m_Request->FilePath << "\"";
        m_Request->EndedWhole = true;
        break;
    case TransferResult::Verdict::Resume:
    case TransferResult::Verdict::Refused:
        // Resumed by itself: logged, not shown (the user hears of what does not recover).
        TellError(l_Result.Ending.Error, false);
        l_Restart = PlanRestart(&ApplicationAsyncHttpDownloader::Reissue, l_Result.BackOffMs);
        break;
    case TransferResult::Verdict::StartAgain:
        TellError(QNetworkReply::UnknownContentError, false);
        l_Restart = PlanRestart(&ApplicationAsyncHttpDownloader::FreshRestart, 0);
        break;
    case TransferResult::Verdict::Permanent:
        // The caller's verification decides (another host, a restart).
        HTTP_OnError(l_Result.Ending.Error == QNetworkReply::NoError ? QNetworkReply::UnknownContentError
                                                                     : l_Result.Ending.Error);
        if (!l_Result.Reason.isEmpty())
            qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::HTTP_DownloadFinished" << l_Result.Reason << "for \""
                              << UrlText::Safe(m_Request->Url) << "\"";
        break;
    case TransferResult::Verdict::WriteFailed:
        if (l_Result.OpenFailed)
        {
            // As when the file cannot be opened before the request: told as a completion with no file.
            CannotOpen();
            m_Request->Reason.clear();
            break;
        }
        // Full disk or lost device: what was written stays, the caller decides when to go on.
        qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::HTTP_OnReadyRead Error can't write file \""
                          << m_Request->FilePath << "\"" << m_File.Sink()->ErrorText();
        m_Request->WriteError = m_File.Sink()->ErrorText();
        m_Request->WriteFailed = true;
        break;
    case TransferResult::Verdict::Stopped:
    case TransferResult::Verdict::TooLarge:
        break;
    }

    const bool l_Stop = m_Request->StopRequested;
    if (l_Stop)
        StopNow(); // a stop that came after the transfer's last look drops the request ahead too
    if (l_Stop && !m_Request->Resume)
    {
        m_File.Sink()->Close();
        QFile::remove(m_Request->FilePath);
    }
    if (l_Restart && !l_Stop)
    {
        std::function<void()> l_OnRestart = m_Request->OnRestart;
        l_OnRestart();
    }
    else
    {
        m_Request->RestartPending = false;
        m_Request->OnRestart = [] {};
        EndTransfer();
    }
    qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::HTTP_DownloadFinished end";
}

} // namespace Launcher
} // namespace Orvane
