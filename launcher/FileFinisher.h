#pragma once
#include "launcher/FileDigest.h"
#include "launcher/Manifest.h"

#include <QHash>
#include <QString>
#include <QStringList>

namespace Orvane {
namespace Launcher {

class Application;
class CdnHosts;
class ManifestPass;
struct HTTP_DownloadFileRequest;

/// The end of one file's transfer: its ".part" checked (its digest taken as it was written, or read back
/// off this thread), then placed, continued, restarted (at most five times) or given up until the next run;
/// a lost connection with no other host is retried after a growing pause; a file another program holds open
/// (Windows) keeps its checked ".part", which replaces it once that program lets go.
///
/// Threads: every member belongs to the application's thread; the digest read back runs on Qt's pool
/// (FileDigest) and comes back through the main queue.
class FileFinisher
{
public:
    /// What a finished transfer told, kept once its record is gone.
    struct Transfer
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

        /// Copied from the transfer's record, which is freed once its completion slot returns.
        static Transfer Of(const HTTP_DownloadFileRequest& p_Request);
    };

    /// What finishing a file asks of its queue.
    class Queue
    {
    public:
        /// Lists p_Entry again at the end (its list-file line stays).
        virtual void Requeue(const ManifestFile& p_Entry) = 0;
        /// The list file keeps p_Path (empty: the current entry's line goes).
        virtual void UpdateListLine(const QString& p_Path) = 0;
        virtual void AddCompleted(qint64 p_Bytes) = 0;
        virtual qint64 Completed() const = 0;
        virtual qint64 KnownSize(const QString& p_Path) const = 0;
        /// The current entry is settled: the next one, or the end of the phase.
        virtual void Next(qint64 p_LastSample) = 0;
        virtual void WaitStopped(const QString& p_Text) = 0;
        /// Fetches the current entry again if it is still p_Path in pass p_Pass, downloading.
        virtual void Retry(quint64 p_Pass, const QString& p_Path) = 0;
        /// The current entry is still p_Path in pass p_Pass, downloading, and the launcher runs.
        virtual bool StillCurrent(quint64 p_Pass, const QString& p_Path) const = 0;

    protected:
        ~Queue() = default;
    };

    FileFinisher(Application& p_App, CdnHosts& p_Cdn, const ManifestPass& p_Passes, Queue& p_Queue);

    /// A transfer of p_Entry starts with its ".part" at p_Size bytes.
    void Started(qint64 p_Size) { m_PartAtStart = p_Size; }
    /// Checks the finished ".part" of p_Entry, then places or restarts it and goes on. The launcher closing
    /// during the digest changes nothing: the ".part" and its line stay for the next run.
    void Finish(const ManifestFile& p_Entry, const Transfer& p_Done);
    /// A digest runs, or a checked file waits for its old file to be let go: nothing else starts meanwhile.
    bool Checking() const { return m_Digest.Running() || m_Held; }
    /// The running digest and a wait for a held file no longer count (stop of the pass, unload); Wait waits
    /// for the digest's run. A file that waited keeps its ".part" for the resume or the next run.
    void CallOff();
    void Wait() { m_Digest.Wait(); }
    /// A stop: every file has its restarts again.
    void ForgetRestarts() { m_Restarts.clear(); }
    /// A new base phase: the files given up may be told again.
    void ForgetGivenUp() { m_GivenUp.clear(); }

private:
    void PauseBeforeRetry(const ManifestFile& p_Entry, const Transfer& p_Done);
    /// With the digest of p_Entry's ".part" (p_Have bytes): moves it into place, or restarts the entry. False
    /// while the old file is held: the entry is not settled yet.
    bool Place(const ManifestFile& p_Entry, const Transfer& p_Done, qint64 p_Have, const QString& p_Md5, bool p_Read);
    /// Moves the checked ".part" of p_Entry into place; false while the old file is held.
    bool MoveIntoPlace(const ManifestFile& p_Entry, qint64 p_Have);
    /// The old file of the current entry is held: tells the user (the first time), then tries again after a
    /// growing pause, with no limit, until it is placed, the pass stops or the launcher closes.
    void WaitForRelease(const ManifestFile& p_Entry, const Transfer& p_Done, qint64 p_Have, unsigned p_Attempt);
    /// The wait for a held file ends (placed, called off): the status message it replaced comes back.
    void EndWait();
    /// Queues the entry again at the end of the list; p_Discarded bytes were thrown away (they raise Total).
    void Restart(const ManifestFile& p_Entry, qint64 p_Discarded, const char* p_Line, bool p_Count = true);
    /// Restarts the entry while its file has restarts left, else gives it up.
    void RestartOrGiveUp(const ManifestFile& p_Entry, qint64 p_Discarded, const char* p_Line);
    /// Keeps the entry listed for the next run and tells the user once.
    void GiveUp(const ManifestFile& p_Entry, const char* p_Line);

    Application& m_App;
    CdnHosts& m_Cdn;
    const ManifestPass& m_Passes;
    Queue& m_Queue;
    /// Size of the current entry's ".part" when its transfer started: a transfer that ends short after
    /// it grew costs the file no restart.
    qint64 m_PartAtStart = 0; ///< app thread
    /// Restarts of each file since it last completed (or since a stop); a file is given up after the limit.
    QHash<QString, unsigned> m_Restarts; ///< app thread
    /// Paths given up on after the restart limit in this run (kept in their list file).
    QStringList m_GivenUp; ///< app thread
    FileDigest m_Digest;   ///< app thread (its run: Qt's pool, on copies)
    /// The current entry's checked ".part" waits for its old file to be let go.
    bool m_Held = false; ///< app thread
    /// Counts the waits for a held file; a retry of an earlier one (called off) finds it changed.
    quint64 m_HeldWait = 0; ///< app thread
    /// The status message the wait replaced, shown again when it ends.
    QString m_MessageBeforeHeld; ///< app thread
};

} // namespace Launcher
} // namespace Orvane
