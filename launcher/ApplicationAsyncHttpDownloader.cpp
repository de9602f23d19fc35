#include "launcher/ApplicationAsyncHttpDownloader.h"

// Placeholder: the transfer itself lands with the downloader work.
namespace Orvane {
namespace Launcher {

ApplicationAsyncHttpDownloader::ApplicationAsyncHttpDownloader() = default;
ApplicationAsyncHttpDownloader::~ApplicationAsyncHttpDownloader() { delete m_Request; }

HTTP_DownloadFileRequest* ApplicationAsyncHttpDownloader::Start(QString p_Url, QString p_Path, bool p_Resume)
{
    m_Request = new HTTP_DownloadFileRequest();
    m_Request->Url = m_Url = p_Url;
    m_Request->FilePath = m_FilePath = p_Path;
    m_Request->Resume = m_Resume = p_Resume;
    return m_Request;
}
bool ApplicationAsyncHttpDownloader::StartDownload() { return false; }
void ApplicationAsyncHttpDownloader::run() {}
void ApplicationAsyncHttpDownloader::HTTP_OnError(QNetworkReply::NetworkError) {}
void ApplicationAsyncHttpDownloader::HTTP_OnReadyRead() {}
void ApplicationAsyncHttpDownloader::HTTP_MedaDataChanged() {}
void ApplicationAsyncHttpDownloader::HTTP_OnProgressUpdate(qint64, qint64) {}
void ApplicationAsyncHttpDownloader::HTTP_DownloadFinished() {}

} // namespace Launcher
} // namespace Orvane
