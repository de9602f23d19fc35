#pragma once
#include "casc/CASCErrors.h"
#include "casc/CASCFetchRequest.h"
#include "casc/CASCTransferRate.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>

class QNetworkAccessManager;

namespace Orvane {
namespace Launcher {
class Transfer;
struct TransferResult;
} // namespace Launcher
namespace CASC {

/// The content store's downloads as the base-file verifier and the archive manager run them: the
/// engine's transfers and their network manager, size answers, the stop (which holds the next step
/// until the resume), one whole file at a time with its attempts, and the byte count behind the
/// progress. A child of its owner, on the owner's thread; Stop and Stopped from any thread.
class CASCFetchLoop : public QObject
{
    Q_OBJECT

public:
    /// The owner's judgement of an ended whole-file transfer.
    struct Verdict
    {
        bool _Whole = false;  ///< the file is in place: its completion runs
        bool _Quiet = false;  ///< not whole, yet nothing to report (the cancel after a stop)
        bool _Final = false;  ///< another attempt would meet the same fault
        Errors::Type _Kind = Errors::Network;
        QString _Message;
    };
    struct Hooks
    {
        std::function<void(Errors::Type, const QString&)> _Raise;
        /// Readies the sink of each request of a whole file; the reason when it cannot (given up at once).
        std::function<QString(CASCFetchRequest&, Errors::Type*)> _Prepare;
        /// What an ended transfer that no stop cut amounts to.
        std::function<Verdict(CASCFetchRequest&, const Launcher::TransferResult&)> _Judge;
        /// Body bytes of a whole file were counted.
        std::function<void()> _Tick;
        /// A file given up is asked again by the resume through this, when set (the bound may be stale).
        std::function<void(std::function<void()> p_Go)> _Refresh;
        /// Prefix of the log line of another attempt ("Class::Method()").
        QString _Name;
        /// Requests made for one whole file before it is given up.
        int _MaxAttempts = 1;
    };

    CASCFetchLoop(QObject* p_Parent, Hooks p_Hooks);
    ~CASCFetchLoop() override;

    // Network manager.
    /// A manager of its own on this thread; the old one's transfers are cut off (p_Now: deleted at once).
    void Renew(bool p_Now);
    /// Cuts every transfer off and deletes the manager (the owner's destructor).
    void Release();

    // Stop, held step and resume.
    void Stop() { m_Stopped = true; }
    bool Stopped() const { return m_Stopped; }
    /// Clears the stop; runs the held step and says so.
    bool Resume();
    /// Runs p_Step now, or holds it until Resume when stopped.
    void Step(std::function<void()> p_Step);
    void DropHeld() { m_Held = nullptr; }

    // Transfers.
    /// A transfer on the engine that a stop ends before or while it runs.
    Launcher::Transfer* NewTransfer();
    /// Asks the size of p_Url; a failure is raised (p_OnFailed first), a stop holds the question.
    void AskSize(const QString& p_Url, std::function<void(quint64)> p_OnSize, std::function<void()> p_OnFailed = {});
    /// Starts p_Request's GET (its range when it has one) into its sink; p_OnEnded, on p_Context's
    /// thread, once it ends.
    void Issue(CASCFetchRequest& p_Request, QObject* p_Context, std::function<void(Launcher::Transfer*)> p_OnEnded,
               std::function<void(Launcher::Transfer*, qint64)> p_OnBody = {});
    /// Fetches one whole file (or range) into the request the loop keeps, with attempts; its completion
    /// once the judge accepts it, else it is raised and held until Restart.
    void Fetch(const QString& p_Url, const QString& p_Path, quint64 p_From, qint64 p_To, qint64 p_Cap,
               std::function<void()> p_Completion);
    /// Asks the file a stop or a failure ended again from its first byte; nothing when none did.
    void Restart();
    const CASCFetchRequest& File() const { return m_File; }
    void SetCap(qint64 p_Cap) { m_File._Cap = p_Cap; }

    // Byte count behind the progress.
    void StartCount(quint64 p_Total);
    void Count(quint64 p_Bytes) { m_Done += p_Bytes; }
    /// Bytes that will come again leave the count.
    void Uncount(quint64 p_Bytes);
    void SetTotal(quint64 p_Total) { m_Total = p_Total; }
    /// The rate samples from the count again (after a resume).
    void RestartRate() { m_Rate.Restart(m_Done); }
    quint64 Done() const { return m_Done; }
    quint64 Total() const { return m_Total; }
    /// Speed and percent when a sample is due.
    bool Sample(quint64* p_Speed, int* p_Percent);

private:
    void Request();
    void FileBody(Launcher::Transfer* p_Engine, qint64 p_Bytes);
    void FileEnded(Launcher::Transfer* p_Engine);
    /// The file failed: asks again while attempts are left, else raises and holds it.
    void Fail(const Verdict& p_Verdict);

    Hooks m_Hooks;                                      // set once
    QNetworkAccessManager* m_NetworkManager = nullptr;  // owner's thread
    std::atomic<bool> m_Stopped{false};                 // any thread
    std::function<void()> m_Held;                       // owner's thread; the step a stop holds
    CASCFetchRequest m_File;                            // owner's thread; reused for every whole file
    quint64 m_Done = 0;                                 // owner's thread
    quint64 m_Total = 0;                                // owner's thread
    CASCTransferRate m_Rate;                            // owner's thread
};

} // namespace CASC
} // namespace Orvane
