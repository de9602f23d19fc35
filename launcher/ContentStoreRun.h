#pragma once
#include "casc/CASCErrors.h"

#include <QMutex>
#include <QString>
#include <functional>

namespace Orvane {
namespace CASC {
class CASCApplication;
}
namespace Launcher {

class Application;

/// The content-store run that follows the plain files: its phases driven from the task queues, stop and
/// resume, errors. It reaches the application only through the host interface (status record, task
/// queues, callbacks).
///
/// Threads: every member belongs to the application's thread, but m_Work, which the worker queue holds
/// while it loads the archive indices or scans the store. The worker steps get the store and the run
/// number as copies; a step of an older run changes nothing.
class ContentStoreRun
{
public:
    enum class Phase
    {
        None,
        Configuration, ///< "cdns", "versions", the build and CDN configurations
        BaseFiles,     ///< the base verifier fetches missing configuration and indices
        Indices,       ///< the archive indices load (worker queue)
        Encoding,      ///< the encoding file loads
        Scan,          ///< the local store is scanned (worker queue)
        List,          ///< the list of what is missing loads
        Stream,        ///< the missing blobs are fetched
    };

    explicit ContentStoreRun(Application& p_App);
    ~ContentStoreRun();
    ContentStoreRun(const ContentStoreRun&) = delete;
    ContentStoreRun& operator=(const ContentStoreRun&) = delete;

    /// Starts a run; one still going (a repair began meanwhile) is replaced.
    void Start();
    /// Ends any run at once (a new pass, an uninstall): its steps and callables change nothing from now
    /// on, and a later Resume does not restart it.
    void Drop();
    /// StopDownload and ResumeDownload while the phases run.
    void Stop();
    void Resume();
    /// Before the unload: stops the run and waits for a scan or index load in flight.
    void Unload();

    /// Read-only view (the module's StopDownload, tests).
    bool Active() const { return m_Active; }
    Phase CurrentPhase() const { return m_Phase; }
    quint64 Run() const { return m_Run; }
    CASC::CASCApplication* Store() const { return m_Store; }
    /// A stop holds the next phase until Resume.
    bool Holding() const { return bool(m_Held); }

private:
    /// Which worker of the store transfers in the current phase (the one a stop reaches).
    enum class Worker
    {
        None,
        BaseVerifier,
        ArchivesManager,
    };
    Worker ActiveWorker() const;

    void End(bool p_Whole);
    void Step(quint64 p_Run, std::function<void()> p_Step);
    void OnAppThread(quint64 p_Run, std::function<void()> p_Action);
    void ShowPhase(Phase p_Phase, const QString& p_Message, int p_DownloadStatus);
    void ShowDownload(int p_File, int p_Files, int p_Percent, quint64 p_Done, quint64 p_Total, quint64 p_Speed,
                      bool p_Sample);
    void Error(quint64 p_Run, CASC::Errors::Type p_Kind, const QString& p_Message);
    void StopWorker();
    using Progress = std::function<void(int, int, int, quint64, quint64, quint64)>;
    /// A worker's download callable that shows (file, files, percent, done, total, speed) for run p_Run.
    Progress ProgressOf(quint64 p_Run, bool p_Sample);
    void VerifyBaseFiles(quint64 p_Run);
    void LoadIndices(quint64 p_Run);
    void LoadEncodingFile(quint64 p_Run);
    void ScanStore(quint64 p_Run);
    void LoadList(quint64 p_Run);
    void StreamBlobs();
    /// Install folder + "ToDownloadCASC.db".
    QString ListPath() const;

    Application& m_App;
    bool m_Active = false;                   ///< app thread: the phases run
    CASC::CASCApplication* m_Store = nullptr; ///< app thread: created by Start, deleted on the app thread
    /// Number of the current run; steps and callables of an older run change nothing.
    quint64 m_Run = 0;                ///< app thread
    Phase m_Phase = Phase::None;      ///< app thread
    bool m_Stopped = false;           ///< app thread: a stop came; the next phase waits for Resume
    std::function<void()> m_Held;     ///< app thread: the next phase, held by a stop until Resume
    /// Held by the worker queue while it loads the archive indices or scans the store; Unload takes it
    /// to wait for them (they stop at their next file or slot once cancelled).
    QMutex m_Work; ///< locked by the worker queue, waited on by Unload (app thread)
};

} // namespace Launcher
} // namespace Orvane
