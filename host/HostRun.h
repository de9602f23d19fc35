#pragma once
#include "host/HostOptions.h"
#include "host/InstallState.h"
#include "host/StatusView.h"
#include "host/TaskWorker.h"
#include "host/TransferMeter.h"
#include "host/Watchdog.h"
#include "launcher/Application.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QTimer>

namespace Orvane {
namespace Host {

/// One command from Init to a settled state: drains the main task queue on this
/// thread inside the event loop and the worker queue on a TaskWorker, shows the
/// status record, decides when the goal is reached, and shuts the module down.
class HostRun : public QObject
{
    Q_OBJECT

public:
    /// Takes ownership of p_App (deleted at the end of the run).
    HostRun(const HostOptions& p_Options, Launcher::Application* p_App);
    ~HostRun() override;

    /// Runs the command; returns the exit status.
    int Exec();

private:
    enum class Phase
    {
        WaitState, ///< Init called, no state reported yet
        Settle,    ///< an install, update, repair or rebuild runs
        Pause,     ///< the background work winds down before an operation
        PauseGate, ///< the worker finishes its last action before the operation
    };

    // HostRun.cpp: the loop, the queues, the shutdown.
    void Tick();
    /// Before the event loop sleeps: actions queued meanwhile run at once rather than at the next tick.
    void BeforeWait();
    void DrainMain();
    void ObserveStatus();
    bool Quiet();
    void Finish(int p_ExitCode, const QString& p_Reason);
    void ContinueShutdown();
    QString IdleReason();
    qint64 IdleLimitMs() const;

    // HostRunCommands.cpp: what each command does at each step.
    void OnStateKnown();
    void StartSettle();
    void CheckSettled();
    void OnSettled(const Launcher::ApplicationStatus& p_Status);
    void StartPause();
    void CheckPaused();
    void RunOperation();
    bool PrepareInstallFolder(QString* p_Folder);
    QString NotInstalledReason() const;
    /// status without the application server: what the settings and the disk tell.
    void ReportLocalState(const QString& p_Unreached);
    /// Why the application server gave no build information, as far as the transfers tell, with a hint
    /// to name the server when none was given.
    QString ServerFailure() const;
    /// A command that may fetch files (install, update, repair, rebuild).
    bool Fetching() const;
    /// Notes what the run leaves to fetch, at most once a second unless p_Now.
    void RecordProgress(bool p_Now);
    /// The fetching command is refused when the game is not installed whole, with what to run.
    bool RefuseIncomplete(const QString& p_Command);
    /// A result (p_Final) or a notice of the run, after the progress shown so far.
    void Say(const QString& p_Text, const QJsonObject& p_Fields, bool p_Final);

    HostOptions m_Options;
    Launcher::Application* m_App;
    TaskWorker m_Worker;
    Watchdog m_Watchdog;
    StatusView m_View;
    TransferMeter m_Meter; ///< the bytes moved in this run, which the shown rate counts
    QTimer m_Timer; ///< polls for what other threads queue
    QTimer m_Soon;  ///< a tick as soon as the pending events are handled

    Phase m_Phase = Phase::WaitState;
    bool m_ShowProgress = true; ///< main thread; reports (status, locales) show none before their answer
    QString m_BuildText;        ///< main thread; the build the server named for an installed game
    QElapsedTimer m_LastRecord; ///< main thread; paces RecordProgress
    InstallState m_LocalState;  ///< main thread; read before Init
    bool m_Fetched = false;     ///< main thread; a transfer ran in this run
    bool m_Completed = false;   ///< main thread; the run ended with every file in place
    Launcher::ApplicationStatus m_LastStatus;
    QElapsedTimer m_LastProgress;

    // Settling.
    bool m_Verifying = false; ///< the full check after errors runs
    Launcher::ApplicationStatus m_StableStatus;
    /// An end state seen with nothing queued; it counts once a marker posted then has come back
    /// through the event queue (every event posted before it was handled) and nothing changed.
    quint64 m_SettleMark = 0;
    bool m_MarkBack = false;

    bool m_ShuttingDown = false;
    int m_ExitCode = 0;
    QString m_Reason;
};

} // namespace Host
} // namespace Orvane
