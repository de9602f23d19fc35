// Download queue and verification.
#include "launcher/DownloadListFile.h"
#include "platform/FileHasher.h"
#include "launcher/InstallFolder.h"
#include "platform/Platform.h"
#include "launcher/StandartApplication.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSet>
#include <QThread>

namespace Orvane {
namespace Launcher {

namespace {
const unsigned MaxRestarts = 5;
const char* const EmptyMd5 = "D41D8CD98F00B204E9800998ECF8427E";

std::string NativePath(const QString& p_Path)
{
    return QFile::encodeName(p_Path).toStdString();
}

QString FormatBytes(qint64 p_Bytes)
{
    if (p_Bytes < 1024 * 1024)
        return QString::number(p_Bytes) + " bytes";
    if (p_Bytes < qint64(1024) * 1024 * 1024)
        return QString::number(double(p_Bytes) / (1024.0 * 1024.0), 'f', 1) + " MB";
    return QString::number(double(p_Bytes) / (1024.0 * 1024.0 * 1024.0), 'f', 2) + " GB";
}
} // namespace

bool StandartApplication::LauncherRunning()
{
    return !IsLauncherRunning || IsLauncherRunning();
}

bool StandartApplication::InsideInstallFolder(const QString& p_RelativePath)
{
    return InstallFolder(m_InstallationPath).Contains(p_RelativePath);
}

void StandartApplication::TakeDownloadTurn()
{
    if (m_HoldsTurn)
        return;
    m_HoldsTurn = true;
    if (LockDownload)
        LockDownload();
}

void StandartApplication::ReleaseDownloadTurn()
{
    if (!m_HoldsTurn)
        return;
    m_HoldsTurn = false;
    if (UnlockDownload)
        UnlockDownload();
}

qint64 StandartApplication::AvailableDiskSpace(const QString& p_Folder)
{
    return Platform::FreeDiskSpace(NativePath(p_Folder));
}

qint64 StandartApplication::RemainingBytes()
{
    qint64 l_Needed = m_Status.Total - m_CompletedBytes;
    QSet<QString> l_Counted; // a restarted entry is listed twice, its ".part" is there once
    for (size_t l_I = m_CurrentIndex; l_I < m_DownloadList.size(); ++l_I)
        if (!l_Counted.contains(m_DownloadList[l_I].Path))
        {
            l_Counted.insert(m_DownloadList[l_I].Path);
            l_Needed -= QFileInfo(m_InstallationPath + m_DownloadList[l_I].Path + ".part").size();
        }
    return l_Needed;
}

bool StandartApplication::CheckFreeSpace()
{
    const qint64 l_Needed = RemainingBytes();
    const qint64 l_Free = AvailableDiskSpace(m_InstallationPath);
    if (l_Needed <= 0 || l_Free < 0 || l_Free >= l_Needed)
    {
        m_WaitingForSpace = false;
        return true;
    }
    qWarning() << "StandartApplication::CheckFreeSpace short of space" << l_Needed << l_Free;
    WaitForSpace("Not enough free disk space to download " + m_Name + " into " + m_InstallationPath, l_Needed,
                 l_Free);
    return false;
}

void StandartApplication::WaitForSpace(const QString& p_Text, qint64 p_Needed, qint64 p_Free)
{
    FlushListFile(false);
    m_WaitingForSpace = true;
    ReleaseDownloadTurn();
    m_Status.DownloadStatus = 4;
    StateChanged();
    ShowMessageBox(p_Text + ": " + FormatBytes(p_Needed) + " needed, " + FormatBytes(qMax<qint64>(0, p_Free)) +
                       " free. Free some space, then resume the download.",
                   false);
}

void StandartApplication::ShowInstalled()
{
    m_Status.ApplicationState = 2;
    m_Status.DetailVisible = false;
    m_Status.DetailValue = 0;
    m_Status.Busy = false;
    StateChanged();
}

bool StandartApplication::TakeTurnOrRetry(bool p_ClearMessage, std::function<void()> p_Retry)
{
    const bool l_GameRunning = IsGameRunning();
    m_Status.Percent = 100;
    m_Status.DownloadStatus = l_GameRunning ? 1 : 0;
    if (p_ClearMessage)
        m_Status.Message.clear();
    StateChanged();
    if (!l_GameRunning && (m_HoldsTurn || !IsDownloadLocked || !IsDownloadLocked()))
    {
        TakeDownloadTurn();
        return true;
    }
    // The worker queue only waits; the retry itself runs on this object's thread.
    PostWorkerTask([this, p_Retry] {
        QThread::msleep(100);
        PostMainTask(p_Retry);
    });
    return false;
}

void StandartApplication::BeginDownloads(const QString& p_Message)
{
    // A stop that came while the sizes were requested holds until ResumeDownload.
    const bool l_Stopped = m_Status.DownloadStatus == 4;
    m_Status.DownloadStatus = l_Stopped ? 4 : 3;
    m_Status.Message = p_Message;
    StateChanged();
    m_CurrentIndex = 0;
    m_CompletedBytes = 0;
    if (l_Stopped || !CheckFreeSpace())
        return;
    SelectBaseUrl(m_DownloadList[0], false);
    PostMainTask([this] { DownloadCurrentFile(); });
}

void StandartApplication::StartBaseDownloads()
{
    if (m_DownloadList.empty())
    {
        StartStreamedPhase(false);
        return;
    }
    m_BasePhase = true;
    BeginDownloads(QStringLiteral("Downloading base files..."));
}

void StandartApplication::StartStreamedDownloads(bool p_WaitForTurn)
{
    if (m_DownloadList.empty())
    {
        ShowInstalled();
        return;
    }
    if (p_WaitForTurn)
    {
        WaitForStreamedTurn();
        return;
    }
    BeginDownloads(QStringLiteral("Downloading streammed files..."));
}

void StandartApplication::WaitForStreamedTurn()
{
    WaitForStreamedTurn(m_Pass);
}

void StandartApplication::WaitForStreamedTurn(quint64 p_Pass)
{
    if (!LauncherRunning() || !PassCurrent(p_Pass) ||
        !TakeTurnOrRetry(true, [this, p_Pass] { WaitForStreamedTurn(p_Pass); }))
        return;
    StartStreamedDownloads(false);
}

void StandartApplication::DownloadCurrentFile()
{
    // Nothing to do after a stop between two files, or while a transfer already runs.
    if (m_Status.DownloadStatus == 4 || m_CurrentRequest || m_CurrentIndex >= m_DownloadList.size())
        return;
    const ManifestFile l_Entry = m_DownloadList[m_CurrentIndex];
    if (!InsideInstallFolder(l_Entry.Path))
        return;
    // The downloader creates the file's folder.
    const QString l_Part = m_InstallationPath + l_Entry.Path + ".part";
    m_CurrentRequest = HTTP_DownloadFile(m_BaseUrl + m_FolderName + "/" + l_Entry.Location, l_Part, true);
}

void StandartApplication::ApplyFileAttributes()
{
    InstallFolder l_Folder(m_InstallationPath);
    for (const ManifestFile& l_File : m_Manifest.BaseFiles)
    {
        if (!LauncherRunning())
            return;
        if (!(l_File.Flags & (FlagReadOnly | FlagFullPermissions)) || !l_Folder.Contains(l_File.Path))
            continue;
        const QString l_Path = m_InstallationPath + l_File.Path;
        if (!QFileInfo(l_Path).isFile())
            continue;
        if (l_File.Flags & FlagReadOnly)
            Platform::MakeReadOnly(NativePath(l_Path));
        if (l_File.Flags & FlagFullPermissions)
            Platform::MakeFullPermissions(NativePath(l_Path));
    }
}

void StandartApplication::RestartCurrent(const ManifestFile& p_Entry, qint64 p_Discarded, const char* p_Line)
{
    qWarning().noquote() << QString::fromLatin1(p_Line) + p_Entry.Location;
    const ManifestFile l_Copy = p_Entry;
    m_DownloadList.push_back(l_Copy);
    UpdateListFile(l_Copy.Path);
    // Thrown-away bytes count as done and as still to fetch: the percentage falls back by them.
    m_CompletedBytes += p_Discarded;
    m_Status.Total += p_Discarded;
    ++m_Restarts[l_Copy.Path];
    StateChanged();
}

void StandartApplication::RestartOrGiveUp(const ManifestFile& p_Entry, qint64 p_Discarded, const char* p_Line)
{
    if (m_Restarts.value(p_Entry.Path) < MaxRestarts)
        RestartCurrent(p_Entry, p_Discarded, p_Line);
    else
        GiveUpCurrent(p_Entry, "(ToManyRetry) Download aborded for ");
}

void StandartApplication::GiveUpCurrent(const ManifestFile& p_Entry, const char* p_Line)
{
    if (p_Line)
        qWarning().noquote() << QString::fromLatin1(p_Line) + p_Entry.Location;
    // Kept in its list file, so that the next run fetches it again.
    UpdateListFile(p_Entry.Path);
    m_Restarts.remove(p_Entry.Path);
    const QString l_Path = m_InstallationPath + p_Entry.Path;
    if (m_GivenUp.contains(p_Entry.Path))
        return;
    m_GivenUp.append(p_Entry.Path);
    ShowMessageBox("File " + l_Path + " error : the download could not be verified after " +
                       QString::number(MaxRestarts) + " attempts; it will be fetched again at the next update.",
                   false);
}

bool StandartApplication::FinishFile(const ManifestFile& p_Entry, HTTP_DownloadFileRequest* p_Request)
{
    const QString l_Final = m_InstallationPath + p_Entry.Path;
    const QString l_Part = l_Final + ".part";
    // An empty file produces no write, so its ".part" may never have been created.
    if (p_Entry.Md5 == QLatin1String(EmptyMd5) && p_Request->ContentLength == 0 && !QFileInfo::exists(l_Part))
    {
        QFile l_Empty(l_Part);
        l_Empty.open(QIODevice::WriteOnly);
    }
    // A host that delivered nothing is avoided from now on.
    if (p_Request->WrittenBytes == 0)
        MarkCdnFailed(p_Request->Url);
    const QFileInfo l_PartInfo(l_Part);
    const qint64 l_Have = l_PartInfo.isFile() ? l_PartInfo.size() : -1;
    const qint64 l_Expected = p_Request->FullSize > 0 ? p_Request->FullSize : m_KnownSizes.value(p_Entry.Path);
    // A file of unknown length is judged by its content only when its transfer ended whole.
    if (l_Have >= 0 && (l_Have < l_Expected || (l_Expected <= 0 && !p_Request->EndedWhole)))
    {
        // Cut short (stall, error answer, closed connection): the next transfer goes on from here.
        RestartOrGiveUp(p_Entry, 0, "(PARTIAL) Download restarted for ");
        return true;
    }

    FileHasher::Result l_Result = FileHasher::Done;
    QString l_Md5;
    // Read back by the downloader while it wrote the file, unless the file changed since.
    if (!p_Request->ReadBackMd5.isEmpty() && l_Have == p_Request->ReadBackBytes)
        l_Md5 = p_Request->ReadBackMd5;
    else
        l_Md5 = FileHasher::Md5(l_Part, [this] { return LauncherRunning(); }, &l_Result);
    if (l_Result == FileHasher::Interrupted)
        return false;
    if (l_Result != FileHasher::Done || l_Md5 != p_Entry.Md5)
    {
        // Whole (or longer) and wrong: bad bytes never reach the final name; the next transfer starts afresh.
        QFile::remove(l_Part);
        const bool l_Unreadable = l_Result != FileHasher::Done;
        RestartOrGiveUp(p_Entry, qMax<qint64>(0, l_Have),
                        l_Unreadable ? "(IO) Download restarted for " : "(MD5) Download restarted for ");
        return true;
    }
    QFile l_Old(l_Final);
    if (l_Old.exists())
    {
        Platform::ClearReadOnly(NativePath(l_Final));
        l_Old.setPermissions(l_Old.permissions() & (QFileDevice::WriteOwner | QFileDevice::WriteUser |
                                                    QFileDevice::WriteGroup | QFileDevice::WriteOther));
        if (!l_Old.remove())
            ShowMessageBox("File " + l_Final + " error : " + l_Old.errorString(), false);
    }
    if (!QFile::rename(l_Part, l_Final))
    {
        // The verified ".part" stays: the next transfer finds it whole.
        RestartOrGiveUp(p_Entry, 0, "(RENAME) Download restarted for ");
        return true;
    }
    m_CompletedBytes += l_Have;
    m_Restarts.remove(p_Entry.Path);
    if (p_Entry.Flags & FlagReadOnly)
        Platform::MakeReadOnly(NativePath(l_Final));
    if (p_Entry.Flags & FlagFullPermissions)
        Platform::MakeFullPermissions(NativePath(l_Final));
    // Only now, with the file in place, does its line leave the list.
    UpdateListFile(QString());
    return true;
}

void StandartApplication::ResumeDownload()
{
    if (m_CASCMode)
    {
        ResumeContentStore();
        return;
    }
    if (m_DownloadList.empty() || m_CurrentIndex >= m_DownloadList.size())
    {
        ShowInstalled();
        return;
    }
    // Already transferring: a second resume must not start the file twice.
    if (m_CurrentRequest && !m_CurrentRequest->StopRequested)
        return;
    if (!LauncherRunning())
        return;

    if (!TakeTurnOrRetry(false, [this] { ResumeDownload(); }))
        return;
    if (!CheckFreeSpace())
        return;
    m_Status.DownloadStatus = 3;
    SetPercent(m_Status.Done, m_Status.Total);
    StateChanged();
    SelectBaseUrl(m_DownloadList[m_CurrentIndex], true);
    PostMainTask([this] { DownloadCurrentFile(); });
}

void StandartApplication::App_OnHTTPDownloadProgressUpdate(HTTP_DownloadFileRequest* p_Request)
{
    if (p_Request != m_CurrentRequest)
        return;
    if (p_Request->FullSize > 0 && m_CurrentIndex < m_DownloadList.size())
    {
        // The transfer knows the file's size better than a size answer (unknown, or of another host).
        qint64& l_Known = m_KnownSizes[m_DownloadList[m_CurrentIndex].Path];
        m_Status.Total += p_Request->FullSize - l_Known;
        l_Known = p_Request->FullSize;
    }
    m_Status.Done = m_CompletedBytes + p_Request->ReceivedBytes;
    SetPercent(m_Status.Done, m_Status.Total);
    if (m_SpeedTimer.elapsed() >= 500)
    {
        AddSpeedSample(p_Request->BytesPerSecond);
        m_SpeedTimer.restart();
    }
    StateChanged();
}

void StandartApplication::App_OnHTTPDownloadRestarted(HTTP_DownloadFileRequest* p_Request)
{
    // A transfer that was stopped stays stopped; one of an earlier pass is not the current one.
    if (p_Request->StopRequested || m_CurrentIndex >= m_DownloadList.size() ||
        p_Request->FilePath != m_InstallationPath + m_DownloadList[m_CurrentIndex].Path + ".part")
        return;
    m_CurrentRequest = p_Request;
}

void StandartApplication::App_OnHTTPDownloadProgressComplete(HTTP_DownloadFileRequest* p_Request)
{
    // Completions of a stopped or replaced transfer change nothing.
    if (p_Request != m_CurrentRequest)
        return;
    const bool l_Downloading = m_Status.DownloadStatus == 3 || m_Status.DownloadStatus == 4;
    if (!l_Downloading || m_CurrentIndex >= m_DownloadList.size() ||
        p_Request->FilePath != m_InstallationPath + m_DownloadList[m_CurrentIndex].Path + ".part")
    {
        // A new pass (repair, install) began while this transfer ran: none of its entries is done.
        m_CurrentRequest = nullptr;
        if (m_Status.DownloadStatus == 3 && m_CurrentIndex < m_DownloadList.size())
            PostMainTask([this] { DownloadCurrentFile(); });
        return;
    }
    const ManifestFile l_Entry = m_DownloadList[m_CurrentIndex];
    const bool l_Stopped = p_Request->StopRequested;

    if (l_Stopped)
    {
        // Not a completion: the entry keeps its line and its index; ResumeDownload continues its ".part".
        m_Restarts.clear();
    }
    else if (p_Request->WriteFailed)
    {
        // The disk is full (or gone): what was written stays for the resume.
        m_CurrentRequest = nullptr;
        const QString l_Part = m_InstallationPath + l_Entry.Path + ".part";
        WaitForSpace("Could not write " + l_Part, RemainingBytes(), AvailableDiskSpace(m_InstallationPath));
        m_Status.Done = m_CompletedBytes + QFileInfo(l_Part).size();
        SetPercent(m_Status.Done, m_Status.Total);
        return;
    }
    else if (!InsideInstallFolder(l_Entry.Path))
    {
        qWarning() << "StandartApplication::App_OnHTTPDownloadProgressComplete outside the install folder"
                   << l_Entry.Path;
    }
    else
    {
        if (!FinishFile(l_Entry, p_Request))
            return; // closing: the ".part" and the list line stay for the next run
    }

    m_Status.Done = m_CompletedBytes;
    SetPercent(m_CompletedBytes, m_Status.Total);
    if (p_Request->FileSize > p_Request->SpeedSampleBytes)
        AddSpeedSample(p_Request->FileSize - p_Request->SpeedSampleBytes);
    StateChanged();
    m_CurrentRequest = nullptr;
    if (l_Stopped)
        return;

    ++m_CurrentIndex;
    if (m_CurrentIndex < m_DownloadList.size())
    {
        SelectBaseUrl(m_DownloadList[m_CurrentIndex], true);
        PostMainTask([this] { DownloadCurrentFile(); });
        return;
    }
    if (m_BasePhase)
    {
        StartStreamedPhase(false);
        return;
    }
    FlushListFile(true); // the streamed phase ends
    ReleaseDownloadTurn();
    m_Status.Message.clear();
    ShowInstalled();
    // The plain path has nothing left to fetch: the content store may follow.
    const quint64 l_Pass = m_Pass;
    PostMainTask([this, l_Pass] {
        m_CurrentRequest = nullptr;
        m_DownloadList.clear();
        CheckContentStore(l_Pass);
    });
}

} // namespace Launcher
} // namespace Orvane
