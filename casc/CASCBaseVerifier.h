#pragma once
#include "casc/CASCFetchLoop.h"

#include <QList>
#include <QObject>
#include <QPair>

#include <functional>

namespace Orvane {
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
    /// Holds the transfer in flight and every next step until ResumeDownload.
    void StopDownload();
    /// Fetches the stopped file again from its first byte (or asks again for a size that failed).
    void ResumeDownload();

    /// (local path, URL) of each missing file, in fetch order.
    const QList<QPair<QString, QString>>& GetMissingFiles() const { return m_Missing; }

private:
    void Check(const CASCCdnEntry& p_Cdn, const QString& p_Key, const QString& p_Kind);
    /// Asks the size of p_Url; a failure in the size phase waits there for the resume.
    void GetFileSize(const QString& p_Url, std::function<void(quint64)> p_OnSize);
    void DownloadNextFile();
    /// What can be checked of a base file before it takes its name: a configuration's MD5, an
    /// index's entries and footer.
    static QString CheckFile(const QString& p_Part, const QString& p_Path);
    /// The file goes to its ".part" name, bounded by its size, until complete.
    QString Prepare(CASCFetchRequest& p_File);
    CASCFetchLoop::Verdict Judge(CASCFetchRequest& p_File, const Launcher::TransferResult& p_Result);
    /// A failed file's size is asked again before it is: the one told before may have been a wrong body's.
    void Refresh(std::function<void()> p_Go);
    void Tick();

    CASCApplication* m_Owner;                          // set once; the owner outlives it
    CASCFetchLoop* m_Fetch;                            // Scan's thread; a child
    QList<QPair<QString, QString>> m_Missing;          // Scan's thread
    int m_SizeIndex = 0;                               // Scan's thread
    int m_FileNumber = 0;                              // Scan's thread; 1-based
    QList<quint64> m_Sizes;                            // Scan's thread; the size answer of each missing file
    bool m_ScanFailed = false;                         // Scan's thread; a bad key was reported
    bool m_SizeFailed = false;                         // Scan's thread; the size phase waits for a resume
};

} // namespace CASC
} // namespace Orvane
