#include "casc/CASCArchivesManager.h"

#include "casc/CASCBlobRequest.h"
#include "casc/CASCDownloadDatabase.h"
#include "casc/CASCHttpGet.h"
#include "platform/FileWriter.h"
#include "platform/Platform.h"
#include "platform/PlatformPath.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QTimer>
#include <QtEndian>

#include <algorithm>

namespace Orvane {
namespace CASC {

using Launcher::Transfer;
using Launcher::TransferResult;
using Launcher::TransferVerdict;

void CASCArchivesManager::StartStreaming()
{
    m_BytesTotal = 0;
    for (const CASCArchiveFileEntry& l_Entry : m_ToDownload)
        m_BytesTotal += RecordSize(l_Entry._IndexRecord);
    m_BytesDone = 0;
    m_FileNumber = 1;
    m_Streaming = true;
    m_StreamFailed = false;
    m_Failed.clear();
    m_Failure.clear();
    m_Pending.clear();
    m_InFlight.clear();
    m_SlotState.assign(m_ToDownload.size(), Slot::Listed);
    m_SlotsDone = 0;
    m_Rate.Start(0);
    m_DatabaseTimer.start();
    m_OnDownloadStarted(1, int(m_ToDownload.size()), 0, m_BytesDone, m_BytesTotal, 0);

    std::vector<size_t> l_Fetched;
    for (size_t l_I = 0; l_I < m_ToDownload.size(); ++l_I)
    {
        const CASCArchiveFileEntry& l_Entry = m_ToDownload[l_I];
        const CASCIndexRecord* l_Record = l_Entry._IndexRecord;
        const QString l_KeyHex = QString::fromLatin1(RecordKey(l_Record).toHex());
        // Local problems are not fetched: no answer can mend them.
        if (RecordSize(l_Record) < BLTEHeaderSize)
            SlotFailed(l_I, 1, QStringLiteral("Index record of %1 bytes is shorter than a blob header for entry ")
                                   .arg(RecordSize(l_Record)) + l_KeyHex);
        else if (quint64(RecordSize(l_Record)) + CASCSlotCheck::EntryHeaderSize > l_Entry._Size)
            SlotFailed(l_I, 1, QStringLiteral("Blob of %1 bytes does not fit its slot of %2 for entry ")
                                   .arg(RecordSize(l_Record)).arg(l_Entry._Size) + l_KeyHex);
        else if (RecordArchiveName(l_Record).size() < 4)
            SlotFailed(l_I, 1, "No CDN archive for entry " + l_KeyHex);
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
    std::vector<std::unique_ptr<CASCBlobRequest>> l_Planned;
    for (const size_t l_Entry : p_Entries)
    {
        const CASCIndexRecord* l_Record = m_ToDownload[l_Entry]._IndexRecord;
        const quint64 l_From = RecordOffset(l_Record);
        const quint64 l_To = l_From + RecordSize(l_Record) - 1;
        CASCBlobRequest* l_Last = l_Planned.empty() ? nullptr : l_Planned.back().get();
        if (l_Last && !l_Last->_Spills && RecordSize(l_Record) <= InMemoryBlob)
        {
            const CASCIndexRecord* l_Previous = m_ToDownload[l_Last->_Entries.back()]._IndexRecord;
            if (RecordIsPatch(l_Previous) == RecordIsPatch(l_Record) && RecordArchive(l_Previous) == RecordArchive(l_Record) &&
                l_From > l_Last->_To && l_From - l_Last->_To - 1 <= MergeGap && l_To - l_Last->_From < MergeSpan)
            {
                l_Last->_Entries.push_back(l_Entry);
                l_Last->_To = l_To;
                continue;
            }
        }
        std::unique_ptr<CASCBlobRequest> l_Request(new CASCBlobRequest);
        l_Request->_Entries.push_back(l_Entry);
        l_Request->_Attempts = p_Attempts;
        l_Request->_From = l_From;
        l_Request->_To = l_To;
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

void CASCArchivesManager::Step(std::function<void()> p_Step)
{
    if (m_Stopped)
        m_Held = std::move(p_Step);
    else
        p_Step();
}

void CASCArchivesManager::TransferFailed(int p_Kind, const QString& p_Message)
{
    Raise(p_Kind, p_Message);
}

void CASCArchivesManager::SlotFailed(size_t p_Entry, int p_Kind, const QString& p_Message)
{
    qWarning().noquote() << "CASCArchivesManager::SlotFailed() " + p_Message;
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
    while (!m_Stopped && int(m_InFlight.size()) < MaxInFlight && !m_Pending.empty())
    {
        // One request at a time goes through the spill file: it has one name.
        auto l_Next = m_Pending.begin();
        const bool l_Spilling = std::any_of(m_InFlight.begin(), m_InFlight.end(),
                                            [](const std::unique_ptr<CASCBlobRequest>& p_R) { return p_R->_Spills; });
        while (l_Spilling && l_Next != m_Pending.end() && (*l_Next)->_Spills)
            ++l_Next;
        if (l_Next == m_Pending.end())
            break;
        std::unique_ptr<CASCBlobRequest> l_Request = std::move(*l_Next);
        m_Pending.erase(l_Next);
        CASCBlobRequest* l_Issued = l_Request.get();
        m_InFlight.push_back(std::move(l_Request));
        IssueBlobRequest(l_Issued);
        if (!m_Streaming)
            return; // no CDN host: raised
    }
    if (!m_Stopped && m_Pending.empty() && m_InFlight.empty())
        FinishStreaming();
}

void CASCArchivesManager::IssueBlobRequest(CASCBlobRequest* p_Request)
{
    const CASCIndexRecord* l_First = m_ToDownload[p_Request->_Entries.front()]._IndexRecord;
    // Each request (and another attempt) may go to another CDN host of the region.
    const QString l_Base = CdnBase();
    if (l_Base.isEmpty())
    {
        m_Streaming = false;
        return;
    }
    const QString l_Name = RecordArchiveName(l_First);
    p_Request->_Url = l_Base + (RecordIsPatch(l_First) ? "patch" : "data") + "/" + l_Name.left(2) + "/" +
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
    const qint64 l_Span = qint64(p_Request->_To - p_Request->_From + 1);
    p_Request->_Sink = std::make_shared<CASCBlobSink>(
        std::move(l_Parts), l_Span, l_Spill,
        [this, p_Request](size_t p_Part, QByteArray* p_Slot) {
            const size_t l_Entry = p_Request->_Entries[p_Part];
            const bool l_Written = WriteDownloadedEntry(l_Entry, p_Request->_Sink->Key(p_Part), p_Slot, p_Request->_Sink->Spill());
            if (l_Written)
            {
                m_SlotState[l_Entry] = Slot::Written;
                ++m_SlotsDone;
                m_FileNumber = std::min(m_SlotsDone + 1, qMax(1, int(m_ToDownload.size())));
            }
            return l_Written;
        },
        [this](qint64 p_Bytes) {
            m_BytesDone += quint64(p_Bytes);
            ProgressTick();
        });
    Transfer* l_Engine = NewTransfer();
    CASCHttpGet::KeepWith(l_Engine, p_Request->_Sink);
    p_Request->_Engine = l_Engine;
    connect(l_Engine, &Transfer::Ended, this, [this, p_Request] { BlobRequestEnded(p_Request); });
    Launcher::TransferRequest l_Asked;
    l_Asked.Url = p_Request->_Url;
    l_Asked.From = qint64(p_Request->_From);
    l_Asked.To = qint64(p_Request->_To);
    l_Engine->Start(l_Asked, p_Request->_Sink.get());
}

QString CASCArchivesManager::BlobRefusal(const CASCBlobRequest& p_Request, int* p_Kind) const
{
    const TransferResult& l_Result = p_Request._Engine->Result();
    const Launcher::TransferEnding& l_Ending = l_Result.Ending;
    const TransferVerdict l_Verdict = l_Result.Outcome.Verdict;
    *p_Kind = 2;
    const QString l_For = " for file : " + p_Request._Url;
    // An answer to another request than the one asked is named as such, whatever else went wrong.
    if (l_Verdict != TransferVerdict::WriteFailed && l_Ending.Status == 200 && p_Request._From != 0)
        return "Status 200 instead of 206" + l_For;
    if (l_Verdict == TransferVerdict::WriteFailed)
    {
        *p_Kind = 1;
        return "Failed to write download file : " + p_Request._Sink->Spill() + " " + l_Result.Reason;
    }
    if (l_Verdict == TransferVerdict::TooLarge)
        return "More bytes than asked" + l_For;
    if (l_Verdict != TransferVerdict::Complete && l_Verdict != TransferVerdict::Refused)
    {
        const int l_Code = CASCHttpGet::FailureCode(l_Result);
        if (l_Code != 0)
            return CASCHttpGet::ErrorMessage(l_Code, p_Request._Url);
    }
    if (l_Ending.Status == 206 && l_Ending.RangeStart != qint64(p_Request._From))
        return QStringLiteral("Range from %1 not the one asked").arg(l_Ending.RangeStart) + l_For;
    if (l_Ending.Encoded)
        return "Compressed answer" + l_For;
    const qint64 l_Expected = qint64(p_Request._To - p_Request._From + 1);
    if (l_Result.BodyBytes != l_Expected)
        return QStringLiteral("Received %1 of %2 bytes").arg(l_Result.BodyBytes).arg(l_Expected) + l_For;
    if (l_Verdict != TransferVerdict::Complete)
        return "Status " + QString::number(l_Ending.Status) + l_For;
    return QString();
}

void CASCArchivesManager::BlobRequestEnded(CASCBlobRequest* p_Request)
{
    auto l_It = std::find_if(m_InFlight.begin(), m_InFlight.end(),
                             [p_Request](const std::unique_ptr<CASCBlobRequest>& p_R) { return p_R.get() == p_Request; });
    if (l_It == m_InFlight.end())
        return;
    std::unique_ptr<CASCBlobRequest> l_Request = std::move(*l_It);
    m_InFlight.erase(l_It);
    Transfer* l_Engine = l_Request->_Engine;
    if (l_Engine)
        l_Engine->deleteLater();
    if (m_DatabaseTimer.isValid() && m_DatabaseTimer.elapsed() >= DatabaseIntervalMs)
    {
        RewriteRemaining();
        m_DatabaseTimer.restart();
    }
    const CASCBlobSink& l_Sink = *l_Request->_Sink;
    // What this request did not write is asked again; its bytes are not counted twice.
    std::vector<size_t> l_Left;
    for (size_t l_Part = 0; l_Part < l_Request->_Entries.size(); ++l_Part)
    {
        const size_t l_Entry = l_Request->_Entries[l_Part];
        if (l_Sink.Written(l_Part) || m_SlotState[l_Entry] != Slot::Listed)
            continue;
        l_Left.push_back(l_Entry);
        m_BytesDone -= l_Sink.Received(l_Part);
    }
    m_Rate.Lower(m_BytesDone);
    if (l_Left.empty())
        return DownloadNextFile();
    if (!l_Engine || l_Engine->Result().Outcome.Verdict == TransferVerdict::Stopped)
    {
        // Held until ResumeDownload asks it again, unless the resume came first.
        PlanRequests(l_Left, l_Request->_Attempts, true);
        return DownloadNextFile();
    }
    int l_Kind = 2;
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
    if (l_Attempts < MaxAttempts && l_Kind != 1)
    {
        qWarning().noquote() << "CASCArchivesManager::FailTransfer() asking again: " + l_Problem;
        PlanRequests(l_Left, l_Attempts, true);
    }
    else
        for (const size_t l_Entry : l_Left)
            SlotFailed(l_Entry, l_Kind, l_Problem);
    // From the event loop: a run of requests that all fail must not nest one call per request.
    QTimer::singleShot(0, this, [this] { DownloadNextFile(); });
}

bool CASCArchivesManager::WriteDownloadedEntry(size_t p_Entry, const QByteArray& p_Key, QByteArray* p_Slot,
                                               const QString& p_Spill)
{
    const CASCArchiveFileEntry& l_Entry = m_ToDownload[p_Entry];
    const quint32 l_BlobSize = RecordSize(l_Entry._IndexRecord);
    const QString l_Path = Folder() + "data/data/data." + QString::asprintf("%03d", l_Entry._Archive);
    std::unique_ptr<QFile>& l_Archive = m_Archives[l_Entry._Archive];
    if (!l_Archive)
    {
        l_Archive.reset(new QFile(l_Path));
        if (!l_Archive->open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        {
            l_Archive.reset();
            SlotFailed(p_Entry, 1, "Failed to open archive or download file");
            return false;
        }
    }
    m_ExpandProblem.clear();
    if (!ExpandFile(l_Archive.get(), quint64(l_Entry._Offset) + l_Entry._Size))
    {
        SlotFailed(p_Entry, 1, m_ExpandProblem.isEmpty() ? QStringLiteral("Failed to expand the archive to the desired capacity")
                                                         : m_ExpandProblem);
        return false;
    }
    // The header: the encoding key last byte first, the slot's size (header and blob), no flags, no checksums.
    char l_Header[CASCSlotCheck::EntryHeaderSize] = {};
    for (int l_I = 0; l_I < 16; ++l_I)
        l_Header[l_I] = p_Key.at(15 - l_I);
    qToLittleEndian<quint32>(l_BlobSize + CASCSlotCheck::EntryHeaderSize, reinterpret_cast<uchar*>(l_Header + 16));
    QString l_Error;
    bool l_Written = l_Archive->seek(l_Entry._Offset);
    if (l_Written && p_Slot)
    {
        // Header and blob in one write: the blob was received behind room for the header.
        std::copy(l_Header, l_Header + CASCSlotCheck::EntryHeaderSize, p_Slot->data());
        l_Written = Launcher::FileWriter::Write(*l_Archive, *p_Slot, &l_Error) == p_Slot->size();
    }
    else if (l_Written)
    {
        // Above the memory bound: header and the first piece in one write, then the rest in order.
        QFile l_Spill(p_Spill);
        l_Written = l_Spill.open(QIODevice::ReadOnly);
        QByteArray l_Piece(l_Header, CASCSlotCheck::EntryHeaderSize);
        for (qint64 l_Left = l_BlobSize; l_Written && l_Left > 0;)
        {
            const QByteArray l_Read = l_Spill.read(std::min<qint64>(l_Left, 4 * 1024 * 1024));
            l_Piece.append(l_Read);
            l_Written = !l_Read.isEmpty() && Launcher::FileWriter::Write(*l_Archive, l_Piece, &l_Error) == l_Piece.size();
            l_Left -= l_Read.size();
            l_Piece.clear();
        }
    }
    if (!l_Written)
    {
        SlotFailed(p_Entry, 1, "Failed to write archive : " + l_Path + (l_Error.isEmpty() ? QString() : " " + l_Error));
        return false;
    }
    return true;
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
    m_OnDownloadCompleted(l_Count, l_Count, 100, m_BytesDone, m_BytesTotal, 0);
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
        Raise(1, "Failed to write the download list " + l_Error);
}

bool CASCArchivesManager::ExpandFile(QFile* p_File, quint64 p_Capacity)
{
    const quint64 l_Size = quint64(p_File->size());
    if (p_Capacity <= l_Size)
        return true;
    const quint64 l_Growth = p_Capacity - l_Size;
    // The install folder's own volume, asked without touching the process's current directory.
    // An unknown figure (-1) lets the writes find out.
    const qint64 l_Free = Launcher::Platform::FreeDiskSpace(Launcher::PlatformPath(Folder()));
    // The caller reports the reason with the slot it was growing the archive for.
    if (l_Free >= 0 && quint64(l_Free) < l_Growth && p_Capacity > FreeSpaceCheckAbove)
    {
        m_ExpandProblem = QStringLiteral("No enought free space on disk");
        return false;
    }
    // A resize, not zeros written: the slots are written next, and a hole costs neither time nor room.
    if (!p_File->resize(qint64(p_Capacity)))
    {
        m_ExpandProblem = "Failed to write archive : " + p_File->fileName();
        return false;
    }
    return true;
}

} // namespace CASC
} // namespace Orvane
