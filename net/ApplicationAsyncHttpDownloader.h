#pragma once
#include "net/HTTP_DownloadFileRequest.h"
#include "net/NextFile.h"
#include "platform/QtCompat.h"

#include <QNetworkReply>
#include <QSemaphore>
#include <QString>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>

class QFile;
class QNetworkAccessManager;
class QTimer;

namespace Orvane {
namespace Launcher {

class DownloadThread;
class RateLimiter;
class Transfer;
class TransferSink;

/// Downloads one URL into one file: on the application's long-lived download thread (m_Host), or on a
/// thread of its own.
class ApplicationAsyncHttpDownloader : public QThread
{
    Q_OBJECT

public:
    // Set by HTTP_DownloadFile before the thread starts, then only read (downloader thread).
    /// Tells the user of a transfer error; posts to the application's thread, never calls the host from here.
    std::function<void(QString p_Text, bool p_Flag)> m_ReportError;
    std::function<void(std::function<void()>)> m_PostToApplication;
    /// Hands the record back to the application, which frees it after the
    /// last queued slot that reads it. Without it the destructor frees it.
    std::function<void(HTTP_DownloadFileRequest*)> m_ReleaseRecord;
    /// Told (from the clean-up action, just before the deletion) that this downloader is gone.
    std::function<void(ApplicationAsyncHttpDownloader*)> m_OnDeleted;

    QNetworkAccessManager* m_NetworkManager = nullptr; ///< downloader thread
    /// Created by Start; written by the downloader thread, which also hands it back (see m_ReleaseRecord).
    HTTP_DownloadFileRequest* m_Request = nullptr;

    /// Set before Start, then read on the transfer's thread. The transfer runs on m_Host with its network
    /// manager, whose connections outlive the file; null: on this thread with a manager of its own.
    DownloadThread* m_Host = nullptr;
    qint64 m_RateLimit = 0; ///< bytes per second for all transfers on m_Host, from the settings; 0: unlimited
    qint64 m_SizeHint = -1;  ///< the file's size as the size request gave it; -1 unknown (TransferRequest::SizeHint)
    /// The file expected after this one, asked ahead on m_Host once this file's request is out.
    NextFile m_Next;

    ApplicationAsyncHttpDownloader();
    ~ApplicationAsyncHttpDownloader() override;

    HTTP_DownloadFileRequest* Start(QString p_Url, QString p_Path, bool p_Resume);
    bool StartDownload();

    /// Downloaders not yet deleted by their clean-up action (threads that may still touch the application).
    static int LiveCount();

    /// From any thread: the transfer ends as after a stop (its file kept), without waiting for a network event.
    void Abandon() { m_Abandoned = true; }
    /// From another thread: returns once the transfer's end has run (its thread's loop must be running).
    void WaitEnded();

protected:
    void run() override;

signals:
    void CloseThread();
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
    /// On the transfer's thread: sets up and starts the transfer; false when the start failed (told as a completion).
    bool Begin();
    void RunOnHost();
    /// On the transfer's thread, once, after the transfer ended: frees what the thread owns, hands the record back.
    void Finish();
    void EmitProgress(bool p_Force);
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
    /// Requests go out one file ahead (on m_Host, unlimited, unless the deployment says no).
    bool UsesAhead() const;
    /// On the transfer's thread, once this file's request is out: the next file's request follows it.
    void AskAhead();
    /// Asked by the transfer: true when a stop is wanted, and then the request ahead is gone.
    bool StopNow();
    bool StopWanted() const { return (m_Request && m_Request->StopRequested) || m_Abandoned; }
    /// Owner of the members below: m_Host, or this thread when the transfer runs on a thread of its own.
    QThread* TransferThread();

    // All below: the transfer's thread (TransferThread()); methods that write them check it (KESTRUN_OWNED_BY).
    Transfer* m_Transfer = nullptr;          ///< the request in flight (one per restart)
    std::unique_ptr<TransferSink> m_Sink;    ///< the file, appended to and hashed as it is written
    Compat::ElapsedTimer m_SinceProgressSignal;
    bool m_ProgressPending = false;
    bool m_ProgressFlushQueued = false;
    int m_NextDelayMs = 0;            ///< back-off before the next request
    qint64 m_BestFileSize = 0;
    int m_RestartsWithoutProgress = 0;
    bool m_CleanUpPosted = false;
    RateLimiter* m_Limiter = nullptr; ///< m_Host's; null: unlimited
    bool m_Begun = false;             ///< the first request went out
    bool m_Finished = false;          ///< Finish ran
    std::atomic<bool> m_Abandoned{false}; ///< any thread writes, the downloader thread acts
    QSemaphore m_Ended;                   ///< released once by Finish, acquired by WaitEnded on any thread

    static std::atomic<int> s_Live;
};

} // namespace Launcher
} // namespace Orvane
