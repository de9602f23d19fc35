#pragma once
#include "launcher/HTTP_DownloadFileRequest.h"

#include <QNetworkReply>
#include <QString>
#include <QThread>
#include <functional>

class QNetworkAccessManager;
class QTimer;

namespace Orvane {
namespace Launcher {

/// Downloads one URL into one file on a thread of its own.
class ApplicationAsyncHttpDownloader : public QThread
{
    Q_OBJECT

public:
    void (*m_ReportError)(QString p_Text, bool p_Flag) = nullptr;
    std::function<void(std::function<void()>)> m_PostToApplication;
    QNetworkAccessManager* m_NetworkManager = nullptr;
    HTTP_DownloadFileRequest* m_Request = nullptr;
    QString m_Url;
    QString m_FilePath;
    bool m_Resume = false;

    /// Hands the record back to the application, which frees it after the
    /// last queued slot that reads it. Without it the destructor frees it.
    std::function<void(HTTP_DownloadFileRequest*)> m_ReleaseRecord;

    ApplicationAsyncHttpDownloader();
    ~ApplicationAsyncHttpDownloader() override;

    HTTP_DownloadFileRequest* Start(QString p_Url, QString p_Path, bool p_Resume);
    bool StartDownload();

protected:
    void run() override;

signals:
    void CloseThread();
    void AsyncOnHTTPDownloadProgressUpdate(HTTP_DownloadFileRequest* p_Request);
    void AsyncOnHTTPDownloadProgressComplete(HTTP_DownloadFileRequest* p_Request);
    void AsyncOnHTTPDownloadRestarted(HTTP_DownloadFileRequest* p_Request);

private slots:
    void HTTP_OnError(QNetworkReply::NetworkError p_Error);
    void HTTP_OnReadyRead();
    void HTTP_MedaDataChanged();
    void HTTP_OnProgressUpdate(qint64 p_CurrentBytes, qint64 p_TotalBytes);
    void HTTP_DownloadFinished();
};

} // namespace Launcher
} // namespace Orvane
