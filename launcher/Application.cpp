#include "launcher/Application.h"
#include "launcher/LauncherLog.h"
#include "net/ApplicationAsyncHttpDownloader.h"
#include "net/ByteSize.h"
#include "net/Deployment.h"
#include "net/DownloadThread.h"
#include "net/ModuleNetwork.h"
#include "net/RateLimiter.h"
#include "net/RequestAhead.h"
#include "net/Transfer.h"
#include "net/TransferSink.h"
#include "net/UrlText.h"
#include "platform/ThreadOwner.h"

#include <QDebug>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QUrl>

#include <algorithm>
#include <memory>
#include <utility>

namespace Orvane {
namespace Launcher {

Application::Application(const QString& p_Name, const QString& p_FolderName)
    : m_Name(p_Name), m_FolderName(p_FolderName)
{
    qRegisterMetaType<HTTP_DownloadFileRequest*>("HTTP_DownloadFileRequest*");
    m_NetworkManager = ModuleNetwork::NewManager(this);
}

Application::~Application()
{
    // Transfers still running would call back into this object: stopped (files kept), waited for, deleted.
    // A clean-up action that already took its downloader deletes it; it needs the download thread.
    std::set<ApplicationAsyncHttpDownloader*> l_Left;
    {
        QMutexLocker l_Lock(&m_Downloaders->Mutex);
        l_Left.swap(m_Downloaders->Live);
        while (m_Downloaders->CleaningUp > 0)
            m_Downloaders->Idle.wait(&m_Downloaders->Mutex);
    }
    for (ApplicationAsyncHttpDownloader* l_Downloader : l_Left)
    {
        disconnect(l_Downloader, nullptr, this, nullptr);
        l_Downloader->Abandon();
    }
    for (ApplicationAsyncHttpDownloader* l_Downloader : l_Left)
        l_Downloader->WaitEnded();
    {
        // Their clean-up actions (and whatever else was queued) never run now.
        QMutexLocker l_Lock(&m_WorkerTasksMutex);
        m_WorkerTasks.clear();
    }
    // With the download thread stopped nothing runs on the downloaders any more: they can go from here.
    delete m_DownloadThread;
    m_DownloadThread = nullptr;
    for (ApplicationAsyncHttpDownloader* l_Downloader : l_Left)
        delete l_Downloader;
    // Requests still in flight: their transfers go before the network manager their replies belong to.
    for (auto& l_Entry : m_ContentRequests)
    {
        delete l_Entry.first;
        delete l_Entry.second;
    }
    m_ContentRequests.clear();
    for (auto& l_Entry : m_ContentSizeRequests)
    {
        delete l_Entry.first;
        delete l_Entry.second;
    }
    m_ContentSizeRequests.clear();
}

bool Application::IsInstalled()
{
    return GetLocalSetting(SettingKey(".Installed"), false).toBool();
}

QString Application::GetInstallationPath()
{
    const QString l_Folder = GetLocalSetting(SettingKey(".InstallFolder"), QString()).toString();
    // Written only when the setting changed (Install, Uninstall): work in flight got its own copy.
    if (l_Folder != m_InstallationPath)
    {
        KESTRUN_OWNED_BY(thread());
        m_InstallationPath = l_Folder;
    }
    return l_Folder;
}

void Application::PostMainTask(Task p_Task)
{
    QMutexLocker l_Lock(&m_MainTasksMutex);
    m_MainTasks.push_back(std::move(p_Task));
}

void Application::PostWorkerTask(Task p_Task)
{
    QMutexLocker l_Lock(&m_WorkerTasksMutex);
    m_WorkerTasks.push_back(std::move(p_Task));
}

namespace {
/// The record of p_Reply in a request table (taken out of it with p_Take); null when the table has none.
template <typename Record>
Record* FindRequest(std::map<QObject*, Record*>& p_Table, QMutex& p_Mutex, QObject* p_Reply, bool p_Take)
{
    QMutexLocker l_Lock(&p_Mutex);
    auto l_It = p_Table.find(p_Reply);
    if (l_It == p_Table.end())
        return nullptr;
    Record* l_Record = l_It->second;
    if (p_Take)
        p_Table.erase(l_It);
    return l_Record;
}

bool TakeFront(std::deque<Task>& p_Queue, QMutex& p_Mutex, Task& p_Task)
{
    QMutexLocker l_Lock(&p_Mutex);
    if (p_Queue.empty())
        return false;
    p_Task = std::move(p_Queue.front());
    p_Queue.pop_front();
    return true;
}
} // namespace

bool Application::TakeMainTask(Task& p_Task)
{
    return TakeFront(m_MainTasks, m_MainTasksMutex, p_Task);
}

bool Application::TakeWorkerTask(Task& p_Task)
{
    return TakeFront(m_WorkerTasks, m_WorkerTasksMutex, p_Task);
}

void Application::AddSpeedSample(qint64 p_BytesPerSecond)
{
    KESTRUN_OWNED_BY(thread());
    if (m_SpeedSampleIndex >= 20)
        m_SpeedSampleIndex = 0;
    m_SpeedSamples[m_SpeedSampleIndex++] = p_BytesPerSecond;
    qint64 l_Sum = 0;
    for (qint64 l_Sample : m_SpeedSamples)
        l_Sum += l_Sample;
    m_Status.Speed = l_Sum / 20;
}

// ---------------------------------------------------------------------------
// File downloads: one after the other on the application's download thread.

DownloadThread* Application::LaunchedDownloadThread()
{
    KESTRUN_OWNED_BY(thread());
    if (!m_DownloadThread)
    {
        m_DownloadThread = new DownloadThread();
        m_DownloadThread->Launch();
    }
    return m_DownloadThread;
}

void Application::PrepareDownloadConnection(const QString& p_BaseUrl)
{
    LaunchedDownloadThread()->Preconnect(QUrl(p_BaseUrl));
}

void Application::DropRequestAhead()
{
    KESTRUN_OWNED_BY(thread());
    if (!m_DownloadThread)
        return;
    // Queued on the download thread, ahead of whatever transfer is started after this call.
    DownloadThread* l_Thread = m_DownloadThread;
    QMetaObject::invokeMethod(l_Thread->Manager(), [l_Thread] { l_Thread->Ahead().Drop(); }, Qt::QueuedConnection);
}

HTTP_DownloadFileRequest* Application::HTTP_DownloadFile(QString p_Url, QString p_Path, bool p_Resume)
{
    KESTRUN_OWNED_BY(thread());
    LaunchedDownloadThread();
    auto* l_Downloader = new ApplicationAsyncHttpDownloader();
    ApplicationAsyncHttpDownloader::Setup l_Setup;
    l_Setup.Host = m_DownloadThread;
    // Read when each transfer starts: a change holds from the next file on.
    l_Setup.RateLimit = StoredRateLimit();
    l_Setup.SizeHint = std::exchange(m_NextDownloadSize, -1);
    l_Setup.Next = std::exchange(m_NextAhead, NextFile());
    l_Downloader->moveToThread(m_DownloadThread);
    // The host is called from this object's thread only.
    // A network error of one transfer names the host and the cause; the file's own check decides whether
    // it failed, so it is a notice (the transfer is asked again, from another CDN host when there is one).
    const QUrl l_Url(p_Url);
    const QString l_Host = l_Url.port() > 0 ? l_Url.host() + ":" + QString::number(l_Url.port()) : l_Url.host();
    l_Setup.ReportError = [this, l_Host](QString p_Text, bool p_Flag) {
        bool l_Code = false;
        const int l_Error = p_Text.startsWith(QLatin1String("Http Error ")) ? p_Text.mid(11).toInt(&l_Code) : 0;
        // A refused connection is told by the queue, which knows whether another host serves the file.
        if (l_Code && l_Error == QNetworkReply::ConnectionRefusedError)
            return;
        if (l_Code)
        {
            p_Text = l_Host + ": " + TransferResult::Describe(QNetworkReply::NetworkError(l_Error), 0, {}, p_Text) +
                     "; the file is asked for again";
            p_Flag = true;
        }
        PostMainTask([this, p_Text, p_Flag] {
            if (ShowMessageBox)
                ShowMessageBox(p_Text, p_Flag);
        });
    };
    // The clean-up action deletes the downloader only if it takes its entry first; it holds the table,
    // not this object, so that it may even run after this object went.
    std::shared_ptr<DownloaderTable> l_Table = m_Downloaders;
    l_Setup.PostToApplication = [this, l_Table, l_Downloader](Task p_CleanUp) {
        PostWorkerTask([l_Table, l_Downloader, p_CleanUp] {
            {
                QMutexLocker l_Lock(&l_Table->Mutex);
                if (l_Table->Live.erase(l_Downloader) == 0)
                    return; // the application's destructor has it
                ++l_Table->CleaningUp;
            }
            p_CleanUp();
            QMutexLocker l_Lock(&l_Table->Mutex);
            if (--l_Table->CleaningUp == 0)
                l_Table->Idle.wakeAll();
        });
    };
    {
        QMutexLocker l_Lock(&l_Table->Mutex);
        l_Table->Live.insert(l_Downloader);
    }
    // The record is freed on this object's thread, after every queued slot that reads it.
    // Owned by the queued call: freed after it ran, or with it when this object goes first.
    l_Setup.ReleaseRecord = [this](HTTP_DownloadFileRequest* p_Request) {
        std::shared_ptr<HTTP_DownloadFileRequest> l_Owned(p_Request);
        QMetaObject::invokeMethod(this, [l_Owned] {}, Qt::QueuedConnection);
    };
    l_Downloader->SetUp(std::move(l_Setup));

    using Downloader = ApplicationAsyncHttpDownloader;
    connect(l_Downloader, &Downloader::AsyncOnHTTPDownloadProgressUpdate, this,
            &Application::AppInt_OnHTTPDownloadProgressUpdate, Qt::DirectConnection);
    connect(l_Downloader, &Downloader::AsyncOnHTTPDownloadProgressComplete, this,
            &Application::AppInt_OnHTTPDownloadProgressComplete, Qt::DirectConnection);
    connect(l_Downloader, &Downloader::AsyncOnHTTPDownloadRestarted, this, &Application::AppInt_OnHTTPDownloadRestarted,
            Qt::DirectConnection);

    m_SpeedTimer.restart();
    return l_Downloader->Start(p_Url, p_Path, p_Resume);
}

void Application::AppInt_OnHTTPDownloadProgressUpdate(HTTP_DownloadFileRequest* p_Request)
{
    emit OnHTTPDownloadProgressUpdate(p_Request);
}

void Application::AppInt_OnHTTPDownloadProgressComplete(HTTP_DownloadFileRequest* p_Request)
{
    emit OnHTTPDownloadProgressComplete(p_Request);
}

void Application::AppInt_OnHTTPDownloadRestarted(HTTP_DownloadFileRequest* p_Request)
{
    emit OnHTTPDownloadRestarted(p_Request);
}

qint64 Application::StoredRateLimit()
{
    const QVariant l_Stored = GetLocalSetting ? GetLocalSetting(SettingKey(".DownloadRateLimit"), 0) : QVariant(0);
    const QString l_Text = l_Stored.toString().trimmed();
    if (l_Text.isEmpty())
        return 0;
    const qint64 l_Rate = ByteSize::Parse(l_Text);
    if (l_Rate >= 0)
        return l_Rate;
    // Unreadable: unlimited, and said so, rather than a silent 0.
    qCWarning(LauncherLog) << "Application::HTTP_DownloadFile download rate limit" << l_Text
                           << "is not bytes per second (K, M, G suffixes): no limit";
    return 0;
}

// ---------------------------------------------------------------------------
// In-memory content requests.

HTTP_GetContentRequest::~HTTP_GetContentRequest() = default;

HTTP_GetContentRequest* Application::HTTP_GetContent(QString p_Url, std::function<void(QString, QByteArray*)> p_OnDone,
                                                     std::function<void(QNetworkReply::NetworkError)> p_OnError)
{
    auto* l_Request = new HTTP_GetContentRequest();
    l_Request->Url = p_Url;
    l_Request->OnDone = std::move(p_OnDone);
    l_Request->OnError = std::move(p_OnError);
    // A document this large is no document of ours: it fails like a closed connection.
    l_Request->Sink = TransferSink::Memory(Deployment::MaxDocumentBytes());

    QMutexLocker l_Lock(&m_ContentRequestsMutex);
    auto* l_Transfer = new Transfer(m_NetworkManager, this);
    connect(l_Transfer, &Transfer::BodyWritten, this, &Application::HTTP_GetContent_OnReadyRead);
    connect(l_Transfer, &Transfer::Ended, this, &Application::HTTP_GetContent_DownloadFinished);
    TransferRequest l_Asked;
    l_Asked.Url = p_Url;
    l_Transfer->Start(l_Asked, l_Request->Sink.get());
    l_Request->Engine = l_Transfer;
    m_ContentRequests[l_Transfer] = l_Request;
    return l_Request;
}

void Application::HTTP_GetContent_OnReadyRead()
{
    // The transfer's sink takes the bytes; the record sees them at the end.
    HTTP_GetContentRequest* l_Request = FindRequest(m_ContentRequests, m_ContentRequestsMutex, sender(), false);
    if (l_Request)
        l_Request->Reply = l_Request->Engine->Reply();
}

void Application::HTTP_GetContent_DownloadFinished()
{
    auto* l_Transfer = qobject_cast<Transfer*>(sender());
    HTTP_GetContentRequest* l_Request = FindRequest(m_ContentRequests, m_ContentRequestsMutex, l_Transfer, true);
    if (!l_Request)
        return;
    const TransferResult& l_Result = l_Transfer->Result();
    const TransferResult::Facts& l_Ending = l_Result.Ending;
    l_Request->Data = std::move(l_Request->Sink->Data());
    const QString l_Safe = UrlText::Safe(l_Request->Url);
    QNetworkReply::NetworkError l_Told = QNetworkReply::NoError;
    if (l_Ending.OverCap)
    {
        qCWarning(LauncherLog) << "Application::HTTP_GetContent larger than" << Deployment::MaxDocumentBytes()
                               << "bytes, aborting" << l_Safe;
        l_Told = QNetworkReply::RemoteHostClosedError;
    }
    else if (l_Ending.Error == QNetworkReply::UnknownContentError)
        l_Told = QNetworkReply::UnknownContentError;
    else if (l_Ending.Error == QNetworkReply::RemoteHostClosedError ||
             (TransferResult::IsBody(l_Ending.Status) && !l_Ending.BodyComplete && !l_Ending.Stalled &&
              !l_Ending.StopAsked && l_Ending.Error == QNetworkReply::NoError))
    {
        // The caller hears of a body cut short as of any closed connection.
        qCWarning(LauncherLog) << "Application::HTTP_GetContent body cut short at" << l_Request->Data.size()
                               << "bytes for" << l_Safe;
        l_Told = QNetworkReply::RemoteHostClosedError;
    }
    else if (l_Ending.Stalled)
        qCWarning(LauncherLog) << "Application::HTTP_GetContent no data, aborting" << l_Safe;
    if (!TransferResult::IsBody(l_Ending.Status) || l_Ending.Encoded)
    {
        // An error page is not the document: the caller gets nothing, as from a dead server.
        qCWarning(LauncherLog) << "Application::HTTP_GetContent status" << l_Ending.Status << "for" << l_Safe
                               << l_Result.Reason;
        l_Request->Data.clear();
    }
    else if (!TransferResult::WholeDocument(l_Result))
    {
        // Half a document parses as a wrong one (half a host name in the CDN list): nothing is.
        qCWarning(LauncherLog) << "Application::HTTP_GetContent incomplete, dropping" << l_Request->Data.size()
                               << "bytes of" << l_Safe;
        l_Request->Data.clear();
    }
    if (l_Request->Data.isEmpty() && !l_Result.Reason.isEmpty())
        m_ContentFailures[l_Request->Url] = l_Result.Reason;
    else
        m_ContentFailures.remove(l_Request->Url);
    // Verification stays on: the user is told why the secure connection failed.
    if (l_Result.TlsFailed && ShowMessageBox)
        ShowMessageBox(l_Safe + ": " + l_Result.Reason, false);
    if (l_Told != QNetworkReply::NoError && l_Request->OnError)
        l_Request->OnError(l_Told);
    if (l_Request->OnDone)
        l_Request->OnDone(QString(l_Request->Url), &l_Request->Data);
    l_Transfer->deleteLater();
    delete l_Request;
}

QString Application::LastContentFailure(const QString& p_Url) const
{
    return m_ContentFailures.value(p_Url);
}

// ---------------------------------------------------------------------------
// Content-size requests: HEAD (a GET dropped after its headers where HEAD is refused). A request
// without an answer (network error, stall) counts as size 0, so that the caller's phase can start.

void Application::HTTP_GetContentSize(QString p_Url, std::function<void(QString, quint64)> p_OnSize)
{
    auto* l_Request = new HTTP_GetContentSizeRequest();
    l_Request->Url = p_Url;
    l_Request->OnSize = std::move(p_OnSize);

    QMutexLocker l_Lock(&m_ContentSizeRequestsMutex);
    if (m_SizeManagers.empty())
        for (int l_I = 0; l_I < SizeManagers; ++l_I)
            m_SizeManagers.push_back(ModuleNetwork::NewManager(this));
    QNetworkAccessManager* l_Manager = m_SizeManagers[m_NextSizeManager++ % m_SizeManagers.size()];
    auto* l_Transfer = new Transfer(l_Manager, this);
    l_Transfer->SetLimiter(&RateLimiter::Shared());
    connect(l_Transfer, &Transfer::Ended, this, &Application::HTTP_GetContentSize_MedaDataChanged);
    TransferRequest l_Asked;
    l_Asked.Url = p_Url;
    l_Asked.SizeOnly = true;
    l_Transfer->Start(l_Asked, nullptr);
    l_Request->Engine = l_Transfer;
    m_ContentSizeRequests[l_Transfer] = l_Request;
}

void Application::HTTP_GetContentSize_MedaDataChanged()
{
    auto* l_Transfer = qobject_cast<Transfer*>(sender());
    HTTP_GetContentSizeRequest* l_Request =
        FindRequest(m_ContentSizeRequests, m_ContentSizeRequestsMutex, l_Transfer, true);
    if (!l_Request)
        return;
    const TransferResult& l_Result = l_Transfer->Result();
    const int l_Status = l_Result.Ending.Status;
    quint64 l_Size = quint64(std::max<qint64>(0, l_Result.ContentLength));
    if (l_Status == 0)
    {
        qCWarning(LauncherLog) << "Application::HTTP_GetContentSize no answer for" << UrlText::Safe(l_Request->Url)
                               << l_Result.Reason;
        l_Size = 0;
    }
    else if (!TransferResult::IsBody(l_Status))
    {
        // The length of an error page says nothing about the file.
        qCWarning(LauncherLog) << "Application::HTTP_GetContentSize status" << l_Status << "for"
                               << UrlText::Safe(l_Request->Url) << ", size unknown";
        l_Size = 0;
    }
    if (l_Request->OnSize)
        l_Request->OnSize(QString(l_Request->Url), l_Size);
    l_Transfer->deleteLater();
    delete l_Request;
}

} // namespace Launcher
} // namespace Orvane
