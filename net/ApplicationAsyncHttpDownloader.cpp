#include "net/ApplicationAsyncHttpDownloader.h"
#include "net/Deployment.h"
#include "net/DownloadThread.h"
#include "net/HttpAnswer.h"
#include "net/ModuleNetwork.h"
#include "platform/FileWriter.h"
#include "platform/ReadBackHasher.h"

#include <QDebug>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <algorithm>

namespace Orvane {
namespace Launcher {

namespace {
constexpr int c_WatchdogMs = 20;        // bound of a stop acknowledgement on a silent connection
constexpr qint64 c_ProgressEveryMs = 10; // at most one progress signal per this time
} // namespace

std::atomic<int> ApplicationAsyncHttpDownloader::s_Live{0};

ApplicationAsyncHttpDownloader::ApplicationAsyncHttpDownloader()
{
    ++s_Live;
}

ApplicationAsyncHttpDownloader::~ApplicationAsyncHttpDownloader()
{
    m_ReadBack.reset();
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
    qWarning() << "ApplicationAsyncHttpDownloader::Start << " << p_Url << " << " << p_Path << " << " << p_Resume;

    QDir().mkpath(QFileInfo(p_Path).absoluteDir().absolutePath());
    if (QFile::exists(p_Path) && !p_Resume)
    {
        qWarning() << "ApplicationAsyncHttpDownloader::Start removing file << " << p_Path;
        QFile::remove(p_Path);
    }

    m_Request = new HTTP_DownloadFileRequest();
    m_Request->Url = p_Url;
    m_Request->FilePath = p_Path;
    m_Request->SpeedTimer.start();
    m_Request->Resume = p_Resume;

    // Normally done by HTTP_DownloadFile; the slots must run on the transfer's thread.
    QThread* l_Thread = m_Host ? static_cast<QThread*>(m_Host) : this;
    if (thread() != l_Thread)
        moveToThread(l_Thread);

    // A short transfer can end, hand the record back and be cleaned up before start() returns:
    // nothing of this object is touched after it.
    HTTP_DownloadFileRequest* l_Request = m_Request;
    qWarning() << "ApplicationAsyncHttpDownloader::Start starting thread";
    if (m_Host)
        QMetaObject::invokeMethod(this, [this] { RunOnHost(); }, Qt::QueuedConnection);
    else
        start(QThread::InheritPriority);
    qWarning() << "ApplicationAsyncHttpDownloader::Start end";
    return l_Request;
}

void ApplicationAsyncHttpDownloader::run()
{
    qWarning() << "ApplicationAsyncHttpDownloader::run";
    moveToThread(this);
    m_NetworkManager = ModuleNetwork::NewManager(this);
    m_NetworkManager->moveToThread(this);
    if (Begin())
    {
        QEventLoop l_Loop;
        connect(this, SIGNAL(CloseThread()), &l_Loop, SLOT(quit()), Qt::DirectConnection);
        l_Loop.exec();
        qWarning() << "ApplicationAsyncHttpDownloader::run end";
    }
    Finish();
}

void ApplicationAsyncHttpDownloader::RunOnHost()
{
    qWarning() << "ApplicationAsyncHttpDownloader::run";
    m_NetworkManager = m_Host->Manager();
    m_Limiter = &m_Host->Limiter();
    m_Limiter->SetRate(m_RateLimit);
    // Queued: the end runs once the slot that ended the transfer has returned, as a thread's loop would.
    connect(this, &ApplicationAsyncHttpDownloader::CloseThread, this, &ApplicationAsyncHttpDownloader::Finish,
            Qt::QueuedConnection);
    if (!Begin())
        Finish();
}

bool ApplicationAsyncHttpDownloader::Begin()
{
    m_SinceProgressSignal.start();
    m_Watchdog = new QTimer(this);
    m_Watchdog->setInterval(c_WatchdogMs);
    connect(m_Watchdog, &QTimer::timeout, this, [this] { Watchdog(); }, Qt::DirectConnection);
    if (StartDownload())
    {
        m_Begun = true;
        m_BestFileSize = m_Request->FileSize;
        m_Watchdog->start();
        return true;
    }
    qWarning() << "ApplicationAsyncHttpDownloader::run StartDownload() failed";
    PostCleanUp();
    // Told as a completion (with no file), so that the caller's verification restarts it.
    emit AsyncOnHTTPDownloadProgressComplete(m_Request);
    if (m_Request->StopRequested)
        m_Request->Stopped = true;
    return false;
}

void ApplicationAsyncHttpDownloader::Finish()
{
    if (m_Finished)
        return;
    m_Finished = true;
    if (m_Host && m_Begun)
        qWarning() << "ApplicationAsyncHttpDownloader::run end";

    // Everything the transfer owns goes on its thread; a shared manager stays with its thread.
    m_ReadBack.reset();
    delete m_Watchdog;
    m_Watchdog = nullptr;
    m_File.reset();
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

void ApplicationAsyncHttpDownloader::DropReadBack()
{
    m_ReadBack.reset();
}

void ApplicationAsyncHttpDownloader::PostCleanUp()
{
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
    qWarning() << "ApplicationAsyncHttpDownloader::StartDownload";
    QNetworkRequest l_Request = HttpAnswer::Request(m_Request->Url);
    const QString& l_Path = m_Request->FilePath;

    m_File.reset(new QFile(l_Path));
    if (!m_File->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
    {
        qWarning() << "ApplicationAsyncHttpDownloader::StartDownload Error can't open file \"" << l_Path
                   << "\" for writting";
        m_File.reset();
        return false;
    }

    m_Request->FileSize = 0;
    const qint64 l_Size = m_File->size();
    if (m_Request->Resume && l_Size > 0)
    {
        m_Request->FileSize = l_Size;
        qWarning() << "ApplicationAsyncHttpDownloader::StartDownload Resuming download at byte " << l_Size
                   << " for file \"" << l_Path << "\"";
        l_Request.setRawHeader("Range", "bytes=" + QByteArray::number(l_Size) + "-");
        m_Request->ReceivedBytes = l_Size;
        m_Request->SpeedSampleBytes = l_Size;
    }
    // The file stays open for this reply's body (one open per transfer, not per chunk).

    static const int s_ErrorType = qRegisterMetaType<QNetworkReply::NetworkError>("QNetworkReply::NetworkError");
    Q_UNUSED(s_ErrorType);

    QNetworkReply* l_Reply = m_NetworkManager->get(l_Request);
    // Without a bound Qt buffers whatever a fast server sends.
    // Under a rate limit a small buffer makes the server feel it instead of filling memory at full speed.
    qint64 l_Buffer = Deployment::ReadBufferBytes();
    if (m_Limiter && m_Limiter->Limited())
        l_Buffer = qBound<qint64>(16 * 1024, m_Limiter->Rate() / 4, l_Buffer);
    l_Reply->setReadBufferSize(l_Buffer);
    l_Reply->moveToThread(this);
    connect(l_Reply, SIGNAL(readyRead()), this, SLOT(HTTP_OnReadyRead()), Qt::DirectConnection);
    connect(l_Reply, SIGNAL(metaDataChanged()), this, SLOT(HTTP_MedaDataChanged()), Qt::DirectConnection);
    connect(l_Reply, SIGNAL(downloadProgress(qint64, qint64)), this, SLOT(HTTP_OnProgressUpdate(qint64, qint64)),
            Qt::DirectConnection);
    connect(l_Reply, SIGNAL(finished()), this, SLOT(HTTP_DownloadFinished()), Qt::DirectConnection);
    connect(l_Reply, SIGNAL(error(QNetworkReply::NetworkError)), this,
            SLOT(HTTP_OnError(QNetworkReply::NetworkError)), Qt::DirectConnection);

    m_AnswerChecked = false;
    m_WriteBody = false;
    m_ReplyBodyBytes = 0;
    m_SinceActivity.start();
    m_Request->Reply = l_Reply;
    qWarning() << "ApplicationAsyncHttpDownloader::StartDownload end";
    return true;
}

QNetworkReply* ApplicationAsyncHttpDownloader::CurrentSender()
{
    // Signals of a reply already replaced by a restart are echoes; they must not touch the record.
    auto* l_Reply = qobject_cast<QNetworkReply*>(sender());
    return (l_Reply && m_Request && l_Reply == m_Request->Reply) ? l_Reply : nullptr;
}

void ApplicationAsyncHttpDownloader::CheckAnswer(QNetworkReply* p_Reply)
{
    if (m_AnswerChecked)
        return;
    const int l_Code = HttpAnswer::Status(p_Reply);
    const QString l_Scheme = p_Reply->url().scheme().toLower();
    if (l_Code == 0)
    {
        if (l_Scheme == "http" || l_Scheme == "https")
            return; // no status line yet
        m_AnswerChecked = true;
        m_WriteBody = true;
        return;
    }
    if (HttpAnswer::IsRedirect(p_Reply))
        return; // followed by Qt: the answer at the end of the chain counts
    m_AnswerChecked = true;
    // Error pages and redirections are not the file: they would corrupt a partial file.
    m_WriteBody = (l_Code == 200 || l_Code == 206);
    if (l_Code == 206)
    {
        const qint64 l_Start = HttpAnswer::RangeStart(p_Reply);
        if (l_Start != m_Request->FileSize)
        {
            // Appending bytes from another offset would shift the rest of the file.
            qWarning() << "ApplicationAsyncHttpDownloader::CheckAnswer range starts at" << l_Start << "instead of"
                       << m_Request->FileSize << "for \"" << m_Request->Url << "\"";
            m_WriteBody = false;
            PlanRestart(&ApplicationAsyncHttpDownloader::Reissue);
            p_Reply->abort();
            return;
        }
        m_Request->FullSize = qMax<qint64>(0, HttpAnswer::RangeTotal(p_Reply));
    }
    if (l_Code == 200)
        m_Request->FullSize = qMax<qint64>(0, p_Reply->header(QNetworkRequest::ContentLengthHeader).toLongLong());
    if (l_Code == 200 && m_File && m_Request->FileSize > 0)
    {
        // The server ignored the Range header: the body is the whole file.
        qWarning() << "ApplicationAsyncHttpDownloader::CheckAnswer range ignored, restarting file \""
                   << m_Request->FilePath << "\" from its first byte";
        DropReadBack();
        m_File->resize(0);
        m_Request->FileSize = 0;
        m_Request->SpeedSampleBytes = 0;
        m_Request->ReceivedBytes = 0;
    }
}

bool ApplicationAsyncHttpDownloader::MayBeWhole(QNetworkReply* p_Reply)
{
    if (HttpAnswer::Status(p_Reply) != 416 || m_Request->FileSize <= 0)
        return false;
    // "bytes */N": the file has N bytes. Without N only the caller knows the size.
    const qint64 l_Total = HttpAnswer::RangeTotal(p_Reply);
    if (l_Total >= 0 && l_Total != m_Request->FileSize)
        return false;
    m_Request->FullSize = qMax<qint64>(0, l_Total);
    qWarning() << "ApplicationAsyncHttpDownloader::HTTP_OnError nothing left to fetch at byte" << m_Request->FileSize
               << "of \"" << m_Request->FilePath << "\"";
    return true;
}

void ApplicationAsyncHttpDownloader::WriteAvailable(QNetworkReply* p_Reply, bool p_Paced)
{
    CheckAnswer(p_Reply);
    if (!m_AnswerChecked)
        return; // left in the reply until the status is known
    // Paced reads leave the rest for the watchdog; the end of a reply is taken whole, as a debt.
    const qint64 l_Allowed = (p_Paced && m_Limiter) ? m_Limiter->Allowance() : p_Reply->bytesAvailable();
    if (l_Allowed <= 0)
        return;
    const QByteArray l_Data = p_Reply->read(std::min(l_Allowed, p_Reply->bytesAvailable()));
    if (m_Limiter)
        m_Limiter->Spend(l_Data.size());
    if (l_Data.isEmpty() || !m_WriteBody || !m_File)
        return;
    const qint64 l_Written = FileWriter::Write(*m_File, l_Data, &m_Request->WriteError);
    if (l_Written > 0)
    {
        m_ReplyBodyBytes += l_Written;
        m_Request->FileSize += l_Written;
        m_Request->WrittenBytes += l_Written;
        m_Request->ReceivedBytes = m_Request->FileSize;
        // A large file is checked while it arrives rather than read back whole at the end.
        if (!m_ReadBack && m_Request->FileSize >= c_ReadBackFromBytes)
            m_ReadBack.reset(new ReadBackHasher(m_Request->FilePath));
        if (m_ReadBack)
            m_ReadBack->Written(m_Request->FileSize);
    }
    if (l_Written != l_Data.size())
    {
        // Full disk or lost device: what was written stays, the caller decides when to go on.
        qWarning() << "ApplicationAsyncHttpDownloader::HTTP_OnReadyRead Error can't write file \""
                   << m_Request->FilePath << "\"" << m_File->errorString();
        m_Request->WriteFailed = true;
        m_File.reset();
        p_Reply->abort();
    }
}

void ApplicationAsyncHttpDownloader::EmitProgress(bool p_Force)
{
    if (!p_Force && m_SinceProgressSignal.elapsed() < c_ProgressEveryMs)
    {
        m_ProgressPending = true;
        return;
    }
    m_ProgressPending = false;
    m_SinceProgressSignal.restart();
    emit AsyncOnHTTPDownloadProgressUpdate(m_Request);
}

void ApplicationAsyncHttpDownloader::HTTP_OnReadyRead()
{
    QNetworkReply* l_Reply = CurrentSender();
    if (!l_Reply)
        return;
    m_SinceActivity.restart();
    WriteAvailable(l_Reply, true);
    if (m_Request->Reply != l_Reply)
        return; // aborted after a failed write

    const qint64 l_Elapsed = m_Request->SpeedTimer.elapsed();
    if (l_Elapsed >= 1000)
    {
        m_Request->BytesPerSecond = (m_Request->FileSize - m_Request->SpeedSampleBytes) * 1000 / l_Elapsed;
        m_Request->SpeedSampleBytes = m_Request->FileSize;
        m_Request->SpeedTimer.restart();
    }

    EmitProgress(false);
    if (m_Request->StopRequested)
        l_Reply->abort();
}

void ApplicationAsyncHttpDownloader::HTTP_MedaDataChanged()
{
    QNetworkReply* l_Reply = CurrentSender();
    if (!l_Reply)
        return;
    m_SinceActivity.restart();
    m_Request->ContentLength = qint64(l_Reply->header(QNetworkRequest::ContentLengthHeader).toULongLong());
    CheckAnswer(l_Reply);
    if (m_Request->Reply != l_Reply)
        return; // answered from the wrong offset: asked again
    if (m_Request->StopRequested)
        l_Reply->abort();
}

void ApplicationAsyncHttpDownloader::HTTP_OnProgressUpdate(qint64 p_CurrentBytes, qint64 p_TotalBytes)
{
    QNetworkReply* l_Reply = CurrentSender();
    if (!l_Reply)
        return;
    m_SinceActivity.restart();
    if (m_WriteBody)
    {
        // Counted over the whole file: the bytes a resume found on disk are part of it.
        const qint64 l_Before = m_Request->FileSize - m_ReplyBodyBytes;
        qint64 l_Denominator = p_TotalBytes < 0 ? -1 : l_Before + p_TotalBytes;
        if (l_Denominator == 0)
            l_Denominator = 1;
        // An unknown total (-1) gives 0, never a negative or wrapped percentage.
        const qint64 l_Percent = l_Denominator > 0 ? (l_Before + p_CurrentBytes) * 100 / l_Denominator : 0;
        m_Request->FilePercent = uint8_t(std::min<qint64>(100, std::max<qint64>(0, l_Percent)));
    }

    EmitProgress(false);
    if (m_Request->StopRequested)
        l_Reply->abort();
}

void ApplicationAsyncHttpDownloader::PlanRestart(void (ApplicationAsyncHttpDownloader::*p_Restart)())
{
    if (!AllowSelfRestart())
        return;
    m_Request->RestartPending = true;
    m_Request->OnRestart = [this, p_Restart] { (this->*p_Restart)(); };
}

bool ApplicationAsyncHttpDownloader::AllowSelfRestart()
{
    if (m_Request->StopRequested)
        return false; // a stop wins over a restart
    if (m_Request->FileSize > m_BestFileSize)
    {
        m_BestFileSize = m_Request->FileSize;
        m_RestartsWithoutProgress = 0;
    }
    if (m_RestartsWithoutProgress >= Deployment::MaxSelfRestarts())
    {
        qWarning() << "ApplicationAsyncHttpDownloader::HTTP_OnError giving up after" << m_RestartsWithoutProgress
                   << "restarts without progress for \"" << m_Request->Url << "\"";
        return false;
    }
    ++m_RestartsWithoutProgress;
    return true;
}

void ApplicationAsyncHttpDownloader::HTTP_OnError(QNetworkReply::NetworkError p_Error)
{
    QNetworkReply* l_Reply = CurrentSender();
    if (!l_Reply)
        return;

    switch (p_Error)
    {
    case QNetworkReply::RemoteHostClosedError:
        qWarning() << "ApplicationAsyncHttpDownloader::HTTP_OnError QNetworkReply::RemoteHostClosedError";
        // What already arrived is kept, so the resumed transfer asks only for the rest.
        if (m_Request->Resume)
            WriteAvailable(l_Reply);
        PlanRestart(&ApplicationAsyncHttpDownloader::Reissue);
        l_Reply->abort();
        break;
    case QNetworkReply::UnknownContentError:
        qWarning() << "ApplicationAsyncHttpDownloader::HTTP_OnError QNetworkReply::UnknownContentError";
        if (!MayBeWhole(l_Reply))
            PlanRestart(&ApplicationAsyncHttpDownloader::FreshRestart);
        l_Reply->abort();
        break;
    case QNetworkReply::OperationCanceledError:
        break; // the echo of an abort
    default:
        qWarning() << "ApplicationAsyncHttpDownloader::HTTP_OnError error \"" << p_Error << "\"";
        if (m_ReportError)
            m_ReportError("Http Error " + QString::number(int(p_Error)), false);
        break;
    }
}

void ApplicationAsyncHttpDownloader::Reissue()
{
    m_Request->RestartPending = false;
    m_Request->OnRestart = [] {};
    if (!m_Request->Resume)
    {
        // Without resume the new body starts at byte 0: never append it to the old one.
        DropReadBack();
        QFile::resize(m_Request->FilePath, 0);
        m_Request->FileSize = 0;
        m_Request->ReceivedBytes = 0;
        m_Request->SpeedSampleBytes = 0;
    }
    if (!StartDownload())
    {
        EndTransfer();
        return;
    }
    emit AsyncOnHTTPDownloadRestarted(m_Request);
}

void ApplicationAsyncHttpDownloader::FreshRestart()
{
    qWarning() << "ApplicationAsyncHttpDownloader::HTTP_OnError QNetworkReply::UnknownContentError removing file \""
               << m_Request->FilePath << "\"";
    DropReadBack();
    QFile::remove(m_Request->FilePath);

    m_Request->SpeedSampleBytes = 0;
    m_Request->ReceivedBytes = 0;
    m_Request->BytesPerSecond = 0;
    m_Request->FilePercent = 0;
    m_Request->OnRestart = [] {};
    m_Request->RestartPending = false;
    // StopRequested and Stopped are left alone: clearing them could lose a stop asked meanwhile.
    m_Request->SpeedTimer.restart();

    qWarning() << "ApplicationAsyncHttpDownloader::HTTP_OnError QNetworkReply::UnknownContentError restarting download "
                  "for \""
               << m_Request->Url << "\"";
    if (!StartDownload())
    {
        EndTransfer();
        return;
    }
    emit AsyncOnHTTPDownloadRestarted(m_Request);
}

void ApplicationAsyncHttpDownloader::EndTransfer()
{
    // Over the limit: the next file waits until this one's bytes are paid for (the watchdog comes back).
    m_EndPending = m_Limiter && !m_Request->StopRequested && !m_Abandoned && m_Limiter->MsUntilPaid() > 0;
    if (m_EndPending)
        return;
    if (m_ProgressPending)
        EmitProgress(true); // the last progress is always sent
    if (m_ReadBack)
    {
        // The file is closed: what is left of it is read now. A stop needs no check.
        m_File.reset();
        QString l_Md5;
        qint64 l_Bytes = 0;
        if (m_ReadBack->Finish([this] { return !m_Request->StopRequested; }, &l_Md5, &l_Bytes))
        {
            m_Request->ReadBackMd5 = l_Md5;
            m_Request->ReadBackBytes = l_Bytes;
        }
        DropReadBack();
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
    auto* l_Sender = qobject_cast<QNetworkReply*>(sender());
    QNetworkReply* l_Reply = CurrentSender();
    if (!l_Reply)
    {
        if (l_Sender)
            l_Sender->deleteLater();
        return;
    }

    qWarning() << "ApplicationAsyncHttpDownloader::HTTP_DownloadFinished << " << bool(m_Request->StopRequested)
               << " << " << m_Request->Resume << " << " << m_Request->RestartPending;

    // Bytes that came with the finish (not after an abort: those are dropped by Qt).
    if (l_Reply->error() == QNetworkReply::NoError && l_Reply->bytesAvailable() > 0)
        WriteAvailable(l_Reply);
    m_File.reset();

    // A body cut short without an error is a closed connection.
    if (!m_Request->RestartPending && !m_Request->StopRequested && m_WriteBody &&
        HttpAnswer::CutShort(l_Reply, m_ReplyBodyBytes))
    {
        qWarning() << "ApplicationAsyncHttpDownloader::HTTP_DownloadFinished body cut short at" << m_ReplyBodyBytes
                   << "of" << m_Request->ContentLength << "bytes";
        PlanRestart(&ApplicationAsyncHttpDownloader::Reissue);
    }

    const bool l_Stop = m_Request->StopRequested;
    if (l_Stop && !m_Request->Resume)
    {
        DropReadBack();
        QFile::remove(m_Request->FilePath);
    }

    l_Reply->close();
    l_Reply->deleteLater();
    m_Request->Reply = nullptr;

    const bool l_Restart = m_Request->RestartPending && !l_Stop;
    if (!l_Restart)
    {
        m_Request->RestartPending = false;
        m_Request->OnRestart = [] {};
        EndTransfer();
    }
    else
    {
        std::function<void()> l_OnRestart = m_Request->OnRestart;
        l_OnRestart();
    }
    qWarning() << "ApplicationAsyncHttpDownloader::HTTP_DownloadFinished end";
}

void ApplicationAsyncHttpDownloader::Watchdog()
{
    if (m_ProgressPending && m_SinceProgressSignal.elapsed() >= c_ProgressEveryMs)
        EmitProgress(true);
    if (m_EndPending)
        return EndTransfer();
    QNetworkReply* l_Reply = m_Request ? m_Request->Reply : nullptr;
    if (!l_Reply)
        return;
    if (m_Abandoned)
        m_Request->StopRequested = true;
    if (m_Limiter && m_Limiter->Limited() && l_Reply->bytesAvailable() > 0 && !m_Request->StopRequested)
    {
        // Held back by the limit, not stalled.
        m_SinceActivity.restart();
        WriteAvailable(l_Reply, true);
        EmitProgress(false);
        return;
    }
    if (m_Request->StopRequested)
    {
        // A stalled connection sends no more events: the stop is acted on here.
        l_Reply->abort();
        return;
    }
    if (m_SinceActivity.elapsed() >= Deployment::StallTimeoutMs())
    {
        qWarning() << "ApplicationAsyncHttpDownloader::Watchdog nothing received for" << m_SinceActivity.elapsed()
                   << "ms, aborting \"" << m_Request->Url << "\"";
        l_Reply->abort();
    }
}

} // namespace Launcher
} // namespace Orvane
