#pragma once
#include "casc/CASCArchiveFileEntry.h"
#include "casc/CASCEncodingMap.h"
#include "casc/CASCErrors.h"
#include "casc/CASCFetchLoop.h"
#include "casc/CASCSlotCheck.h"
#include "casc/CASCSlotWriter.h"
#include "casc/CASCSpillCopy.h"
#include "platform/QtCompat.h"

#include <QFuture>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <vector>

class QFile;

namespace Orvane {
namespace CASC {

class CASCApplication;

/// The encoding file, the local data archives, the install scan and the streamed download of
/// missing content. Lives on the thread that calls Init; only the scan's tasks run elsewhere.
class CASCArchivesManager : public QObject
{
    Q_OBJECT

public:
    using Callback = std::function<void()>;
    using CheckProgress = std::function<void(quint32 p_Done, quint32 p_Total)>;
    using DownloadProgress = std::function<void(int p_File, int p_Files, int p_Percent, quint64 p_Done,
                                                quint64 p_Total, quint64 p_Speed)>;

    // Installed by the module before Init; called on the manager's thread.
    Callback m_OnEncodingLoaded;
    Callback m_OnFinished;
    Callback m_OnBusy;
    CheckProgress m_OnCheckProgress;
    DownloadProgress m_OnDownloadStarted;
    DownloadProgress m_OnDownloadProgress;
    DownloadProgress m_OnDownloadCompleted;

    explicit CASCArchivesManager(CASCApplication* p_Owner);
    ~CASCArchivesManager() override;

    /// Obtains the encoding file (local copy, else the CDN), decodes and parses it off this
    /// thread; ends, back on this thread, with m_OnEncodingLoaded or an error raised on the owner.
    void Init(QString p_DownloadDbPath);
    /// Blocking parse into the map, with the progress callables.
    bool ParseEncodingFile(QByteArray* p_Data);
    /// Calls off a decode and parse in flight: it stops at its next page and reports nothing.
    void CancelEncoding();

    /// Blocking: checks every slot of every local archive, lists the damaged ones and writes
    /// the download database. False, with the list and the database left as they were, when a
    /// local index cannot be read (raised) or the scan was cancelled.
    bool ScanInstall();
    /// Rebuilds the to-download list from the download database; false when a local index
    /// cannot be read (raised).
    bool LoadDownloadList();
    /// Fetches every listed blob into its slot, a few ranged requests in flight, each blob checked as
    /// it arrives and written with its header in one write; ends with m_OnFinished when every slot
    /// was written, else keeps the failed ones listed and raises the first failure.
    void StartStreaming();
    /// Holds every further step (a size answer, the next transfer, the scan's next slot) until
    /// ResumeDownload. Any thread.
    void StopDownload();
    /// Clears the stop and carries on with the step it held.
    void ResumeDownload();
    /// Ends a scan in flight at its next slot (Uninit, the launcher closing). Any thread.
    void CancelScan() { m_ScanCancel = true; }
    /// The last ScanInstall was cut short by a stop or CancelScan.
    bool ScanCancelled() const { return m_ScanCancelled; }

    QStringList ListIndexFiles() const;
    std::vector<CASCArchiveFileEntry> ReadIndexFile(const QString& p_Path) const;
    /// The entries of every local index; false, raised as a local-storage fault naming the file, when a
    /// bucket has no index or one cannot be read, or (p_Cut set, nothing raised) on a stop.
    bool ReadIndexFiles(std::vector<CASCArchiveFileEntry>& p_Entries, bool* p_Cut = nullptr);

    /// Grows p_File to p_Capacity bytes by a resize: the new bytes read as zeros (see the
    /// definition for what that costs on NTFS).
    bool ExpandFile(QFile* p_File, quint64 p_Capacity);

    const CASCEncodingMap& GetEncodingMap() const { return m_EncodingMap; }
    const std::vector<CASCArchiveFileEntry>& GetDownloadList() const { return m_ToDownload; }
    /// Why each entry of the list was taken, when the last ScanInstall built it.
    const std::vector<CASCSlotCheck::Verdict>& GetScanVerdicts() const { return m_ScanVerdicts; }

    static constexpr quint32 CheckTotal = 1500000;
    /// Ranged requests in flight while streaming.
    static constexpr int MaxInFlight = 3;
    /// Adjacent blobs of one CDN archive go in one request when at most this many bytes lie between them
    /// (cheaper than a round trip on any link worth the name)...
    static constexpr quint64 MergeGap = 64 * 1024;
    /// ...and the request stays within this many bytes.
    static constexpr quint64 MergeSpan = 4 * 1024 * 1024;
    /// A blob above this goes through the spill file instead of memory.
    static constexpr quint64 InMemoryBlob = 16 * 1024 * 1024;
    static constexpr quint64 FreeSpaceCheckAbove = 1073741824;
    static constexpr int DatabaseIntervalMs = 60000;
    /// How often the download database is rewritten while streaming (tests shorten it).
    void SetDatabaseInterval(int p_Ms) { m_DatabaseIntervalMs = p_Ms; }
    static constexpr int MaxAttempts = 3;
    /// "BLTE" and the header size: no blob is shorter.
    static constexpr quint32 BLTEHeaderSize = 8;

private:
    struct ScanResult
    {
        std::vector<CASCArchiveFileEntry> _Entries;
        std::vector<CASCSlotCheck::Verdict> _Verdicts;
    };
    /// Sets p_Cut when a stop made it leave slots unchecked.
    ScanResult ScanArchive(quint8 p_Archive, const std::vector<CASCArchiveFileEntry>& p_Entries,
                           std::atomic<quint32>* p_Done, std::atomic<bool>* p_Cut) const;

    /// Decodes and parses on the thread pool; the outcome is posted back.
    void DecodeEncodingFile(const QString& p_Path, const QString& p_Key);
    /// The pool's outcome, on this thread: an empty p_Message when loaded, else the error to raise.
    void EncodingParsed(std::shared_ptr<std::atomic<bool>> p_CallOff, Errors::Type p_Kind, const QString& p_Message,
                        const QString& p_Path);
    /// The encoding file's closed-range transfer, once its size is known.
    void DownloadEncodingFile(const QString& p_Url, const QString& p_Local, const QString& p_Key, quint64 p_Answered);
    /// The loop of this manager's transfers, a child (the encoding file goes through it whole).
    CASCFetchLoop* NewFetchLoop();
    /// The encoding file's ".part" file, bounded by the range; why not when it cannot be.
    static QString Prepare(CASCFetchRequest& p_File, Errors::Type* p_Kind);
    /// Whether the encoding file's answer is the range asked, whole.
    static CASCFetchLoop::Verdict Judge(CASCFetchRequest& p_File, const Launcher::TransferResult& p_Result);
    /// List entry p_Entry cannot be written: it stays listed, the others go on.
    void SlotFailed(size_t p_Entry, Errors::Type p_Kind, const QString& p_Message);
    /// Requests for p_Entries (list positions in CDN archive and offset order), adjacent blobs merged;
    /// queued at the front (another attempt) or the back.
    void PlanRequests(const std::vector<size_t>& p_Entries, int p_Attempts, bool p_Front);
    /// Starts queued requests while fewer than MaxInFlight run; finishes the stream when none is left.
    void DownloadNextFile();
    void IssueBlobRequest(CASCFetchRequest* p_Request, const QString& p_Base);
    void BlobRequestEnded(CASCFetchRequest* p_Request);
    /// Why a blob request's answer fell short (kind in p_Kind); empty when the answer was right.
    QString BlobRefusal(const CASCFetchRequest& p_Request, Errors::Type* p_Kind) const;
    /// Hands a checked blob held in memory behind 30 bytes of header room (p_Slot) to the slot writer,
    /// which writes it with its header into the slot of list entry p_Entry if the scan would take it.
    /// False (the slot failed) when its archive cannot be opened or grown.
    /// p_ContentKey: the content key its arrival gave, or empty.
    bool HandOverSlot(size_t p_Entry, const QByteArray& p_Key, const QByteArray& p_ContentKey, QByteArray* p_Slot,
                      const QString& p_Url);
    /// The slot writer's outcome for one slot.
    void SlotHandled(const CASCSlotWriter::Result& p_Result);
    /// The archive of list entry p_Entry, open and grown to hold its slot; null (the slot failed) when not.
    QFile* SlotArchive(size_t p_Entry);
    /// The 30-byte entry header of list entry p_Entry's slot.
    QByteArray EntryHeader(size_t p_Entry, const QByteArray& p_Key) const;
    /// Copies the spilled blob of p_Request into its slot off this thread (CASCSpillCopy); SpillCopied
    /// takes the outcome.
    void CopySpill(CASCFetchRequest* p_Request);
    /// The outcome of copy p_Id of p_Request's blob (Failed with no message: already reported).
    void SpillCopied(CASCFetchRequest* p_Request, quint64 p_Id, CASCSpillCopy::Outcome p_Outcome,
                     const QString& p_Message);
    void SlotWritten(size_t p_Entry);
    QString ArchivePath(quint8 p_Archive) const;
    void RewriteIfDue();
    /// The message of a blob served right under its key that no scan would take.
    QString PublishedFault(const QByteArray& p_Key, CASCSlotCheck::Verdict p_Verdict, const QString& p_Url) const;
    /// Closes the archives once a stop left nothing in flight (another process may want them).
    void CloseArchivesIfIdle();
    void FinishStreaming();
    void ProgressTick();
    void RewriteDatabase(size_t p_From);
    /// The list entries whose slot is not written yet, in list order.
    void RewriteRemaining();

    // Owner access: the only place that knows the orchestrator's and the index manager's API.
    QString Folder() const;
    /// "http://HOST/PATH/" of a random CDN host of the current region; empty without one, and
    /// raised unless p_Problem takes the message.
    QString CdnBase(QString* p_Problem = nullptr);
    QString EncodingKey() const;
    const CASCIndexRecord* FindIndexRecord(const char* p_IndexKey) const;
    static quint32 RecordSize(const CASCIndexRecord* p_Record);
    static quint32 RecordOffset(const CASCIndexRecord* p_Record);
    static bool RecordIsPatch(const CASCIndexRecord* p_Record);
    /// The CDN archive's position in the index manager's list.
    static quint16 RecordArchive(const CASCIndexRecord* p_Record);
    static QByteArray RecordKey(const CASCIndexRecord* p_Record);
    QString RecordArchiveName(const CASCIndexRecord* p_Record) const;
    void Raise(Errors::Type p_Kind, const QString& p_Message);

    CASCApplication* m_Owner;                          // set once; the owner outlives it
    CASCFetchLoop* m_Fetch;                            // Init's thread (its stop: any thread); a child
    CASCEncodingMap m_EncodingMap;                     // Init's thread; read-only while the scan's tasks or the slot writer's jobs run
    std::vector<CASCArchiveFileEntry> m_ToDownload;    // Init's thread
    std::vector<CASCSlotCheck::Verdict> m_ScanVerdicts; // Init's thread
    QString m_DownloadDbPath;                          // Init's thread
    Compat::ElapsedTimer m_DatabaseTimer;              // Init's thread
    int m_FileNumber = 0;                              // Init's thread; 1-based: slots done + 1
    std::atomic<bool> m_ScanCancel{false};             // any thread; the scan's tasks read it per slot
    bool m_ScanCancelled = false;                      // Init's thread
    std::atomic<bool> m_Scanning{false};               // any thread; ScanInstall is running
    bool m_Streaming = false;                          // Init's thread; a stream is between start and end
    bool m_StreamFailed = false;                       // Init's thread; the last stream ended with slots unwritten
    std::vector<CASCArchiveFileEntry> m_Failed;        // Init's thread; slots of this stream not written
    enum class Slot : quint8 { Listed, Written, Failed };
    std::vector<Slot> m_SlotState;                     // Init's thread; per entry of the list while streaming
    int m_SlotsDone = 0;                               // Init's thread; written or failed
    std::deque<std::unique_ptr<CASCFetchRequest>> m_Pending;   // Init's thread; requests not yet made
    std::vector<std::unique_ptr<CASCFetchRequest>> m_InFlight; // Init's thread
    std::map<quint8, std::unique_ptr<QFile>> m_Archives;       // Init's thread; open while streaming
    Errors::Type m_FailureKind = Errors::NoCdn;        // Init's thread; the stream's first failure
    QString m_Failure;                                 // Init's thread
    QString m_ExpandProblem;                           // Init's thread; why the last ExpandFile failed
    int m_DatabaseIntervalMs = DatabaseIntervalMs;     // Init's thread
    QFuture<void> m_CopyRun;                           // Init's thread; the pool's copy of a spilled blob
    std::unique_ptr<CASCSlotWriter> m_SlotWriter;      // Init's thread; reads m_EncodingMap from its pool
    quint64 m_CopySerial = 0;                          // Init's thread
    std::atomic<bool> m_CopyCancel{false};             // any thread; set by the destructor
    QFuture<void> m_EncodingRun;                       // Init's thread; the pool's decode and parse
    std::shared_ptr<std::atomic<bool>> m_EncodingCallOff; // Init's thread (the flag: any thread reads)
};

} // namespace CASC
} // namespace Orvane
