// The list building of a manifest pass: the disk checks, the list files, the results.
#include "launcher/ManifestPass.h"
#include "launcher/Application.h"
#include "launcher/DownloadListFile.h"
#include "launcher/InstallFolder.h"
#include "launcher/StatusRecord.h"
#include "platform/FileHasher.h"
#include "platform/QtCompat.h"

#include <QFileInfo>
#include <QFuture>
#include <QHash>
#include <QSet>
#include <QThread>
#include <QThreadPool>
#include <QVector>
#include <QtConcurrent/QtConcurrentRun>

#include <deque>

namespace Orvane {
namespace Launcher {

namespace {
using FileFilter = ManifestPass::FileFilter;

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
bool ShowCheckProgress(Application& p_App, const ManifestPass& p_Passes, quint64 p_Pass, size_t p_Number,
                       size_t p_Count, Compat::ElapsedTimer& p_SinceShown)
{
    if (!p_Passes.KeepGoing(p_Pass))
        return false;
    if (p_SinceShown.isValid() && p_SinceShown.elapsed() < 50 && p_Number < p_Count)
        return true;
    p_SinceShown.start();
    p_App.PostMainTask([&p_App, &p_Passes, p_Pass, p_Number, p_Count] {
        if (!p_Passes.IsCurrent(p_Pass))
            return;
        p_App.m_Status.Done = qint64(p_Number);
        p_App.m_Status.Percent = int32_t(100 * p_Number / p_Count);
        StatusRecord::Changed(p_App);
    });
    return true;
}

/// What one phase's list is built from.
struct ListSource
{
    ListSource(const ManifestPass::Input& p_Input, const char* p_ListName, FileFilter p_Tracked,
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
bool CollectFiles(Application& p_App, const ManifestPass& p_Passes, quint64 p_Pass, const ListSource& p_Source,
                  std::vector<ManifestFile>* p_Found)
{
    const InstallFolder l_Folder(p_Source.Folder);
    auto l_KeepGoing = [&p_Passes, p_Pass] { return p_Passes.KeepGoing(p_Pass); };
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
            return ShowCheckProgress(p_App, p_Passes, p_Pass, p_Number, p_Source.Files.size(), l_SinceShown);
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

} // namespace

ManifestPass::ManifestPass(Application& p_App) : m_App(p_App) {}

bool ManifestPass::KeepGoing(quint64 p_Pass) const
{
    return StatusRecord::LauncherRunning(m_App) && IsCurrent(p_Pass);
}

void ManifestPass::BuildList(quint64 p_Pass, const Input& p_Input, const char* p_ListName, FileFilter p_Tracked,
                             bool p_SkipPresentListed, FoundFiles p_Then)
{
    if (!IsCurrent(p_Pass))
        return;
    const ListSource l_Source(p_Input, p_ListName, std::move(p_Tracked), p_SkipPresentListed);
    std::vector<ManifestFile> l_Found;
    if (!CollectFiles(m_App, *this, p_Pass, l_Source, &l_Found))
        return;
    // Every file to fetch is named, the untracked base files too: the lists then tell, without the server,
    // how much of the game is still missing. Only tracked lines are read back as files to fetch.
    QStringList l_Lines;
    for (const ManifestFile& l_File : l_Found)
        l_Lines.append(l_File.Path);
    bool l_Write = l_Source.Scan;
    if (!l_Write && l_Source.Tracked)
    {
        // An untracked file named by an older run and found whole now is no longer to fetch.
        QSet<QString> l_Untracked;
        for (const ManifestFile& l_File : l_Source.Files)
            if (!l_Source.Tracked(l_File))
                l_Untracked.insert(l_File.Path);
        const QStringList l_Old = l_Source.ListFile.Read();
        QSet<QString> l_FoundPaths;
        for (const QString& l_Line : l_Lines)
            l_FoundPaths.insert(l_Line);
        l_Lines.clear();
        for (const QString& l_Line : l_Old)
            if (!l_Untracked.contains(l_Line) || l_FoundPaths.contains(l_Line))
                l_Lines.append(l_Line);
        l_Write = l_Lines.size() != l_Old.size();
    }
    const QString l_ListPath = l_Source.ListFile.Path();
    m_App.PostMainTask([this, p_Pass, l_Found, l_Lines, l_Write, l_ListPath, p_Then] {
        if (!IsCurrent(p_Pass))
            return;
        if (l_Write)
            DownloadListFile(l_ListPath).Write(l_Lines);
        p_Then(l_Found);
    });
}

} // namespace Launcher
} // namespace Orvane
