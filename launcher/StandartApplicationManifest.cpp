// Download manifest: list building, list files and size requests.
#include "launcher/DownloadListFile.h"
#include "platform/FileHasher.h"
#include "launcher/InstallFolder.h"
#include "launcher/LauncherLog.h"
#include "launcher/StandartApplication.h"
#include "net/UrlText.h"
#include "platform/ThreadOwner.h"

#include <QDebug>
#include <QFileInfo>
#include <QHash>
#include <QMutexLocker>
#include <QSet>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <QVector>
#include <QtConcurrent/QtConcurrentRun>

#include <deque>

namespace Orvane {
namespace Launcher {

namespace {
const char* const BaseListName = "ToDownloadBase.db";
const char* const StreamedListName = "ToDownload.db";
/// Size requests in flight at once: six per host on each of the size managers.
const int c_SizeRequestWindow = Application::SizeRequestsInFlight;

using FileFilter = std::function<bool(const ManifestFile&)>;

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

/// Compares the files of p_Files that p_Wanted accepts with the disk, in manifest order, and appends
/// those to fetch to p_Found. p_Progress(number) is asked before each file and stops the check with false.
/// The next file is already read while one is hashed (two streams at most, gentle on a spinning disk);
/// results are taken in manifest order.
bool CheckFiles(const std::vector<ManifestFile>& p_Files, const QString& p_Folder, const FileFilter& p_Wanted,
                const std::function<bool(size_t)>& p_Progress, const std::function<bool()>& p_KeepGoing,
                std::vector<ManifestFile>* p_Found)
{
    QThreadPool l_Pool;
    const int l_Streams = qBound(1, QThread::idealThreadCount(), 2);
    l_Pool.setMaxThreadCount(l_Streams);
    std::deque<std::pair<size_t, QFuture<DiskState>>> l_Checks; // started, in manifest order
    size_t l_Next = 0;
    auto l_Start = [&] {
        for (; l_Checks.size() < size_t(l_Streams) && l_Next < p_Files.size(); ++l_Next)
        {
            if (!p_Wanted(p_Files[l_Next]))
                continue;
            const ManifestFile l_File = p_Files[l_Next];
            const QString l_Path = p_Folder + l_File.Path;
            l_Checks.emplace_back(l_Next, QtConcurrent::run(&l_Pool, [l_Path, l_File, p_KeepGoing] {
                                      return CheckOnDisk(l_Path, l_File, p_KeepGoing);
                                  }));
        }
    };
    // Stopped early: the checks still running see p_KeepGoing turn false at their next block.
    auto l_Stop = [&] {
        for (auto& l_Check : l_Checks)
            l_Check.second.waitForFinished();
        return false;
    };
    for (size_t l_I = 0; l_I < p_Files.size(); ++l_I)
    {
        if (!p_Progress(l_I + 1))
            return l_Stop();
        l_Start();
        if (l_Checks.empty() || l_Checks.front().first != l_I)
            continue; // not wanted
        const DiskState l_State = l_Checks.front().second.result();
        l_Checks.pop_front();
        if (l_State == DiskState::Interrupted)
            return l_Stop();
        if (l_State != DiskState::Good)
            p_Found->push_back(p_Files[l_I]);
    }
    return true;
}

/// Appends, for each line of p_Lines not yet seen (p_Seen holds the paths already taken), every file of
/// p_Files with that path which p_Take accepts. False when p_KeepGoing stopped it.
bool AddListedFiles(const QStringList& p_Lines, const std::vector<ManifestFile>& p_Files, QSet<QString> p_Seen,
                    const FileFilter& p_Take, const std::function<bool()>& p_KeepGoing,
                    std::vector<ManifestFile>* p_Found)
{
    // Indices by path, so that each line is matched in constant time.
    QHash<QString, QVector<int>> l_ByPath;
    l_ByPath.reserve(int(p_Files.size()));
    for (size_t l_I = 0; l_I < p_Files.size(); ++l_I)
        l_ByPath[p_Files[l_I].Path].append(int(l_I));
    for (const QString& l_Line : p_Lines)
    {
        if (!p_KeepGoing())
            return false;
        auto l_It = l_ByPath.constFind(l_Line);
        if (p_Seen.contains(l_Line) || l_It == l_ByPath.constEnd())
            continue;
        p_Seen.insert(l_Line);
        for (int l_Index : *l_It)
            if (p_Take(p_Files[size_t(l_Index)]))
                p_Found->push_back(p_Files[size_t(l_Index)]);
    }
    return true;
}

/// Shows the check of file p_Number of p_Count (posted to the application's thread, at most every 50 ms and
/// for the last file); false once the pass is superseded or the launcher closes.
bool ShowCheckProgress(StandartApplication& p_App, quint64 p_Pass, size_t p_Number, size_t p_Count,
                       Compat::ElapsedTimer& p_SinceShown)
{
    if (!p_App.LauncherRunning() || !p_App.PassCurrent(p_Pass))
        return false;
    if (p_SinceShown.isValid() && p_SinceShown.elapsed() < 50 && p_Number < p_Count)
        return true;
    p_SinceShown.start();
    p_App.PostMainTask([&p_App, p_Pass, p_Number, p_Count] {
        if (!p_App.PassCurrent(p_Pass))
            return;
        p_App.m_Status.Done = qint64(p_Number);
        p_App.m_Status.Percent = int32_t(100 * p_Number / p_Count);
        p_App.StateChanged();
    });
    return true;
}

/// What one phase's list is built from.
struct ListSource
{
    ListSource(const StandartApplication::ListInput& p_Input, const char* p_ListName, FileFilter p_Tracked,
               bool p_SkipPresentListed)
        : Files(p_Input.Files), Folder(p_Input.Folder), Locale(p_Input.Locale), ListFile(Folder + p_ListName),
          Scan(p_Input.FullScan || !ListFile.Exists()), Tracked(std::move(p_Tracked)),
          SkipPresentListed(p_SkipPresentListed)
    {
    }

    const std::vector<ManifestFile>& Files;
    const QString Folder;
    const QString Locale; ///< the installed game locale
    const DownloadListFile ListFile;
    /// A full scan, or a list file never written (it says nothing about the disk, also after a run killed
    /// before it was first written): the files it tracks are compared with the disk too, and it is rewritten.
    const bool Scan;
    const FileFilter Tracked; ///< the files the list file names; empty: every file
    const bool SkipPresentListed; ///< a listed file with flag 0x80 that exists is not fetched
};

/// Collects the files of a phase to fetch (language selected, inside the install folder): those the list
/// file does not track, and in a scan all of them, are compared with the disk; without a scan the tracked
/// ones come from the list file's lines. False when the pass is superseded or the launcher closes.
bool CollectFiles(StandartApplication& p_App, quint64 p_Pass, const ListSource& p_Source,
                  std::vector<ManifestFile>* p_Found)
{
    const InstallFolder l_Folder(p_Source.Folder);
    auto l_KeepGoing = [&p_App, p_Pass] { return p_App.LauncherRunning() && p_App.PassCurrent(p_Pass); };
    auto l_Selected = [&](const ManifestFile& p_File) {
        return LocaleSelected(p_File, p_Source.Locale) && l_Folder.Contains(p_File.Path);
    };
    if (p_Source.Scan || p_Source.Tracked)
    {
        auto l_Check = [&](const ManifestFile& p_File) {
            return (p_Source.Scan || !p_Source.Tracked(p_File)) && l_Selected(p_File);
        };
        Compat::ElapsedTimer l_SinceShown;
        auto l_Progress = [&](size_t p_Number) {
            return ShowCheckProgress(p_App, p_Pass, p_Number, p_Source.Files.size(), l_SinceShown);
        };
        if (!CheckFiles(p_Source.Files, p_Source.Folder, l_Check, l_Progress, l_KeepGoing, p_Found))
            return false;
    }
    if (p_Source.Scan)
        return true;
    QSet<QString> l_Checked;
    for (const ManifestFile& l_File : *p_Found)
        l_Checked.insert(l_File.Path);
    auto l_Take = [&](const ManifestFile& p_File) {
        return l_Selected(p_File) && (!p_Source.Tracked || p_Source.Tracked(p_File)) &&
               !(p_Source.SkipPresentListed && (p_File.Flags & FlagPresenceOnly) &&
                 QFileInfo::exists(p_Source.Folder + p_File.Path));
    };
    return AddListedFiles(p_Source.ListFile.Read(), p_Source.Files, l_Checked, l_Take, l_KeepGoing, p_Found);
}

/// Builds a phase's list (on the worker queue). Unless stopped, on the application's thread: rewrites the
/// list file after a scan (whole, at the end: an interrupted scan leaves the previous list), adds the files
/// to the download list, and runs p_Then, the next step of the pass.
void BuildList(StandartApplication& p_App, quint64 p_Pass, const ListSource& p_Source,
               const std::function<void()>& p_Then)
{
    std::vector<ManifestFile> l_Found;
    if (!CollectFiles(p_App, p_Pass, p_Source, &l_Found))
        return;
    // Every file to fetch is named, the untracked base files too: the lists then tell, without the server,
    // how much of the game is still missing. Only tracked lines are read back as files to fetch.
    QStringList l_Lines;
    for (const ManifestFile& l_File : l_Found)
        l_Lines.append(l_File.Path);
    bool l_Write = p_Source.Scan;
    if (!l_Write && p_Source.Tracked)
    {
        // An untracked file named by an older run and found whole now is no longer to fetch.
        QSet<QString> l_Untracked;
        for (const ManifestFile& l_File : p_Source.Files)
            if (!p_Source.Tracked(l_File))
                l_Untracked.insert(l_File.Path);
        const QStringList l_Old = p_Source.ListFile.Read();
        QSet<QString> l_FoundPaths;
        for (const QString& l_Line : l_Lines)
            l_FoundPaths.insert(l_Line);
        l_Lines.clear();
        for (const QString& l_Line : l_Old)
            if (!l_Untracked.contains(l_Line) || l_FoundPaths.contains(l_Line))
                l_Lines.append(l_Line);
        l_Write = l_Lines.size() != l_Old.size();
    }
    const QString l_ListPath = p_Source.ListFile.Path();
    p_App.PostMainTask([&p_App, p_Pass, l_Found, l_Lines, l_Write, l_ListPath, p_Then] {
        if (!p_App.PassCurrent(p_Pass))
            return;
        if (l_Write)
            DownloadListFile(l_ListPath).Write(l_Lines);
        p_App.m_DownloadList.insert(p_App.m_DownloadList.end(), l_Found.begin(), l_Found.end());
        p_Then();
    });
}

} // namespace

quint64 StandartApplication::BeginPass()
{
    KESTRUN_OWNED_BY(thread());
    // What the running phase completed is written before the new pass reads, rewrites or deletes the lists.
    FlushListFile(true);
    CallOffCheck(); // the entry checked is no longer listed
    m_DownloadList.clear();
    // A content-store run belongs to the pass before: a later resume must not restart it.
    DropContentStore();
    return ++m_Pass;
}

void StandartApplication::BuildBaseList()
{
    BuildBaseList(m_Pass);
}

StandartApplication::ListInput StandartApplication::ListInputOf(const std::vector<ManifestFile>& p_Files)
{
    KESTRUN_OWNED_BY(thread());
    ListInput l_Input;
    l_Input.Files = p_Files;
    l_Input.Folder = m_InstallationPath;
    l_Input.Locale = GetAppLocale();
    l_Input.FullScan = m_FullScan;
    return l_Input;
}

void StandartApplication::BuildBaseList(quint64 p_Pass)
{
    if (PassCurrent(p_Pass))
        BuildBaseList(p_Pass, ListInputOf(m_Manifest.BaseFiles));
}

void StandartApplication::BuildBaseList(quint64 p_Pass, const ListInput& p_Input)
{
    if (!PassCurrent(p_Pass))
        return;
    auto l_Tracked = [](const ManifestFile& p_File) { return (p_File.Flags & FlagTracked) != 0; };
    BuildList(*this, p_Pass, ListSource(p_Input, BaseListName, l_Tracked, true),
              [this, p_Pass] {
                  m_BasePhase = true;
                  m_GivenUp.clear();
                  if (m_DownloadList.empty())
                      StartStreamedPhase(true, p_Pass);
                  else
                      RequestFileSizes(p_Pass);
              });
}

void StandartApplication::StartStreamedPhase(bool p_WaitForTurn)
{
    KESTRUN_OWNED_BY(thread());
    StartStreamedPhase(p_WaitForTurn, m_Pass);
}

void StandartApplication::StartStreamedPhase(bool p_WaitForTurn, quint64 p_Pass)
{
    if (!PassCurrent(p_Pass))
        return;
    FlushListFile(true); // the base phase ends
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
    const ListInput l_Input = ListInputOf(m_Manifest.StreamedFiles);
    PostWorkerTask([this, p_WaitForTurn, p_Pass, l_Input] { BuildStreamedList(p_WaitForTurn, p_Pass, l_Input); });
}

void StandartApplication::BuildStreamedList(bool p_WaitForTurn)
{
    BuildStreamedList(p_WaitForTurn, m_Pass);
}

void StandartApplication::BuildStreamedList(bool p_WaitForTurn, quint64 p_Pass)
{
    if (PassCurrent(p_Pass))
        BuildStreamedList(p_WaitForTurn, p_Pass, ListInputOf(m_Manifest.StreamedFiles));
}

void StandartApplication::BuildStreamedList(bool p_WaitForTurn, quint64 p_Pass, const ListInput& p_Input)
{
    if (!PassCurrent(p_Pass))
        return;
    BuildList(*this, p_Pass, ListSource(p_Input, StreamedListName, FileFilter(), false),
              [this, p_WaitForTurn, p_Pass] { StartStreamedSizes(p_WaitForTurn, p_Pass); });
}

void StandartApplication::StartStreamedSizes(bool p_WaitForTurn, quint64 p_Pass)
{
    KESTRUN_OWNED_BY(thread());
    if (m_DownloadList.empty())
    {
        if (!p_WaitForTurn)
            ReleaseDownloadTurn();
        ShowInstalled();
        PostMainTask([this, p_Pass] { CheckContentStore(p_Pass); });
        return;
    }
    // No turn check here; Done keeps its value.
    RequestSizesOfList(p_WaitForTurn, p_Pass);
}

void StandartApplication::RequestFileSizes()
{
    RequestFileSizes(m_Pass);
}

void StandartApplication::RequestFileSizes(quint64 p_Pass)
{
    if (!LauncherRunning() || !PassCurrent(p_Pass))
        return;
    if (!TakeTurnOrRetry(true, [this, p_Pass] { RequestFileSizes(p_Pass); }))
        return;
    m_Status.Done = 0;
    RequestSizesOfList(false, p_Pass);
}

void StandartApplication::RequestSizesOfList(bool p_WaitForTurn, quint64 p_Pass)
{
    KESTRUN_OWNED_BY(thread());
    m_Status.Percent = 100;
    m_Status.Busy = true;
    m_Status.Total = 0;
    m_Status.DownloadStatus = 2;
    m_Status.Message = QStringLiteral("Requesting files size...");
    StateChanged();
    m_AnswerCount = 0;
    m_NextSizeRequest = 0;
    m_KnownSizes.clear();
    m_CurrentIndex = 0;
    if (m_DownloadList.empty())
    {
        PostMainTask([this, p_WaitForTurn, p_Pass] { RequestNextSize(p_WaitForTurn, p_Pass); });
        return;
    }
    // A few at a time: each time-out then starts when its request is sent, not while it waits behind
    // the connection limit, so a slow link does not turn the later answers into unknown sizes.
    for (int l_I = 0; l_I < c_SizeRequestWindow; ++l_I)
        PostMainTask([this, p_WaitForTurn, p_Pass] { RequestNextSize(p_WaitForTurn, p_Pass); });
}

void StandartApplication::RequestNextSize(bool p_WaitForTurn, quint64 p_Pass)
{
    KESTRUN_OWNED_BY(thread());
    // Answers of a superseded pass count for nothing: the new pass asks again.
    if (!PassCurrent(p_Pass) || !LauncherRunning())
        return;
    if (m_DownloadList.empty())
        return StartPhaseDownloads(p_WaitForTurn, p_Pass);
    if (m_NextSizeRequest >= m_DownloadList.size())
        return;
    const ManifestFile l_Entry = m_DownloadList[m_NextSizeRequest++];
    SelectBaseUrl(l_Entry, false);
    qCWarning(LauncherLog).noquote().nospace()
        << m_Name << " Fetch file " << l_Entry.Location << " " << UrlText::Safe(m_BaseUrl);
    HTTP_GetContentSize(m_BaseUrl + m_FolderName + "/" + l_Entry.Location,
                        [this, l_Entry, p_WaitForTurn, p_Pass](QString, quint64 p_Size) {
                            qCWarning(LauncherLog).noquote().nospace()
                                << m_Name << " Fetched file " << l_Entry.Location;
                            if (!PassCurrent(p_Pass))
                                return;
                            m_KnownSizes[l_Entry.Path] = qint64(p_Size);
                            m_Status.Total += qint64(p_Size);
                            StateChanged();
                            if (++m_AnswerCount < m_DownloadList.size())
                            {
                                RequestNextSize(p_WaitForTurn, p_Pass);
                                return;
                            }
                            // Every size is known: the phase's downloads start.
                            PostMainTask([this, p_WaitForTurn, p_Pass] { StartPhaseDownloads(p_WaitForTurn, p_Pass); });
                        });
    // The last size is asked: the first file's host is drawn now (as its turn would, after every size's draw)
    // and its connection opened, so that the handshake overlaps the last answers.
    if (m_NextSizeRequest == m_DownloadList.size() && InsideInstallFolder(m_DownloadList.front().Path))
        PrepareDownloadConnection(DrawBaseUrl(m_DownloadList.front()));
}

void StandartApplication::StartPhaseDownloads(bool p_WaitForTurn, quint64 p_Pass)
{
    if (!PassCurrent(p_Pass))
        return;
    if (m_BasePhase)
        StartBaseDownloads();
    else
        StartStreamedDownloads(p_WaitForTurn);
}

QString StandartApplication::CurrentListFile()
{
    return m_InstallationPath + (m_BasePhase ? BaseListName : StreamedListName);
}

void StandartApplication::UpdateListFile(QString p_AppendPath)
{
    KESTRUN_OWNED_BY(thread());
    if (m_InstallationPath.isEmpty())
        return;
    QString l_Current = m_CurrentIndex < m_DownloadList.size() ? m_DownloadList[m_CurrentIndex].Path : QString();
    m_ListFile.Open(CurrentListFile());
    m_ListFile.Update(l_Current, p_AppendPath);
    if (m_ListFile.Pending() && !m_ListFileTimer->isActive())
        m_ListFileTimer->start();
}

void StandartApplication::FlushListFile(bool p_Close)
{
    KESTRUN_OWNED_BY(thread());
    if (p_Close)
        m_ListFile.Close();
    else
        m_ListFile.Flush();
    if (!m_ListFile.Pending())
        m_ListFileTimer->stop();
}

} // namespace Launcher
} // namespace Orvane
