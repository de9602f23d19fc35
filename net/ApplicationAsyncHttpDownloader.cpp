#include "net/ApplicationAsyncHttpDownloader.h"
#include "net/Deployment.h"
#include "net/DownloadThread.h"
#include "net/ModuleNetwork.h"
#include "net/NetLog.h"
#include "net/RequestAhead.h"
#include "net/Transfer.h"
#include "net/TransferSink.h"
#include "net/UrlText.h"
#include "platform/ThreadOwner.h"

#include <QDebug>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace Orvane {
namespace Launcher {

namespace {
constexpr qint64 c_ProgressEveryMs = 10; // at most one progress signal per this time
} // namespace

std::atomic<int> ApplicationAsyncHttpDownloader::s_Live{0};

ApplicationAsyncHttpDownloader::ApplicationAsyncHttpDownloader()
{
    ++s_Live;
}

ApplicationAsyncHttpDownloader::~ApplicationAsyncHttpDownloader()
{
    // Null once handed back through m_ReleaseRecord.
    delete m_Request;
    --s_Live;
}

int ApplicationAsyncHttpDownloader::LiveCount()
{
    return s_Live;
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

    // Normally done by HTTP_DownloadFile; the slots must run on the transfer's thread.
    QThread* l_Thread = TransferThread();
    if (thread() != l_Thread)
        moveToThread(l_Thread);

    // A short transfer can end, hand the record back and be cleaned up before start() returns:
    // nothing of this object is touched after it.
    HTTP_DownloadFileRequest* l_Request = m_Request;
    qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::Start starting thread";
    if (m_Host)
        QMetaObject::invokeMethod(this, [this] { RunOnHost(); }, Qt::QueuedConnection);
    else
        start(QThread::InheritPriority);
    qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::Start end";
    return l_Request;
}

void ApplicationAsyncHttpDownloader::run()
{
    qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::run";
    moveToThread(this);
    m_NetworkManager = ModuleNetwork::NewManager(this);
    m_NetworkManager->moveToThread(this);
    if (Begin())
    {
        QEventLoop l_Loop;
        connect(this, SIGNAL(CloseThread()), &l_Loop, SLOT(quit()), Qt::DirectConnection);
        l_Loop.exec();
        qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::run end";
    }
    Finish();
}

void ApplicationAsyncHttpDownloader::RunOnHost()
{
    KESTRUN_OWNED_BY(TransferThread());
    qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::run";
    m_NetworkManager = m_Host->Manager();
    m_Limiter = &m_Host->Limiter();
    m_Limiter->SetRate(m_RateLimit);
    // Queued: the end runs once the slot that ended the transfer has returned, as a thread's loop would.
    connect(this, &ApplicationAsyncHttpDownloader::CloseThread, this, &ApplicationAsyncHttpDownloader::Finish,
            Qt::QueuedConnection);
    if (!Begin())
        Finish();
}

QThread* ApplicationAsyncHttpDownloader::TransferThread()
{
    return m_Host ? static_cast<QThread*>(m_Host) : this;
}

bool ApplicationAsyncHttpDownloader::Begin()
{
    KESTRUN_OWNED_BY(TransferThread());
    m_SinceProgressSignal.start();
    m_Sink = TransferSink::File(m_Request->FilePath);
    if (Deployment::HashWhileWriting())
        m_Sink->HashWhileWriting();
    if (StartDownload())
    {
        m_Begun = true;
        m_BestFileSize = m_Request->FileSize;
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
    KESTRUN_OWNED_BY(TransferThread());
    if (m_Finished)
        return;
    m_Finished = true;
    if (m_Host && m_Begun)
        qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::run end";

    // Everything the transfer owns goes on its thread; a shared manager stays with its thread.
    delete m_Transfer;
    m_Transfer = nullptr;
    m_Sink.reset();
    m_Request->Reply = nullptr;
    if (!m_Host)
        delete m_NetworkManager;
    m_NetworkManager = nullptr;
    // Nothing writes the record any more: a stop asked from now on is acknowledged at once.
    m_Request->Stopped = true;

    PostCleanUp();
    // Last touch of the record: from here the application owns it.
    if (m_ReleaseRecord)
    {
        HTTP_DownloadFileRequest* l_Request = m_Request;
        m_Request = nullptr;
        m_ReleaseRecord(l_Request);
    }
    m_Ended.release();
}

void ApplicationAsyncHttpDownloader::WaitEnded()
{
    if (!m_Host)
        return void(wait());
    m_Ended.acquire();
    m_Ended.release();
}

void ApplicationAsyncHttpDownloader::PostCleanUp()
{
    KESTRUN_OWNED_BY(TransferThread());
    if (m_CleanUpPosted || !m_PostToApplication)
        return;
    m_CleanUpPosted = true;
    ApplicationAsyncHttpDownloader* l_Self = this;
    m_PostToApplication([l_Self] {
        if (l_Self->m_Host)
        {
            // Deleted on the download thread, after the end of its transfer ran there.
            QMetaObject::invokeMethod(
                l_Self,
                [l_Self] {
                    l_Self->Finish();
                    if (l_Self->m_OnDeleted)
                        l_Self->m_OnDeleted(l_Self);
                    delete l_Self;
                },
                Qt::BlockingQueuedConnection);
            return;
        }
        l_Self->exit(0);
        l_Self->wait(); // run() is returning; waiting beats a fixed pause
        if (l_Self->m_OnDeleted)
            l_Self->m_OnDeleted(l_Self);
        delete l_Self;
    });
}

bool ApplicationAsyncHttpDownloader::StartDownload()
{
    KESTRUN_OWNED_BY(TransferThread());
    qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::StartDownload";
    const QString& l_Path = m_Request->FilePath;
    // A file not begun yet is created while its request travels (the transfer opens it, and a failure there
    // ends as this one would); a kept part is opened first, its size being the range to ask.
    const bool l_New = !QFileInfo::exists(l_Path);
    m_Sink->SetOpenAfterSending(l_New);
    if (!l_New && !m_Sink->Open())
    {
        CannotOpen();
        return false;
    }

    m_Request->FileSize = 0;
    const qint64 l_Size = l_New ? 0 : m_Sink->Size();
    if (m_Request->Resume && l_Size > 0)
    {
        m_Request->FileSize = l_Size;
        qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::StartDownload Resuming download at byte " << l_Size
                          << " for file \"" << l_Path << "\"";
        m_Request->ReceivedBytes = l_Size;
        m_Request->SpeedSampleBytes = l_Size;
    }
    else if (l_Size > 0)
    {
        // Without resume the body starts at byte 0: never appended to old bytes.
        m_Sink->Truncate();
    }
    // A kept part is read once here; every byte after it is hashed as it is written. A stop skips it
    // (no digest then: the caller reads the file itself if it needs one).
    m_Sink->CatchUpHash([this] { return !StopWanted(); });

    m_Transfer = new Transfer(m_NetworkManager, this);
    m_Transfer->SetLimiter(m_Limiter);
    m_Transfer->SetStopWhen([this] { return StopNow(); });
    connect(m_Transfer, SIGNAL(HeadersReceived()), this, SLOT(HTTP_MedaDataChanged()), Qt::DirectConnection);
    connect(m_Transfer, SIGNAL(BodyWritten(qint64)), this, SLOT(HTTP_OnReadyRead()), Qt::DirectConnection);
    connect(m_Transfer, SIGNAL(Progress(qint64, qint64)), this, SLOT(HTTP_OnProgressUpdate(qint64, qint64)),
            Qt::DirectConnection);
    connect(m_Transfer, SIGNAL(Ended()), this, SLOT(HTTP_DownloadFinished()), Qt::DirectConnection);
    connect(m_Transfer, &Transfer::Sent, this, [this] { AskAhead(); }, Qt::DirectConnection);
    TransferRequest l_Asked = TransferRequest::Append(m_Request->Url, m_Request->FileSize);
    l_Asked.SizeHint = m_SizeHint;
    // A file's first request may have been sent ahead while the file before travelled: taken over, its answer
    // may already be here; anything else held (another file, a plan that changed) is dropped before this
    // request goes out. A restart leaves the next file's request alone, and is never queued behind it on a
    // connection (an answer nobody reads yet could hold it there).
    const bool l_First = !m_Begun;
    l_Asked.Pipelined = l_First && UsesAhead();
    QNetworkReply* l_Sent = l_First && m_Host ? m_Host->Ahead().Take(l_Asked) : nullptr;
    m_Transfer->Start(l_Asked, m_Sink.get(), std::exchange(m_NextDelayMs, 0), l_Sent);
    qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::StartDownload end";
    return true;
}

bool ApplicationAsyncHttpDownloader::StopNow()
{
    if (!StopWanted())
        return false;
    // Dropped before the stopped file's reply is cut: Qt would otherwise send it again on a new connection.
    if (m_Host)
        m_Host->Ahead().Drop();
    return true;
}

bool ApplicationAsyncHttpDownloader::UsesAhead() const
{
    return m_Host && m_RateLimit == 0 && Deployment::AskAhead();
}

void ApplicationAsyncHttpDownloader::AskAhead()
{
    KESTRUN_OWNED_BY(TransferThread());
    if (!UsesAhead() || m_Next.Url.isEmpty() || StopWanted())
        return;
    // Asked from what its file already holds, as its own turn would; a turn that finds otherwise drops it.
    TransferRequest l_Next = TransferRequest::Append(m_Next.Url, QFileInfo(m_Next.Path).size());
    l_Next.SizeHint = m_Next.SizeHint;
    l_Next.Pipelined = true;
    m_Host->Ahead().Ask(l_Next);
}

void ApplicationAsyncHttpDownloader::EmitProgress(bool p_Force)
{
    KESTRUN_OWNED_BY(TransferThread());
    if (!p_Force && m_SinceProgressSignal.elapsed() < c_ProgressEveryMs)
    {
        m_ProgressPending = true;
        if (!m_ProgressFlushQueued)
        {
            m_ProgressFlushQueued = true;
            QTimer::singleShot(int(c_ProgressEveryMs), this, [this] {
                KESTRUN_OWNED_BY(TransferThread());
                m_ProgressFlushQueued = false;
                if (m_ProgressPending && m_Request && !m_Finished)
                    EmitProgress(true);
            });
        }
        return;
    }
    m_ProgressPending = false;
    m_SinceProgressSignal.restart();
    emit AsyncOnHTTPDownloadProgressUpdate(m_Request);
}

void ApplicationAsyncHttpDownloader::HTTP_MedaDataChanged()
{
    KESTRUN_OWNED_BY(TransferThread());
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
    KESTRUN_OWNED_BY(TransferThread());
    if (!m_Transfer || sender() != m_Transfer)
        return;
    const qint64 l_Size = m_Sink->Size();
    m_Request->WrittenBytes += l_Size - m_Request->FileSize;
    m_Request->FileSize = l_Size;
    m_Request->ReceivedBytes = l_Size;

    const qint64 l_Elapsed = m_Request->SpeedTimer.elapsed();
    if (l_Elapsed >= 1000)
    {
        m_Request->BytesPerSecond = (m_Request->FileSize - m_Request->SpeedSampleBytes) * 1000 / l_Elapsed;
        m_Request->SpeedSampleBytes = m_Request->FileSize;
        m_Request->SpeedTimer.restart();
    }
    EmitProgress(false);
}

void ApplicationAsyncHttpDownloader::HTTP_OnProgressUpdate(qint64 p_CurrentBytes, qint64 p_TotalBytes)
{
    KESTRUN_OWNED_BY(TransferThread());
    if (!m_Transfer || sender() != m_Transfer)
        return;
    // Counted over the whole file: the bytes a resume found on disk are part of it.
    const qint64 l_Before = m_Request->FileSize - m_Transfer->Result().BodyBytes;
    qint64 l_Denominator = p_TotalBytes < 0 ? -1 : l_Before + p_TotalBytes;
    if (l_Denominator == 0)
        l_Denominator = 1;
    // An unknown total (-1) gives 0, never a negative or wrapped percentage.
    const qint64 l_Percent = l_Denominator > 0 ? (l_Before + p_CurrentBytes) * 100 / l_Denominator : 0;
    m_Request->FilePercent = uint8_t(std::min<qint64>(100, std::max<qint64>(0, l_Percent)));
    EmitProgress(false);
}

bool ApplicationAsyncHttpDownloader::PlanRestart(void (ApplicationAsyncHttpDownloader::*p_Restart)(), int p_DelayMs)
{
    KESTRUN_OWNED_BY(TransferThread());
    if (!AllowSelfRestart())
        return false;
    m_Request->RestartPending = true;
    m_NextDelayMs = p_DelayMs;
    m_Request->OnRestart = [this, p_Restart] { (this->*p_Restart)(); };
    return true;
}

bool ApplicationAsyncHttpDownloader::AllowSelfRestart()
{
    KESTRUN_OWNED_BY(TransferThread());
    if (StopWanted())
        return false; // a stop wins over a restart
    if (m_Request->FileSize > m_BestFileSize)
    {
        m_BestFileSize = m_Request->FileSize;
        m_RestartsWithoutProgress = 0;
    }
    if (m_RestartsWithoutProgress >= Deployment::MaxSelfRestarts())
    {
        qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::HTTP_OnError giving up after" << m_RestartsWithoutProgress
                          << "restarts without progress for \"" << UrlText::Safe(m_Request->Url) << "\"";
        return false;
    }
    ++m_RestartsWithoutProgress;
    return true;
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
        if (m_ReportError && p_Report)
            m_ReportError("Http Error " + QString::number(int(p_Error)), false);
        break;
    }
}

void ApplicationAsyncHttpDownloader::CannotOpen()
{
    qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::StartDownload Error can't open file \"" << m_Request->FilePath
                      << "\" for writting";
    // A write the system refuses (read-only folder, no permission) is no fault of the transfer: fetching the
    // file again would change nothing. The caller is told, with the system's reason.
    m_Request->WriteError = m_Sink->ErrorText();
    m_Request->WriteFailed = true;
}

void ApplicationAsyncHttpDownloader::Reissue()
{
    KESTRUN_OWNED_BY(TransferThread());
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
    KESTRUN_OWNED_BY(TransferThread());
    qCWarning(NetLog)
        << "ApplicationAsyncHttpDownloader::HTTP_OnError QNetworkReply::UnknownContentError removing file \""
        << m_Request->FilePath << "\"";
    m_Sink->Truncate();
    m_Request->FileSize = 0;
    m_Request->SpeedSampleBytes = 0;
    m_Request->ReceivedBytes = 0;
    m_Request->BytesPerSecond = 0;
    m_Request->FilePercent = 0;
    m_Request->OnRestart = [] {};
    m_Request->RestartPending = false;
    // StopRequested and Stopped are left alone: clearing them could lose a stop asked meanwhile.
    m_Request->SpeedTimer.restart();

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
    KESTRUN_OWNED_BY(TransferThread());
    if (m_ProgressPending)
        EmitProgress(true); // the last progress is always sent
    m_Sink->Close();
    // Hashed as it was written: the caller checks the file without reading it again. A stop needs no check.
    QString l_Md5;
    qint64 l_Bytes = 0;
    if (!m_Request->StopRequested && m_Sink->TakeDigest(&l_Md5, &l_Bytes))
    {
        m_Request->WrittenMd5 = l_Md5;
        m_Request->WrittenMd5Bytes = l_Bytes;
    }
    // Queued before the completion is told: whoever sees the completion and then an
    // empty worker queue knows that this thread is gone and no longer touches the application.
    PostCleanUp();
    emit AsyncOnHTTPDownloadProgressComplete(m_Request);
    if (m_Request->StopRequested)
        m_Request->Stopped = true;
    emit CloseThread();
}

void ApplicationAsyncHttpDownloader::HTTP_DownloadFinished()
{
    KESTRUN_OWNED_BY(TransferThread());
    if (!m_Transfer || sender() != m_Transfer)
        return;
    Transfer* l_Transfer = m_Transfer;
    m_Transfer = nullptr;
    l_Transfer->deleteLater();
    m_Request->Reply = nullptr;
    const TransferResult l_Result = l_Transfer->Result();
    if (m_Abandoned)
        m_Request->StopRequested = true;
    m_Request->FileSize = m_Sink->Size();
    m_Request->ReceivedBytes = m_Request->FileSize;
    if (l_Result.FullSize > 0)
        m_Request->FullSize = l_Result.FullSize;
    m_Request->Reason = l_Result.Reason;

    qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::HTTP_DownloadFinished << " << bool(m_Request->StopRequested)
                      << " << " << m_Request->Resume << " << " << m_Request->RestartPending << " << "
                      << TransferClassifier::Name(l_Result.Outcome.Verdict) << l_Result.Ending.Status;

    bool l_Restart = false;
    switch (l_Result.Outcome.Verdict)
    {
    case TransferVerdict::Complete:
        m_Request->EndedWhole = true;
        if (m_Host)
            m_Host->Ahead().KeptAlive(m_Request->Url);
        break;
    case TransferVerdict::Check:
        qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::HTTP_OnError nothing left to fetch at byte"
                          << m_Request->FileSize << "of \"" << m_Request->FilePath << "\"";
        m_Request->EndedWhole = true;
        break;
    case TransferVerdict::Resume:
    case TransferVerdict::Refused:
        // Resumed by itself: logged, not shown (the user hears of what does not recover).
        TellError(l_Result.Ending.Error, false);
        l_Restart = PlanRestart(&ApplicationAsyncHttpDownloader::Reissue, l_Result.Outcome.BackOffMs);
        break;
    case TransferVerdict::StartAgain:
        TellError(QNetworkReply::UnknownContentError, false);
        l_Restart = PlanRestart(&ApplicationAsyncHttpDownloader::FreshRestart, 0);
        break;
    case TransferVerdict::Permanent:
        // The caller's verification decides (another host, a restart).
        HTTP_OnError(l_Result.Ending.Error == QNetworkReply::NoError ? QNetworkReply::UnknownContentError
                                                                     : l_Result.Ending.Error);
        if (!l_Result.Reason.isEmpty())
            qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::HTTP_DownloadFinished" << l_Result.Reason << "for \""
                              << UrlText::Safe(m_Request->Url) << "\"";
        break;
    case TransferVerdict::WriteFailed:
        if (l_Result.OpenFailed)
        {
            // As when the file cannot be opened before the request: told as a completion with no file.
            CannotOpen();
            m_Request->Reason.clear();
            break;
        }
        // Full disk or lost device: what was written stays, the caller decides when to go on.
        qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::HTTP_OnReadyRead Error can't write file \""
                          << m_Request->FilePath << "\"" << m_Sink->ErrorText();
        m_Request->WriteError = m_Sink->ErrorText();
        m_Request->WriteFailed = true;
        break;
    case TransferVerdict::Stopped:
    case TransferVerdict::TooLarge:
        break;
    }

    const bool l_Stop = m_Request->StopRequested;
    if (l_Stop)
        StopNow(); // a stop that came after the transfer's last look drops the request ahead too
    if (l_Stop && !m_Request->Resume)
    {
        m_Sink->Close();
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
