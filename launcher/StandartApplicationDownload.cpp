// Download queue and verification.
#include "launcher/DownloadListFile.h"
#include "platform/FileHasher.h"
#include "launcher/InstallFolder.h"
#include "platform/Platform.h"
#include "platform/PlatformPath.h"
#include "launcher/LauncherLog.h"
#include "launcher/StandartApplication.h"
#include "net/Deployment.h"
#include "platform/ThreadOwner.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSet>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>

namespace Orvane {
namespace Launcher {

namespace {
const unsigned MaxRestarts = 5;
const char* const EmptyMd5 = "D41D8CD98F00B204E9800998ECF8427E";

/// The units the launcher's progress shows (powers of 1024, one decimal).
QString FormatBytes(qint64 p_Bytes)
{
    if (p_Bytes < 1024)
        return QString::number(p_Bytes) + " B";
    if (p_Bytes < 1024 * 1024)
        return QString::number(double(p_Bytes) / 1024.0, 'f', 1) + " KiB";
    if (p_Bytes < qint64(1024) * 1024 * 1024)
        return QString::number(double(p_Bytes) / (1024.0 * 1024.0), 'f', 1) + " MiB";
    return QString::number(double(p_Bytes) / (1024.0 * 1024.0 * 1024.0), 'f', 1) + " GiB";
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
    KESTRUN_OWNED_BY(thread());
    if (m_HoldsTurn)
        return;
    m_HoldsTurn = true;
    if (LockDownload)
        LockDownload();
}

void StandartApplication::ReleaseDownloadTurn()
{
    KESTRUN_OWNED_BY(thread());
    if (!m_HoldsTurn)
        return;
    m_HoldsTurn = false;
    if (UnlockDownload)
        UnlockDownload();
}

qint64 StandartApplication::AvailableDiskSpace(const QString& p_Folder)
{
    return Platform::FreeDiskSpace(PlatformPath(p_Folder));
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
    KESTRUN_OWNED_BY(thread());
    const qint64 l_Needed = RemainingBytes();
    const qint64 l_Free = AvailableDiskSpace(m_InstallationPath);
    if (l_Needed <= 0 || l_Free < 0 || l_Free >= l_Needed)
    {
        m_WaitingForSpace = false;
        return true;
    }
    qCWarning(LauncherLog) << "StandartApplication::CheckFreeSpace short of space" << l_Needed << l_Free;
    WaitForSpace("Not enough free disk space to download " + m_Name + " into " + m_InstallationPath, l_Needed,
                 l_Free);
    return false;
}

void StandartApplication::WaitForSpace(const QString& p_Text, qint64 p_Needed, qint64 p_Free)
{
    WaitStopped(p_Text + ": " + FormatBytes(p_Needed) + " needed, " + FormatBytes(qMax<qint64>(0, p_Free)) +
                " free. Free some space, then resume the download.");
}

void StandartApplication::WaitStopped(const QString& p_Text)
{
    KESTRUN_OWNED_BY(thread());
    FlushListFile(false);
    m_WaitingForSpace = true;
    DropRequestAhead();
    ReleaseDownloadTurn();
    m_Status.DownloadStatus = 4;
    StateChanged();
    ShowMessageBox(p_Text, false);
}

void StandartApplication::ShowInstalled()
{
    KESTRUN_OWNED_BY(thread());
    m_Status.ApplicationState = 2;
    m_Status.DetailVisible = false;
    m_Status.DetailValue = 0;
    m_Status.Busy = false;
    StateChanged();
}

bool StandartApplication::TakeTurnOrRetry(bool p_ClearMessage, std::function<void()> p_Retry)
{
    KESTRUN_OWNED_BY(thread());
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
    KESTRUN_OWNED_BY(thread());
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
    KESTRUN_OWNED_BY(thread());
    // Nothing to do after a stop between two files, or while a transfer or a check already runs.
    if (m_Status.DownloadStatus == 4 || m_CurrentRequest || m_Check || m_CurrentIndex >= m_DownloadList.size())
        return;
    const ManifestFile l_Entry = m_DownloadList[m_CurrentIndex];
    if (!InsideInstallFolder(l_Entry.Path))
        return;
    // The downloader creates the file's folder.
    const QString l_Part = m_InstallationPath + l_Entry.Path + ".part";
    m_PartAtStart = qMax<qint64>(0, QFileInfo(l_Part).size());
    m_NextDownloadSize = m_KnownSizes.value(l_Entry.Path, -1);
    DrawNextFile();
    m_CurrentRequest = HTTP_DownloadFile(m_BaseUrl + m_FolderName + "/" + l_Entry.Location, l_Part, true);
}

void StandartApplication::DrawNextFile()
{
    KESTRUN_OWNED_BY(thread());
    m_DrawnFor.clear();
    if (m_CurrentIndex + 1 >= m_DownloadList.size())
        return;
    const ManifestFile& l_Next = m_DownloadList[m_CurrentIndex + 1];
    if (!InsideInstallFolder(l_Next.Path))
        return;
    // Its host is drawn now and kept for its turn, so that the request sent ahead is the one its turn asks.
    m_NextAhead.Url = DrawBaseUrl(l_Next) + m_FolderName + "/" + l_Next.Location;
    m_NextAhead.Path = m_InstallationPath + l_Next.Path + ".part";
    m_NextAhead.SizeHint = m_KnownSizes.value(l_Next.Path, -1);
}

QString StandartApplication::DrawBaseUrl(const ManifestFile& p_File)
{
    KESTRUN_OWNED_BY(thread());
    m_DrawnFor = p_File.Path;
    m_DrawnBaseUrl = (p_File.Flags & FlagFromServer) ? Deployment::ServerBaseUrl() : RandomCdnBaseUrl();
    return m_DrawnBaseUrl;
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
            Platform::MakeReadOnly(PlatformPath(l_Path));
        if (l_File.Flags & FlagFullPermissions)
            Platform::MakeFullPermissions(PlatformPath(l_Path));
    }
}

void StandartApplication::RestartCurrent(const ManifestFile& p_Entry, qint64 p_Discarded, const char* p_Line,
                                         bool p_Count)
{
    KESTRUN_OWNED_BY(thread());
    qCWarning(LauncherLog).noquote() << QString::fromLatin1(p_Line) + p_Entry.Location;
    const ManifestFile l_Copy = p_Entry;
    m_DownloadList.push_back(l_Copy);
    UpdateListFile(l_Copy.Path);
    // Thrown-away bytes count as done and as still to fetch: the percentage falls back by them.
    m_CompletedBytes += p_Discarded;
    m_Status.Total += p_Discarded;
    if (p_Count)
        ++m_Restarts[l_Copy.Path];
    StateChanged();
}

void StandartApplication::ContinueLater(const ManifestFile& p_Entry, const char* p_Line)
{
    RestartCurrent(p_Entry, 0, p_Line, false);
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
    KESTRUN_OWNED_BY(thread());
    if (p_Line)
        qCWarning(LauncherLog).noquote() << QString::fromLatin1(p_Line) + p_Entry.Location;
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

void StandartApplication::FinishFile(const ManifestFile& p_Entry, const FinishedTransfer& p_Done)
{
    KESTRUN_OWNED_BY(thread());
    const QString l_Final = m_InstallationPath + p_Entry.Path;
    const QString l_Part = l_Final + ".part";
    // An empty file produces no write, so its ".part" may never have been created.
    if (p_Entry.Md5 == QLatin1String(EmptyMd5) && p_Done.ContentLength == 0 && !QFileInfo::exists(l_Part))
    {
        QFile l_Empty(l_Part);
        l_Empty.open(QIODevice::WriteOnly);
    }
    // A server going away (restarted, briefly down) costs nothing when it is back within half a minute.
    const bool l_ConnectionLost = p_Done.Reason == QLatin1String("connection refused") ||
                                  p_Done.Reason == QLatin1String("the server closed the connection") ||
                                  p_Done.Reason.startsWith(QLatin1String("timed out"));
    if (p_Done.WrittenBytes == 0 && l_ConnectionLost && !OtherHostFor(p_Entry, p_Done.Url))
        return PauseBeforeRetry(p_Entry, p_Done);
    const QFileInfo l_PartInfo(l_Part);
    const qint64 l_Have = l_PartInfo.isFile() ? l_PartInfo.size() : -1;
    const qint64 l_Expected = p_Done.FullSize > 0 ? p_Done.FullSize : m_KnownSizes.value(p_Entry.Path);
    // A file of unknown length is judged by its content only when its transfer ended whole.
    if (l_Have >= 0 && (l_Have < l_Expected || (l_Expected <= 0 && !p_Done.EndedWhole)))
    {
        if (p_Done.WrittenBytes == 0)
            MarkCdnFailed(p_Done.Url, p_Done.Reason);
        // Cut short (stall, error answer, closed connection): the next transfer goes on from here. Only
        // a transfer that brought nothing uses up one of the file's restarts.
        if (l_Have > m_PartAtStart)
            ContinueLater(p_Entry, "(PARTIAL) Download restarted for ");
        else
            RestartOrGiveUp(p_Entry, 0, "(PARTIAL) Download restarted for ");
        return NextFile(p_Done.LastSample);
    }
    // Hashed by the downloader as it wrote the file, unless the file changed since (its size).
    if (!p_Done.WrittenMd5.isEmpty() && l_Have == p_Done.WrittenMd5Bytes)
    {
        PlaceFile(p_Entry, p_Done, l_Have, p_Done.WrittenMd5, true);
        return NextFile(p_Done.LastSample);
    }
    if (l_Have < 0)
    {
        PlaceFile(p_Entry, p_Done, l_Have, QString(), false);
        return NextFile(p_Done.LastSample);
    }

    // A whole file read back from disk can take minutes (a ".part" answered 416): never on this thread.
    const quint64 l_Check = ++m_Checks;
    m_Check = l_Check;
    m_CheckCalledOff = std::make_shared<std::atomic<bool>>(false);
    const std::shared_ptr<std::atomic<bool>> l_CalledOff = m_CheckCalledOff;
    bool (*const l_Running)() = IsLauncherRunning;
    m_CheckRun = QtConcurrent::run([this, l_Check, l_CalledOff, l_Running, l_Part, l_Have, p_Entry, p_Done] {
        FileHasher::Result l_Result = FileHasher::Done;
        const QString l_Md5 = FileHasher::Md5(
            l_Part, [&] { return !*l_CalledOff && (!l_Running || l_Running()); }, &l_Result);
        if (*l_CalledOff)
            return;
        PostMainTask([this, l_Check, p_Entry, p_Done, l_Have, l_Md5, l_Result] {
            FileChecked(l_Check, p_Entry, p_Done, l_Have, l_Md5, int(l_Result));
        });
    });
}

void StandartApplication::PauseBeforeRetry(const ManifestFile& p_Entry, const FinishedTransfer& p_Done)
{
    KESTRUN_OWNED_BY(thread());
    const QUrl l_Url(p_Done.Url);
    const QString l_Host = l_Url.port() > 0 ? l_Url.host() + ":" + QString::number(l_Url.port()) : l_Url.host();
    const unsigned l_Restarts = m_Restarts.value(p_Entry.Path);
    // What is on disk is what was done: the file keeps its place and its ".part".
    m_Status.Done = m_CompletedBytes + qMax<qint64>(0, QFileInfo(m_InstallationPath + p_Entry.Path + ".part").size());
    SetPercent(m_Status.Done, m_Status.Total);
    StateChanged();
    if (l_Restarts >= MaxRestarts)
    {
        m_Restarts.remove(p_Entry.Path);
        WaitStopped(l_Host + ": " + p_Done.Reason + ", still after 31 s of retries; the download stopped (run the "
                    "update again once the server is back).");
        return;
    }
    ++m_Restarts[p_Entry.Path];
    const int l_Seconds = 1 << l_Restarts;
    ShowMessageBox(l_Host + ": " + p_Done.Reason + "; trying again in " + QString::number(l_Seconds) + " s.", true);
    const quint64 l_Pass = m_Pass;
    const QString l_Path = p_Entry.Path;
    QTimer::singleShot(l_Seconds * 1000, this, [this, l_Pass, l_Path] {
        // A stop, a new pass or the launcher closing meanwhile: nothing to do.
        if (!PassCurrent(l_Pass) || m_Status.DownloadStatus != 3 || !LauncherRunning() ||
            m_CurrentIndex >= m_DownloadList.size() || m_DownloadList[m_CurrentIndex].Path != l_Path)
            return;
        SelectBaseUrl(m_DownloadList[m_CurrentIndex], true);
        DownloadCurrentFile();
    });
}

void StandartApplication::FileChecked(quint64 p_Check, const ManifestFile& p_Entry, const FinishedTransfer& p_Done,
                                      qint64 p_Have, const QString& p_Md5, int p_Result)
{
    KESTRUN_OWNED_BY(thread());
    if (p_Check != m_Check)
        return; // called off: a new pass, or the unload
    m_Check = 0;
    m_CheckCalledOff.reset();
    // The launcher closes: the ".part" and its list line stay for the next run.
    if (p_Result == FileHasher::Interrupted)
        return;
    PlaceFile(p_Entry, p_Done, p_Have, p_Md5, p_Result == FileHasher::Done);
    NextFile(p_Done.LastSample);
}

void StandartApplication::CallOffCheck()
{
    KESTRUN_OWNED_BY(thread());
    if (m_CheckCalledOff)
        *m_CheckCalledOff = true;
    m_CheckCalledOff.reset();
    m_Check = 0;
}

void StandartApplication::PlaceFile(const ManifestFile& p_Entry, const FinishedTransfer& p_Done, qint64 p_Have,
                                    const QString& p_Md5, bool p_Read)
{
    KESTRUN_OWNED_BY(thread());
    const QString l_Final = m_InstallationPath + p_Entry.Path;
    const QString l_Part = l_Final + ".part";
    if (!p_Read || p_Md5 != p_Entry.Md5)
    {
        // A host that delivered nothing towards a file that is not right failed (an error answer, a dead
        // host): it is avoided from now on. A whole ".part" it answered 416 for, with the file's size, did
        // not fail; nor does an empty file, which checks right.
        // No ".part" at all: this machine could not create it, whatever the host did.
        if (p_Done.WrittenBytes == 0 && p_Have >= 0 && !(p_Done.FullSize > 0 && p_Have == p_Done.FullSize))
            MarkCdnFailed(p_Done.Url, p_Done.Reason);
        // Whole (or longer) and wrong: bad bytes never reach the final name; the next transfer starts afresh.
        QFile::remove(l_Part);
        RestartOrGiveUp(p_Entry, qMax<qint64>(0, p_Have),
                        p_Read ? "(MD5) Download restarted for " : "(IO) Download restarted for ");
        return;
    }
    QFile l_Old(l_Final);
    if (l_Old.exists())
    {
        Platform::ClearReadOnly(PlatformPath(l_Final));
        l_Old.setPermissions(l_Old.permissions() | QFileDevice::WriteOwner | QFileDevice::WriteUser |
                             QFileDevice::WriteGroup | QFileDevice::WriteOther);
        if (!l_Old.remove())
            ShowMessageBox("File " + l_Final + " error : " + l_Old.errorString(), false);
    }
    if (!QFile::rename(l_Part, l_Final))
    {
        // The verified ".part" stays: the next transfer finds it whole.
        RestartOrGiveUp(p_Entry, 0, "(RENAME) Download restarted for ");
        return;
    }
    m_CompletedBytes += p_Have;
    m_Restarts.remove(p_Entry.Path);
    if (p_Entry.Flags & FlagReadOnly)
        Platform::MakeReadOnly(PlatformPath(l_Final));
    if (p_Entry.Flags & FlagFullPermissions)
        Platform::MakeFullPermissions(PlatformPath(l_Final));
    // Only now, with the file in place, does its line leave the list.
    UpdateListFile(QString());
}

void StandartApplication::ResumeDownload()
{
    KESTRUN_OWNED_BY(thread());
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
    KESTRUN_OWNED_BY(thread());
    if (p_Request != m_CurrentRequest)
        return;
    // The download thread goes on writing these: each is read once, and the figures used are those.
    const qint64 l_FullSize = p_Request->FullSize;
    const qint64 l_Received = p_Request->ReceivedBytes;
    const qint64 l_Speed = p_Request->BytesPerSecond;
    if (l_FullSize > 0 && m_CurrentIndex < m_DownloadList.size())
    {
        // The transfer knows the file's size better than a size answer (unknown, or of another host).
        qint64& l_Known = m_KnownSizes[m_DownloadList[m_CurrentIndex].Path];
        m_Status.Total += l_FullSize - l_Known;
        l_Known = l_FullSize;
    }
    m_Status.Done = m_CompletedBytes + l_Received;
    SetPercent(m_Status.Done, m_Status.Total);
    if (m_SpeedTimer.elapsed() >= 500)
    {
        AddSpeedSample(l_Speed);
        m_SpeedTimer.restart();
    }
    StateChanged();
}

void StandartApplication::App_OnHTTPDownloadRestarted(HTTP_DownloadFileRequest* p_Request)
{
    KESTRUN_OWNED_BY(thread());
    // A transfer that was stopped stays stopped; one of an earlier pass is not the current one.
    if (p_Request->StopRequested || m_CurrentIndex >= m_DownloadList.size() ||
        p_Request->FilePath != m_InstallationPath + m_DownloadList[m_CurrentIndex].Path + ".part")
        return;
    m_CurrentRequest = p_Request;
}

void StandartApplication::App_OnHTTPDownloadProgressComplete(HTTP_DownloadFileRequest* p_Request)
{
    KESTRUN_OWNED_BY(thread());
    // Completions of a stopped or replaced transfer change nothing.
    if (p_Request != m_CurrentRequest)
        return;
    // The record is freed once this slot returns: what is needed later is copied now.
    m_CurrentRequest = nullptr;
    const bool l_Downloading = m_Status.DownloadStatus == 3 || m_Status.DownloadStatus == 4;
    if (!l_Downloading || m_CurrentIndex >= m_DownloadList.size() ||
        p_Request->FilePath != m_InstallationPath + m_DownloadList[m_CurrentIndex].Path + ".part")
    {
        // A new pass (repair, install) began while this transfer ran: none of its entries is done.
        if (m_Status.DownloadStatus == 3 && m_CurrentIndex < m_DownloadList.size())
            PostMainTask([this] { DownloadCurrentFile(); });
        return;
    }
    const ManifestFile l_Entry = m_DownloadList[m_CurrentIndex];
    FinishedTransfer l_Done;
    l_Done.Url = p_Request->Url;
    l_Done.FullSize = p_Request->FullSize;
    l_Done.ContentLength = p_Request->ContentLength;
    l_Done.WrittenBytes = p_Request->WrittenBytes;
    l_Done.WrittenMd5 = p_Request->WrittenMd5;
    l_Done.WrittenMd5Bytes = p_Request->WrittenMd5Bytes;
    l_Done.LastSample = qMax<qint64>(0, p_Request->FileSize - p_Request->SpeedSampleBytes);
    l_Done.EndedWhole = p_Request->EndedWhole;
    l_Done.Reason = p_Request->Reason;

    if (p_Request->StopRequested)
    {
        // Not a completion: the entry keeps its line and its index; ResumeDownload continues its ".part".
        m_Restarts.clear();
        m_Status.Done = m_CompletedBytes;
        SetPercent(m_CompletedBytes, m_Status.Total);
        if (l_Done.LastSample > 0)
            AddSpeedSample(l_Done.LastSample);
        StateChanged();
        return;
    }
    if (p_Request->WriteFailed)
    {
        // What was written stays for the resume. A full volume is told with the two figures, any other
        // failure (a read-only folder, no permission) with the system's reason alone, even on a small volume.
        const QString l_Part = m_InstallationPath + l_Entry.Path + ".part";
        const qint64 l_Needed = RemainingBytes();
        const qint64 l_Free = AvailableDiskSpace(m_InstallationPath);
        const QString& l_Error = p_Request->WriteError;
        bool l_Refused = false;
        for (const char* l_Word : {"permission", "read-only", "directory", "not permitted"})
            l_Refused = l_Refused || l_Error.contains(QLatin1String(l_Word), Qt::CaseInsensitive);
        if (!l_Refused && (l_Error.isEmpty() || (l_Free >= 0 && l_Free < l_Needed)))
            WaitForSpace("Could not write " + l_Part, l_Needed, l_Free);
        else
            WaitStopped("Could not write " + l_Part + ": " + (l_Error.isEmpty() ? QStringLiteral("the system refused it")
                                                                                 : l_Error));
        m_Status.Done = m_CompletedBytes + QFileInfo(l_Part).size();
        SetPercent(m_Status.Done, m_Status.Total);
        return;
    }
    if (!InsideInstallFolder(l_Entry.Path))
    {
        qCWarning(LauncherLog) << "StandartApplication::App_OnHTTPDownloadProgressComplete outside the install folder"
                               << l_Entry.Path;
        return NextFile(l_Done.LastSample);
    }
    FinishFile(l_Entry, l_Done);
}

void StandartApplication::NextFile(qint64 p_LastSample)
{
    KESTRUN_OWNED_BY(thread());
    m_Status.Done = m_CompletedBytes;
    SetPercent(m_CompletedBytes, m_Status.Total);
    if (p_LastSample > 0)
        AddSpeedSample(p_LastSample);
    StateChanged();

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
