#include "host/HostRun.h"
#include "host/Console.h"
#include "host/HostCallbacks.h"
#include "host/InstallState.h"
#include "host/Interrupts.h"
#include "host/Reports.h"
#include "net/Deployment.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <QNetworkProxyFactory>
#include <QUrl>

#include <csignal>

namespace Orvane {
namespace Host {

namespace {
const qint64 c_MainSliceMs = 20;          ///< longest stretch of main-queue actions per tick
const qint64 c_MinStallLimitMs = 30000;   ///< the main thread may block this long (a stop waits for the downloader)
const qint64 c_DefaultShutdownMs = 120000; ///< shutdown limit when the idle limit is off
const qint64 c_DefaultStallLimitMs = 120000; ///< the module's stall limit when the idle limit is off
/// The loop wakes on every event of this thread; the timer only catches actions other threads queue.
const int c_PollMs = 25;
} // namespace

HostRun::HostRun(const HostOptions& p_Options, Launcher::Application* p_App)
    : m_Options(p_Options),
      m_App(p_App),
      m_Worker(p_App),
      m_View(p_Options.Json ? StatusView::Json
                            : (Console::StdoutIsTerminal() ? StatusView::Terminal : StatusView::Plain))
{
    // A report is one answer; with --json every status change is still its own object.
    m_ShowProgress = p_Options.Json || (p_Options.Command != "status" && p_Options.Command != "locales");
    m_Meter.Attach(m_App);
    m_Timer.setInterval(c_PollMs);
    connect(&m_Timer, &QTimer::timeout, this, &HostRun::Tick);
    m_Soon.setSingleShot(true);
    m_Soon.setInterval(0);
    connect(&m_Soon, &QTimer::timeout, this, &HostRun::Tick);
    // Actions the worker leaves on the main queue are taken now, not at the next poll.
    m_Worker.SetOnMainQueued([this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!m_ShuttingDown && !m_Soon.isActive())
                    m_Soon.start();
            },
            Qt::QueuedConnection);
    });
}

HostRun::~HostRun()
{
    m_Worker.Stop();
    delete m_App;
}

qint64 HostRun::IdleLimitMs() const
{
    return qint64(m_Options.IdleTimeoutSeconds) * 1000;
}

int HostRun::Exec()
{
    qint64 l_Idle = IdleLimitMs();
    // Without an idle limit a module that stops responding is still detected.
    m_Watchdog.Start(l_Idle > 0 ? qMax(l_Idle, c_MinStallLimitMs) : c_DefaultStallLimitMs);
    m_LastProgress.start();
    // What the settings and the disk tell comes at once; the server's answer follows.
    m_LocalState = InstallState::Read(m_App);
    if (m_Options.Command == "status" && !m_Options.Json)
        Reports::StatusLocal(m_App, m_LocalState);
    if ((m_Options.Command == "status" || m_Options.Command == "start") && m_LocalState.Installed &&
        !m_LocalState.FolderPresent)
    {
        // The module's Init would make the folder again (the client's configuration): nothing is asked.
        if (m_Options.Command == "start")
            RefuseIncomplete("start");
        else
            ReportLocalState("not asked (the game's folder is gone)");
        m_Timer.start();
        return QCoreApplication::exec();
    }
    m_App->Init();
    // After Init, which writes it false for an installed game: this run ends with the content store.
    if (m_Options.ContentStore)
        m_App->SetLocalSetting(m_App->m_FolderName + ".IsCASCEnabled", true);
    m_Worker.Start();
    m_Timer.start();
    if (m_Options.Command == "uninstall" && !m_App->IsInstalled())
        Finish(1, m_App->m_Name + " is not installed: there is nothing to uninstall");
    else if (m_Options.Command == "uninstall" && !m_Options.DeleteFiles)
        StartPause(); // forgetting the game needs nothing of the server

    connect(QAbstractEventDispatcher::instance(thread()), &QAbstractEventDispatcher::aboutToBlock, this,
            &HostRun::BeforeWait);
    return QCoreApplication::exec();
}

void HostRun::BeforeWait()
{
    // Most actions are queued on this thread by the module's own slots and callbacks (a finished
    // transfer queues the next one): they need no wait for the poll timer.
    if (!m_ShuttingDown && !m_Soon.isActive() && (m_App->m_StateChanged || !m_Worker.MainQueueEmpty()))
        m_Soon.start();
    // Work queued for the worker by this thread's actions or a downloader's thread.
    if (!m_ShuttingDown && !m_Worker.QueueEmpty())
        m_Worker.Wake();
}

void HostRun::Tick()
{
    m_Watchdog.Beat();
    if (!m_ShuttingDown && Interrupts::Pending())
    {
        // An orderly stop waits for the module; the user may not want to. A SIGTERM comes from a program
        // or a service manager, which sends its own second signal.
        Console::Err(Interrupts::Pending() == SIGINT ? QStringLiteral("stopping... (Ctrl-C again quits at once)")
                                                     : QStringLiteral("terminated; stopping in order..."));
        Finish(128 + Interrupts::Pending(), "interrupted; run the same command again to continue where it stopped");
    }
    if (m_ShuttingDown)
    {
        ContinueShutdown();
        return;
    }

    DrainMain();
    ObserveStatus();
    m_View.Tick();

    switch (m_Phase)
    {
        case Phase::WaitState:
            if (m_App->m_Status.ApplicationState != Launcher::ApplicationState::Initialising)
                OnStateKnown();
            else if (HostCallbacks::ModuleErrorCount() > 0 && Quiet() && m_Options.Command == "status")
                ReportLocalState(ServerFailure());
            else if (HostCallbacks::ModuleErrorCount() > 0 && Quiet() && m_Options.Command == "uninstall")
                Finish(1, "could not read the game's build information from " + ServerFailure() +
                              "; the files to delete are known only from it (uninstall without --delete-files "
                              "forgets the game and leaves its files)");
            else if (HostCallbacks::ModuleErrorCount() > 0 && Quiet())
                Finish(1, "could not read the game's build information from " + ServerFailure());
            break;
        case Phase::Settle:
            CheckSettled();
            break;
        case Phase::Pause:
        case Phase::PauseGate:
            CheckPaused();
            break;
    }

    if (!m_ShuttingDown && IdleLimitMs() > 0 && m_LastProgress.elapsed() > IdleLimitMs())
    {
        if (m_Phase == Phase::WaitState && m_Options.Command == "status")
            ReportLocalState(Launcher::Deployment::ServerBaseUrl() + " did not answer for " +
                             QString::number(m_Options.IdleTimeoutSeconds) + " s");
        else
            Finish(1, IdleReason());
    }
}

void HostRun::DrainMain()
{
    QElapsedTimer l_Slice;
    l_Slice.start();
    Launcher::Task l_Task;
    while (!m_ShuttingDown && l_Slice.elapsed() < c_MainSliceMs && m_App->TakeMainTask(l_Task))
    {
        l_Task();
        l_Task = nullptr;
        // A step that moves on through the queue shows each of its states.
        ObserveStatus();
    }
}

void HostRun::ObserveStatus()
{
    if (!m_App->m_StateChanged)
        return;
    // Cleared before reading, so that a write during the copy is seen next time.
    m_App->m_StateChanged = false;
    Launcher::ApplicationStatus l_Status = m_App->m_Status;
    if (!StatusView::SameProgress(l_Status, m_LastStatus))
        m_LastProgress.restart();
    m_LastStatus = l_Status;
    // OnManifestReceived shows the build there for an installed game; later steps hide or reuse the line.
    if (l_Status.ApplicationState == Launcher::ApplicationState::Installed && l_Status.DetailVisible && l_Status.DetailValue == 0 &&
        !l_Status.Detail.isEmpty())
        m_BuildText = l_Status.Detail;
    if (m_ShowProgress)
        m_View.Show(l_Status, -1, m_Meter.Moved());
    RecordProgress(false);
}

bool HostRun::Quiet()
{
    return m_Worker.MainQueueEmpty() && m_Worker.QueueEmpty() && m_Worker.Idle();
}

QString HostRun::IdleReason()
{
    QString l_Seconds = QString::number(m_Options.IdleTimeoutSeconds);
    const Launcher::ApplicationStatus& l_Status = m_App->m_Status;
    if (m_Phase == Phase::WaitState)
        return "no answer from the application server " + Launcher::Deployment::ServerBaseUrl() + " for " +
               l_Seconds + " s";
    QString l_What = l_Status.Message.trimmed().isEmpty() ? StatusView::StateText(l_Status) : l_Status.Message.trimmed();
    QString l_Reason = "no progress for " + l_Seconds + " s (" + l_What + ")";
    if (l_Status.DownloadStatus == Launcher::DownloadStatus::WaitingForTurn && HostCallbacks::TurnHeldElsewhere())
        l_Reason += "; another launcher process holds the download turn";
    else if (l_Status.DownloadStatus == Launcher::DownloadStatus::GameRunning)
        l_Reason += "; the game is running";
    return l_Reason + "; giving up (raise --idle-timeout to wait longer)";
}

void HostRun::Finish(int p_ExitCode, const QString& p_Reason)
{
    if (m_ShuttingDown)
        return;
    m_ShuttingDown = true;
    m_Soon.stop();
    m_ExitCode = p_ExitCode;
    m_Reason = p_Reason;
    // Long loops of the module end at once; no new transfer starts.
    HostCallbacks::SetRunning(false);
    HostCallbacks::SetTurnWithheld(true);
    m_Worker.SetOpen(false);
    qint64 l_Idle = IdleLimitMs();
    m_Watchdog.ArmShutdown(l_Idle > 0 ? qMax(l_Idle, qint64(10000)) : c_DefaultShutdownMs, p_ExitCode);
}

void HostRun::ContinueShutdown()
{
    // The action the worker runs polls IsLauncherRunning and ends soon.
    if (!m_Worker.Idle())
        return;
    m_Timer.stop();

    const Launcher::ApplicationStatus& l_Status = m_App->m_Status;
    if (l_Status.Busy || l_Status.DownloadStatus == Launcher::DownloadStatus::Downloading)
    {
        // Blocks until the downloader has let go of its ".part" file.
        m_App->StopDownload();
    }
    m_Worker.Stop();
    // Clean-ups the module queued (finished downloader threads), then the events they post.
    m_Worker.RunQueued();
    QCoreApplication::processEvents();
    ObserveStatus();
    RecordProgress(true);
    HostCallbacks::ReleaseTurn();
    m_App->Uninit();
    delete m_App;
    m_App = nullptr;

    m_View.Finish();
    if (m_Options.Json)
    {
        QJsonObject l_Exit{{"event", "exit"}, {"code", m_ExitCode}};
        if (!m_Reason.isEmpty())
            l_Exit.insert("reason", m_Reason);
        Console::Out(QString::fromUtf8(QJsonDocument(l_Exit).toJson(QJsonDocument::Compact)));
    }
    if (m_ExitCode != 0 && !m_Reason.isEmpty())
        Console::Err((m_ExitCode >= 128 ? "stopped: " : "error: ") + m_Reason);
    QCoreApplication::exit(m_ExitCode);
}

} // namespace Host
} // namespace Orvane
