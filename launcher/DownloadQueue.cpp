// The download queue of a phase: its steps, the transfers' signals and free space.
#include "launcher/DownloadQueue.h"
#include "launcher/CdnHosts.h"
#include "launcher/InstallFolder.h"
#include "launcher/LauncherLog.h"
#include "launcher/ManifestPass.h"
#include "launcher/PartFile.h"
#include "launcher/StatusRecord.h"
#include "net/HTTP_DownloadFileRequest.h"
#include "platform/ThreadOwner.h"

#include <QDebug>
#include <QFileInfo>
#include <QSet>
#include <QThread>

namespace Orvane {
namespace Launcher {

namespace {
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

DownloadQueue::DownloadQueue(Application& p_App, CdnHosts& p_Cdn, ManifestPass& p_Passes, Hooks p_Hooks)
    : m_App(p_App), m_Cdn(p_Cdn), m_Passes(p_Passes), m_Hooks(std::move(p_Hooks)), m_ListFile(p_App),
      m_Turn(p_App), m_Sizes(p_App, p_Cdn, p_Passes, m_DownloadList, m_Hooks.SizesKnown),
      m_Finisher(p_App, p_Cdn, p_Passes, *this)
{
}

DownloadQueue::~DownloadQueue()
{
    Unload();
}

void DownloadQueue::Unload()
{
    // A file check still running would go on after the unload: its ".part" and line stay for the next run.
    m_Finisher.CallOff();
    m_Finisher.Wait();
    FlushListFile(true);
}

void DownloadQueue::ClearForPass()
{
    KESTRUN_OWNED_BY(m_App.thread());
    // What the running phase completed is written before the new pass reads, rewrites or deletes the lists.
    FlushListFile(true);
    m_Finisher.CallOff(); // the entry checked is no longer listed
    m_DownloadList.clear();
}

void DownloadQueue::ClearForStreamed()
{
    KESTRUN_OWNED_BY(m_App.thread());
    FlushListFile(true); // the base phase ends
    m_BasePhase = false;
    m_DownloadList.clear();
}

void DownloadQueue::AddFound(const std::vector<ManifestFile>& p_Found, bool p_Base)
{
    KESTRUN_OWNED_BY(m_App.thread());
    m_DownloadList.insert(m_DownloadList.end(), p_Found.begin(), p_Found.end());
    if (!p_Base)
        return;
    m_BasePhase = true;
    m_Finisher.ForgetGivenUp();
}

void DownloadQueue::Forget()
{
    KESTRUN_OWNED_BY(m_App.thread());
    m_DownloadList.clear();
    m_CurrentRequest = nullptr;
}

void DownloadQueue::SetForTest(std::vector<ManifestFile> p_List, unsigned p_Index, HTTP_DownloadFileRequest* p_Request)
{
    KESTRUN_OWNED_BY(m_App.thread());
    m_DownloadList = std::move(p_List);
    m_CurrentIndex = p_Index;
    m_CurrentRequest = p_Request;
    if (p_Request)
        m_Turn.Take();
}

bool DownloadQueue::InsideInstallFolder(const QString& p_RelativePath) const
{
    return InstallFolder(m_App.m_InstallationPath).Contains(p_RelativePath);
}

void DownloadQueue::RequestSizes(bool p_WaitForTurn, quint64 p_Pass)
{
    KESTRUN_OWNED_BY(m_App.thread());
    ApplicationStatus& l_Status = m_App.m_Status;
    l_Status.Percent = 100;
    l_Status.Busy = true;
    l_Status.Total = 0;
    l_Status.DownloadStatus = DownloadStatus::Preparing;
    l_Status.Message = QStringLiteral("Requesting files size...");
    StatusRecord::Changed(m_App);
    m_CurrentIndex = 0;
    m_Sizes.Request(p_WaitForTurn, p_Pass);
}

qint64 DownloadQueue::RemainingBytes() const
{
    qint64 l_Needed = m_App.m_Status.Total - m_CompletedBytes;
    QSet<QString> l_Counted; // a restarted entry is listed twice, its ".part" is there once
    for (size_t l_I = m_CurrentIndex; l_I < m_DownloadList.size(); ++l_I)
        if (!l_Counted.contains(m_DownloadList[l_I].Path))
        {
            l_Counted.insert(m_DownloadList[l_I].Path);
            l_Needed -= QFileInfo(m_App.m_InstallationPath + m_DownloadList[l_I].Path + ".part").size();
        }
    return l_Needed;
}

bool DownloadQueue::CheckFreeSpace()
{
    KESTRUN_OWNED_BY(m_App.thread());
    const qint64 l_Needed = RemainingBytes();
    const qint64 l_Free = m_Hooks.FreeSpace(m_App.m_InstallationPath);
    if (l_Needed <= 0 || l_Free < 0 || l_Free >= l_Needed)
    {
        m_WaitingForSpace = false;
        return true;
    }
    qCWarning(LauncherLog) << "StandartApplication::CheckFreeSpace short of space" << l_Needed << l_Free;
    WaitForSpace("Not enough free disk space to download " + m_App.m_Name + " into " + m_App.m_InstallationPath,
                 l_Needed, l_Free);
    return false;
}

void DownloadQueue::WaitForSpace(const QString& p_Text, qint64 p_Needed, qint64 p_Free)
{
    WaitStopped(p_Text + ": " + FormatBytes(p_Needed) + " needed, " + FormatBytes(qMax<qint64>(0, p_Free)) +
                " free. Free some space, then resume the download.");
}

void DownloadQueue::WaitStopped(const QString& p_Text)
{
    KESTRUN_OWNED_BY(m_App.thread());
    FlushListFile(false);
    m_WaitingForSpace = true;
    m_App.DropRequestAhead();
    m_Turn.Release();
    m_App.m_Status.DownloadStatus = DownloadStatus::Stopped;
    StatusRecord::Changed(m_App);
    m_App.ShowMessageBox(p_Text, false);
}

void DownloadQueue::BeginDownloads(const QString& p_Message)
{
    KESTRUN_OWNED_BY(m_App.thread());
    // A stop that came while the sizes were requested holds until ResumeDownload.
    const bool l_Stopped = m_App.m_Status.DownloadStatus == DownloadStatus::Stopped;
    m_App.m_Status.DownloadStatus = l_Stopped ? DownloadStatus::Stopped : DownloadStatus::Downloading;
    m_App.m_Status.Message = p_Message;
    StatusRecord::Changed(m_App);
    m_CurrentIndex = 0;
    m_CompletedBytes = 0;
    if (l_Stopped || !CheckFreeSpace())
        return;
    m_Cdn.Select(m_DownloadList[0], false);
    m_App.PostMainTask([this] { DownloadCurrentFile(); });
}

void DownloadQueue::DownloadCurrentFile()
{
    KESTRUN_OWNED_BY(m_App.thread());
    // Nothing to do after a stop between two files, or while a transfer or a check already runs.
    if (m_App.m_Status.DownloadStatus == DownloadStatus::Stopped || m_CurrentRequest || m_Finisher.Checking() ||
        m_CurrentIndex >= m_DownloadList.size())
        return;
    const ManifestFile l_Entry = m_DownloadList[m_CurrentIndex];
    if (!InsideInstallFolder(l_Entry.Path))
        return;
    // The downloader creates the file's folder.
    const PartFile l_File(m_App.m_InstallationPath, l_Entry);
    m_Finisher.Started(qMax<qint64>(0, l_File.Size()));
    m_App.m_NextDownloadSize = m_Sizes.Of(l_Entry.Path, -1);
    DrawNextFile();
    m_CurrentRequest =
        m_App.HTTP_DownloadFile(m_Cdn.BaseUrl() + m_App.m_FolderName + "/" + l_Entry.Location, l_File.Part(), true);
}

void DownloadQueue::DrawNextFile()
{
    KESTRUN_OWNED_BY(m_App.thread());
    m_Cdn.ForgetDrawn();
    if (m_CurrentIndex + 1 >= m_DownloadList.size())
        return;
    const ManifestFile& l_Next = m_DownloadList[m_CurrentIndex + 1];
    if (!InsideInstallFolder(l_Next.Path))
        return;
    // Its host is drawn now and kept for its turn, so that the request sent ahead is the one its turn asks.
    m_App.m_NextAhead.Url = m_Cdn.Draw(l_Next) + m_App.m_FolderName + "/" + l_Next.Location;
    m_App.m_NextAhead.Path = m_App.m_InstallationPath + l_Next.Path + ".part";
    m_App.m_NextAhead.SizeHint = m_Sizes.Of(l_Next.Path, -1);
}

void DownloadQueue::Stop(bool p_StoreRuns)
{
    KESTRUN_OWNED_BY(m_App.thread());
    // A running transfer is always reached, also one whose list a new pass already emptied.
    HTTP_DownloadFileRequest* l_Request = m_CurrentRequest;
    if (l_Request)
    {
        l_Request->StopRequested = true;
        while (!l_Request->Stopped)
            QThread::msleep(10);
        // The stopped transfer is over: its late completion changes nothing, and
        // the entry keeps its index and its list line for ResumeDownload.
        m_CurrentRequest = nullptr;
        m_Finisher.ForgetRestarts();
    }
    // Between two files the next one's request may have gone out already.
    m_App.DropRequestAhead();
    // A finished file still being checked stays at the index with its whole ".part": ResumeDownload
    // asks for the rest, is told there is none, and checks it again.
    m_Finisher.CallOff();
    FlushListFile(false);

    if (!p_StoreRuns && (m_DownloadList.empty() || m_CurrentIndex >= m_DownloadList.size()))
    {
        if (l_Request)
            m_Turn.Release();
        StatusRecord::ShowInstalled(m_App);
        return;
    }
    if (l_Request || m_WaitingForSpace || !p_StoreRuns)
    {
        // Between two files the next one is not started (DownloadCurrentFile checks the status).
        m_Turn.Release();
        m_App.m_Status.DownloadStatus = DownloadStatus::Stopped;
        StatusRecord::Changed(m_App);
    }
}

void DownloadQueue::Resume()
{
    KESTRUN_OWNED_BY(m_App.thread());
    if (m_DownloadList.empty() || m_CurrentIndex >= m_DownloadList.size())
    {
        StatusRecord::ShowInstalled(m_App);
        return;
    }
    // Already transferring: a second resume must not start the file twice.
    if (m_CurrentRequest && !m_CurrentRequest->StopRequested)
        return;
    if (!StatusRecord::LauncherRunning(m_App))
        return;

    if (!m_Turn.TakeOrRetry(false, [this] { Resume(); }))
        return;
    if (!CheckFreeSpace())
        return;
    m_App.m_Status.DownloadStatus = DownloadStatus::Downloading;
    StatusRecord::SetPercent(m_App, m_App.m_Status.Done, m_App.m_Status.Total);
    StatusRecord::Changed(m_App);
    m_Cdn.Select(m_DownloadList[m_CurrentIndex], true);
    m_App.PostMainTask([this] { DownloadCurrentFile(); });
}

void DownloadQueue::UpdateListFile(const QString& p_AppendPath)
{
    KESTRUN_OWNED_BY(m_App.thread());
    if (m_App.m_InstallationPath.isEmpty())
        return;
    const QString l_Current =
        m_CurrentIndex < m_DownloadList.size() ? m_DownloadList[m_CurrentIndex].Path : QString();
    m_ListFile.Update(m_App.m_InstallationPath +
                          (m_BasePhase ? ManifestPass::BaseListName : ManifestPass::StreamedListName),
                      l_Current, p_AppendPath);
}

void DownloadQueue::FlushListFile(bool p_Close)
{
    m_ListFile.Flush(p_Close);
}

void DownloadQueue::ShowDone(qint64 p_Done, qint64 p_LastSample)
{
    m_App.m_Status.Done = p_Done;
    StatusRecord::SetPercent(m_App, p_Done, m_App.m_Status.Total);
    if (p_LastSample > 0)
        m_App.AddSpeedSample(p_LastSample);
    StatusRecord::Changed(m_App);
}

void DownloadQueue::Requeue(const ManifestFile& p_Entry)
{
    KESTRUN_OWNED_BY(m_App.thread());
    m_DownloadList.push_back(p_Entry);
    UpdateListFile(p_Entry.Path);
}

void DownloadQueue::Retry(quint64 p_Pass, const QString& p_Path)
{
    KESTRUN_OWNED_BY(m_App.thread());
    if (!StillCurrent(p_Pass, p_Path))
        return;
    m_Cdn.Select(m_DownloadList[m_CurrentIndex], true);
    DownloadCurrentFile();
}

bool DownloadQueue::StillCurrent(quint64 p_Pass, const QString& p_Path) const
{
    return m_Passes.IsCurrent(p_Pass) && m_App.m_Status.DownloadStatus == DownloadStatus::Downloading &&
           StatusRecord::LauncherRunning(m_App) && m_CurrentIndex < m_DownloadList.size() &&
           m_DownloadList[m_CurrentIndex].Path == p_Path;
}

void DownloadQueue::OnProgress(HTTP_DownloadFileRequest* p_Request)
{
    KESTRUN_OWNED_BY(m_App.thread());
    if (p_Request != m_CurrentRequest)
        return;
    // The download thread goes on writing these: each is read once, and the figures used are those.
    const qint64 l_FullSize = p_Request->FullSize;
    const qint64 l_Received = p_Request->ReceivedBytes;
    const qint64 l_Speed = p_Request->BytesPerSecond;
    ApplicationStatus& l_Status = m_App.m_Status;
    // The transfer knows the file's size better than a size answer (unknown, or of another host).
    if (l_FullSize > 0 && m_CurrentIndex < m_DownloadList.size())
        l_Status.Total += l_FullSize - m_Sizes.Update(m_DownloadList[m_CurrentIndex].Path, l_FullSize);
    l_Status.Done = m_CompletedBytes + l_Received;
    StatusRecord::SetPercent(m_App, l_Status.Done, l_Status.Total);
    if (m_App.m_SpeedTimer.elapsed() >= 500)
    {
        m_App.AddSpeedSample(l_Speed);
        m_App.m_SpeedTimer.restart();
    }
    StatusRecord::Changed(m_App);
}

void DownloadQueue::OnRestarted(HTTP_DownloadFileRequest* p_Request)
{
    KESTRUN_OWNED_BY(m_App.thread());
    // A transfer that was stopped stays stopped; one of an earlier pass is not the current one.
    if (p_Request->StopRequested || m_CurrentIndex >= m_DownloadList.size() ||
        p_Request->FilePath != m_App.m_InstallationPath + m_DownloadList[m_CurrentIndex].Path + ".part")
        return;
    m_CurrentRequest = p_Request;
}

void DownloadQueue::OnComplete(HTTP_DownloadFileRequest* p_Request)
{
    KESTRUN_OWNED_BY(m_App.thread());
    // Completions of a stopped or replaced transfer change nothing.
    if (p_Request != m_CurrentRequest)
        return;
    // The record is freed once this slot returns: what is needed later is copied now.
    m_CurrentRequest = nullptr;
    ApplicationStatus& l_Status = m_App.m_Status;
    const bool l_Downloading =
        l_Status.DownloadStatus == DownloadStatus::Downloading || l_Status.DownloadStatus == DownloadStatus::Stopped;
    if (!l_Downloading || m_CurrentIndex >= m_DownloadList.size() ||
        p_Request->FilePath != m_App.m_InstallationPath + m_DownloadList[m_CurrentIndex].Path + ".part")
    {
        // A new pass (repair, install) began while this transfer ran: none of its entries is done.
        if (l_Status.DownloadStatus == DownloadStatus::Downloading && m_CurrentIndex < m_DownloadList.size())
            m_App.PostMainTask([this] { DownloadCurrentFile(); });
        return;
    }
    const ManifestFile l_Entry = m_DownloadList[m_CurrentIndex];
    const FileFinisher::Transfer l_Done = FileFinisher::Transfer::Of(*p_Request);

    if (p_Request->StopRequested)
    {
        // Not a completion: the entry keeps its line and its index; ResumeDownload continues its ".part".
        m_Finisher.ForgetRestarts();
        ShowDone(m_CompletedBytes, l_Done.LastSample);
        return;
    }
    if (p_Request->WriteFailed)
    {
        // What was written stays for the resume. A full volume is told with the two figures, any other
        // failure (a read-only folder, no permission) with the system's reason alone, even on a small volume.
        const QString l_Part = m_App.m_InstallationPath + l_Entry.Path + ".part";
        const qint64 l_Needed = RemainingBytes();
        const qint64 l_Free = m_Hooks.FreeSpace(m_App.m_InstallationPath);
        const QString& l_Error = p_Request->WriteError;
        bool l_Refused = false;
        for (const char* l_Word : {"permission", "read-only", "directory", "not permitted"})
            l_Refused = l_Refused || l_Error.contains(QLatin1String(l_Word), Qt::CaseInsensitive);
        if (!l_Refused && (l_Error.isEmpty() || (l_Free >= 0 && l_Free < l_Needed)))
            WaitForSpace("Could not write " + l_Part, l_Needed, l_Free);
        else
            WaitStopped("Could not write " + l_Part + ": " +
                        (l_Error.isEmpty() ? QStringLiteral("the system refused it") : l_Error));
        l_Status.Done = m_CompletedBytes + QFileInfo(l_Part).size();
        StatusRecord::SetPercent(m_App, l_Status.Done, l_Status.Total);
        return;
    }
    if (!InsideInstallFolder(l_Entry.Path))
    {
        qCWarning(LauncherLog) << "StandartApplication::App_OnHTTPDownloadProgressComplete outside the install folder"
                               << l_Entry.Path;
        return NextFile(l_Done.LastSample);
    }
    m_Finisher.Finish(l_Entry, l_Done);
}

void DownloadQueue::NextFile(qint64 p_LastSample)
{
    KESTRUN_OWNED_BY(m_App.thread());
    ShowDone(m_CompletedBytes, p_LastSample);

    ++m_CurrentIndex;
    if (m_CurrentIndex < m_DownloadList.size())
    {
        m_Cdn.Select(m_DownloadList[m_CurrentIndex], true);
        m_App.PostMainTask([this] { DownloadCurrentFile(); });
        return;
    }
    if (m_BasePhase)
    {
        m_Hooks.StreamedPhase();
        return;
    }
    FlushListFile(true); // the streamed phase ends
    m_Turn.Release();
    m_App.m_Status.Message.clear();
    StatusRecord::ShowInstalled(m_App);
    // The plain path has nothing left to fetch: the content store may follow.
    const quint64 l_Pass = m_Passes.Current();
    m_App.PostMainTask([this, l_Pass] {
        Forget();
        m_Hooks.PassEnded(l_Pass);
    });
}

} // namespace Launcher
} // namespace Orvane
