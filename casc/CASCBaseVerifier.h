#pragma once
#include "casc/CASCTransferRate.h"

#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QPair>
#include <QPointer>

#include <functional>
#include <memory>

class QNetworkAccessManager;

namespace Orvane {
namespace Launcher {
class Transfer;
class TransferSink;
} // namespace Launcher
namespace CASC {

class CASCApplication;
struct CASCCdnEntry;

/// Makes sure the base files of the store are in the installation: the three configuration
/// files and the index of every CDN archive. Finds the missing ones, asks their sizes, then
/// downloads them one at a time with progress. Lives on the thread that calls Scan; stop and
/// resume come on that thread too.
class CASCBaseVerifier : public QObject
{
    Q_OBJECT

public:
    /// (file number, file count, percent, bytes done, bytes total, bytes per second)
    using Progress = std::function<void(int, int, int, quint64, quint64, quint64)>;

    // Set by the application before Start; called on the verifier's thread.
    std::function<void()> m_OnFinished;
    Progress m_OnDownloadStarted;
    Progress m_OnDownloadProgress;
    Progress m_OnDownloadCompleted;

    explicit CASCBaseVerifier(CASCApplication* p_Owner);
    ~CASCBaseVerifier() override;

    /// Lists the base files absent from the installation; no network traffic.
    void Scan();
    /// Sizes, then downloads, what Scan listed; m_OnFinished at once when nothing is missing.
    void Start();
    void GetNextFileSize();
    void StopDownload();
    /// Fetches the stopped file again from its first byte (or asks again for a size that failed).
    void ResumeDownload();

    /// (local path, URL) of each missing file, in fetch order.
    const QList<QPair<QString, QString>>& GetMissingFiles() const { return m_Missing; }

private slots:
    void HTTP_OnError(QNetworkReply::NetworkError p_Error);
    void HTTP_OnReadyRead(qint64 p_Bytes);
    void HTTP_DownloadFinished();

private:
    struct Transfer
    {
        QString m_Url;
        QString m_Path;                    ///< final name; bytes go to m_Path + ".part" until complete
        QPointer<Launcher::Transfer> m_Engine; ///< null when none runs
        std::shared_ptr<Launcher::TransferSink> m_Sink; ///< m_Path + ".part", bounded by the file's size
        qint64 m_Cap = -1;                 ///< bytes the file may have
        bool m_Failed = false;             ///< ended by a failure: its size answer is asked again
        qint64 m_Received = 0;
        bool m_Stopped = false;
        std::function<void()> m_OnComplete;
        /// Why the bytes received are not the file; empty when they are. Runs before the rename.
        std::function<QString(const QString& p_Part)> m_Check;
        ~Transfer();
    };

    void Check(const CASCCdnEntry& p_Cdn, const QString& p_Key, const QString& p_Kind);
    void GetFileSize(const QString& p_Url, std::function<void(QString, quint64)> p_OnSize);
    /// A transfer on the engine, stopped by StopDownload before or while it runs.
    Launcher::Transfer* NewTransfer();
    void DownloadNextFile();
    void StartDownload(const QString& p_Url, const QString& p_Path, std::function<void()> p_OnComplete);
    /// What can be checked of a base file before it takes its name: a configuration's MD5, an
    /// index's entries and footer.
    static QString CheckFile(const QString& p_Part, const QString& p_Path);
    /// Issues the current transfer's GET into a fresh ".part" file.
    void Request();
    /// Raises p_Message and freezes the current transfer until ResumeDownload.
    void Fail(int p_Kind, const QString& p_Message);
    void Tick(bool p_Always);

    CASCApplication* m_Owner;                          // set once; the owner outlives it
    QNetworkAccessManager* m_NetworkManager = nullptr; // Scan's thread; replaced by each Scan
    QList<QPair<QString, QString>> m_Missing;          // Scan's thread
    int m_SizeIndex = 0;                               // Scan's thread
    int m_FileNumber = 0;                              // Scan's thread; 1-based
    QList<quint64> m_Sizes;                            // Scan's thread; the size answer of each missing file
    quint64 m_TotalBytes = 0;                          // Scan's thread
    quint64 m_DoneBytes = 0;                           // Scan's thread
    CASCTransferRate m_Rate;                           // Scan's thread
    std::unique_ptr<Transfer> m_Transfer;              // Scan's thread; reused for every file
    bool m_ScanFailed = false;                         // Scan's thread; a bad key was reported
    bool m_SizeFailed = false;                         // Scan's thread; the size phase waits for a resume
    bool m_Stopped = false;                            // Scan's thread; StopDownload holds every next step
    std::function<void()> m_Held;                      // Scan's thread; the step a stop holds
};

} // namespace CASC
} // namespace Orvane
