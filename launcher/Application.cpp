#include "launcher/Application.h"
#include "net/ApplicationAsyncHttpDownloader.h"
#include "net/Deployment.h"
#include "net/DownloadThread.h"
#include "net/HttpAnswer.h"
#include "net/ModuleNetwork.h"
#include "platform/ThreadOwner.h"

#include <QDebug>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <memory>

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
    // Requests still in flight: their replies go with the network manager, their records here.
    for (auto& l_Entry : m_ContentRequests)
        delete l_Entry.second;
    m_ContentRequests.clear();
    for (auto& l_Entry : m_ContentSizeRequests)
        delete l_Entry.second;
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
Record* FindRequest(std::map<QNetworkReply*, Record*>& p_Table, QMutex& p_Mutex, QNetworkReply* p_Reply, bool p_Take)
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

HTTP_DownloadFileRequest* Application::HTTP_DownloadFile(QString p_Url, QString p_Path, bool p_Resume)
{
    KESTRUN_OWNED_BY(thread());
    if (!m_DownloadThread)
    {
        m_DownloadThread = new DownloadThread();
        m_DownloadThread->Launch();
    }
    auto* l_Downloader = new ApplicationAsyncHttpDownloader();
    l_Downloader->m_Host = m_DownloadThread;
    // Read when each transfer starts: a change holds from the next file on.
    const qint64 l_Limit =
        GetLocalSetting ? GetLocalSetting(SettingKey(".DownloadRateLimit"), 0).toLongLong() : 0;
    l_Downloader->m_RateLimit = std::max<qint64>(0, l_Limit);
    l_Downloader->moveToThread(m_DownloadThread);
    // The host is called from this object's thread only.
    l_Downloader->m_ReportError = [this](QString p_Text, bool p_Flag) {
        PostMainTask([this, p_Text, p_Flag] {
            if (ShowMessageBox)
                ShowMessageBox(p_Text, p_Flag);
        });
    };
    // The clean-up action deletes the downloader only if it takes its entry first; it holds the table,
    // not this object, so that it may even run after this object went.
    std::shared_ptr<DownloaderTable> l_Table = m_Downloaders;
    l_Downloader->m_PostToApplication = [this, l_Table, l_Downloader](Task p_CleanUp) {
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
    l_Downloader->m_ReleaseRecord = [this](HTTP_DownloadFileRequest* p_Request) {
        std::shared_ptr<HTTP_DownloadFileRequest> l_Owned(p_Request);
        QMetaObject::invokeMethod(this, [l_Owned] {}, Qt::QueuedConnection);
    };

    connect(l_Downloader, SIGNAL(AsyncOnHTTPDownloadProgressUpdate(HTTP_DownloadFileRequest*)), this,
            SLOT(AppInt_OnHTTPDownloadProgressUpdate(HTTP_DownloadFileRequest*)), Qt::DirectConnection);
    connect(l_Downloader, SIGNAL(AsyncOnHTTPDownloadProgressComplete(HTTP_DownloadFileRequest*)), this,
            SLOT(AppInt_OnHTTPDownloadProgressComplete(HTTP_DownloadFileRequest*)), Qt::DirectConnection);
    connect(l_Downloader, SIGNAL(AsyncOnHTTPDownloadRestarted(HTTP_DownloadFileRequest*)), this,
            SLOT(AppInt_OnHTTPDownloadRestarted(HTTP_DownloadFileRequest*)), Qt::DirectConnection);

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

// ---------------------------------------------------------------------------
// In-memory content requests.

HTTP_GetContentRequest* Application::HTTP_GetContent(QString p_Url, std::function<void(QString, QByteArray*)> p_OnDone,
                                                     std::function<void(QNetworkReply::NetworkError)> p_OnError)
{
    auto* l_Request = new HTTP_GetContentRequest();
    l_Request->Url = p_Url;
    l_Request->OnDone = std::move(p_OnDone);
    l_Request->OnError = p_OnError;

    QMutexLocker l_Lock(&m_ContentRequestsMutex);
    QNetworkReply* l_Reply = m_NetworkManager->get(HttpAnswer::Request(p_Url));
    connect(l_Reply, SIGNAL(readyRead()), this, SLOT(HTTP_GetContent_OnReadyRead()));
    connect(l_Reply, SIGNAL(finished()), this, SLOT(HTTP_GetContent_DownloadFinished()));
    connect(
        l_Reply, Compat::ReplyError, l_Reply,
        [p_OnError, l_Reply](QNetworkReply::NetworkError p_Error) {
            if (p_Error != QNetworkReply::RemoteHostClosedError && p_Error != QNetworkReply::UnknownContentError)
                return;
            if (p_OnError)
                p_OnError(p_Error);
            l_Reply->abort();
        },
        Qt::DirectConnection);
    // A server that stops sending would leave the caller waiting for ever: abort, and OnDone gets what came.
    auto* l_Stall = new QTimer(l_Reply);
    l_Stall->setSingleShot(true);
    connect(l_Stall, &QTimer::timeout, l_Reply, [l_Reply] {
        qWarning() << "Application::HTTP_GetContent no data, aborting" << l_Reply->url().toString();
        l_Reply->abort();
    });
    connect(l_Reply, &QNetworkReply::readyRead, l_Stall, [l_Stall] { l_Stall->start(); });
    connect(l_Reply, &QNetworkReply::finished, l_Stall, &QTimer::stop);
    l_Stall->start(Deployment::StallTimeoutMs());
    l_Request->Reply = l_Reply;
    m_ContentRequests[l_Reply] = l_Request;
    return l_Request;
}

void Application::HTTP_GetContent_OnReadyRead()
{
    auto* l_Reply = qobject_cast<QNetworkReply*>(sender());
    HTTP_GetContentRequest* l_Request = FindRequest(m_ContentRequests, m_ContentRequestsMutex, l_Reply, false);
    if (l_Request && l_Reply)
        AppendContent(l_Request, l_Reply);
}

void Application::AppendContent(HTTP_GetContentRequest* p_Request, QNetworkReply* p_Reply)
{
    if (!p_Reply->isOpen())
        return;
    const qint64 l_Room = Deployment::MaxDocumentBytes() - p_Request->Data.size();
    if (p_Reply->bytesAvailable() <= l_Room)
    {
        p_Request->Data.append(p_Reply->readAll());
        return;
    }
    // A document this large is no document of ours: it fails like a closed connection.
    qWarning() << "Application::HTTP_GetContent larger than" << Deployment::MaxDocumentBytes() << "bytes, aborting"
               << p_Request->Url;
    p_Request->Data.append(p_Reply->read(qMax<qint64>(0, l_Room)));
    if (p_Request->OnError)
        p_Request->OnError(QNetworkReply::RemoteHostClosedError);
    p_Reply->abort();
}

void Application::HTTP_GetContent_DownloadFinished()
{
    auto* l_Reply = qobject_cast<QNetworkReply*>(sender());
    HTTP_GetContentRequest* l_Request = FindRequest(m_ContentRequests, m_ContentRequestsMutex, l_Reply, true);
    if (!l_Request)
        return;
    // Bytes that arrived with the finish but without their own readyRead.
    if (l_Reply->bytesAvailable() > 0)
        AppendContent(l_Request, l_Reply);
    const int l_Status = HttpAnswer::Status(l_Reply);
    if (HttpAnswer::IsError(l_Status))
    {
        // An error page is not the document: the caller gets nothing, as from a dead server.
        qWarning() << "Application::HTTP_GetContent status" << l_Status << "for" << l_Request->Url;
        l_Request->Data.clear();
    }
    else if (HttpAnswer::CutShort(l_Reply, l_Request->Data.size()))
    {
        // The caller hears of it as of any closed connection.
        qWarning() << "Application::HTTP_GetContent body cut short at" << l_Request->Data.size() << "bytes for"
                   << l_Request->Url;
        if (l_Request->OnError)
            l_Request->OnError(QNetworkReply::RemoteHostClosedError);
    }
    if (l_Request->OnDone)
        l_Request->OnDone(QString(l_Request->Url), &l_Request->Data);
    l_Reply->deleteLater();
    delete l_Request;
}

// ---------------------------------------------------------------------------
// Content-size requests. A request without an answer (network error, stall)
// counts as size 0, so that the caller's phase can start.

void Application::HTTP_GetContentSize(QString p_Url, std::function<void(QString, quint64)> p_OnSize)
{
    auto* l_Request = new HTTP_GetContentSizeRequest();
    l_Request->Url = p_Url;
    l_Request->OnSize = std::move(p_OnSize);
    // HEAD: an answer without a body leaves its connection open for the next request, where a GET
    // aborted after its headers would close it.
    IssueSizeRequest(l_Request, true);
}

void Application::IssueSizeRequest(HTTP_GetContentSizeRequest* p_Request, bool p_Head)
{
    QMutexLocker l_Lock(&m_ContentSizeRequestsMutex);
    const QNetworkRequest l_Asked = HttpAnswer::Request(p_Request->Url);
    QNetworkReply* l_Reply = p_Head ? m_NetworkManager->head(l_Asked) : m_NetworkManager->get(l_Asked);
    connect(l_Reply, SIGNAL(metaDataChanged()), this, SLOT(HTTP_GetContentSize_MedaDataChanged()));

    auto l_Unanswered = [this, l_Reply]() {
        HTTP_GetContentSizeRequest* l_Pending =
            FindRequest(m_ContentSizeRequests, m_ContentSizeRequestsMutex, l_Reply, true);
        if (!l_Pending)
            return;
        qWarning() << "Application::HTTP_GetContentSize no answer for" << l_Pending->Url;
        if (l_Pending->OnSize)
            l_Pending->OnSize(QString(l_Pending->Url), 0);
        l_Reply->abort();
        l_Reply->deleteLater();
        delete l_Pending;
    };
    connect(l_Reply, &QNetworkReply::finished, this, l_Unanswered);
    auto* l_Timer = new QTimer(l_Reply);
    l_Timer->setSingleShot(true);
    connect(l_Timer, &QTimer::timeout, this, l_Unanswered);
    l_Timer->start(Deployment::SizeTimeoutMs());

    p_Request->Reply = l_Reply;
    m_ContentSizeRequests[l_Reply] = p_Request;
}

void Application::HTTP_GetContentSize_MedaDataChanged()
{
    auto* l_Reply = qobject_cast<QNetworkReply*>(sender());
    if (!l_Reply || HttpAnswer::IsRedirect(l_Reply))
        return; // the answer at the end of the redirect chain counts
    HTTP_GetContentSizeRequest* l_Request =
        FindRequest(m_ContentSizeRequests, m_ContentSizeRequestsMutex, l_Reply, true);
    if (!l_Request)
        return;
    const bool l_Head = l_Reply->operation() == QNetworkAccessManager::HeadOperation;
    const int l_Status = HttpAnswer::Status(l_Reply);
    if (l_Head)
    {
        // Nothing to abort: the connection stays usable once the answer is complete.
        if (l_Reply->isFinished())
            l_Reply->deleteLater();
        else
            connect(l_Reply, &QNetworkReply::finished, l_Reply, &QObject::deleteLater);
        if (l_Status == 405 || l_Status == 501)
        {
            // A server that refuses HEAD gets the GET, whose headers tell the size.
            qWarning() << "Application::HTTP_GetContentSize HEAD refused with" << l_Status << ", asking with GET"
                       << l_Request->Url;
            IssueSizeRequest(l_Request, false);
            return;
        }
    }
    quint64 l_Size = l_Reply->header(QNetworkRequest::ContentLengthHeader).toULongLong();
    if (HttpAnswer::IsError(l_Status))
    {
        // The length of an error page says nothing about the file.
        qWarning() << "Application::HTTP_GetContentSize status" << l_Status << "for" << l_Request->Url
                   << ", size unknown";
        l_Size = 0;
    }
    if (l_Request->OnSize)
        l_Request->OnSize(QString(l_Request->Url), l_Size);
    if (!l_Head)
    {
        l_Reply->abort(); // the body is never read
        l_Reply->deleteLater();
    }
    delete l_Request;
}

} // namespace Launcher
} // namespace Orvane
