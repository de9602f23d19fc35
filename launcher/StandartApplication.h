#pragma once
#include "launcher/Application.h"
#include "launcher/CdnHosts.h"
#include "launcher/ContentStoreRun.h"
#include "launcher/DeferredDeletes.h"
#include "launcher/DownloadQueue.h"
#include "launcher/Manifest.h"
#include "launcher/ManifestPass.h"
#include "launcher/RemoteBuild.h"
#include "platform/ThreadOwner.h"

#include <QStringList>
#include <vector>

namespace Orvane {
namespace Launcher {

/// A game delivered as plain files: the operations the host calls, each carried out by the pieces this
/// object owns: the remote build chain (RemoteBuild, CdnHosts), the manifest passes (ManifestPass), the
/// download queue (DownloadQueue: FileSizes, DownloadTurn, FileFinisher, ListFileWriter) and the
/// content-store run (ContentStoreRun). Launch and client configuration are its own.
///
/// Threads. Every member belongs to the application's thread (the host's thread, which calls the
/// operations and drains the main task queue): only it writes them, the status record included, and only
/// it calls the host back (but IsLauncherRunning, which long checks poll). Work off that thread (the file
/// checks of a manifest pass, the digest of a finished file, the 100 ms waits for the download turn) gets
/// copies of what it reads (ManifestPass::Input, FileFinisher::Transfer), computes, and posts its results
/// to the main task queue; the pass number (ManifestPass, atomic) is the one member it reads while the
/// application's thread writes it, to stop early. In test builds every write asserts the thread
/// (KESTRUN_OWNED_BY). A downloader thread writes only its download record and reaches the application
/// through queued signals, the worker queue (its clean-up) and the main queue (its messages). Each piece
/// says which of these rules apply to it.
class StandartApplication : public Application
{
    Q_OBJECT

public:
    using ListInput = ManifestPass::Input;

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

    // The manifest pass. Without a pass number, a step runs as part of the current pass.
    /// Starts a new manifest pass: older ones stop at their next check. Returns its number.
    quint64 BeginPass();
    /// The current pass's number (what CheckContentStore is handed at a pass's end).
    quint64 CurrentPass() const { return m_Passes.Current(); }
    void BuildBaseList();
    void BuildBaseList(quint64 p_Pass);
    /// Ends the base phase and posts BuildStreamedList; p_WaitForTurn: the download turn is not held yet.
    void StartStreamedPhase(bool p_WaitForTurn);
    void BuildStreamedList(bool p_WaitForTurn);
    void BuildStreamedList(bool p_WaitForTurn, quint64 p_Pass);
    void RequestFileSizes();
    void RequestFileSizes(quint64 p_Pass);
    /// Rewrites the list file of the current phase: the current entry's line goes, p_AppendPath is added.
    void UpdateListFile(QString p_AppendPath);
    /// The content-store hand-off: at the end of pass p_Pass, with ".IsCASCEnabled" true, runs the phases.
    void CheckContentStore(quint64 p_Pass);

    // The download queue.
    void StartBaseDownloads();
    void StartStreamedDownloads(bool p_WaitForTurn);
    void WaitForStreamedTurn();
    void WaitForStreamedTurn(quint64 p_Pass);
    void DownloadCurrentFile();
    /// Shows the wait for the download turn; takes it and returns true when the game is not running and
    /// the turn is free, else posts p_Retry to the worker queue after 100 ms and returns false.
    bool TakeTurnOrRetry(bool p_ClearMessage, std::function<void()> p_Retry);
    /// Gives the installed base files flagged so their attributes (0x01 read-only, 0x02 full permissions).
    void ApplyFileAttributes();
    /// Sets the base URL of the next request for the file (0x40: the application server, else a CDN host).
    void SelectBaseUrl(const ManifestFile& p_File, bool p_Log);

    // Launch and client configuration.
    /// Replaces the check of whether the 64-bit client suits this machine (tests).
    static void SetIs64BitSystem(bool (*p_Check)()) { s_Is64BitSystem = p_Check; }
    void PatchWoWTextFile(QString p_FilePath, QString p_Key, QString p_Line, bool p_Create);
    /// Starts p_Path detached; empty when it runs, else why the system refused it.
    static QString StartClient(const QString& p_Path, const QStringList& p_Arguments);
    static bool FindGameProcess(QString p_Folder, QStringList p_Names, QString* p_Candidate);
    /// The matching of FindGameProcess on lines of a process list.
    static bool MatchGameProcess(const QStringList& p_Lines, const QString& p_Folder, const QStringList& p_Names,
                                 QString* p_Candidate);

    // Read-only views of the pieces (the module's own callers and tests).
    const Manifest& Build() const { return m_Remote.Build(); }
    const CdnHosts& Cdn() const { return m_Cdn; }
    const DownloadQueue& Queue() const { return m_Queue; }
    const ContentStoreRun& ContentStore() const { return m_ContentStore; }
    /// The next pass checks every file against the disk.
    bool FullScan() const { return m_FullScan; }

    // Seams for tests: states a network run would reach, set without one.
    /// Takes p_Build as the build information, as if received (a pass starts without the request chain).
    void UseBuild(Manifest p_Build) { m_Remote.UseBuild(std::move(p_Build)); }
    void SetFullScan(bool p_FullScan) { m_FullScan = p_FullScan; }
    /// The queue as a run leaves it (DownloadQueue::SetForTest).
    void SetQueueForTest(std::vector<ManifestFile> p_List, unsigned p_Index, HTTP_DownloadFileRequest* p_Request)
    {
        m_Queue.SetForTest(std::move(p_List), p_Index, p_Request);
    }

protected:
    /// Bytes free on the volume of p_Folder (-1 unknown); tests replace it to simulate a full disk.
    virtual qint64 AvailableDiskSpace(const QString& p_Folder);

private:
    /// Whether the 64-bit client suits this machine: Platform::Is64BitSystem. Set before any application runs.
    static bool (*s_Is64BitSystem)();
    /// The CDN list has come: the pass of the build starts.
    void OnBuildReceived();
    /// Deletes the three list files of the install folder (failures ignored).
    void DeleteListFiles();
    /// On the application's thread: what the list building of p_Files reads.
    ListInput ListInputOf(const std::vector<ManifestFile>& p_Files);
    void BuildBaseList(quint64 p_Pass, const ListInput& p_Input);
    void StartStreamedPhase(bool p_WaitForTurn, quint64 p_Pass);
    void BuildStreamedList(bool p_WaitForTurn, quint64 p_Pass, const ListInput& p_Input);
    /// The streamed list is built: the end of the pass, or its size requests.
    void StartStreamedSizes(bool p_WaitForTurn, quint64 p_Pass);
    /// Every size of the phase is known: its downloads start (unless the pass was superseded).
    void StartPhaseDownloads(bool p_WaitForTurn, quint64 p_Pass);

    /// The next manifest pass checks every file (a repair, an adopted folder, a manifest built anew).
    bool m_FullScan = false;               ///< app thread; list building gets a copy
    CdnHosts m_Cdn{*this};                 ///< app thread
    RemoteBuild m_Remote{*this, m_Cdn, [this] { OnBuildReceived(); }}; ///< app thread
    ManifestPass m_Passes{*this};          ///< app thread writes the pass number, the worker queue reads it
    DownloadQueue m_Queue;                 ///< app thread (its digests: Qt's pool; its turn waits: worker queue)
    ContentStoreRun m_ContentStore{*this}; ///< app thread (the worker queue holds its work lock)
    /// Files the last uninstall found held open by another program, deleted once it lets go.
    DeferredDeletes m_HeldDeletes{*this};  ///< app thread (its retries: timers on it)

private slots:
    void App_OnHTTPDownloadProgressUpdate(HTTP_DownloadFileRequest* p_Request);
    void App_OnHTTPDownloadProgressComplete(HTTP_DownloadFileRequest* p_Request);
    void App_OnHTTPDownloadRestarted(HTTP_DownloadFileRequest* p_Request);
};

} // namespace Launcher
} // namespace Orvane
