#include "casc/CASCArchivesManager.h"

#include "casc/CASCFetchRequest.h"
#include "casc/CASCSpillCopy.h"
#include "casc/CascLog.h"
#include "platform/Platform.h"
#include "platform/PlatformPath.h"

#include <QFile>
#include <QTimer>
#include <QtEndian>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace Orvane {
namespace CASC {

// The slots of the local archives as the stream fills them: a blob held in memory goes to the slot
// writer, a spilled one is copied off this thread; the archives are opened, grown and let go here.

QString CASCArchivesManager::PublishedFault(const QByteArray& p_Key, CASCSlotCheck::Verdict p_Verdict,
                                            const QString& p_Url) const
{
    return "Blob " + QString::fromLatin1(p_Key.toHex()) + " of the published store is refused (" +
           CASCSlotCheck::Name(p_Verdict) + ") for file : " + p_Url;
}

QString CASCArchivesManager::ArchivePath(quint8 p_Archive) const
{
    return Folder() + "data/data/data." + QString::asprintf("%03d", p_Archive);
}

QFile* CASCArchivesManager::SlotArchive(size_t p_Entry)
{
    const CASCArchiveFileEntry& l_Entry = m_ToDownload[p_Entry];
    std::unique_ptr<QFile>& l_Archive = m_Archives[l_Entry._Archive];
    if (!l_Archive)
    {
        l_Archive.reset(new QFile(ArchivePath(l_Entry._Archive)));
        if (!l_Archive->open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        {
            l_Archive.reset();
            SlotFailed(p_Entry, Errors::LocalStorage, "Failed to open archive or download file");
            return nullptr;
        }
    }
    m_ExpandProblem.clear();
    if (!ExpandFile(l_Archive.get(), quint64(l_Entry._Offset) + l_Entry._Size))
    {
        SlotFailed(p_Entry, Errors::LocalStorage, m_ExpandProblem.isEmpty() ? QStringLiteral("Failed to expand the archive to the desired capacity")
                                                         : m_ExpandProblem);
        return nullptr;
    }
    return l_Archive.get();
}

QByteArray CASCArchivesManager::EntryHeader(size_t p_Entry, const QByteArray& p_Key) const
{
    // The encoding key last byte first, the slot's size (header and blob), no flags, no checksums.
    QByteArray l_Header(CASCSlotCheck::EntryHeaderSize, '\0');
    for (int l_I = 0; l_I < 16; ++l_I)
        l_Header[l_I] = p_Key.at(15 - l_I);
    qToLittleEndian<quint32>(RecordSize(m_ToDownload[p_Entry]._IndexRecord) + CASCSlotCheck::EntryHeaderSize,
                             reinterpret_cast<uchar*>(l_Header.data() + 16));
    return l_Header;
}

bool CASCArchivesManager::HandOverSlot(size_t p_Entry, const QByteArray& p_Key, const QByteArray& p_ContentKey,
                                       QByteArray* p_Slot, const QString& p_Url)
{
    const CASCArchiveFileEntry& l_Entry = m_ToDownload[p_Entry];
    if (!SlotArchive(p_Entry))
        return false;
    // The blob was received behind room for its header: header and blob go in one write.
    const QByteArray l_Header = EntryHeader(p_Entry, p_Key);
    std::copy(l_Header.constBegin(), l_Header.constEnd(), p_Slot->data());
    CASCSlotWriter::Job l_Job;
    l_Job._Entry = p_Entry;
    l_Job._Archive = ArchivePath(l_Entry._Archive);
    l_Job._Offset = l_Entry._Offset;
    l_Job._Slot = std::move(*p_Slot);
    l_Job._Key = p_Key;
    l_Job._ContentKey = p_ContentKey;
    l_Job._Url = p_Url;
    m_SlotWriter->Submit(std::move(l_Job));
    return true;
}

void CASCArchivesManager::SlotHandled(const CASCSlotWriter::Result& p_Result)
{
    const CASCSlotWriter::Job& l_Job = p_Result._Job;
    // A new stream may have begun since (Init drains the writer, so only a stop and resume): the slot
    // is still this list's.
    if (l_Job._Entry >= m_SlotState.size() || m_SlotState[l_Job._Entry] != Slot::Listed)
        return;
    switch (p_Result._Outcome)
    {
    case CASCSlotWriter::Outcome::Written:
        SlotWritten(l_Job._Entry);
        break;
    case CASCSlotWriter::Outcome::Refused:
        SlotFailed(l_Job._Entry, Errors::Network, PublishedFault(l_Job._Key, p_Result._Verdict, l_Job._Url));
        break;
    case CASCSlotWriter::Outcome::WriteFailed:
        SlotFailed(l_Job._Entry, Errors::LocalStorage, "Failed to write archive : " + l_Job._Archive +
                                        (p_Result._Error.isEmpty() ? QString() : " " + p_Result._Error));
        break;
    }
    if (m_SlotWriter->Pending() == 0)
    {
        RewriteIfDue();
        DownloadNextFile();
    }
}

void CASCArchivesManager::CopySpill(CASCFetchRequest* p_Request)
{
    p_Request->_CopyHeld = false;
    if (m_Fetch->Stopped())
    {
        p_Request->_CopyHeld = true;
        CloseArchivesIfIdle();
        return;
    }
    const size_t l_Entry = p_Request->_Entries.front();
    if (!SlotArchive(l_Entry))
        return SpillCopied(p_Request, p_Request->_CopyId, CASCSpillCopy::Outcome::Failed, QString());
    const CASCArchiveFileEntry& l_Slot = m_ToDownload[l_Entry];
    CASCSpillCopy::Job l_Job;
    l_Job._Archive = ArchivePath(l_Slot._Archive);
    l_Job._Spill = p_Request->_Blobs->Spill();
    const QByteArray l_Key = p_Request->_Blobs->Key(0);
    l_Job._Header = EntryHeader(l_Entry, l_Key);
    l_Job._IndexKey = RecordKey(l_Slot._IndexRecord);
    l_Job._Offset = l_Slot._Offset;
    l_Job._Size = RecordSize(l_Slot._IndexRecord);
    const QString l_Url = p_Request->_Url;
    const quint64 l_Id = ++m_CopySerial;
    p_Request->_CopyId = l_Id;
    p_Request->_Copying = true;
    // Up to 2 GiB: off this thread, which keeps serving the transfers and the stop.
    m_CopyRun = QtConcurrent::run([this, l_Job, l_Key, l_Url, l_Id, p_Request] {
        const CASCSpillCopy::Result l_Copied =
            CASCSpillCopy::Run(l_Job, m_EncodingMap, [this] { return m_Fetch->Stopped() || m_CopyCancel; });
        const QString l_Message = l_Copied._Outcome == CASCSpillCopy::Outcome::Refused
                                      ? PublishedFault(l_Key, l_Copied._Verdict, l_Url)
                                      : l_Copied._Message;
        const CASCSpillCopy::Outcome l_Outcome = l_Copied._Outcome;
        QMetaObject::invokeMethod(this, [this, p_Request, l_Id, l_Outcome, l_Message] {
            SpillCopied(p_Request, l_Id, l_Outcome, l_Message);
        }, Qt::QueuedConnection);
    });
}

void CASCArchivesManager::SpillCopied(CASCFetchRequest* p_Request, quint64 p_Id, CASCSpillCopy::Outcome p_Outcome,
                                      const QString& p_Message)
{
    auto l_It = std::find_if(m_InFlight.begin(), m_InFlight.end(),
                             [p_Request](const std::unique_ptr<CASCFetchRequest>& p_R) { return p_R.get() == p_Request; });
    if (l_It == m_InFlight.end() || p_Request->_CopyId != p_Id)
        return;
    p_Request->_Copying = false;
    const size_t l_Entry = p_Request->_Entries.front();
    switch (p_Outcome)
    {
    case CASCSpillCopy::Outcome::Stopped:
        // Kept with its spill file: the resume copies it again.
        return CopySpill(p_Request);
    case CASCSpillCopy::Outcome::Whole:
        SlotWritten(l_Entry);
        break;
    case CASCSpillCopy::Outcome::Failed:
        if (!p_Message.isEmpty())
            SlotFailed(l_Entry, Errors::LocalStorage, p_Message);
        break;
    case CASCSpillCopy::Outcome::Refused:
        SlotFailed(l_Entry, Errors::Network, p_Message);
        break;
    }
    m_InFlight.erase(l_It);
    RewriteIfDue();
    QTimer::singleShot(0, this, [this] { DownloadNextFile(); });
}

void CASCArchivesManager::CloseArchivesIfIdle()
{
    // Open for writing, an archive is closed to other processes (the game client, a backup)
    // on Windows: a stopped or failed stream lets go of them; a resume opens them again.
    if (!m_Fetch->Stopped())
        return;
    for (const std::unique_ptr<CASCFetchRequest>& l_Request : m_InFlight)
        if (l_Request->_Engine || l_Request->_Copying)
            return;
    m_Archives.clear();
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
    // A resize, not zeros written here. It is not free: on NTFS it takes the room at once, and the
    // first write past the old end makes the file system write zeros over the gap before it (as
    // many bytes as the gap, in that write's time); elsewhere the gap stays a hole until written.
    if (!p_File->resize(qint64(p_Capacity)))
    {
        m_ExpandProblem = "Failed to write archive : " + p_File->fileName();
        return false;
    }
    return true;
}

} // namespace CASC
} // namespace Orvane
