#pragma once
#include "net/HTTP_ContentRequests.h"
#include "net/HTTP_DownloadFileRequest.h"
#include "net/NextFile.h"
#include "launcher/LauncherLocale.h"
#include "launcher/StatusValues.h"

#include <QMap>
#include <QMutex>
#include <QNetworkReply>
#include <QObject>
#include <QString>
#include <QStringList>
#include "platform/QtCompat.h"
#include <QVariant>
#include <QWaitCondition>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

class QNetworkAccessManager;

namespace Orvane {
namespace Launcher {

class ApplicationAsyncHttpDownloader;
class DownloadThread;

namespace ApplicationRessource {
enum Type
{
    AppBackground            = 0,
    AppBackgroundColor       = 1,
    AppBackgroundPosition    = 2,
    AppIcon                  = 3,
    AppIconActive            = 4,
    AppNewsSubCategoriesList = 5,
    AppSliderID              = 6,
    AppReserved              = 7, ///< a kind this module does not provide
    DefaultNewsImg           = 8,
};
} // namespace ApplicationRessource

/// Status record the host displays; every write is followed by setting m_StateChanged.
struct ApplicationStatus
{
    int32_t ApplicationState = 0; ///< an ApplicationState:: value (StatusValues.h)
    int32_t DownloadStatus = 0;   ///< a DownloadStatus:: value (StatusValues.h)
    bool Busy = false;
    int32_t Percent = 0;
    int64_t Done = 0;
    int64_t Total = 0;
    int64_t Speed = 0;
    QString Detail;
    int32_t DetailValue = 0;
    bool DetailVisible = false;
    QString Message;
};

using Task = std::function<void()>;

/// The interface the launcher host drives. Member order is part of the contract.
///
/// Threads: the host fills the callback table before Init and calls the operations on the application's
/// thread, which alone writes the status record (the host reads it and clears m_StateChanged), the speed
/// ring and the request tables (their mutexes stay for the host's sake). The task queues take appends from
/// any thread under their mutexes; m_Downloaders takes inserts from the application's thread and removals
/// from the clean-up actions, under its mutex. Writes of the application's members assert their thread
/// (KESTRUN_OWNED_BY) in test builds.
class Application : public QObject
{
    Q_OBJECT

public:
    // The closed launcher was compiled against this object and reads it by position, from the callback
    // table to the speed timer: no member may be added, removed, reordered or retyped anywhere before the
    // end of that list, on any build. The module's own members go after m_SpeedTimer. tst_interface pins
    // every offset.

    // Host callback table, filled by the host before Init.
    void (*ShowMessageBox)(QString p_Text, bool p_Flag) = nullptr;
    QVariant (*GetLocalSetting)(QString p_Key, QVariant p_Default) = nullptr;
    void (*SetLocalSetting)(QString p_Key, QVariant p_Value) = nullptr;
    QStringList (*GetLocalSettingKeys)() = nullptr;
    void (*RemoveLocalSetting)(QString p_Key) = nullptr;
    LauncherLocale (*GetLauncherLocale)() = nullptr;
    bool (*IsDownloadLocked)() = nullptr;
    void (*LockDownload)() = nullptr;
    void (*UnlockDownload)() = nullptr;
    bool (*IsLauncherRunning)() = nullptr;
    bool (*IsDevChannel)() = nullptr;
    void* m_HostWords[5] = {nullptr, nullptr, nullptr, nullptr, nullptr}; ///< the host's own

    bool m_StateChanged = false; ///< app thread (the host clears it there)
    QString m_Name;             ///< set by the constructor
    QString m_FolderName;       ///< set by the constructor
    QString m_InstallationPath; ///< app thread (GetInstallationPath); work on other threads gets a copy

    QNetworkAccessManager* m_NetworkManager = nullptr; ///< app thread

    std::map<QNetworkReply*, void*> m_UnusedRequests;
    QMutex m_UnusedRequestsMutex{QMutex::Recursive};
    std::map<QObject*, HTTP_GetContentRequest*> m_ContentRequests; ///< keyed by the request's transfer
    QMutex m_ContentRequestsMutex{QMutex::Recursive};
    std::map<QObject*, HTTP_GetContentSizeRequest*> m_ContentSizeRequests; ///< keyed by the request's transfer
    QMutex m_ContentSizeRequestsMutex{QMutex::Recursive};

    std::deque<Task> m_MainTasks;
    QMutex m_MainTasksMutex;
    std::deque<Task> m_WorkerTasks;
    QMutex m_WorkerTasksMutex;
    std::deque<Task> m_HostTasks; ///< the host's own
    QMutex m_HostTasksMutex;
    qint64 m_HostNumber = 0;
    QMutex m_HostMutex{QMutex::Recursive};

    ApplicationStatus m_Status; ///< app thread

    qint64 m_SpeedSamples[20] = {}; ///< app thread
    int m_SpeedSampleIndex = 0;     ///< app thread
    Compat::ElapsedTimer m_SpeedTimer; ///< app thread: paces the speed samples (progress-report timer)

    // ---- End of the host's view. The module's own members follow. ----

    /// Size requests only, taken in turn: each manager opens at most six connections to a host, so a few of
    /// them answer a long list of sizes in a few round trips. Created on first use. App thread.
    std::vector<QNetworkAccessManager*> m_SizeManagers;
    size_t m_NextSizeManager = 0; ///< app thread
    /// The size the size request gave the file of the next HTTP_DownloadFile (-1 unknown): lets a large file's
    /// transfer bound its read buffer from the first byte. App thread; the call takes it.
    qint64 m_NextDownloadSize = -1;
    /// The file expected after the next HTTP_DownloadFile, whose request goes out while that one's body
    /// travels. App thread; the call takes it.
    NextFile m_NextAhead;

    /// The downloaders not deleted yet, shared with their clean-up actions, which a host worker may have
    /// taken before this object goes and run after. Whoever removes an entry, under the mutex, deletes
    /// the downloader: a clean-up action, or this object's destructor for those left.
    struct DownloaderTable
    {
        QMutex Mutex;
        QWaitCondition Idle;                                ///< told when CleaningUp falls to 0
        std::set<ApplicationAsyncHttpDownloader*> Live;     ///< guarded by Mutex
        int CleaningUp = 0;                                 ///< guarded by Mutex: clean-ups deleting theirs now
    };
    /// After the host's members, whose order the host relies on. Any thread, under its mutex.
    std::shared_ptr<DownloaderTable> m_Downloaders = std::make_shared<DownloaderTable>();
    /// Where file transfers run, one after the other; started by the first, stopped with this object.
    DownloadThread* m_DownloadThread = nullptr; ///< this object's thread creates and deletes it
    /// Why the last content request of a URL failed (TLS, refused connection ...); this object's thread.
    QMap<QString, QString> m_ContentFailures;

    /// m_DownloadThread, started first if need be.
    DownloadThread* LaunchedDownloadThread();

public:
    Application(const QString& p_Name, const QString& p_FolderName);
    ~Application() override;

    // Virtual operations, in slot order.
    virtual void Init() = 0;
    virtual void Uninit() = 0;
    virtual QString const GetRessource(ApplicationRessource::Type p_Ressource) = 0;
    virtual bool IsGameRunning() { return false; }
    virtual void Install(const QString& p_Folder, bool p_NewFolder) { Q_UNUSED(p_Folder); Q_UNUSED(p_NewFolder); }
    virtual bool Start(QString p_Login, QString p_Password) { Q_UNUSED(p_Login); Q_UNUSED(p_Password); return false; }
    virtual void Repair() {}
    virtual void RebuildManifests() {}
    virtual void Uninstall(bool p_DeleteFiles) { Q_UNUSED(p_DeleteFiles); }
    virtual void StopDownload() {}
    virtual void ResumeDownload() {}
    virtual std::vector<std::pair<QString, QString>> GetAvailableLocales() = 0;
    virtual QString GetAppLocale() = 0;
    virtual void SetAppLocale(QString p_Tag) = 0;
    virtual bool IsCASCApp() { return false; }
    virtual void EnableCASC() {}
    virtual std::vector<QString> GetCustomIconAnimation() { return {}; }
    virtual int GetCustomIconAnimationFramerate() { return 0; }

    bool IsInstalled();
    QString GetInstallationPath();

    /// Local-setting key: application key followed by the suffix (".Installed" ...).
    QString SettingKey(const QString& p_Suffix) const { return m_FolderName + p_Suffix; }

    // Task queues: the module appends, the host takes from the front.
    void PostMainTask(Task p_Task);
    void PostWorkerTask(Task p_Task);
    bool TakeMainTask(Task& p_Task);
    bool TakeWorkerTask(Task& p_Task);

    /// Stores one speed sample in the ring and recomputes Speed.
    void AddSpeedSample(qint64 p_BytesPerSecond);

    // HTTP operations.
    HTTP_DownloadFileRequest* HTTP_DownloadFile(QString p_Url, QString p_Path, bool p_Resume);
    /// Opens the connection the next HTTP_DownloadFile from p_BaseUrl's host will take, so that its handshake
    /// is done by the time the file's turn comes.
    void PrepareDownloadConnection(const QString& p_BaseUrl);
    /// Drops the next file's request sent ahead, if any (a stop, a pause, an uninstall: no traffic goes on for
    /// a file nobody asked any more). Before any later download starts.
    void DropRequestAhead();
    HTTP_GetContentRequest* HTTP_GetContent(QString p_Url, std::function<void(QString, QByteArray*)> p_OnDone,
                                            std::function<void(QNetworkReply::NetworkError)> p_OnError);
    void HTTP_GetContentSize(QString p_Url, std::function<void(QString, quint64)> p_OnSize);
    /// Managers for size requests and the connections each opens to one host: the bound of size requests in flight.
    static constexpr int SizeManagers = 8;
    static constexpr int SizeRequestsInFlight = SizeManagers * 6;
    /// Why the last content request of p_Url got no document, told to the user; empty when it did.
    QString LastContentFailure(const QString& p_Url) const;
    /// The stored download rate limit (".DownloadRateLimit", "512K" or bytes); 0 unlimited or unreadable.
    qint64 StoredRateLimit();

public:

signals:
    void OnHTTPDownloadProgressUpdate(HTTP_DownloadFileRequest* p_Request);
    void OnHTTPDownloadProgressComplete(HTTP_DownloadFileRequest* p_Request);
    void OnHTTPDownloadRestarted(HTTP_DownloadFileRequest* p_Request);

private slots:
    void AppInt_OnHTTPDownloadProgressUpdate(HTTP_DownloadFileRequest* p_Request);
    void AppInt_OnHTTPDownloadProgressComplete(HTTP_DownloadFileRequest* p_Request);
    void AppInt_OnHTTPDownloadRestarted(HTTP_DownloadFileRequest* p_Request);
    void HTTP_GetContent_OnReadyRead();
    void HTTP_GetContent_DownloadFinished();
    void HTTP_GetContentSize_MedaDataChanged();
};

} // namespace Launcher
} // namespace Orvane
