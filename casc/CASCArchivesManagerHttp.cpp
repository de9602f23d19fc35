#include "casc/CASCArchivesManager.h"

#include "casc/CASCArchiveTransfer.h"
#include "casc/CASCHttpGet.h"
#include "net/ModuleNetwork.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QThread>

namespace Orvane {
namespace CASC {

namespace {

QNetworkRequest Request(const QString& p_Url)
{
    QNetworkRequest l_Request{QUrl(p_Url)};
    l_Request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    return l_Request;
}

QString ErrorMessage(QNetworkReply::NetworkError p_Error, const QString& p_Url)
{
    if (p_Error == QNetworkReply::RemoteHostClosedError)
        return "Error RemoteHostClosedError for file : " + p_Url;
    if (p_Error == QNetworkReply::UnknownContentError)
        return "Error UnknownContentError for file : " + p_Url;
    return "QtHttp error " + QString::number(int(p_Error)) + " when retrieving file " + p_Url;
}

} // namespace

void CASCArchivesManager::GetFileSize(const QString& p_Url, std::function<void(QString, quint64)> p_OnSize)
{
    if (!m_NetworkManager)
        m_NetworkManager = Launcher::ModuleNetwork::NewManager(nullptr);
    QNetworkReply* l_Reply = m_NetworkManager->get(Request(p_Url));
    const auto l_Done = [l_Reply] {
        l_Reply->disconnect();
        l_Reply->abort();
        l_Reply->deleteLater();
    };
    connect(l_Reply, &QNetworkReply::metaDataChanged, this, [l_Reply, p_Url, p_OnSize, l_Done] {
        const int l_Status = l_Reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        // A redirect is followed; an error page is reported by the error signal that follows.
        if (l_Status >= 300)
            return;
        const quint64 l_Size = l_Reply->header(QNetworkRequest::ContentLengthHeader).toULongLong();
        l_Done();
        p_OnSize(p_Url, l_Size);
    }, Qt::DirectConnection);
    // Every error ends the query: a refused connection must not leave the caller waiting.
    connect(l_Reply, Compat::ReplyError, this, [this, p_Url, l_Done](QNetworkReply::NetworkError p_Error) {
        if (p_Error == QNetworkReply::OperationCanceledError)
            return;
        l_Done();
        Raise(2, ErrorMessage(p_Error, p_Url));
    }, Qt::DirectConnection);
    CASCHttpGet::WatchStall(l_Reply, [this, p_Url, l_Done] {
        l_Done();
        Raise(2, ErrorMessage(QNetworkReply::TimeoutError, p_Url));
    });
}

void CASCArchivesManager::StartDownload(const QString& p_Url, const QString& p_Path, quint64 p_From, qint64 p_To,
                                        std::function<void()> p_Completion)
{
    CASCArchiveTransfer& l_Transfer = *m_Transfer;
    l_Transfer._Attempts = l_Transfer._Retrying ? l_Transfer._Attempts + 1 : 1;
    l_Transfer._Retrying = false;
    l_Transfer._Url = p_Url;
    l_Transfer._Path = p_Path;
    l_Transfer._From = p_From;
    l_Transfer._To = p_To;
    l_Transfer._Completion = p_Completion;
    l_Transfer._Retry = [this, p_Url, p_Path, p_From, p_To, p_Completion] {
        StartDownload(p_Url, p_Path, p_From, p_To, p_Completion);
    };
    IssueRequest();
}

void CASCArchivesManager::IssueRequest()
{
    CASCArchiveTransfer& l_Transfer = *m_Transfer;
    l_Transfer._Received = 0;
    l_Transfer._Stopped = false;
    l_Transfer._Checked = false;
    l_Transfer._Accepted = false;
    l_Transfer._Problem.clear();

    QDir().mkpath(QFileInfo(l_Transfer._Path).absolutePath());
    QFile::remove(l_Transfer._Path);
    delete l_Transfer._File;
    l_Transfer._File = new QFile(l_Transfer._Path);
    if (!l_Transfer._File->open(QIODevice::WriteOnly | QIODevice::Truncate))
    {
        l_Transfer._Stopped = true;
        TransferFailed(1, "Failed to open archive or download file");
        return;
    }

    if (!m_NetworkManager)
        m_NetworkManager = Launcher::ModuleNetwork::NewManager(nullptr);
    QNetworkRequest l_Request = Request(l_Transfer._Url);
    QByteArray l_Range = "bytes=" + QByteArray::number(l_Transfer._From) + "-";
    if (l_Transfer._To >= 0)
        l_Range += QByteArray::number(l_Transfer._To);
    l_Request.setRawHeader("Range", l_Range);
    QNetworkReply* l_Reply = m_NetworkManager->get(l_Request);
    l_Transfer._Reply = l_Reply;
    connect(l_Reply, &QNetworkReply::readyRead, this, &CASCArchivesManager::HTTP_OnReadyRead, Qt::DirectConnection);
    connect(l_Reply, &QNetworkReply::finished, this, &CASCArchivesManager::HTTP_DownloadFinished,
            Qt::DirectConnection);
    connect(l_Reply, Compat::ReplyError, this, &CASCArchivesManager::HTTP_OnError, Qt::DirectConnection);
    // A server that stops sending would hold the stream forever.
    CASCHttpGet::WatchStall(l_Reply, [this, l_Reply] {
        if (m_Transfer->_Reply == l_Reply && !m_Transfer->_Stopped)
            FailTransfer(2, ErrorMessage(QNetworkReply::TimeoutError, m_Transfer->_Url));
    });
}

bool CASCArchivesManager::CheckAnswer()
{
    CASCArchiveTransfer& l_Transfer = *m_Transfer;
    QNetworkReply* l_Reply = l_Transfer._Reply;
    l_Transfer._Checked = true;
    const int l_Status = l_Reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // A whole file is fine when the whole file was asked for.
    if (l_Transfer._From == 0 && l_Status == 200 &&
        (l_Transfer._To < 0 || l_Reply->header(QNetworkRequest::ContentLengthHeader).toLongLong() == l_Transfer.Expected()))
        return true;
    if (l_Status != 206)
    {
        l_Transfer._Problem = QStringLiteral("Status %1 instead of 206").arg(l_Status);
        return false;
    }
    static const QRegularExpression s_Range(QStringLiteral("^bytes (\\d+)-(\\d+)/"));
    const QRegularExpressionMatch l_Match = s_Range.match(QString::fromLatin1(l_Reply->rawHeader("Content-Range")));
    if (!l_Match.hasMatch() || l_Match.captured(1).toULongLong() != l_Transfer._From ||
        (l_Transfer._To >= 0 && l_Match.captured(2).toLongLong() != l_Transfer._To))
    {
        l_Transfer._Problem = "Range " + QString::fromLatin1(l_Reply->rawHeader("Content-Range")) + " not the one asked";
        return false;
    }
    return true;
}

void CASCArchivesManager::FailTransfer(int p_Kind, const QString& p_Message)
{
    CASCArchiveTransfer& l_Transfer = *m_Transfer;
    if (QNetworkReply* l_Reply = l_Transfer._Reply)
    {
        l_Transfer._Reply = nullptr;
        l_Reply->disconnect(this);
        l_Reply->abort();
        l_Reply->deleteLater();
    }
    delete l_Transfer._File;
    l_Transfer._File = nullptr;
    l_Transfer._Stopped = true;
    m_BytesDone -= quint64(l_Transfer._Received);
    m_Rate.Lower(m_BytesDone);
    l_Transfer._Received = 0;
    if (l_Transfer._Attempts < MaxAttempts && l_Transfer._Retry)
    {
        qWarning().noquote() << "CASCArchivesManager::FailTransfer() asking again: " + p_Message;
        l_Transfer._Retrying = true;
        const std::function<void()> l_Retry = l_Transfer._Retry;
        l_Retry();
        return;
    }
    TransferFailed(p_Kind, p_Message);
}

void CASCArchivesManager::HTTP_OnError(QNetworkReply::NetworkError p_Error)
{
    if (sender() != m_Transfer->_Reply || p_Error == QNetworkReply::OperationCanceledError)
        return;
    FailTransfer(2, ErrorMessage(p_Error, m_Transfer->_Url));
}

void CASCArchivesManager::HTTP_OnReadyRead()
{
    CASCArchiveTransfer& l_Transfer = *m_Transfer;
    QNetworkReply* l_Reply = l_Transfer._Reply;
    if (sender() != l_Reply || l_Transfer._Stopped)
        return;
    // An error page is left to HTTP_OnError, which names the status.
    if (l_Reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() >= 400)
    {
        l_Reply->readAll();
        return;
    }
    if (!l_Transfer._Checked && !CheckAnswer())
    {
        FailTransfer(2, l_Transfer._Problem + " for file : " + l_Transfer._Url);
        return;
    }
    const QByteArray l_Data = l_Reply->readAll();
    if (l_Transfer.Expected() >= 0 && l_Transfer._Received + l_Data.size() > l_Transfer.Expected())
    {
        FailTransfer(2, "More bytes than asked for file : " + l_Transfer._Url);
        return;
    }
    if (l_Transfer._File->write(l_Data) != l_Data.size())
    {
        const QString l_Message = "Failed to write download file : " + l_Transfer._Path + " " + l_Transfer._File->errorString();
        l_Transfer._Attempts = MaxAttempts; // asking again would meet the same disk
        FailTransfer(1, l_Message);
        return;
    }
    l_Transfer._Received += l_Data.size();
    m_BytesDone += quint64(l_Data.size());
    ProgressTick();
}

void CASCArchivesManager::ProgressTick()
{
    if (m_Transfer->_Stopped || !m_Rate.Due())
        return;
    const quint64 l_Speed = m_Rate.Sample(m_BytesDone);
    const int l_Percent = int((float(m_BytesDone) / float(m_BytesTotal == 0 ? 1 : m_BytesTotal)) * 100.0f);
    m_OnDownloadProgress(m_FileNumber, qMax(1, int(m_ToDownload.size())), l_Percent, m_BytesDone, m_BytesTotal, l_Speed);
}

void CASCArchivesManager::HTTP_DownloadFinished()
{
    CASCArchiveTransfer& l_Transfer = *m_Transfer;
    QNetworkReply* l_Reply = l_Transfer._Reply;
    if (sender() != l_Reply)
        return;
    l_Reply->close();
    l_Reply->deleteLater();
    l_Transfer._Reply = nullptr;
    const bool l_Flushed = l_Transfer._File && l_Transfer._File->flush();
    delete l_Transfer._File;
    l_Transfer._File = nullptr;

    const bool l_Streaming = !m_ToDownload.empty() && m_FileNumber >= 1;
    if (l_Streaming && m_DatabaseTimer.isValid() && m_DatabaseTimer.elapsed() >= DatabaseIntervalMs)
    {
        // The current blob stays listed until its slot is written.
        RewriteDatabase(size_t(m_FileNumber - 1));
        m_DatabaseTimer.restart();
    }
    if (l_Transfer._Stopped)
        return;
    if (!l_Flushed)
    {
        l_Transfer._Attempts = MaxAttempts;
        FailTransfer(1, "Failed to write download file : " + l_Transfer._Path);
        return;
    }
    if (!l_Transfer._Checked && !CheckAnswer())
    {
        FailTransfer(2, l_Transfer._Problem + " for file : " + l_Transfer._Url);
        return;
    }
    if (l_Transfer.Expected() >= 0 && l_Transfer._Received != l_Transfer.Expected())
    {
        FailTransfer(2, QStringLiteral("Received %1 of %2 bytes for file : ").arg(l_Transfer._Received).arg(l_Transfer.Expected()) +
                            l_Transfer._Url);
        return;
    }
    l_Transfer._Accepted = true;
    ProgressTick();
    const std::function<void()> l_Completion = l_Transfer._Completion; // it may start the next transfer
    if (l_Completion)
        l_Completion();
}

void CASCArchivesManager::StopDownload()
{
    m_Stopped = true;
    m_ScanCancel = true;
    // A scan in flight runs on another thread: it only reads the flags.
    if (m_Scanning)
        return;
    CASCArchiveTransfer& l_Transfer = *m_Transfer;
    if (!l_Transfer._Reply)
        return;
    const bool l_WasStopped = l_Transfer._Stopped;
    l_Transfer._Stopped = true;
    if (!l_WasStopped)
        l_Transfer._Reply->abort();
}

void CASCArchivesManager::ResumeDownload()
{
    m_Stopped = false;
    m_ScanCancel = false;
    if (std::function<void()> l_Held = std::move(m_Held))
    {
        m_Held = nullptr;
        l_Held();
        return;
    }
    if (m_StreamFailed)
    {
        // The slots a failed stream left listed are fetched again.
        StartStreaming();
        return;
    }
    CASCArchiveTransfer& l_Transfer = *m_Transfer;
    if (!l_Transfer._Stopped || l_Transfer._Url.isEmpty())
        return;
    m_BytesDone -= quint64(l_Transfer._Received);
    l_Transfer._Attempts = 0;
    l_Transfer._Retrying = true;
    const auto l_Url = l_Transfer._Url;
    const auto l_Path = l_Transfer._Path;
    const auto l_Completion = l_Transfer._Completion;
    const auto l_Retry = l_Transfer._Retry;
    l_Transfer._Received = 0;
    m_Rate.Restart(m_BytesDone);
    // The same request again (for a blob: through a CDN host of the region).
    if (l_Retry)
        l_Retry();
    else
        StartDownload(l_Url, l_Path, l_Transfer._From, l_Transfer._To, l_Completion);
}

} // namespace CASC
} // namespace Orvane
