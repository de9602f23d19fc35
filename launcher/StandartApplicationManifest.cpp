// Download manifest: list building, list files and size requests.
#include "launcher/DownloadListFile.h"
#include "launcher/FileHasher.h"
#include "launcher/InstallFolder.h"
#include "launcher/StandartApplication.h"

#include <QDebug>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QThread>
#include <QVector>

namespace Orvane {
namespace Launcher {

namespace {
const char* const BaseListName = "ToDownloadBase.db";
const char* const StreamedListName = "ToDownload.db";

bool LocaleSelected(const ManifestFile& p_File, const QString& p_Locale)
{
    return p_File.Locale.isEmpty() || p_File.Locale == p_Locale;
}

enum class DiskState
{
    Good,
    Missing,
    Damaged,
    Interrupted,
};

DiskState CheckOnDisk(const QString& p_Path, const ManifestFile& p_File, const std::function<bool()>& p_KeepGoing)
{
    if (!QFileInfo::exists(p_Path))
        return DiskState::Missing;
    if (p_File.Flags & FlagPresenceOnly)
        return DiskState::Good;
    FileHasher::Result l_Result;
    QString l_Md5 = FileHasher::Md5(p_Path, p_KeepGoing, &l_Result);
    if (l_Result == FileHasher::Interrupted)
        return DiskState::Interrupted;
    // Case-sensitive on purpose: a lower-case digest in the manifest never matches.
    return (l_Result == FileHasher::Done && l_Md5 == p_File.Md5) ? DiskState::Good : DiskState::Damaged;
}

/// Indices of the files of p_Files by path, so that list lines are matched in constant time.
QHash<QString, QVector<int>> IndexByPath(const std::vector<ManifestFile>& p_Files)
{
    QHash<QString, QVector<int>> l_Index;
    l_Index.reserve(int(p_Files.size()));
    for (size_t l_I = 0; l_I < p_Files.size(); ++l_I)
        l_Index[p_Files[l_I].Path].append(int(l_I));
    return l_Index;
}
} // namespace

void StandartApplication::BuildBaseList()
{
    m_BasePhase = true;
    m_GivenUp.clear();
    const QString l_Locale = GetAppLocale();
    const QString l_Folder = m_InstallationPath;
    DownloadListFile l_ListFile(l_Folder + BaseListName);
    // A list that was never written says nothing about the disk: check the tracked files as a full scan does.
    const bool l_Scan = m_FullScan || !l_ListFile.Exists();
    auto l_KeepGoing = [this] { return LauncherRunning(); };

    QStringList l_Lines;
    const std::vector<ManifestFile>& l_Files = m_Manifest.BaseFiles;
    const size_t l_Count = l_Files.size();
    for (size_t l_I = 0; l_I < l_Count; ++l_I)
    {
        if (!LauncherRunning())
            return;
        m_Status.Done = qint64(l_I + 1);
        m_Status.Percent = int32_t(100 * (l_I + 1) / l_Count);
        StateChanged();

        const ManifestFile& l_File = l_Files[l_I];
        const bool l_Tracked = (l_File.Flags & FlagTracked) != 0;
        if (!LocaleSelected(l_File, l_Locale) || (l_Tracked && !l_Scan) || !InsideInstallFolder(l_File.Path))
            continue;
        DiskState l_State = CheckOnDisk(l_Folder + l_File.Path, l_File, l_KeepGoing);
        if (l_State == DiskState::Interrupted)
            return;
        if (l_State == DiskState::Good)
            continue;
        m_DownloadList.push_back(l_File);
        if (l_Tracked)
            l_Lines.append(l_File.Path);
    }

    if (l_Scan)
    {
        // Written whole at the end: an interrupted scan leaves the previous list in place.
        l_ListFile.Write(l_Lines);
    }
    else
    {
        const QHash<QString, QVector<int>> l_ByPath = IndexByPath(l_Files);
        QSet<QString> l_Listed;
        for (const ManifestFile& l_Entry : m_DownloadList)
            l_Listed.insert(l_Entry.Path);
        for (const QString& l_Line : l_ListFile.Read())
        {
            if (!LauncherRunning())
                return;
            auto l_It = l_ByPath.constFind(l_Line);
            if (l_Listed.contains(l_Line) || l_It == l_ByPath.constEnd())
                continue;
            l_Listed.insert(l_Line);
            for (int l_Index : *l_It)
            {
                const ManifestFile& l_File = l_Files[size_t(l_Index)];
                if (!LocaleSelected(l_File, l_Locale) || !InsideInstallFolder(l_File.Path))
                    continue;
                if ((l_File.Flags & FlagPresenceOnly) && QFileInfo::exists(l_Folder + l_File.Path))
                    continue;
                m_DownloadList.push_back(l_File);
            }
        }
    }

    if (m_DownloadList.empty())
        StartStreamedPhase(true);
    else
        RequestFileSizes();
}

void StandartApplication::StartStreamedPhase(bool p_WaitForTurn)
{
    m_BasePhase = false;
    m_Status.DetailVisible = false;
    m_Status.DetailValue = 0;
    m_Status.Percent = 100;
    m_Status.Busy = true;
    m_Status.Done = 0;
    m_Status.Total = qint64(m_Manifest.StreamedFiles.size());
    m_Status.DownloadStatus = 5;
    StateChanged();
    m_DownloadList.clear();
    PostWorkerTask([this, p_WaitForTurn] { BuildStreamedList(p_WaitForTurn); });
}

void StandartApplication::BuildStreamedList(bool p_WaitForTurn)
{
    const QString l_Locale = GetAppLocale();
    const QString l_Folder = m_InstallationPath;
    DownloadListFile l_ListFile(l_Folder + StreamedListName);
    // Also covers a run killed during the base phase, before this list was ever written.
    const bool l_Scan = m_FullScan || !l_ListFile.Exists();
    const std::vector<ManifestFile>& l_Files = m_Manifest.StreamedFiles;

    if (!l_Scan)
    {
        const QHash<QString, QVector<int>> l_ByPath = IndexByPath(l_Files);
        QSet<QString> l_Seen;
        for (const QString& l_Line : l_ListFile.Read())
        {
            auto l_It = l_ByPath.constFind(l_Line);
            if (l_Seen.contains(l_Line) || l_It == l_ByPath.constEnd())
                continue;
            l_Seen.insert(l_Line);
            for (int l_Index : *l_It)
            {
                const ManifestFile& l_File = l_Files[size_t(l_Index)];
                if (LocaleSelected(l_File, l_Locale) && InsideInstallFolder(l_File.Path))
                    m_DownloadList.push_back(l_File);
            }
        }
    }
    else
    {
        auto l_KeepGoing = [this] { return LauncherRunning(); };
        QStringList l_Lines;
        const size_t l_Count = l_Files.size();
        for (size_t l_I = 0; l_I < l_Count; ++l_I)
        {
            if (!LauncherRunning())
                return;
            m_Status.Done = qint64(l_I + 1);
            m_Status.Percent = int32_t(100 * (l_I + 1) / l_Count);
            StateChanged();
            const ManifestFile& l_File = l_Files[l_I];
            if (!LocaleSelected(l_File, l_Locale) || !InsideInstallFolder(l_File.Path))
                continue;
            DiskState l_State = CheckOnDisk(l_Folder + l_File.Path, l_File, l_KeepGoing);
            if (l_State == DiskState::Interrupted)
                return;
            if (l_State == DiskState::Good)
                continue;
            m_DownloadList.push_back(l_File);
            l_Lines.append(l_File.Path);
        }
        l_ListFile.Write(l_Lines);
    }

    if (m_DownloadList.empty())
    {
        if (!p_WaitForTurn)
            ReleaseDownloadTurn();
        m_Status.ApplicationState = 2;
        m_Status.DetailVisible = false;
        m_Status.DetailValue = 0;
        m_Status.Busy = false;
        StateChanged();
        PostMainTask([this] { CheckContentStore(); });
        return;
    }

    m_Status.Percent = 100;
    m_Status.Busy = true;
    m_Status.Total = 0;
    m_Status.DownloadStatus = 2;
    m_Status.Message = QStringLiteral("Requesting files size...");
    StateChanged();
    m_AnswerCount = 0;
    m_CurrentIndex = 0;
    RequestSizesOfList(p_WaitForTurn);
}

void StandartApplication::RequestFileSizes()
{
    if (!LauncherRunning())
        return;
    const bool l_GameRunning = IsGameRunning();
    m_Status.Percent = 100;
    m_Status.DownloadStatus = l_GameRunning ? 1 : 0;
    m_Status.Message.clear();
    StateChanged();
    if (l_GameRunning || (!m_HoldsTurn && IsDownloadLocked && IsDownloadLocked()))
    {
        PostWorkerTask([this] {
            QThread::msleep(100);
            RequestFileSizes();
        });
        return;
    }

    TakeDownloadTurn();
    m_Status.Percent = 100;
    m_Status.Busy = true;
    m_Status.Done = 0;
    m_Status.Total = 0;
    m_Status.DownloadStatus = 2;
    m_Status.Message = QStringLiteral("Requesting files size...");
    StateChanged();
    m_AnswerCount = 0;
    m_CurrentIndex = 0;
    RequestSizesOfList(false);
}

void StandartApplication::RequestSizesOfList(bool p_WaitForTurn)
{
    auto l_StartPhase = [this, p_WaitForTurn] {
        if (m_BasePhase)
            PostMainTask([this] { StartBaseDownloads(); });
        else
            PostMainTask([this, p_WaitForTurn] { StartStreamedDownloads(p_WaitForTurn); });
    };
    const size_t l_Count = m_DownloadList.size();
    if (l_Count == 0)
    {
        l_StartPhase();
        return;
    }
    for (size_t l_I = 0; l_I < l_Count && LauncherRunning(); ++l_I)
    {
        PostMainTask([this, l_I, l_StartPhase] {
            if (l_I >= m_DownloadList.size())
                return;
            const ManifestFile l_Entry = m_DownloadList[l_I];
            SelectBaseUrl(l_Entry, false);
            qWarning().noquote().nospace() << m_Name << " Fetch file " << l_Entry.Location << " " << m_BaseUrl;
            HTTP_GetContentSize(m_BaseUrl + m_FolderName + "/" + l_Entry.Location,
                                [this, l_Entry, l_StartPhase](QString, quint64 p_Size) {
                                    qWarning().noquote().nospace() << m_Name << " Fetched file " << l_Entry.Location;
                                    m_Status.Total += qint64(p_Size);
                                    StateChanged();
                                    if (++m_AnswerCount == m_DownloadList.size())
                                        l_StartPhase();
                                });
        });
    }
}

QString StandartApplication::CurrentListFile()
{
    return m_InstallationPath + (m_BasePhase ? BaseListName : StreamedListName);
}

void StandartApplication::UpdateListFile(QString p_AppendPath)
{
    if (m_InstallationPath.isEmpty())
        return;
    QString l_Current = m_CurrentIndex < m_DownloadList.size() ? m_DownloadList[m_CurrentIndex].Path : QString();
    DownloadListFile(CurrentListFile()).Update(l_Current, p_AppendPath);
}

} // namespace Launcher
} // namespace Orvane
