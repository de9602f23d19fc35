#include "casc/CASCArchivesManager.h"

#include "casc/CASCFetchRequest.h"
#include "casc/CASCDownloadDatabase.h"
#include "casc/CASCErrors.h"
#include "casc/CASCHttpGet.h"
#include "casc/CascLog.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QTimer>

#include <algorithm>

namespace Orvane {
namespace CASC {

using Launcher::Transfer;
using Launcher::TransferResult;

void CASCArchivesManager::StartStreaming()
{
    m_SlotWriter->Drain(); // outcomes of an earlier stream name entries of its own list
    quint64 l_Total = 0;
    for (const CASCArchiveFileEntry& l_Entry : m_ToDownload)
        l_Total += RecordSize(l_Entry._IndexRecord);
    m_Fetch->StartCount(l_Total);
    m_FileNumber = 1;
    m_Streaming = true;
    m_StreamFailed = false;
    m_Failed.clear();
    m_Failure.clear();
    m_Pending.clear();
    m_InFlight.clear();
    m_SlotState.assign(m_ToDownload.size(), Slot::Listed);
    m_SlotsDone = 0;
    m_DatabaseTimer.start();
    m_OnDownloadStarted(1, int(m_ToDownload.size()), 0, m_Fetch->Done(), m_Fetch->Total(), 0);

    std::vector<size_t> l_Fetched;
    for (size_t l_I = 0; l_I < m_ToDownload.size(); ++l_I)
    {
        const CASCArchiveFileEntry& l_Entry = m_ToDownload[l_I];
        const CASCIndexRecord* l_Record = l_Entry._IndexRecord;
        const QString l_KeyHex = QString::fromLatin1(RecordKey(l_Record).toHex());
        // Local problems are not fetched: no answer can mend them.
        if (RecordSize(l_Record) < BLTEHeaderSize)
            SlotFailed(l_I, Errors::LocalStorage, QStringLiteral("Index record of %1 bytes is shorter than a blob header for entry ")
                                   .arg(RecordSize(l_Record)) + l_KeyHex);
        else if (quint64(RecordSize(l_Record)) + CASCSlotCheck::EntryHeaderSize > l_Entry._Size)
            SlotFailed(l_I, Errors::LocalStorage, QStringLiteral("Blob of %1 bytes does not fit its slot of %2 for entry ")
                                   .arg(RecordSize(l_Record)).arg(l_Entry._Size) + l_KeyHex);
        else if (RecordArchiveName(l_Record).size() < 4)
            SlotFailed(l_I, Errors::LocalStorage, "No CDN archive for entry " + l_KeyHex);
        else
            l_Fetched.push_back(l_I);
    }
    // The transfers go by CDN archive and offset, so that neighbours can share a request; what is
    // written is tracked per entry, and the database keeps every entry not written, in list order.
    std::stable_sort(l_Fetched.begin(), l_Fetched.end(), [this](size_t p_A, size_t p_B) {
        const CASCIndexRecord* l_A = m_ToDownload[p_A]._IndexRecord;
        const CASCIndexRecord* l_B = m_ToDownload[p_B]._IndexRecord;
        if (RecordIsPatch(l_A) != RecordIsPatch(l_B))
            return RecordIsPatch(l_B);
        if (RecordArchive(l_A) != RecordArchive(l_B))
            return RecordArchive(l_A) < RecordArchive(l_B);
        return RecordOffset(l_A) < RecordOffset(l_B);
    });
    PlanRequests(l_Fetched, 0, false);
    DownloadNextFile();
}

void CASCArchivesManager::PlanRequests(const std::vector<size_t>& p_Entries, int p_Attempts, bool p_Front)
{
    std::vector<std::unique_ptr<CASCFetchRequest>> l_Planned;
    for (const size_t l_Entry : p_Entries)
    {
        const CASCIndexRecord* l_Record = m_ToDownload[l_Entry]._IndexRecord;
        const quint64 l_From = RecordOffset(l_Record);
        const quint64 l_To = l_From + RecordSize(l_Record) - 1;
        CASCFetchRequest* l_Last = l_Planned.empty() ? nullptr : l_Planned.back().get();
        if (l_Last && !l_Last->_Spills && RecordSize(l_Record) <= InMemoryBlob)
        {
            const CASCIndexRecord* l_Previous = m_ToDownload[l_Last->_Entries.back()]._IndexRecord;
            if (RecordIsPatch(l_Previous) == RecordIsPatch(l_Record) && RecordArchive(l_Previous) == RecordArchive(l_Record) &&
                l_From > quint64(l_Last->_To) && l_From - quint64(l_Last->_To) - 1 <= MergeGap &&
                l_To - l_Last->_From < MergeSpan)
            {
                l_Last->_Entries.push_back(l_Entry);
                l_Last->_To = qint64(l_To);
                continue;
            }
        }
        std::unique_ptr<CASCFetchRequest> l_Request(new CASCFetchRequest);
        l_Request->_Entries.push_back(l_Entry);
        l_Request->_Attempts = p_Attempts;
        l_Request->_From = l_From;
        l_Request->_To = qint64(l_To);
        l_Request->_Spills = RecordSize(l_Record) > InMemoryBlob;
        l_Planned.push_back(std::move(l_Request));
    }
    if (p_Front)
        for (auto l_It = l_Planned.rbegin(); l_It != l_Planned.rend(); ++l_It)
            m_Pending.push_front(std::move(*l_It));
    else
        for (auto& l_Request : l_Planned)
            m_Pending.push_back(std::move(l_Request));
}

void CASCArchivesManager::SlotFailed(size_t p_Entry, Errors::Type p_Kind, const QString& p_Message)
{
    qCWarning(CascLog).noquote() << "CASCArchivesManager::SlotFailed() " + p_Message;
    if (m_Failure.isEmpty())
    {
        m_FailureKind = p_Kind;
        m_Failure = p_Message;
    }
    m_SlotState[p_Entry] = Slot::Failed;
    ++m_SlotsDone;
    m_FileNumber = std::min(m_SlotsDone + 1, qMax(1, int(m_ToDownload.size())));
}

void CASCArchivesManager::DownloadNextFile()
{
    if (!m_Streaming)
        return;
    if (!m_Fetch->Stopped())
    {
        // Copies a stop cut run again from their spill file; nothing is asked twice for them.
        std::vector<CASCFetchRequest*> l_Held;
        for (const std::unique_ptr<CASCFetchRequest>& l_Request : m_InFlight)
            if (l_Request->_CopyHeld)
                l_Held.push_back(l_Request.get());
        for (CASCFetchRequest* l_Request : l_Held)
            CopySpill(l_Request);
    }
    while (!m_Fetch->Stopped() && int(m_InFlight.size()) < MaxInFlight && !m_Pending.empty())
    {
        // One request at a time goes through the spill file: it has one name.
        auto l_Next = m_Pending.begin();
        const bool l_Spilling = std::any_of(m_InFlight.begin(), m_InFlight.end(),
                                            [](const std::unique_ptr<CASCFetchRequest>& p_R) { return p_R->_Spills; });
        while (l_Spilling && l_Next != m_Pending.end() && (*l_Next)->_Spills)
            ++l_Next;
        if (l_Next == m_Pending.end())
            break;
        // Each request (and another attempt) may go to another CDN host of the region.
        QString l_Problem;
        const QString l_Base = CdnBase(&l_Problem);
        if (l_Base.isEmpty())
        {
            // No host to ask: what is not asked yet stays listed, and the stream ends (raising
            // this once) when the requests in flight have.
            for (const std::unique_ptr<CASCFetchRequest>& l_Request : m_Pending)
                for (const size_t l_Entry : l_Request->_Entries)
                    if (m_SlotState[l_Entry] == Slot::Listed)
                        SlotFailed(l_Entry, Errors::NoCdn, l_Problem);
            m_Pending.clear();
            break;
        }
        std::unique_ptr<CASCFetchRequest> l_Request = std::move(*l_Next);
        m_Pending.erase(l_Next);
        CASCFetchRequest* l_Issued = l_Request.get();
        m_InFlight.push_back(std::move(l_Request));
        IssueBlobRequest(l_Issued, l_Base);
    }
    if (!m_Fetch->Stopped() && m_Pending.empty() && m_InFlight.empty() && m_SlotWriter->Pending() == 0)
        FinishStreaming();
}

void CASCArchivesManager::IssueBlobRequest(CASCFetchRequest* p_Request, const QString& p_Base)
{
    const CASCIndexRecord* l_First = m_ToDownload[p_Request->_Entries.front()]._IndexRecord;
    const QString l_Name = RecordArchiveName(l_First);
    p_Request->_Url = p_Base + (RecordIsPatch(l_First) ? "patch" : "data") + "/" + l_Name.left(2) + "/" +
                      l_Name.mid(2, 2) + "/" + l_Name;
    std::vector<CASCBlobSink::Part> l_Parts;
    for (const size_t l_Entry : p_Request->_Entries)
    {
        const CASCIndexRecord* l_Record = m_ToDownload[l_Entry]._IndexRecord;
        CASCBlobSink::Part l_Part;
        l_Part._At = RecordOffset(l_Record) - p_Request->_From;
        l_Part._Size = RecordSize(l_Record);
        l_Part._IndexKey = RecordKey(l_Record);
        l_Parts.push_back(l_Part);
    }
    QString l_Spill;
    if (p_Request->_Spills)
    {
        l_Spill = Folder() + "data/orvane/" + "temp.download";
        QDir().mkpath(Folder() + "data/orvane");
        QFile::remove(l_Spill);
    }
    const qint64 l_Span = p_Request->Expected();
    p_Request->_Blobs = std::make_shared<CASCBlobSink>(
        std::move(l_Parts), l_Span, l_Spill,
        [this, p_Request](size_t p_Part, QByteArray* p_Slot) {
            // A spilled blob is copied into its slot once its transfer has ended (CopySpill).
            if (!p_Slot)
                return true;
            return HandOverSlot(p_Request->_Entries[p_Part], p_Request->_Blobs->Key(p_Part),
                                p_Request->_Blobs->ContentKey(p_Part), p_Slot, p_Request->_Url);
        },
        [this](qint64 p_Bytes) {
            m_Fetch->Count(quint64(p_Bytes));
            ProgressTick();
        });
    p_Request->_Sink = p_Request->_Blobs;
    m_Fetch->Issue(*p_Request, this, [this, p_Request](Transfer*) { BlobRequestEnded(p_Request); });
}

QString CASCArchivesManager::BlobRefusal(const CASCFetchRequest& p_Request, Errors::Type* p_Kind) const
{
    const TransferResult& l_Result = p_Request._Engine->Result();
    const Launcher::TransferResult::Facts& l_Ending = l_Result.Ending;
    const TransferResult::Verdict l_Verdict = l_Result.Outcome;
    *p_Kind = Errors::Network;
    const QString l_For = " for file : " + p_Request._Url;
    // An answer to another request than the one asked is named as such, whatever else went wrong.
    if (l_Verdict != TransferResult::Verdict::WriteFailed && l_Ending.Status == 200 && p_Request._From != 0)
        return "Status 200 instead of 206" + l_For;
    if (l_Verdict == TransferResult::Verdict::WriteFailed)
    {
        *p_Kind = Errors::LocalStorage;
        return "Failed to write download file : " + p_Request._Blobs->Spill() + " " + l_Result.Reason;
    }
    if (l_Verdict == TransferResult::Verdict::TooLarge)
        return "More bytes than asked" + l_For;
    if (l_Verdict != TransferResult::Verdict::Complete && l_Verdict != TransferResult::Verdict::Refused)
    {
        const int l_Code = CASCHttpGet::FailureCode(l_Result);
        if (l_Code != 0)
            return CASCHttpGet::ErrorMessage(l_Code, p_Request._Url);
    }
    if (l_Ending.Status == 206 && l_Ending.RangeStart != qint64(p_Request._From))
        return QStringLiteral("Range from %1 not the one asked").arg(l_Ending.RangeStart) + l_For;
    if (l_Ending.Encoded)
        return "Compressed answer" + l_For;
    const qint64 l_Expected = p_Request.Expected();
    if (l_Result.BodyBytes != l_Expected)
        return QStringLiteral("Received %1 of %2 bytes").arg(l_Result.BodyBytes).arg(l_Expected) + l_For;
    if (l_Verdict != TransferResult::Verdict::Complete)
        return "Status " + QString::number(l_Ending.Status) + l_For;
    return QString();
}

void CASCArchivesManager::BlobRequestEnded(CASCFetchRequest* p_Request)
{
    auto l_It = std::find_if(m_InFlight.begin(), m_InFlight.end(),
                             [p_Request](const std::unique_ptr<CASCFetchRequest>& p_R) { return p_R.get() == p_Request; });
    if (l_It == m_InFlight.end())
        return;
    RewriteIfDue();
    if (p_Request->_Spills && p_Request->_Blobs->Written(0) && m_SlotState[p_Request->_Entries.front()] == Slot::Listed)
    {
        // The whole blob is in the spill file and passed its checks: it stays in flight while
        // it is copied into its slot.
        if (Transfer* l_Engine = p_Request->_Engine)
            l_Engine->deleteLater();
        p_Request->_Engine = nullptr;
        return CopySpill(p_Request);
    }
    std::unique_ptr<CASCFetchRequest> l_Request = std::move(*l_It);
    m_InFlight.erase(l_It);
    Transfer* l_Engine = l_Request->_Engine;
    if (l_Engine)
        l_Engine->deleteLater();
    const CASCBlobSink& l_Sink = *l_Request->_Blobs;
    // What this request did not write is asked again; its bytes are not counted twice.
    std::vector<size_t> l_Left;
    quint64 l_Unreceived = 0;
    for (size_t l_Part = 0; l_Part < l_Request->_Entries.size(); ++l_Part)
    {
        const size_t l_Entry = l_Request->_Entries[l_Part];
        if (l_Sink.Written(l_Part) || m_SlotState[l_Entry] != Slot::Listed)
            continue;
        l_Left.push_back(l_Entry);
        l_Unreceived += l_Sink.Received(l_Part);
    }
    m_Fetch->Uncount(l_Unreceived);
    if (l_Left.empty())
        return DownloadNextFile();
    if (!l_Engine || l_Engine->Result().Outcome == TransferResult::Verdict::Stopped)
    {
        // Held until ResumeDownload asks it again, unless the resume came first.
        PlanRequests(l_Left, l_Request->_Attempts, true);
        CloseArchivesIfIdle();
        return DownloadNextFile();
    }
    Errors::Type l_Kind = Errors::Network;
    QString l_Problem = BlobRefusal(*l_Request, &l_Kind);
    if (l_Problem.isEmpty())
    {
        for (size_t l_Part = 0; l_Part < l_Request->_Entries.size() && l_Problem.isEmpty(); ++l_Part)
            if (!l_Sink.Problem(l_Part).isEmpty())
                l_Problem = l_Sink.Problem(l_Part) + " for file : " + l_Request->_Url;
        if (l_Problem.isEmpty())
            l_Problem = "Blob not written for file : " + l_Request->_Url;
    }
    const int l_Attempts = l_Request->_Attempts + 1;
    if (l_Attempts < MaxAttempts && l_Kind != Errors::LocalStorage)
    {
        qCWarning(CascLog).noquote() << "CASCArchivesManager::FailTransfer() asking again: " + l_Problem;
        PlanRequests(l_Left, l_Attempts, true);
    }
    else
        for (const size_t l_Entry : l_Left)
            SlotFailed(l_Entry, l_Kind, l_Problem);
    // From the event loop: a run of requests that all fail must not nest one call per request.
    QTimer::singleShot(0, this, [this] { DownloadNextFile(); });
}

void CASCArchivesManager::SlotWritten(size_t p_Entry)
{
    m_SlotState[p_Entry] = Slot::Written;
    ++m_SlotsDone;
    m_FileNumber = std::min(m_SlotsDone + 1, qMax(1, int(m_ToDownload.size())));
}

void CASCArchivesManager::RewriteIfDue()
{
    if (m_DatabaseTimer.isValid() && m_DatabaseTimer.elapsed() >= m_DatabaseIntervalMs)
    {
        RewriteRemaining();
        m_DatabaseTimer.restart();
    }
}

void CASCArchivesManager::FinishStreaming()
{
    m_Streaming = false;
    m_Archives.clear();
    const int l_Count = int(m_ToDownload.size());
    m_Failed.clear();
    for (size_t l_I = 0; l_I < m_ToDownload.size(); ++l_I)
        if (m_SlotState[l_I] != Slot::Written)
            m_Failed.push_back(m_ToDownload[l_I]);
    m_SlotState.clear();
    if (!m_Failed.empty())
    {
        // What was not written stays listed, for a resume or the next run.
        m_ToDownload = m_Failed;
        m_Failed.clear();
        m_ScanVerdicts.clear();
        m_StreamFailed = true;
        RewriteDatabase(0);
        Raise(m_FailureKind, m_Failure);
        return;
    }
    m_OnDownloadCompleted(l_Count, l_Count, 100, m_Fetch->Done(), m_Fetch->Total(), 0);
    m_ToDownload.clear();
    m_ScanVerdicts.clear();
    // Nothing is left to fetch: a run that stops now must not fetch it all again.
    RewriteDatabase(0);
    m_OnFinished();
}

void CASCArchivesManager::RewriteRemaining()
{
    if (m_DownloadDbPath.isEmpty())
        return;
    std::vector<QByteArray> l_Keys;
    for (size_t l_I = 0; l_I < m_ToDownload.size(); ++l_I)
        if (l_I >= m_SlotState.size() || m_SlotState[l_I] != Slot::Written)
            l_Keys.push_back(RecordKey(m_ToDownload[l_I]._IndexRecord));
    QString l_Error;
    if (!CASCDownloadDatabase::Write(m_DownloadDbPath, l_Keys, &l_Error))
        Raise(Errors::LocalStorage, "Failed to write the download list " + l_Error);
}

} // namespace CASC
} // namespace Orvane
