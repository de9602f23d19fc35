#pragma once
#include "launcher/DownloadTurn.h"
#include "launcher/FileFinisher.h"
#include "launcher/FileSizes.h"
#include "launcher/Manifest.h"
#include "launcher/ListFileWriter.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

namespace Orvane {
namespace Launcher {

class Application;
class CdnHosts;
class ManifestPass;
struct HTTP_DownloadFileRequest;

/// The download queue of a phase: the files to fetch, their sizes, the turn, one transfer at a time, each
/// finished ".part" checked and placed (or restarted, at most five times), the phase's list file, free space.
///
/// Threads: every member belongs to the application's thread. The download thread writes only the
/// transfer's record, which the slots read once per figure; the digest of a finished file runs on Qt's pool
/// (FileDigest), the turn waits on the worker queue (DownloadTurn): both post back to the main queue.
class DownloadQueue : private FileFinisher::Queue
{
public:
    /// What the queue asks of the rest of the module.
    struct Hooks
    {
        std::function<qint64(const QString&)> FreeSpace; ///< bytes free on the folder's volume, -1 unknown
        std::function<void()> StreamedPhase;              ///< the base phase ended: the streamed one starts
        std::function<void(bool, quint64)> SizesKnown;    ///< (wait for the turn, pass): the downloads may start
        std::function<void(quint64)> PassEnded;           ///< nothing left to fetch at the end of pass N
    };

    DownloadQueue(Application& p_App, CdnHosts& p_Cdn, ManifestPass& p_Passes, Hooks p_Hooks);
    ~DownloadQueue();

    // The phase's list.
    /// A new pass: what the running phase completed is written, the check called off, the list emptied.
    void ClearForPass();
    /// The streamed phase begins: the base list file is closed, the list emptied.
    void ClearForStreamed();
    /// Adds the files the list building found; p_Base: the base phase begins with them.
    void AddFound(const std::vector<ManifestFile>& p_Found, bool p_Base);
    /// Forgets the list and the running transfer (an uninstall).
    void Forget();
    bool Empty() const { return m_DownloadList.empty(); }
    const std::vector<ManifestFile>& List() const { return m_DownloadList; }
    unsigned CurrentIndex() const { return m_CurrentIndex; }
    bool BasePhase() const { return m_BasePhase; }
    bool Transferring() const { return m_CurrentRequest != nullptr; }
    DownloadTurn& Turn() { return m_Turn; }

    // The phase's steps.
    /// Asks the sizes of the list (no turn check here; Done keeps its value), then starts the downloads.
    void RequestSizes(bool p_WaitForTurn, quint64 p_Pass);
    /// Starts the phase's downloads from the first entry (held after a stop or when space is short).
    void BeginDownloads(const QString& p_Message);
    void DownloadCurrentFile();
    /// StopDownload (p_StoreRuns: the content-store phases run), ResumeDownload and the unload.
    void Stop(bool p_StoreRuns);
    void Resume();
    void Unload();
    /// In the phase's list file the current entry's line goes, p_AppendPath (if any) is added.
    void UpdateListFile(const QString& p_AppendPath);
    /// Writes what the list file owes now (a stop, a phase end, an exit); p_Close also forgets it.
    void FlushListFile(bool p_Close);

    // The transfer's signals.
    void OnProgress(HTTP_DownloadFileRequest* p_Request);
    void OnRestarted(HTTP_DownloadFileRequest* p_Request);
    void OnComplete(HTTP_DownloadFileRequest* p_Request);

    /// Test hook: the queue as a run leaves it (p_List, the entry at p_Index in transfer by p_Request, the
    /// turn held while p_Request is set), without a network run.
    void SetForTest(std::vector<ManifestFile> p_List, unsigned p_Index, HTTP_DownloadFileRequest* p_Request);

private:
    /// Tells the download of the current file which file follows it, so that its request goes out ahead.
    void DrawNextFile();
    bool InsideInstallFolder(const QString& p_RelativePath) const;
    /// The current entry is settled: progress, then the next entry or the end of the phase.
    void NextFile(qint64 p_LastSample);
    /// True when the volume has room for what remains; otherwise tells the user and waits stopped.
    bool CheckFreeSpace();
    /// Bytes still to fetch in this phase (what ".part" files hold is already on disk).
    qint64 RemainingBytes() const;
    /// Waits stopped for the user (ResumeDownload carries on) after telling p_Text and the two figures.
    void WaitForSpace(const QString& p_Text, qint64 p_Needed, qint64 p_Free);
    /// The progress figures from what is done (and the speed sample of the transfer's tail).
    void ShowDone(qint64 p_Done, qint64 p_LastSample);

    // What the finishing of a file asks (FileFinisher::Queue).
    void Requeue(const ManifestFile& p_Entry) override;
    void UpdateListLine(const QString& p_Path) override { UpdateListFile(p_Path); }
    void AddCompleted(qint64 p_Bytes) override { m_CompletedBytes += p_Bytes; }
    qint64 Completed() const override { return m_CompletedBytes; }
    qint64 KnownSize(const QString& p_Path) const override { return m_Sizes.Of(p_Path, 0); }
    void Next(qint64 p_LastSample) override { NextFile(p_LastSample); }
    void WaitStopped(const QString& p_Text) override;
    void Retry(quint64 p_Pass, const QString& p_Path) override;
    bool StillCurrent(quint64 p_Pass, const QString& p_Path) const override;

    Application& m_App;
    CdnHosts& m_Cdn;
    ManifestPass& m_Passes;
    const Hooks m_Hooks;
    std::vector<ManifestFile> m_DownloadList; ///< app thread
    bool m_BasePhase = false;                 ///< app thread
    unsigned m_CurrentIndex = 0;              ///< app thread
    qint64 m_CompletedBytes = 0;              ///< app thread
    /// App thread. The running transfer's record; cleared by the completion slot, after which the record is freed.
    HTTP_DownloadFileRequest* m_CurrentRequest = nullptr;
    /// The phase waits stopped for free space (ResumeDownload carries on).
    bool m_WaitingForSpace = false; ///< app thread
    ListFileWriter m_ListFile;          ///< app thread
    DownloadTurn m_Turn;                ///< app thread
    FileSizes m_Sizes;                  ///< app thread
    FileFinisher m_Finisher;            ///< app thread
};

} // namespace Launcher
} // namespace Orvane
