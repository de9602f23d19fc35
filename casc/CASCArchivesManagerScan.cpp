#include "casc/CASCArchivesManager.h"

#include "casc/CASCDownloadDatabase.h"
#include "casc/CASCLocalIndex.h"
#include "casc/CascLog.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSemaphore>
#include <QtConcurrent>

#include <map>

namespace Orvane {
namespace CASC {

QStringList CASCArchivesManager::ListIndexFiles() const
{
    return CASCLocalIndex::List(Folder());
}

std::vector<CASCArchiveFileEntry> CASCArchivesManager::ReadIndexFile(const QString& p_Path) const
{
    std::vector<CASCArchiveFileEntry> l_Result;
    std::vector<CASCLocalIndexEntry> l_Entries;
    QString l_Error;
    int l_Skipped = 0;
    if (!CASCLocalIndex::Read(p_Path, l_Entries, l_Error, &l_Skipped))
    {
        qCWarning(CascLog).noquote() << "CASCArchivesManager::ReadIndexFile() skipped: " + l_Error;
        return l_Result;
    }
    if (l_Skipped > 0)
        qCWarning(CascLog).noquote() << "CASCArchivesManager::ReadIndexFile() " + QString::number(l_Skipped) +
                                            " slots beyond 4 GiB skipped in " + p_Path;
    l_Result.reserve(l_Entries.size());
    for (const CASCLocalIndexEntry& l_Entry : l_Entries)
        if (const CASCIndexRecord* l_Record = FindIndexRecord(l_Entry.Key))
            l_Result.push_back({l_Record, l_Entry.Archive, l_Entry.Offset, l_Entry.Size});
    return l_Result;
}

bool CASCArchivesManager::ReadIndexFiles(std::vector<CASCArchiveFileEntry>& p_Entries, bool* p_Cut)
{
    // Every bucket has its index: a missing one would leave its slots unchecked.
    const QStringList l_Paths = ListIndexFiles();
    const QString l_Folder = Folder() + "data/data/";
    for (int l_Bucket = 0, l_Next = 0; l_Bucket < 16; ++l_Bucket)
    {
        const QString l_Prefix = QString::asprintf("%02x", l_Bucket);
        if (l_Next < l_Paths.size() && QFileInfo(l_Paths.at(l_Next)).fileName().startsWith(l_Prefix))
        {
            ++l_Next;
            continue;
        }
        Raise(Errors::LocalStorage, "CASCArchivesManager::ScanInstall() missing index file : " + l_Folder + l_Prefix + "*.idx");
        return false;
    }
    for (const QString& l_Path : l_Paths)
    {
        if (m_ScanCancel)
        {
            if (p_Cut)
                *p_Cut = true;
            return false;
        }
        std::vector<CASCLocalIndexEntry> l_Entries;
        QString l_Error;
        int l_Skipped = 0;
        if (!CASCLocalIndex::Read(l_Path, l_Entries, l_Error, &l_Skipped))
        {
            Raise(Errors::LocalStorage, "CASCArchivesManager::ScanInstall() damaged index file : " + l_Error);
            return false;
        }
        if (l_Skipped > 0)
            qCWarning(CascLog).noquote() << "CASCArchivesManager::ReadIndexFile() " + QString::number(l_Skipped) +
                                                " slots beyond 4 GiB skipped in " + l_Path;
        for (const CASCLocalIndexEntry& l_Entry : l_Entries)
            if (const CASCIndexRecord* l_Record = FindIndexRecord(l_Entry.Key))
                p_Entries.push_back({l_Record, l_Entry.Archive, l_Entry.Offset, l_Entry.Size});
    }
    return true;
}

bool CASCArchivesManager::ScanInstall()
{
    qCWarning(CascLog).noquote() << "CASCArchivesManager::ScanInstall() start";
    m_Scanning = true;
    m_ScanCancelled = false;
    struct Scanning
    {
        std::atomic<bool>& m_Flag;
        ~Scanning() { m_Flag = false; }
    } l_Scanning{m_Scanning};
    std::map<quint8, std::vector<CASCArchiveFileEntry>> l_Groups;
    quint32 l_Total = 0;
    std::vector<CASCArchiveFileEntry> l_Entries;
    // Latched for this scan: a resume clears the flag, never the fact that slots were skipped.
    bool l_IndexCut = false;
    if (!ReadIndexFiles(l_Entries, &l_IndexCut))
    {
        m_ScanCancelled = l_IndexCut;
        if (m_ScanCancelled)
            qCWarning(CascLog).noquote() << "CASCArchivesManager::ScanInstall() cancelled";
        return false;
    }
    for (const CASCArchiveFileEntry& l_Entry : l_Entries)
    {
        l_Groups[l_Entry._Archive].push_back(l_Entry);
        ++l_Total;
    }

    // One task per archive; each releases the semaphore when it ends, so the poll wakes for
    // the last one instead of sleeping out its second.
    std::atomic<quint32> l_Done(0);
    std::atomic<bool> l_Cut(false);
    QSemaphore l_Ended;
    std::vector<QFuture<ScanResult>> l_Tasks;
    for (const auto& l_Group : l_Groups)
    {
        const quint8 l_Archive = l_Group.first;
        const std::vector<CASCArchiveFileEntry>* l_Entries = &l_Group.second;
        l_Tasks.push_back(QtConcurrent::run([this, l_Archive, l_Entries, &l_Done, &l_Cut, &l_Ended] {
            ScanResult l_Result = ScanArchive(l_Archive, *l_Entries, &l_Done, &l_Cut);
            l_Ended.release();
            return l_Result;
        }));
    }
    const auto l_Report = [&] {
        const quint32 l_Now = l_Done.load();
        m_OnCheckProgress(l_Now, l_Total);
        qCWarning(CascLog).noquote() << QString::number(l_Now) + "/" + QString::number(l_Total);
    };
    QElapsedTimer l_Tick;
    l_Tick.start();
    size_t l_Finished = 0;
    while (l_Finished < l_Tasks.size())
    {
        const qint64 l_Left = 1000 - l_Tick.elapsed();
        if (l_Left > 0 && l_Ended.tryAcquire(1, int(l_Left)))
        {
            ++l_Finished;
            continue;
        }
        l_Report();
        l_Tick.restart();
    }
    l_Report();
    if (l_Cut || m_ScanCancel)
    {
        // Part of the slots were not checked: the list and the database stay as they were.
        qCWarning(CascLog).noquote() << "CASCArchivesManager::ScanInstall() cancelled";
        m_ScanCancelled = true;
        return false;
    }

    m_ToDownload.clear();
    m_ScanVerdicts.clear();
    for (QFuture<ScanResult>& l_Task : l_Tasks)
    {
        const ScanResult l_Result = l_Task.result();
        m_ToDownload.insert(m_ToDownload.end(), l_Result._Entries.begin(), l_Result._Entries.end());
        m_ScanVerdicts.insert(m_ScanVerdicts.end(), l_Result._Verdicts.begin(), l_Result._Verdicts.end());
    }
    RewriteDatabase(0);
    return true;
}

CASCArchivesManager::ScanResult CASCArchivesManager::ScanArchive(quint8 p_Archive,
                                                                 const std::vector<CASCArchiveFileEntry>& p_Entries,
                                                                 std::atomic<quint32>* p_Done,
                                                                 std::atomic<bool>* p_Cut) const
{
    ScanResult l_Result;
    const QString l_Path = Folder() + "data/data/data." + QString::asprintf("%03d", p_Archive);
    QFile l_Archive(l_Path);
    if (!l_Archive.open(QIODevice::ReadOnly))
    {
        qCWarning(CascLog).noquote() << "CASCArchivesManager::ScanInstall() Failed to open archive : " + l_Path;
        *p_Done += quint32(p_Entries.size());
        l_Result._Entries = p_Entries;
        l_Result._Verdicts.assign(p_Entries.size(), CASCSlotCheck::Verdict::MissingArchive);
        return l_Result;
    }
    const qint64 l_Size = l_Archive.size();
    for (const CASCArchiveFileEntry& l_Entry : p_Entries)
    {
        if (m_ScanCancel)
        {
            *p_Cut = true;
            break;
        }
        const QByteArray l_Key = RecordKey(l_Entry._IndexRecord);
        const CASCSlotCheck::Verdict l_Verdict = CASCSlotCheck::Check(
            l_Archive, l_Size, l_Entry._Offset, RecordSize(l_Entry._IndexRecord), l_Key.constData(), m_EncodingMap);
        if (l_Verdict != CASCSlotCheck::Verdict::Whole)
        {
            l_Result._Entries.push_back(l_Entry);
            l_Result._Verdicts.push_back(l_Verdict);
        }
        ++*p_Done;
    }
    return l_Result;
}

bool CASCArchivesManager::LoadDownloadList()
{
    const std::set<QByteArray> l_Keys = CASCDownloadDatabase::Read(m_DownloadDbPath);
    // Rebuilt, not appended to: a list that already holds the scan's entries must not hold them twice.
    m_ToDownload.clear();
    m_ScanVerdicts.clear();
    m_StreamFailed = false;
    if (l_Keys.empty())
        return true;
    std::vector<CASCArchiveFileEntry> l_Entries;
    if (!ReadIndexFiles(l_Entries))
        return false;
    for (const CASCArchiveFileEntry& l_Entry : l_Entries)
        if (l_Keys.count(RecordKey(l_Entry._IndexRecord)))
            m_ToDownload.push_back(l_Entry);
    return true;
}

void CASCArchivesManager::RewriteDatabase(size_t p_From)
{
    if (m_DownloadDbPath.isEmpty()) // a scan without Init only reports
        return;
    std::vector<QByteArray> l_Keys;
    for (size_t l_I = p_From; l_I < m_ToDownload.size(); ++l_I)
        l_Keys.push_back(RecordKey(m_ToDownload[l_I]._IndexRecord));
    QString l_Error;
    if (!CASCDownloadDatabase::Write(m_DownloadDbPath, l_Keys, &l_Error))
        Raise(Errors::LocalStorage, "Failed to write the download list " + l_Error);
}

} // namespace CASC
} // namespace Orvane
