// The content-store phases: the hand-off after the plain path, the seven phases
// driven from the task queues, stop and resume, errors.
#include "casc/CASCApplication.h"
#include "casc/CASCArchivesManager.h"
#include "casc/CASCBaseVerifier.h"
#include "casc/CASCIndexManager.h"
#include "casc/CASCVersion.h"
#include "net/Deployment.h"
#include "launcher/LauncherLog.h"
#include "launcher/StandartApplication.h"
#include "platform/ThreadOwner.h"

#include <QDebug>
#include <QFile>
#include <QSaveFile>
#include <QThread>

#include <memory>

namespace Orvane {
namespace Launcher {

namespace {
const int c_Region = 2;  // eu
const int c_Product = 0; // the region tables live under "wow/"
} // namespace

QString StandartApplication::ContentStoreListPath() const
{
    return m_InstallationPath + "ToDownloadCASC.db";
}

void StandartApplication::CheckContentStore(quint64 p_Pass)
{
    // A newer pass hands over itself when it ends.
    if (!PassCurrent(p_Pass))
        return;
    if (!GetLocalSetting(SettingKey(".IsCASCEnabled"), false).toBool())
        return;
    StartContentStore();
}

void StandartApplication::DropContentStore()
{
    KESTRUN_OWNED_BY(thread());
    // Its steps and callables are ignored from now on, and it is deleted once the worker is
    // past any step of it; a scan or index load in flight stops at its next file or slot.
    StopContentStoreWorker();
    if (CASC::CASCApplication* l_Old = m_CASCApplication)
    {
        m_CASCApplication = nullptr;
        l_Old->GetArchivesManager()->CancelScan();
        l_Old->GetArchivesManager()->CancelEncoding();
        l_Old->GetIndexManager()->Cancel(true);
        // Shared by both steps: if the queues are dropped unrun (the unload), the last copy deletes it.
        const std::shared_ptr<CASC::CASCApplication> l_Hold(l_Old);
        PostWorkerTask([this, l_Hold] { PostMainTask([l_Hold] {}); });
    }
    ++m_CASCRun;
    m_CASCMode = false;
    m_CASCStep = 0;
    m_CASCPhase = 0;
    m_CASCStopped = false;
    m_CASCHeld = nullptr;
}

void StandartApplication::StartContentStore()
{
    // A run still going (a repair began meanwhile) is replaced.
    DropContentStore();
    const quint64 l_Run = ++m_CASCRun;
    m_CASCMode = true;
    m_CASCStep = 0;
    m_CASCStopped = false;
    m_CASCHeld = nullptr;

    GetInstallationPath();
    m_CASCApplication = new CASC::CASCApplication(c_Product, m_InstallationPath, "http://" + Deployment::DefaultCdnHost());
    // Direct: the receivers only post to the task queues.
    connect(
        m_CASCApplication, &CASC::CASCApplication::OnError, this,
        [this, l_Run](CASC::Errors::Type p_Type, QString p_Message) {
            const int l_Kind = int(p_Type);
            PostMainTask([this, l_Run, l_Kind, p_Message] { ContentStoreError(l_Run, l_Kind, p_Message); });
        },
        Qt::DirectConnection);
    connect(
        m_CASCApplication, &CASC::CASCApplication::InitComplete, this,
        [this, l_Run] { ContentStoreStep(l_Run, [this, l_Run] { VerifyBaseFiles(l_Run); }); },
        Qt::DirectConnection);

    ShowContentStorePhase(1, QStringLiteral("Getting CDN configuration..."), 2);
    m_CASCApplication->Init(c_Region);
}

void StandartApplication::ContentStoreStep(quint64 p_Run, std::function<void()> p_Step)
{
    // Always through the main queue: each phase is a task of its own, so the host sees every one.
    PostMainTask([this, p_Run, p_Step] {
        if (p_Run != m_CASCRun || !m_CASCMode || !m_CASCApplication)
            return;
        // After a stop (or while the launcher closes) no further phase starts: the scan and
        // the parse that were running have returned, and no transfer follows them.
        if (m_CASCStopped || !LauncherRunning())
        {
            m_CASCHeld = p_Step;
            return;
        }
        p_Step();
    });
}

void StandartApplication::OnContentStoreThread(quint64 p_Run, std::function<void()> p_Action)
{
    auto l_Guarded = [this, p_Run, p_Action] {
        if (p_Run == m_CASCRun && m_CASCMode && m_CASCApplication)
            p_Action();
    };
    if (QThread::currentThread() == thread())
        l_Guarded();
    else
        PostMainTask(l_Guarded);
}

void StandartApplication::ShowContentStorePhase(int p_Phase, const QString& p_Message, int p_DownloadStatus)
{
    KESTRUN_OWNED_BY(thread());
    m_CASCPhase = p_Phase;
    m_Status.ApplicationState = 2;
    m_Status.Message = p_Message;
    m_Status.DownloadStatus = m_CASCStopped ? 4 : p_DownloadStatus;
    m_Status.Busy = true;
    // Unknown length until the worker reports figures.
    m_Status.Percent = 100;
    m_Status.Done = 0;
    m_Status.Total = 0;
    m_Status.Speed = 0;
    m_Status.DetailVisible = false;
    m_Status.DetailValue = 0;
    StateChanged();
}

void StandartApplication::ShowContentStoreDownload(int p_File, int p_Files, int p_Percent, quint64 p_Done,
                                                   quint64 p_Total, quint64 p_Speed, bool p_Sample)
{
    KESTRUN_OWNED_BY(thread());
    if (!m_CASCStopped)
        m_Status.DownloadStatus = 3;
    m_Status.Busy = true;
    m_Status.Percent = qBound(0, p_Percent, 100);
    m_Status.Done = qint64(p_Done);
    m_Status.Total = qint64(p_Total);
    if (p_Sample)
        AddSpeedSample(qint64(p_Speed));
    // File k of n; an empty list has no file to name.
    m_Status.Detail = QStringLiteral("File %1 of %2").arg(qMin(p_File, p_Files)).arg(p_Files);
    m_Status.DetailValue = qMin(p_File, p_Files);
    m_Status.DetailVisible = p_Files > 0;
    StateChanged();
    // A stop that came while the sizes were asked for reaches the transfer that follows them.
    if (m_CASCStopped)
        StopContentStoreWorker();
}

StandartApplication::ContentStoreProgress StandartApplication::ContentStoreProgressOf(quint64 p_Run, bool p_Sample)
{
    return [this, p_Run, p_Sample](int p_File, int p_Files, int p_Percent, quint64 p_Done, quint64 p_Total,
                                   quint64 p_Speed) {
        OnContentStoreThread(p_Run, [=] {
            ShowContentStoreDownload(p_File, p_Files, p_Percent, p_Done, p_Total, p_Speed, p_Sample);
        });
    };
}

void StandartApplication::StopContentStoreWorker()
{
    if (!m_CASCApplication)
        return;
    // The index load and the scan run on the worker queue: they read these flags per file and slot.
    m_CASCApplication->GetIndexManager()->Cancel(true);
    if (m_CASCStep == 1)
        m_CASCApplication->GetBaseVerifier()->StopDownload();
    else if (m_CASCStep == 2)
        m_CASCApplication->GetArchivesManager()->StopDownload();
}

void StandartApplication::StopContentStore()
{
    KESTRUN_OWNED_BY(thread());
    // Step 1 stops the verifier, step 2 the archive manager; between them (the index load, a
    // phase change) the flag holds the next phase.
    m_CASCStopped = true;
    StopContentStoreWorker();
    m_Status.DownloadStatus = 4;
    StateChanged();
}

void StandartApplication::ResumeContentStore()
{
    KESTRUN_OWNED_BY(thread());
    const bool l_WasStopped = m_CASCStopped;
    m_CASCStopped = false;
    m_Status.DownloadStatus = 3;
    StateChanged();
    if (std::function<void()> l_Held = std::move(m_CASCHeld))
    {
        m_CASCHeld = nullptr;
        // A phase that starts again must not find the stop of the one it replaces.
        if (m_CASCApplication)
        {
            m_CASCApplication->GetIndexManager()->Cancel(false);
            if (m_CASCStep == 2)
                m_CASCApplication->GetArchivesManager()->ResumeDownload();
        }
        l_Held();
        return;
    }
    if (m_CASCApplication)
        m_CASCApplication->GetIndexManager()->Cancel(false);
    if (!l_WasStopped || !m_CASCApplication)
        return;
    if (m_CASCStep == 1)
        m_CASCApplication->GetBaseVerifier()->ResumeDownload();
    else if (m_CASCStep == 2)
        m_CASCApplication->GetArchivesManager()->ResumeDownload();
}

void StandartApplication::ContentStoreError(quint64 p_Run, int p_Kind, const QString& p_Message)
{
    KESTRUN_OWNED_BY(thread());
    if (p_Run != m_CASCRun)
        return;
    ShowMessageBox("Error " + QString::number(p_Kind) + " " + p_Message, false);
    if (m_CASCMode)
        EndContentStore(false);
}

void StandartApplication::EndContentStore(bool p_Whole)
{
    KESTRUN_OWNED_BY(thread());
    // The transfer of a failed run stops where it is; the next run scans again.
    if (!p_Whole)
        StopContentStoreWorker();
    m_CASCMode = false;
    m_CASCStep = 0;
    m_CASCPhase = 0;
    m_CASCStopped = false;
    m_CASCHeld = nullptr;
    if (p_Whole)
    {
        // Nothing left to fetch: the list the scan wrote is emptied, so it never names
        // slots that are already whole.
        QSaveFile l_List(ContentStoreListPath());
        if (l_List.open(QIODevice::WriteOnly))
            l_List.commit();
        if (!IsInstalled())
            SetLocalSetting(SettingKey(".Installed"), true);
        m_Status.Message.clear();
        m_Status.Percent = 100;
    }
    ShowInstalled();
}

void StandartApplication::VerifyBaseFiles(quint64 p_Run)
{
    CASC::CASCVersion* l_Version = m_CASCApplication->GetVersion();
    qCWarning(LauncherLog) << "Build name" << l_Version->GetBuildConfig()._BuildName;
    qCWarning(LauncherLog) << "Archive group" << l_Version->GetCDNConfig()._ArchiveGroup;

    ShowContentStorePhase(2, QStringLiteral("Verifying basic informations..."), 2);
    m_CASCStep = 1;
    CASC::CASCBaseVerifier* l_Verifier = m_CASCApplication->GetBaseVerifier();
    l_Verifier->m_OnDownloadStarted = ContentStoreProgressOf(p_Run, false);
    l_Verifier->m_OnDownloadProgress = ContentStoreProgressOf(p_Run, true);
    l_Verifier->m_OnDownloadCompleted = ContentStoreProgressOf(p_Run, false);
    l_Verifier->m_OnFinished = [this, p_Run] {
        ContentStoreStep(p_Run, [this, p_Run] { LoadContentStoreIndices(p_Run); });
    };
    l_Verifier->Scan();
    l_Verifier->Start();
}

void StandartApplication::LoadContentStoreIndices(quint64 p_Run)
{
    ShowContentStorePhase(3, QStringLiteral("Load CASC Indexes..."), 5);
    m_CASCStep = 0;
    CASC::CASCApplication* l_Store = m_CASCApplication;
    // Reading every archive index is long work: the worker queue runs it. An error it raises
    // is queued before the next step, which then finds the run ended.
    PostWorkerTask([this, p_Run, l_Store] {
        bool l_Cancelled = false;
        {
            QMutexLocker l_Work(&m_CASCWork);
            l_Store->GetIndexManager()->Load();
            l_Cancelled = l_Store->GetIndexManager()->Cancelled();
        }
        // A stopped load kept nothing: the resume loads again.
        if (l_Cancelled)
            ContentStoreStep(p_Run, [this, p_Run] { LoadContentStoreIndices(p_Run); });
        else
            ContentStoreStep(p_Run, [this, p_Run] { LoadEncodingFile(p_Run); });
    });
}

void StandartApplication::LoadEncodingFile(quint64 p_Run)
{
    CASC::CASCArchivesManager* l_Archives = m_CASCApplication->GetArchivesManager();
    l_Archives->m_OnEncodingLoaded = [this, p_Run] {
        ContentStoreStep(p_Run, [this, p_Run] { ScanContentStore(p_Run); });
    };
    l_Archives->m_OnFinished = [this, p_Run] { OnContentStoreThread(p_Run, [this] { EndContentStore(true); }); };
    l_Archives->m_OnBusy = [this, p_Run] {
        OnContentStoreThread(p_Run, [this] {
            m_Status.Percent = 100;
            m_Status.Done = 0;
            m_Status.Total = 0;
            StateChanged();
        });
    };
    l_Archives->m_OnCheckProgress = [this, p_Run, l_Archives](quint32 p_Done, quint32 p_Total) {
        // Called each second by a scan in flight: a launcher that closes ends it.
        if (!LauncherRunning())
            l_Archives->CancelScan();
        OnContentStoreThread(p_Run, [this, p_Done, p_Total] {
            if (!m_CASCStopped)
                m_Status.DownloadStatus = 5;
            m_Status.Done = p_Done;
            m_Status.Total = p_Total;
            SetPercent(p_Done, p_Total);
            StateChanged();
        });
    };
    l_Archives->m_OnDownloadStarted = ContentStoreProgressOf(p_Run, false);
    l_Archives->m_OnDownloadProgress = ContentStoreProgressOf(p_Run, true);
    l_Archives->m_OnDownloadCompleted = ContentStoreProgressOf(p_Run, false);

    ShowContentStorePhase(4, QStringLiteral("Load local CASC IDX files..."), 2);
    m_CASCStep = 2;
    l_Archives->Init(ContentStoreListPath());
}

void StandartApplication::ScanContentStore(quint64 p_Run)
{
    ShowContentStorePhase(5, QStringLiteral("Load local CASC IDX files and scan current installation..."), 5);
    CASC::CASCApplication* l_Store = m_CASCApplication;
    // The scan blocks its thread until every archive was read: the worker queue runs it.
    PostWorkerTask([this, p_Run, l_Store] {
        bool l_Scanned = false, l_Cancelled = false;
        {
            QMutexLocker l_Work(&m_CASCWork);
            l_Scanned = l_Store->GetArchivesManager()->ScanInstall();
            l_Cancelled = l_Store->GetArchivesManager()->ScanCancelled();
        }
        // A stopped scan left the list as it was: the resume scans again. A failed one raised
        // its error, which ends the run before this step runs.
        if (l_Cancelled)
            ContentStoreStep(p_Run, [this, p_Run] { ScanContentStore(p_Run); });
        else if (l_Scanned)
            ContentStoreStep(p_Run, [this, p_Run] { LoadContentStoreList(p_Run); });
    });
}

void StandartApplication::LoadContentStoreList(quint64 p_Run)
{
    ShowContentStorePhase(6, QStringLiteral("Loading download file list..."), 2);
    if (m_CASCApplication->GetArchivesManager()->LoadDownloadList())
        ContentStoreStep(p_Run, [this] { StreamContentStore(); });
}

void StandartApplication::StreamContentStore()
{
    ShowContentStorePhase(7, QStringLiteral("Downloading streammed files..."), 3);
    m_CASCApplication->GetArchivesManager()->StartStreaming();
}

} // namespace Launcher
} // namespace Orvane
