#pragma once
#include "launcher/Application.h"
#include "launcher/Manifest.h"
#include "launcher/PendingListFile.h"
#include "platform/ThreadOwner.h"

#include <QFuture>
#include <QHash>
#include <QMutex>
#include <QStringList>
#include <atomic>
#include <memory>
#include <vector>

class QTimer;

namespace Orvane {
namespace CASC {
class CASCApplication;
}
namespace Launcher {

class ApplicationAsyncHttpDownloader;

/// A game delivered as plain files: remote build information, manifest,
/// download queue with verification, lifecycle and launch.
///
/// Threads. Every member below belongs to the application's thread (the host's thread, which calls the
/// operations and drains the main task queue): only it writes them, the status record included, and only
/// it calls the host back (but IsLauncherRunning, which long checks poll). Work off that thread (the file
/// checks of a manifest pass, the digest of a finished file, the 100 ms waits for the download turn) gets
/// copies of what it reads (ListInput, FinishedTransfer), computes, and posts its results to the main task
/// queue; m_Pass is the one member it reads while the application's thread writes it (atomic), to stop
/// early. In test builds every write asserts the thread (KESTRUN_OWNED_BY). A downloader thread writes only its download record and reaches the
/// application through queued signals, the worker queue (its clean-up) and the main queue (its messages).
class StandartApplication : public Application
{
    Q_OBJECT

public:
    QString m_BaseUrl;   ///< app thread: selected base URL of file downloads
    QString m_BuildName; ///< app thread: build named by the version document
    Manifest m_Manifest; ///< app thread (build information); list building works on copies
    std::vector<ManifestFile> m_DownloadList; ///< app thread
    bool m_BasePhase = false;                 ///< app thread
    unsigned m_CurrentIndex = 0;              ///< app thread
    unsigned m_AnswerCount = 0;               ///< app thread
    size_t m_NextSizeRequest = 0; ///< app thread: entry whose size is asked next (the requests go out in a bounded window)
    bool m_FullScan = false; ///< app thread; list building gets a copy
    QStringList m_CdnList;   ///< app thread
    bool m_CASCMode = false;                             ///< app thread: the content-store phases run
    int m_CASCStep = 0;                                  ///< app thread: 1 verifier active, 2 archive manager active
    CASC::CASCApplication* m_CASCApplication = nullptr;  ///< app thread: created by the hand-off, deleted on the app thread

    // Download queue state.
    qint64 m_CompletedBytes = 0; ///< app thread
    /// App thread. The running transfer's record; cleared by the completion slot, after which the record is freed.
    HTTP_DownloadFileRequest* m_CurrentRequest = nullptr;
    /// What a finished transfer told, kept once its record is gone.
    struct FinishedTransfer
    {
        QString Url;
        qint64 FullSize = 0;      ///< the file's size as the server gave it; 0 unknown
        qint64 ContentLength = 0; ///< of the last answer
        qint64 WrittenBytes = 0;  ///< body bytes written: 0, the host delivered nothing
        QString WrittenMd5;       ///< digest taken as the file was written; empty: none
        qint64 WrittenMd5Bytes = 0;
        qint64 LastSample = 0;    ///< bytes since the transfer's last speed sample
        bool EndedWhole = false;  ///< ended with the whole body, or nothing was left to send
        QString Reason;           ///< why it failed, in the user's words; empty when it did not
    };
    /// Size of the current entry's ".part" when its transfer started: a transfer that ends short after
    /// it grew costs the file no restart.
    qint64 m_PartAtStart = 0; ///< app thread
    /// The digest of a finished file running off this thread: its number (0 none), the number of the
    /// last one started, the flag that calls it off, and the run (waited for at the unload).
    quint64 m_Check = 0;                                 ///< app thread
    quint64 m_Checks = 0;                                ///< app thread
    std::shared_ptr<std::atomic<bool>> m_CheckCalledOff; ///< app thread (the flag: any thread reads)
    QFuture<void> m_CheckRun;                            ///< app thread
    /// Restarts of each file since it last completed (or since a stop); a file is given up after the limit.
    QHash<QString, unsigned> m_Restarts; ///< app thread
    /// Size of each file to fetch as the server last gave it (size answer, then the transfer's own headers).
    QHash<QString, qint64> m_KnownSizes; ///< app thread
    /// Paths given up on after the restart limit in this run (kept in their list file).
    QStringList m_GivenUp; ///< app thread
    /// The phase waits stopped for free space (ResumeDownload carries on).
    bool m_WaitingForSpace = false; ///< app thread
    /// This application holds the launcher's download turn.
    bool m_HoldsTurn = false; ///< app thread
    /// CDN hosts that delivered nothing in this run; avoided while another host remains.
    QStringList m_FailedCdnHosts; ///< app thread
    /// The base URL drawn for the file asked ahead (m_DrawnFor, its path), which its turn keeps. App thread.
    QString m_DrawnFor;
    QString m_DrawnBaseUrl;
    /// Number of the current manifest pass. A newer pass (Install, Repair, RebuildManifests,
    /// Uninstall, new build information) supersedes an older one, whose queued or running
    /// steps then end without touching the download list, the list files or the status.
    std::atomic<quint64> m_Pass{0}; ///< app thread writes, any thread reads
    /// The list file of the running phase, written at most once a second.
    PendingListFile m_ListFile; ///< app thread
    QTimer* m_ListFileTimer = nullptr; ///< app thread: writes what the list file still owes, a second after a change

    // Content-store run (app thread).
    /// Number of the current content-store run; steps and callables of an older run change nothing.
    quint64 m_CASCRun = 0; ///< app thread
    /// Phase 1..7 of the current run (0 none).
    int m_CASCPhase = 0; ///< app thread
    /// A stop came during the content-store phases; the next phase waits for ResumeDownload.
    bool m_CASCStopped = false; ///< app thread
    /// The next phase, held by a stop until ResumeDownload.
    std::function<void()> m_CASCHeld; ///< app thread
    /// Held by the worker queue while it loads the archive indices or scans the store; Uninit
    /// takes it to wait for them (they stop at their next file or slot once cancelled).
    QMutex m_CASCWork; ///< locked by the worker queue, waited on by Uninit (app thread)

public:
    StandartApplication(const QString& p_Name, const QString& p_FolderName);
    ~StandartApplication() override;

    // Lifecycle.
    void Init() override;
    void Uninit() override;
    bool IsGameRunning() override;
    void Install(const QString& p_Folder, bool p_NewFolder) override;
    bool Start(QString p_Login, QString p_Password) override;
    void Repair() override;
    void RebuildManifests() override;
    void Uninstall(bool p_DeleteFiles) override;
    void StopDownload() override;
    void ResumeDownload() override;
    std::vector<std::pair<QString, QString>> GetAvailableLocales() override;
    QString GetAppLocale() override;
    virtual void OnInstall() {}
    virtual void AfterOnManifestReceived() {}

    void OnManifestReceived();
    /// Deletes the three list files of the install folder (failures ignored).
    void DeleteListFiles();

    // Remote build information.
    void RequestVersion();
    void OnVersionReceived(QByteArray* p_Data);
    void RequestBuildInfo();
    void OnBuildInfoReceived(QByteArray* p_Data);
    void RequestCdnList();
    void OnCdnListReceived(QByteArray* p_Data);
    /// Sets m_BaseUrl for the file (0x40: the application server, else a random CDN).
    void SelectBaseUrl(const ManifestFile& p_File, bool p_Log);
    QString RandomCdnBaseUrl();
    /// The CDN hosts a file may be sent to: those not failing, or all when every one failed.
    QStringList UsableCdnHosts() const;
    /// Tells the download of the current file which file follows it, so that its request goes out ahead.
    void DrawNextFile();
    /// Draws p_File's base URL now and keeps it for the file's turn (SelectBaseUrl); returns it.
    QString DrawBaseUrl(const ManifestFile& p_File);
    /// Notes the CDN host of p_Url as failing (its transfer delivered nothing).
    void MarkCdnFailed(const QString& p_Url, const QString& p_Reason = QString());
    /// The transfer of p_Entry lost its connection before a byte came and no other host serves it: asked again
    /// after a pause that grows with its restarts (1, 2, 4, 8, 16 s); after the last the download stops.
    void PauseBeforeRetry(const ManifestFile& p_Entry, const FinishedTransfer& p_Done);
    /// True when a host other than p_Url's may serve p_Entry.
    bool OtherHostFor(const ManifestFile& p_Entry, const QString& p_Url) const;
    /// The content-store hand-off: at the end of pass p_Pass, with ".IsCASCEnabled" true, runs the phases.
    void CheckContentStore(quint64 p_Pass);

    // Content-store phases (StandartApplicationCasc.cpp).
    void StartContentStore();
    /// Ends any content-store run at once (a new pass, an uninstall): its steps and callables
    /// change nothing from now on, and a later ResumeDownload does not restart it.
    void DropContentStore();
    /// Ends the run: after its last phase (p_Whole) or an error; the store keeps what it holds.
    void EndContentStore(bool p_Whole);
    /// Runs p_Step on the app thread if run p_Run is still current; a stop holds it for ResumeDownload.
    void ContentStoreStep(quint64 p_Run, std::function<void()> p_Step);
    /// Runs p_Action on the app thread now or, from another thread, through the main queue, if run p_Run is current.
    void OnContentStoreThread(quint64 p_Run, std::function<void()> p_Action);
    void ShowContentStorePhase(int p_Phase, const QString& p_Message, int p_DownloadStatus);
    void ShowContentStoreDownload(int p_File, int p_Files, int p_Percent, quint64 p_Done, quint64 p_Total,
                                  quint64 p_Speed, bool p_Sample);
    void ContentStoreError(quint64 p_Run, int p_Kind, const QString& p_Message);
    void StopContentStoreWorker();
    /// StopDownload and ResumeDownload in the content-store phases.
    void StopContentStore();
    void ResumeContentStore();
    using ContentStoreProgress = std::function<void(int, int, int, quint64, quint64, quint64)>;
    /// A worker's download callable that shows (file, files, percent, done, total, speed) for run p_Run.
    ContentStoreProgress ContentStoreProgressOf(quint64 p_Run, bool p_Sample);
    void VerifyBaseFiles(quint64 p_Run);
    void LoadContentStoreIndices(quint64 p_Run);
    void LoadEncodingFile(quint64 p_Run);
    void ScanContentStore(quint64 p_Run);
    void LoadContentStoreList(quint64 p_Run);
    void StreamContentStore();
    /// Install folder + "ToDownloadCASC.db".
    QString ContentStoreListPath() const;

    // Download manifest. Without a pass number, a step runs as part of the current pass.
    /// Starts a new manifest pass: older ones stop at their next check. Returns its number.
    quint64 BeginPass();
    bool PassCurrent(quint64 p_Pass) const { return p_Pass == m_Pass; }
    /// What the list building of a phase reads, taken on the application's thread and handed to the
    /// worker queue: nothing there reads members the application's thread writes, nor calls the host
    /// (but IsLauncherRunning, which long checks poll).
    struct ListInput
    {
        std::vector<ManifestFile> Files;
        QString Folder;
        QString Locale;
        bool FullScan = false;
    };
    /// On the application's thread.
    ListInput ListInputOf(const std::vector<ManifestFile>& p_Files);
    void BuildBaseList();
    /// On the application's thread: takes the input, then builds (tests; the pass posts the other form).
    void BuildBaseList(quint64 p_Pass);
    void BuildBaseList(quint64 p_Pass, const ListInput& p_Input);
    void StartStreamedPhase(bool p_WaitForTurn);
    void StartStreamedPhase(bool p_WaitForTurn, quint64 p_Pass);
    void BuildStreamedList(bool p_WaitForTurn);
    void BuildStreamedList(bool p_WaitForTurn, quint64 p_Pass);
    void BuildStreamedList(bool p_WaitForTurn, quint64 p_Pass, const ListInput& p_Input);
    /// The streamed list is built: the end of the pass, or its size requests.
    void StartStreamedSizes(bool p_WaitForTurn, quint64 p_Pass);
    void RequestFileSizes();
    void RequestFileSizes(quint64 p_Pass);
    void RequestSizesOfList(bool p_WaitForTurn, quint64 p_Pass);
    void UpdateListFile(QString p_AppendPath);
    /// Writes what the list file owes now (a stop, a phase end, an exit); p_Close also forgets it.
    void FlushListFile(bool p_Close);
    QString CurrentListFile();

    // Download queue.
    /// ApplicationState 2 with nothing going on: Detail hidden, not busy.
    void ShowInstalled();
    /// Shows the wait for the download turn; takes it and returns true when the game is not running and
    /// the turn is free, else posts p_Retry to the worker queue after 100 ms and returns false.
    bool TakeTurnOrRetry(bool p_ClearMessage, std::function<void()> p_Retry);
    /// Starts the phase's downloads from the first entry (held after a stop or when space is short).
    void BeginDownloads(const QString& p_Message);
    void StartBaseDownloads();
    void StartStreamedDownloads(bool p_WaitForTurn);
    void WaitForStreamedTurn();
    void WaitForStreamedTurn(quint64 p_Pass);
    void DownloadCurrentFile();
    void ApplyFileAttributes();
    /// Queues the entry again at the end of the list; p_Discarded bytes were thrown away (they raise Total).
    void RestartCurrent(const ManifestFile& p_Entry, qint64 p_Discarded, const char* p_Line, bool p_Count = true);
    /// Restarts the entry while its file has restarts left, else gives it up.
    void RestartOrGiveUp(const ManifestFile& p_Entry, qint64 p_Discarded, const char* p_Line);
    /// Re-queues the entry without using one of its restarts (its ".part" grew: the next transfer goes on).
    void ContinueLater(const ManifestFile& p_Entry, const char* p_Line);
    /// Checks the finished ".part" of p_Entry (its digest off this thread unless it was read back while
    /// it arrived), then moves it into place or restarts it, and goes on. The launcher closing during the
    /// digest changes nothing: the ".part" and its line stay for the next run.
    void FinishFile(const ManifestFile& p_Entry, const FinishedTransfer& p_Done);
    /// The digest of check p_Check is known (on the application's thread): unless the check was called off,
    /// the file is placed or restarted and the list goes on.
    void FileChecked(quint64 p_Check, const ManifestFile& p_Entry, const FinishedTransfer& p_Done, qint64 p_Have,
                     const QString& p_Md5, int p_Result);
    /// With the digest of p_Entry's ".part" (p_Have bytes): moves it into place, or restarts the entry.
    void PlaceFile(const ManifestFile& p_Entry, const FinishedTransfer& p_Done, qint64 p_Have, const QString& p_Md5,
                   bool p_Read);
    /// The current entry is settled: progress, then the next entry or the end of the phase.
    void NextFile(qint64 p_LastSample);
    /// A check running off this thread no longer counts (stop of the pass, unload).
    void CallOffCheck();
    /// True when the volume has room for what remains; otherwise tells the user and waits stopped.
    bool CheckFreeSpace();
    /// Bytes still to fetch in this phase (what ".part" files hold is already on disk).
    qint64 RemainingBytes();
    /// Waits stopped for the user (ResumeDownload carries on) after telling p_Text and the two figures.
    void WaitForSpace(const QString& p_Text, qint64 p_Needed, qint64 p_Free);
    /// Waits stopped for the user (ResumeDownload carries on) after telling p_Text.
    void WaitStopped(const QString& p_Text);
    /// Sends the next size request of the phase, if any is left.
    void RequestNextSize(bool p_WaitForTurn, quint64 p_Pass);
    /// Every size of the phase is known: its downloads start (unless the pass was superseded).
    void StartPhaseDownloads(bool p_WaitForTurn, quint64 p_Pass);
    /// Bytes free on the volume of p_Folder (-1 unknown); tests replace it to simulate a full disk.
    virtual qint64 AvailableDiskSpace(const QString& p_Folder);
    /// Keeps the entry listed for the next run and tells the user once.
    void GiveUpCurrent(const ManifestFile& p_Entry, const char* p_Line);
    /// LockDownload / UnlockDownload, keeping them paired.
    void TakeDownloadTurn();
    void ReleaseDownloadTurn();
    /// IsLauncherRunning, true when the host gave none.
    bool LauncherRunning();
    /// True when the install folder is set and p_RelativePath stays inside it.
    bool InsideInstallFolder(const QString& p_RelativePath);

    // Launch and client configuration.
    /// Whether the 64-bit client suits this machine (Platform::Is64BitSystem; tests replace it).
    static bool (*s_Is64BitSystem)();
    void PatchWoWTextFile(QString p_FilePath, QString p_Key, QString p_Line, bool p_Create);
    /// Starts p_Path detached; empty when it runs, else why the system refused it.
    static QString StartClient(const QString& p_Path, const QStringList& p_Arguments);
    static bool FindGameProcess(QString p_Folder, QStringList p_Names, QString* p_Candidate);
    /// The matching of FindGameProcess on lines of a process list.
    static bool MatchGameProcess(const QStringList& p_Lines, const QString& p_Folder, const QStringList& p_Names,
                                 QString* p_Candidate);

    /// Sets m_StateChanged (after every write of the status record, which belongs to the app thread).
    void StateChanged()
    {
        KESTRUN_OWNED_BY(thread());
        m_StateChanged = true;
    }
    void SetPercent(qint64 p_Done, qint64 p_Total);

private slots:
    void App_OnHTTPDownloadProgressUpdate(HTTP_DownloadFileRequest* p_Request);
    void App_OnHTTPDownloadProgressComplete(HTTP_DownloadFileRequest* p_Request);
    void App_OnHTTPDownloadRestarted(HTTP_DownloadFileRequest* p_Request);
};

} // namespace Launcher
} // namespace Orvane
