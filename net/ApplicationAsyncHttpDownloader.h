#pragma once
#include "net/DownloadFile.h"
#include "net/DownloadProgress.h"
#include "net/HTTP_DownloadFileRequest.h"
#include "net/NextFile.h"
#include "net/RestartBudget.h"

#include <QNetworkReply>
#include <QSemaphore>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <utility>

class QNetworkAccessManager;

namespace Orvane {
namespace Launcher {

class DownloadThread;
class RateLimiter;
class Transfer;

/// Downloads one URL into one file, on the application's long-lived download thread (Setup::Host).
class ApplicationAsyncHttpDownloader : public QObject
{
    Q_OBJECT

public:
    /// What the application gives a downloader before Start.
    struct Setup
    {
        /// The transfer runs on it with its network manager, whose connections outlive the file.
        DownloadThread* Host = nullptr;
        qint64 RateLimit = 0; ///< bytes per second for all transfers on Host, from the settings; 0: unlimited
        qint64 SizeHint = -1; ///< the file's size as the size request gave it; -1 unknown (TransferRequest::SizeHint)
        /// The file expected after this one, asked ahead on Host once this file's request is out.
        NextFile Next;
        /// Tells the user of a transfer error; posts to the application's thread, never calls the host from here.
        std::function<void(QString p_Text, bool p_Flag)> ReportError;
        /// Queues the clean-up action on the application's worker queue.
        std::function<void(std::function<void()>)> PostToApplication;
        /// Hands the record back to the application, which frees it after the last queued slot that reads it.
        /// Without it the destructor frees it.
        std::function<void(HTTP_DownloadFileRequest*)> ReleaseRecord;
    };

    ApplicationAsyncHttpDownloader();
    ~ApplicationAsyncHttpDownloader() override;

    /// Before Start, on the thread that creates the downloader.
    void SetUp(Setup p_Setup) { m_Setup = std::move(p_Setup); }

    HTTP_DownloadFileRequest* Start(QString p_Url, QString p_Path, bool p_Resume);

    /// Downloaders not yet deleted by their clean-up action (threads that may still touch the application).
    static int LiveCount() { return s_Live; }

    /// From any thread: the transfer ends as after a stop (its file kept), without waiting for a network event.
    void Abandon() { m_Abandoned = true; }
    /// From another thread: returns once the transfer's end has run (the download thread's loop must run).
    void WaitEnded();

signals:
    void AsyncOnHTTPDownloadProgressUpdate(HTTP_DownloadFileRequest* p_Request);
    void AsyncOnHTTPDownloadProgressComplete(HTTP_DownloadFileRequest* p_Request);
    void AsyncOnHTTPDownloadRestarted(HTTP_DownloadFileRequest* p_Request);

private slots:
    void HTTP_OnError(QNetworkReply::NetworkError p_Error);
    void HTTP_OnReadyRead();
    void HTTP_MedaDataChanged();
    void HTTP_OnProgressUpdate(qint64 p_CurrentBytes, qint64 p_TotalBytes);
    void HTTP_DownloadFinished();

private:
    /// On the download thread: sends the request (again); false when the kept part cannot be opened.
    bool StartDownload();
    /// On the download thread: starts the transfer; false when the start failed (told as a completion).
    bool Begin();
    void RunOnHost();
    /// On the download thread, once the transfer ended: frees what the transfer owns, hands the record back.
    void Finish();
    /// Logs p_Error; p_Report: also tells the user ("Http Error N").
    void TellError(QNetworkReply::NetworkError p_Error, bool p_Report);
    bool AllowSelfRestart();
    /// Unless a stop or the restart limit forbids it: true, and p_Restart runs once the ended transfer is gone.
    bool PlanRestart(void (ApplicationAsyncHttpDownloader::*p_Restart)(), int p_DelayMs);
    void Reissue();
    /// Says that the file could not be opened for writing.
    void CannotOpen();
    void FreshRestart();
    void EndTransfer();
    /// Queues the clean-up action (once): it waits for the transfer's end, then deletes the downloader.
    void PostCleanUp();
    /// Requests go out one file ahead (on the download thread, unlimited, unless the deployment says no).
    bool UsesAhead() const;
    /// On the download thread, once this file's request is out: the next file's request follows it.
    void AskAhead();
    /// Asked by the transfer: true when a stop is wanted, and then the request ahead is gone.
    bool StopNow();
    bool StopWanted() const { return (m_Request && m_Request->StopRequested) || m_Abandoned; }

    Setup m_Setup; ///< set by SetUp before Start, then only read (download thread)
    /// Created by Start; written by the download thread, which also hands it back (Setup::ReleaseRecord).
    HTTP_DownloadFileRequest* m_Request = nullptr;

    // All below: the download thread; methods that write them check it (KESTRUN_OWNED_BY).
    QNetworkAccessManager* m_NetworkManager = nullptr; ///< the download thread's
    Transfer* m_Transfer = nullptr;          ///< the request in flight (one per restart)
    DownloadFile m_File;                     ///< appended to and hashed as it is written
    DownloadProgress m_Progress;
    int m_NextDelayMs = 0;            ///< back-off before the next request
    RestartBudget m_Restarts;
    bool m_CleanUpPosted = false;
    RateLimiter* m_Limiter = nullptr; ///< the download thread's
    bool m_Begun = false;             ///< the first request went out
    bool m_Finished = false;          ///< Finish ran
    std::atomic<bool> m_Abandoned{false}; ///< any thread writes, the download thread acts
    QSemaphore m_Ended;                   ///< released once by Finish, acquired by WaitEnded on any thread

    static std::atomic<int> s_Live; ///< any thread
};

} // namespace Launcher
} // namespace Orvane
