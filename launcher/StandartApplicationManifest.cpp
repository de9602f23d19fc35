// The steps of a manifest pass: the base phase's list and sizes, then the streamed phase's, each
// handing its list to the download queue.
#include "launcher/StandartApplication.h"
#include "launcher/StatusRecord.h"
#include "platform/ThreadOwner.h"

namespace Orvane {
namespace Launcher {

quint64 StandartApplication::BeginPass()
{
    KESTRUN_OWNED_BY(thread());
    m_Queue.ClearForPass();
    // A content-store run belongs to the pass before: a later resume must not restart it.
    m_ContentStore.Drop();
    return m_Passes.Begin();
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

void StandartApplication::BuildBaseList()
{
    BuildBaseList(m_Passes.Current());
}

void StandartApplication::BuildBaseList(quint64 p_Pass)
{
    if (m_Passes.IsCurrent(p_Pass))
        BuildBaseList(p_Pass, ListInputOf(m_Remote.Build().BaseFiles));
}

void StandartApplication::BuildBaseList(quint64 p_Pass, const ListInput& p_Input)
{
    auto l_Tracked = [](const ManifestFile& p_File) { return (p_File.Flags & FlagTracked) != 0; };
    m_Passes.BuildList(p_Pass, p_Input, ManifestPass::BaseListName, l_Tracked, true,
                       [this, p_Pass](const std::vector<ManifestFile>& p_Found) {
                           m_Queue.AddFound(p_Found, true);
                           if (m_Queue.Empty())
                               StartStreamedPhase(true, p_Pass);
                           else
                               RequestFileSizes(p_Pass);
                       });
}

void StandartApplication::StartStreamedPhase(bool p_WaitForTurn)
{
    KESTRUN_OWNED_BY(thread());
    StartStreamedPhase(p_WaitForTurn, m_Passes.Current());
}

void StandartApplication::StartStreamedPhase(bool p_WaitForTurn, quint64 p_Pass)
{
    if (!m_Passes.IsCurrent(p_Pass))
        return;
    m_Queue.ClearForStreamed();
    m_Status.DetailVisible = false;
    m_Status.DetailValue = 0;
    m_Status.Percent = 100;
    m_Status.Busy = true;
    m_Status.Done = 0;
    m_Status.Total = qint64(m_Remote.Build().StreamedFiles.size());
    m_Status.DownloadStatus = DownloadStatus::Checking;
    StatusRecord::Changed(*this);
    const ListInput l_Input = ListInputOf(m_Remote.Build().StreamedFiles);
    PostWorkerTask([this, p_WaitForTurn, p_Pass, l_Input] { BuildStreamedList(p_WaitForTurn, p_Pass, l_Input); });
}

void StandartApplication::BuildStreamedList(bool p_WaitForTurn)
{
    BuildStreamedList(p_WaitForTurn, m_Passes.Current());
}

void StandartApplication::BuildStreamedList(bool p_WaitForTurn, quint64 p_Pass)
{
    if (m_Passes.IsCurrent(p_Pass))
        BuildStreamedList(p_WaitForTurn, p_Pass, ListInputOf(m_Remote.Build().StreamedFiles));
}

void StandartApplication::BuildStreamedList(bool p_WaitForTurn, quint64 p_Pass, const ListInput& p_Input)
{
    m_Passes.BuildList(p_Pass, p_Input, ManifestPass::StreamedListName, ManifestPass::FileFilter(), false,
                       [this, p_WaitForTurn, p_Pass](const std::vector<ManifestFile>& p_Found) {
                           m_Queue.AddFound(p_Found, false);
                           StartStreamedSizes(p_WaitForTurn, p_Pass);
                       });
}

void StandartApplication::StartStreamedSizes(bool p_WaitForTurn, quint64 p_Pass)
{
    KESTRUN_OWNED_BY(thread());
    if (m_Queue.Empty())
    {
        if (!p_WaitForTurn)
            m_Queue.Turn().Release();
        StatusRecord::ShowInstalled(*this);
        PostMainTask([this, p_Pass] { CheckContentStore(p_Pass); });
        return;
    }
    // No turn check here; Done keeps its value.
    m_Queue.RequestSizes(p_WaitForTurn, p_Pass);
}

void StandartApplication::RequestFileSizes()
{
    RequestFileSizes(m_Passes.Current());
}

void StandartApplication::RequestFileSizes(quint64 p_Pass)
{
    if (!m_Passes.KeepGoing(p_Pass))
        return;
    if (!TakeTurnOrRetry(true, [this, p_Pass] { RequestFileSizes(p_Pass); }))
        return;
    m_Status.Done = 0;
    m_Queue.RequestSizes(false, p_Pass);
}

void StandartApplication::UpdateListFile(QString p_AppendPath)
{
    m_Queue.UpdateListFile(p_AppendPath);
}

void StandartApplication::StartPhaseDownloads(bool p_WaitForTurn, quint64 p_Pass)
{
    if (!m_Passes.IsCurrent(p_Pass))
        return;
    if (m_Queue.BasePhase())
        StartBaseDownloads();
    else
        StartStreamedDownloads(p_WaitForTurn);
}

void StandartApplication::StartBaseDownloads()
{
    if (m_Queue.Empty())
    {
        StartStreamedPhase(false);
        return;
    }
    m_Queue.BeginDownloads(QStringLiteral("Downloading base files..."));
}

void StandartApplication::StartStreamedDownloads(bool p_WaitForTurn)
{
    if (m_Queue.Empty())
    {
        StatusRecord::ShowInstalled(*this);
        return;
    }
    if (p_WaitForTurn)
    {
        WaitForStreamedTurn();
        return;
    }
    m_Queue.BeginDownloads(QStringLiteral("Downloading streammed files..."));
}

void StandartApplication::WaitForStreamedTurn()
{
    WaitForStreamedTurn(m_Passes.Current());
}

void StandartApplication::WaitForStreamedTurn(quint64 p_Pass)
{
    if (!m_Passes.KeepGoing(p_Pass) || !TakeTurnOrRetry(true, [this, p_Pass] { WaitForStreamedTurn(p_Pass); }))
        return;
    StartStreamedDownloads(false);
}

void StandartApplication::DownloadCurrentFile()
{
    m_Queue.DownloadCurrentFile();
}

bool StandartApplication::TakeTurnOrRetry(bool p_ClearMessage, std::function<void()> p_Retry)
{
    return m_Queue.Turn().TakeOrRetry(p_ClearMessage, std::move(p_Retry));
}

} // namespace Launcher
} // namespace Orvane
