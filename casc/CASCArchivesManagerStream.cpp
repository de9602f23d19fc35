#include "casc/CASCArchivesManager.h"

#include "casc/BLTEHandler.h"
#include "casc/CASCArchiveTransfer.h"
#include "platform/Platform.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDataStream>
#include <QDebug>
#include <QFile>
#include <QTimer>
#include <QtEndian>

#include <cstring>

namespace Orvane {
namespace CASC {

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
    m_Rate.Start(0);
    m_DatabaseTimer.start();
    m_OnDownloadStarted(1, int(m_ToDownload.size()), 0, m_BytesDone, m_BytesTotal, 0);
    DownloadNextFile();
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
    if (m_Streaming)
        SlotFailed(p_Kind, p_Message);
    else
        Raise(p_Kind, p_Message);
}

void CASCArchivesManager::SlotFailed(int p_Kind, const QString& p_Message)
{
    qWarning().noquote() << "CASCArchivesManager::SlotFailed() " + p_Message;
    if (m_Failure.isEmpty())
    {
        m_FailureKind = p_Kind;
        m_Failure = p_Message;
    }
    m_Failed.push_back(m_ToDownload[size_t(m_FileNumber - 1)]);
    m_Transfer->_Stopped = true;
    m_Transfer->_Retry = nullptr;
    ++m_FileNumber;
    // From the event loop: a run of slots that all fail must not nest one call per slot.
    QTimer::singleShot(0, this, [this] { DownloadNextFile(); });
}

void CASCArchivesManager::DownloadNextFile()
{
    if (m_Stopped)
    {
        m_Held = [this] { DownloadNextFile(); };
        return;
    }
    const int l_Count = int(m_ToDownload.size());
    if (m_FileNumber == l_Count + 1)
    {
        m_Streaming = false;
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
        return;
    }
    const CASCArchiveFileEntry& l_Entry = m_ToDownload[size_t(m_FileNumber - 1)];
    const CASCIndexRecord* l_Record = l_Entry._IndexRecord;
    const QString l_KeyHex = QString::fromLatin1(RecordKey(l_Record).toHex());
    // Local problems are not fetched: no answer can mend them.
    if (RecordSize(l_Record) < BLTEHeaderSize)
        return SlotFailed(1, QStringLiteral("Index record of %1 bytes is shorter than a blob header for entry ")
                                     .arg(RecordSize(l_Record)) + l_KeyHex);
    if (quint64(RecordSize(l_Record)) + CASCSlotCheck::EntryHeaderSize > l_Entry._Size)
        return SlotFailed(1, QStringLiteral("Blob of %1 bytes does not fit its slot of %2 for entry ")
                                     .arg(RecordSize(l_Record)).arg(l_Entry._Size) + l_KeyHex);
    const QString l_Base = CdnBase();
    const QString l_Name = RecordArchiveName(l_Record);
    if (l_Base.isEmpty())
    {
        m_Transfer->_Stopped = true;
        m_Streaming = false;
        return;
    }
    if (l_Name.size() < 4)
        return SlotFailed(1, "No CDN archive for entry " + l_KeyHex);
    const QString l_Url = l_Base + (RecordIsPatch(l_Record) ? "patch" : "data") + "/" + l_Name.left(2) + "/" +
                          l_Name.mid(2, 2) + "/" + l_Name;
    const QString l_Scratch = Folder() + "data/orvane/" + "temp.download";
    QFile::remove(l_Scratch);
    const quint64 l_From = RecordOffset(l_Record);
    StartDownload(l_Url, l_Scratch, l_From, qint64(l_From) + qint64(RecordSize(l_Record)) - 1,
                  [this] { WriteDownloadedEntry(); });
    // Another attempt at this blob may go to another CDN host.
    m_Transfer->_Retry = [this] { DownloadNextFile(); };
}

void CASCArchivesManager::WriteDownloadedEntry()
{
    const CASCArchiveFileEntry l_Entry = m_ToDownload[size_t(m_FileNumber - 1)];
    QFile l_Scratch(m_Transfer->_Path);
    QFile l_Archive(Folder() + "data/data/data." + QString::asprintf("%03d", l_Entry._Archive));
    if (!l_Scratch.open(QIODevice::ReadOnly) || !l_Archive.open(QIODevice::ReadWrite))
        return SlotFailed(1, "Failed to open archive or download file");
    const QByteArray l_Blob = l_Scratch.readAll();
    l_Scratch.close();
    const QString l_Problem = CheckBlob(l_Blob, l_Entry);
    if (!l_Problem.isEmpty())
    {
        FailTransfer(2, l_Problem + " for file : " + m_Transfer->_Url);
        return;
    }
    m_ExpandProblem.clear();
    if (!ExpandFile(&l_Archive, quint64(l_Entry._Offset) + l_Entry._Size))
    {
        l_Archive.close();
        return SlotFailed(1, m_ExpandProblem.isEmpty() ? QStringLiteral("Failed to expand the archive to the desired capacity")
                                                       : m_ExpandProblem);
    }
    QBuffer l_Buffer;
    l_Buffer.setData(l_Blob);
    l_Buffer.open(QIODevice::ReadOnly);
    QDataStream l_Stream(&l_Buffer);
    const QByteArray l_Key = BLTEHandler::ExtractEntryMD5(l_Stream, quint64(l_Blob.size()));
    QByteArray l_Header(CASCSlotCheck::EntryHeaderSize, '\0');
    for (int l_I = 0; l_I < 16; ++l_I)
        l_Header[l_I] = l_Key.at(15 - l_I);
    // Header plus blob, not the local index's slot size: what the next scan compares with the
    // blob size of the archive index.
    qToLittleEndian(quint32(CASCSlotCheck::EntryHeaderSize + l_Blob.size()),
                    reinterpret_cast<uchar*>(l_Header.data() + 16));
    const bool l_Written = l_Archive.seek(l_Entry._Offset) && l_Archive.write(l_Header) == l_Header.size() &&
                           l_Archive.write(l_Blob) == l_Blob.size() && l_Archive.flush();
    l_Archive.close();
    if (!l_Written)
        return SlotFailed(1, "Failed to write archive : " + l_Archive.fileName());
    ++m_FileNumber;
    DownloadNextFile();
}

QString CASCArchivesManager::CheckBlob(const QByteArray& p_Blob, const CASCArchiveFileEntry& p_Entry) const
{
    const CASCIndexRecord* l_Record = p_Entry._IndexRecord;
    if (quint64(p_Blob.size()) != RecordSize(l_Record))
        return QStringLiteral("Received %1 bytes instead of %2").arg(p_Blob.size()).arg(RecordSize(l_Record));
    if (quint64(p_Blob.size()) + CASCSlotCheck::EntryHeaderSize > p_Entry._Size)
        return QStringLiteral("Blob of %1 bytes does not fit its slot of %2").arg(p_Blob.size()).arg(p_Entry._Size);
    QBuffer l_Buffer;
    l_Buffer.setData(p_Blob);
    l_Buffer.open(QIODevice::ReadOnly);
    QDataStream l_Stream(&l_Buffer);
    const QByteArray l_Key = BLTEHandler::ExtractEntryMD5(l_Stream, quint64(p_Blob.size()));
    if (l_Key.size() != 16 || l_Key.left(9) != RecordKey(l_Record))
        return QStringLiteral("Blob is not ") + QString::fromLatin1(RecordKey(l_Record).toHex());
    l_Buffer.seek(0);
    QByteArray l_Content;
    if (BLTEHandler::ExtractData(l_Stream, quint64(p_Blob.size()), l_Key.constData(), l_Content) != BLTEHandler::Ok)
        return QStringLiteral("Blob does not decode");
    const CASCEncodingRecord* l_Encoding = m_EncodingMap.Find(l_Key.constData());
    if (l_Encoding &&
        std::memcmp(QCryptographicHash::hash(l_Content, QCryptographicHash::Md5).constData(), l_Encoding->ContentKey, 16))
        return QStringLiteral("Blob decodes to other content");
    return QString();
}

bool CASCArchivesManager::ExpandFile(QFile* p_File, quint64 p_Capacity)
{
    const quint64 l_Size = quint64(p_File->size());
    if (p_Capacity <= l_Size)
        return true;
    p_File->seek(qint64(l_Size));
    const quint64 l_Growth = p_Capacity - l_Size;
    // The install folder's own volume, asked without touching the process's current directory.
    // An unknown figure (-1) lets the writes below find out.
    const qint64 l_Free = Launcher::Platform::FreeDiskSpace(QFile::encodeName(Folder()).toStdString());
    // The caller reports the reason with the slot it was growing the archive for.
    if (l_Free >= 0 && quint64(l_Free) < l_Growth && p_Capacity > FreeSpaceCheckAbove)
    {
        m_ExpandProblem = QStringLiteral("No enought free space on disk");
        return false;
    }
    static const QByteArray s_Zeros(ExpandPiece, '\0');
    for (quint64 l_Left = l_Growth; l_Left > 0;)
    {
        const qint64 l_Piece = qint64(qMin<quint64>(l_Left, ExpandPiece));
        if (p_File->write(s_Zeros.constData(), l_Piece) != l_Piece)
        {
            m_ExpandProblem = "Failed to write archive : " + p_File->fileName();
            return false;
        }
        l_Left -= quint64(l_Piece);
    }
    return true;
}

} // namespace CASC
} // namespace Orvane
