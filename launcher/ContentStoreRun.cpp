// The content-store phases: the run after the plain path, driven from the task queues, stop and
// resume, errors.
#include "launcher/ContentStoreRun.h"
#include "casc/CASCApplication.h"
#include "casc/CASCArchivesManager.h"
#include "casc/CASCBaseVerifier.h"
#include "casc/CASCIndexManager.h"
#include "casc/CASCVersion.h"
#include "launcher/LauncherLog.h"
#include "launcher/StatusRecord.h"
#include "net/Deployment.h"
#include "platform/ThreadOwner.h"

#include <QDebug>
#include <QMutexLocker>
#include <QSaveFile>
#include <QThread>

#include <memory>

namespace Orvane {
namespace Launcher {

namespace {
const int c_Region = 2;  // eu
const int c_Product = 0; // the region tables live under "wow/"
} // namespace

ContentStoreRun::ContentStoreRun(Application& p_App) : m_App(p_App) {}

ContentStoreRun::~ContentStoreRun()
{
    delete m_Store;
}

QString ContentStoreRun::ListPath() const
{
    return m_App.m_InstallationPath + "ToDownloadCASC.db";
}

ContentStoreRun::Worker ContentStoreRun::ActiveWorker() const
{
    // The verifier transfers in its own phase; the archive manager from the encoding file to the end.
    if (m_Phase == Phase::BaseFiles)
        return Worker::BaseVerifier;
    if (m_Phase >= Phase::Encoding)
        return Worker::ArchivesManager;
    return Worker::None;
}

void ContentStoreRun::Drop()
{
    KESTRUN_OWNED_BY(m_App.thread());
    // Its steps and callables are ignored from now on, and it is deleted once the worker is
    // past any step of it; a scan or index load in flight stops at its next file or slot.
    StopWorker();
    if (CASC::CASCApplication* l_Old = m_Store)
    {
        m_Store = nullptr;
        l_Old->GetArchivesManager()->CancelScan();
        l_Old->GetArchivesManager()->CancelEncoding();
        l_Old->GetIndexManager()->Cancel(true);
        // Shared by both steps: if the queues are dropped unrun (the unload), the last copy deletes it.
        const std::shared_ptr<CASC::CASCApplication> l_Hold(l_Old);
        Application* const l_App = &m_App;
        m_App.PostWorkerTask([l_App, l_Hold] { l_App->PostMainTask([l_Hold] {}); });
    }
    ++m_Run;
    m_Active = false;
    m_Phase = Phase::None;
    m_Stopped = false;
    m_Held = nullptr;
}

void ContentStoreRun::Start()
{
    Drop();
    const quint64 l_Run = ++m_Run;
    m_Active = true;
    m_Stopped = false;
    m_Held = nullptr;

    m_App.GetInstallationPath();
    m_Store = new CASC::CASCApplication(c_Product, m_App.m_InstallationPath, "http://" + Deployment::DefaultCdnHost());
    // Direct: the receivers only post to the task queues.
    QObject::connect(
        m_Store, &CASC::CASCApplication::OnError, &m_App,
        [this, l_Run](CASC::Errors::Type p_Type, QString p_Message) {
            m_App.PostMainTask([this, l_Run, p_Type, p_Message] { Error(l_Run, p_Type, p_Message); });
        },
        Qt::DirectConnection);
    QObject::connect(
        m_Store, &CASC::CASCApplication::InitComplete, &m_App,
        [this, l_Run] { Step(l_Run, [this, l_Run] { VerifyBaseFiles(l_Run); }); }, Qt::DirectConnection);

    ShowPhase(Phase::Configuration, QStringLiteral("Getting CDN configuration..."), DownloadStatus::Preparing);
    m_Store->Init(c_Region);
}

void ContentStoreRun::Step(quint64 p_Run, std::function<void()> p_Step)
{
    // Always through the main queue: each phase is a task of its own, so the host sees every one.
    m_App.PostMainTask([this, p_Run, p_Step] {
        if (p_Run != m_Run || !m_Active || !m_Store)
            return;
        // After a stop (or while the launcher closes) no further phase starts: the scan and
        // the parse that were running have returned, and no transfer follows them.
        if (m_Stopped || !StatusRecord::LauncherRunning(m_App))
        {
            m_Held = p_Step;
            return;
        }
        p_Step();
    });
}

void ContentStoreRun::OnAppThread(quint64 p_Run, std::function<void()> p_Action)
{
    auto l_Guarded = [this, p_Run, p_Action] {
        if (p_Run == m_Run && m_Active && m_Store)
            p_Action();
    };
    if (QThread::currentThread() == m_App.thread())
        l_Guarded();
    else
        m_App.PostMainTask(l_Guarded);
}

void ContentStoreRun::ShowPhase(Phase p_Phase, const QString& p_Message, int p_DownloadStatus)
{
    KESTRUN_OWNED_BY(m_App.thread());
    m_Phase = p_Phase;
    ApplicationStatus& l_Status = m_App.m_Status;
    l_Status.ApplicationState = ApplicationState::Installed;
    l_Status.Message = p_Message;
    l_Status.DownloadStatus = m_Stopped ? DownloadStatus::Stopped : p_DownloadStatus;
    l_Status.Busy = true;
    // Unknown length until the worker reports figures.
    l_Status.Percent = 100;
    l_Status.Done = 0;
    l_Status.Total = 0;
    l_Status.Speed = 0;
    l_Status.DetailVisible = false;
    l_Status.DetailValue = 0;
    StatusRecord::Changed(m_App);
}

void ContentStoreRun::ShowDownload(int p_File, int p_Files, int p_Percent, quint64 p_Done, quint64 p_Total,
                                   quint64 p_Speed, bool p_Sample)
{
    KESTRUN_OWNED_BY(m_App.thread());
    ApplicationStatus& l_Status = m_App.m_Status;
    if (!m_Stopped)
        l_Status.DownloadStatus = DownloadStatus::Downloading;
    l_Status.Busy = true;
    l_Status.Percent = qBound(0, p_Percent, 100);
    l_Status.Done = qint64(p_Done);
    l_Status.Total = qint64(p_Total);
    if (p_Sample)
        m_App.AddSpeedSample(qint64(p_Speed));
    // File k of n; an empty list has no file to name.
    l_Status.Detail = QStringLiteral("File %1 of %2").arg(qMin(p_File, p_Files)).arg(p_Files);
    l_Status.DetailValue = qMin(p_File, p_Files);
    l_Status.DetailVisible = p_Files > 0;
    StatusRecord::Changed(m_App);
    // A stop that came while the sizes were asked for reaches the transfer that follows them.
    if (m_Stopped)
        StopWorker();
}

ContentStoreRun::Progress ContentStoreRun::ProgressOf(quint64 p_Run, bool p_Sample)
{
    return [this, p_Run, p_Sample](int p_File, int p_Files, int p_Percent, quint64 p_Done, quint64 p_Total,
                                   quint64 p_Speed) {
        OnAppThread(p_Run, [=] { ShowDownload(p_File, p_Files, p_Percent, p_Done, p_Total, p_Speed, p_Sample); });
    };
}

void ContentStoreRun::StopWorker()
{
    if (!m_Store)
        return;
    // The index load and the scan run on the worker queue: they read these flags per file and slot.
    m_Store->GetIndexManager()->Cancel(true);
    if (ActiveWorker() == Worker::BaseVerifier)
        m_Store->GetBaseVerifier()->StopDownload();
    else if (ActiveWorker() == Worker::ArchivesManager)
        m_Store->GetArchivesManager()->StopDownload();
}

void ContentStoreRun::Stop()
{
    KESTRUN_OWNED_BY(m_App.thread());
    if (!m_Active || !m_Store)
        return;
    // The worker of the phase stops; between two (the index load, a phase change) the flag holds the next.
    m_Stopped = true;
    StopWorker();
    m_App.m_Status.DownloadStatus = DownloadStatus::Stopped;
    StatusRecord::Changed(m_App);
}

void ContentStoreRun::Unload()
{
    KESTRUN_OWNED_BY(m_App.thread());
    if (m_Active && m_Store)
    {
        m_Store->GetArchivesManager()->CancelScan();
        Stop();
    }
    // A scan or index load in flight ends at its next slot or file: it is waited for.
    m_Work.lock();
    m_Work.unlock();
}

void ContentStoreRun::Resume()
{
    KESTRUN_OWNED_BY(m_App.thread());
    const bool l_WasStopped = m_Stopped;
    m_Stopped = false;
    m_App.m_Status.DownloadStatus = DownloadStatus::Downloading;
    StatusRecord::Changed(m_App);
    if (std::function<void()> l_Held = std::move(m_Held))
    {
        m_Held = nullptr;
        // A phase that starts again must not find the stop of the one it replaces.
        if (m_Store)
        {
            m_Store->GetIndexManager()->Cancel(false);
            if (ActiveWorker() == Worker::ArchivesManager)
                m_Store->GetArchivesManager()->ResumeDownload();
        }
        l_Held();
        return;
    }
    if (m_Store)
        m_Store->GetIndexManager()->Cancel(false);
    if (!l_WasStopped || !m_Store)
        return;
    if (ActiveWorker() == Worker::BaseVerifier)
        m_Store->GetBaseVerifier()->ResumeDownload();
    else if (ActiveWorker() == Worker::ArchivesManager)
        m_Store->GetArchivesManager()->ResumeDownload();
}

void ContentStoreRun::Error(quint64 p_Run, CASC::Errors::Type p_Kind, const QString& p_Message)
{
    KESTRUN_OWNED_BY(m_App.thread());
    if (p_Run != m_Run)
        return;
    m_App.ShowMessageBox("Error " + QString::number(int(p_Kind)) + " " + p_Message, false);
    if (m_Active)
        End(false);
}

void ContentStoreRun::End(bool p_Whole)
{
    KESTRUN_OWNED_BY(m_App.thread());
    // The transfer of a failed run stops where it is; the next run scans again.
    if (!p_Whole)
        StopWorker();
    m_Active = false;
    m_Phase = Phase::None;
    m_Stopped = false;
    m_Held = nullptr;
    if (p_Whole)
    {
        // Nothing left to fetch: the list the scan wrote is emptied, so it never names
        // slots that are already whole.
        QSaveFile l_List(ListPath());
        if (l_List.open(QIODevice::WriteOnly))
            l_List.commit();
        if (!m_App.IsInstalled())
            m_App.SetLocalSetting(m_App.SettingKey(".Installed"), true);
        m_App.m_Status.Message.clear();
        m_App.m_Status.Percent = 100;
    }
    StatusRecord::ShowInstalled(m_App);
}

void ContentStoreRun::VerifyBaseFiles(quint64 p_Run)
{
    CASC::CASCVersion* l_Version = m_Store->GetVersion();
    qCWarning(LauncherLog) << "Build name" << l_Version->GetBuildConfig()._BuildName;
    qCWarning(LauncherLog) << "Archive group" << l_Version->GetCDNConfig()._ArchiveGroup;

    ShowPhase(Phase::BaseFiles, QStringLiteral("Verifying basic informations..."), DownloadStatus::Preparing);
    CASC::CASCBaseVerifier* l_Verifier = m_Store->GetBaseVerifier();
    l_Verifier->m_OnDownloadStarted = ProgressOf(p_Run, false);
    l_Verifier->m_OnDownloadProgress = ProgressOf(p_Run, true);
    l_Verifier->m_OnDownloadCompleted = ProgressOf(p_Run, false);
    l_Verifier->m_OnFinished = [this, p_Run] { Step(p_Run, [this, p_Run] { LoadIndices(p_Run); }); };
    l_Verifier->Scan();
    l_Verifier->Start();
}

void ContentStoreRun::LoadIndices(quint64 p_Run)
{
    ShowPhase(Phase::Indices, QStringLiteral("Load CASC Indexes..."), DownloadStatus::Checking);
    CASC::CASCApplication* l_Store = m_Store;
    // Reading every archive index is long work: the worker queue runs it. An error it raises
    // is queued before the next step, which then finds the run ended.
    m_App.PostWorkerTask([this, p_Run, l_Store] {
        bool l_Cancelled = false;
        {
            QMutexLocker l_Work(&m_Work);
            l_Store->GetIndexManager()->Load();
            l_Cancelled = l_Store->GetIndexManager()->Cancelled();
        }
        // A stopped load kept nothing: the resume loads again.
        if (l_Cancelled)
            Step(p_Run, [this, p_Run] { LoadIndices(p_Run); });
        else
            Step(p_Run, [this, p_Run] { LoadEncodingFile(p_Run); });
    });
}

void ContentStoreRun::LoadEncodingFile(quint64 p_Run)
{
    CASC::CASCArchivesManager* l_Archives = m_Store->GetArchivesManager();
    l_Archives->m_OnEncodingLoaded = [this, p_Run] { Step(p_Run, [this, p_Run] { ScanStore(p_Run); }); };
    l_Archives->m_OnFinished = [this, p_Run] { OnAppThread(p_Run, [this] { End(true); }); };
    l_Archives->m_OnBusy = [this, p_Run] {
        OnAppThread(p_Run, [this] {
            m_App.m_Status.Percent = 100;
            m_App.m_Status.Done = 0;
            m_App.m_Status.Total = 0;
            StatusRecord::Changed(m_App);
        });
    };
    l_Archives->m_OnCheckProgress = [this, p_Run, l_Archives](quint32 p_Done, quint32 p_Total) {
        // Called each second by a scan in flight: a launcher that closes ends it.
        if (!StatusRecord::LauncherRunning(m_App))
            l_Archives->CancelScan();
        OnAppThread(p_Run, [this, p_Done, p_Total] {
            if (!m_Stopped)
                m_App.m_Status.DownloadStatus = DownloadStatus::Checking;
            m_App.m_Status.Done = p_Done;
            m_App.m_Status.Total = p_Total;
            StatusRecord::SetPercent(m_App, p_Done, p_Total);
            StatusRecord::Changed(m_App);
        });
    };
    l_Archives->m_OnDownloadStarted = ProgressOf(p_Run, false);
    l_Archives->m_OnDownloadProgress = ProgressOf(p_Run, true);
    l_Archives->m_OnDownloadCompleted = ProgressOf(p_Run, false);

    ShowPhase(Phase::Encoding, QStringLiteral("Load local CASC IDX files..."), DownloadStatus::Preparing);
    l_Archives->Init(ListPath());
}

void ContentStoreRun::ScanStore(quint64 p_Run)
{
    ShowPhase(Phase::Scan, QStringLiteral("Load local CASC IDX files and scan current installation..."),
              DownloadStatus::Checking);
    CASC::CASCApplication* l_Store = m_Store;
    // The scan blocks its thread until every archive was read: the worker queue runs it.
    m_App.PostWorkerTask([this, p_Run, l_Store] {
        bool l_Scanned = false, l_Cancelled = false;
        {
            QMutexLocker l_Work(&m_Work);
            l_Scanned = l_Store->GetArchivesManager()->ScanInstall();
            l_Cancelled = l_Store->GetArchivesManager()->ScanCancelled();
        }
        // A stopped scan left the list as it was: the resume scans again. A failed one raised
        // its error, which ends the run before this step runs.
        if (l_Cancelled)
            Step(p_Run, [this, p_Run] { ScanStore(p_Run); });
        else if (l_Scanned)
            Step(p_Run, [this, p_Run] { LoadList(p_Run); });
    });
}

void ContentStoreRun::LoadList(quint64 p_Run)
{
    ShowPhase(Phase::List, QStringLiteral("Loading download file list..."), DownloadStatus::Preparing);
    if (m_Store->GetArchivesManager()->LoadDownloadList())
        Step(p_Run, [this] { StreamBlobs(); });
}

void ContentStoreRun::StreamBlobs()
{
    ShowPhase(Phase::Stream, QStringLiteral("Downloading streammed files..."), DownloadStatus::Downloading);
    m_Store->GetArchivesManager()->StartStreaming();
}

} // namespace Launcher
} // namespace Orvane
