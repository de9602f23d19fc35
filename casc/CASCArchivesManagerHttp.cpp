#include "casc/CASCArchivesManager.h"

#include "casc/CASCArchiveTransfer.h"
#include "casc/CASCHttpGet.h"
#include "casc/CascLog.h"
#include "net/ModuleNetwork.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>

namespace Orvane {
namespace CASC {

using Launcher::Transfer;
using Launcher::TransferResult;

Launcher::Transfer* CASCArchivesManager::NewTransfer()
{
    if (!m_NetworkManager)
        m_NetworkManager = Launcher::ModuleNetwork::NewManager(nullptr);
    // A child of the manager: a new Init takes it away with the manager.
    auto* l_Transfer = new Transfer(m_NetworkManager, m_NetworkManager);
    // Asked before the request goes out and while it runs: a stop is never lost.
    l_Transfer->SetStopWhen([this] { return m_Stopped.load(); });
    return l_Transfer;
}

void CASCArchivesManager::GetFileSize(const QString& p_Url, std::function<void(QString, quint64)> p_OnSize)
{
    Transfer* l_Transfer = NewTransfer();
    connect(l_Transfer, &Transfer::Ended, this, [this, l_Transfer, p_Url, p_OnSize] {
        l_Transfer->deleteLater();
        const TransferResult& l_Result = l_Transfer->Result();
        if (l_Result.Outcome == TransferResult::Verdict::Stopped)
        {
            // Held, and asked again by the resume.
            Step([this, p_Url, p_OnSize] { GetFileSize(p_Url, p_OnSize); });
            return;
        }
        const int l_Status = l_Result.Ending.Status;
        if (l_Status < 200 || l_Status > 299)
        {
            int l_Code = CASCHttpGet::FailureCode(l_Result);
            if (l_Code == 0)
                l_Code = QNetworkReply::ProtocolFailure;
            Raise(2, CASCHttpGet::ErrorMessage(l_Code, p_Url));
            return;
        }
        p_OnSize(p_Url, quint64(qMax<qint64>(0, l_Result.FullSize)));
    });
    Launcher::TransferRequest l_Asked;
    l_Asked.Url = p_Url;
    l_Asked.SizeOnly = true;
    l_Transfer->Start(l_Asked, nullptr);
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
    if (l_Transfer._To < 0)
    {
        // Nothing is asked without its bound.
        l_Transfer._Stopped = true;
        TransferFailed(2, "No size for file : " + l_Transfer._Url);
        return;
    }
    QDir().mkpath(QFileInfo(l_Transfer._Path).absolutePath());
    QFile::remove(l_Transfer._Path);
    {
        QFile l_Scratch(l_Transfer._Path);
        if (!l_Scratch.open(QIODevice::WriteOnly | QIODevice::Truncate))
        {
            l_Transfer._Stopped = true;
            TransferFailed(1, "Failed to open archive or download file");
            return;
        }
    }
    // The range bounds the file: a server that ignores it cannot fill the disk.
    l_Transfer._Sink = Launcher::TransferSink::File(l_Transfer._Path, l_Transfer.Expected());
    Transfer* l_Engine = NewTransfer();
    CASCHttpGet::KeepWith(l_Engine, l_Transfer._Sink);
    l_Transfer._Engine = l_Engine;
    connect(l_Engine, &Transfer::BodyWritten, this, &CASCArchivesManager::HTTP_OnReadyRead);
    connect(l_Engine, &Transfer::Ended, this, &CASCArchivesManager::HTTP_DownloadFinished);
    Launcher::TransferRequest l_Asked;
    l_Asked.Url = l_Transfer._Url;
    l_Asked.From = qint64(l_Transfer._From);
    l_Asked.To = l_Transfer._To;
    l_Engine->Start(l_Asked, l_Transfer._Sink.get());
}

QString CASCArchivesManager::Refusal(const TransferResult& p_Result) const
{
    const CASCArchiveTransfer& l_Transfer = *m_Transfer;
    const Launcher::TransferResult::Facts& l_Ending = p_Result.Ending;
    if (l_Ending.Status == 200 && l_Transfer._From != 0)
        return QStringLiteral("Status 200 instead of 206");
    if (l_Ending.Status == 206 && l_Ending.RangeStart != qint64(l_Transfer._From))
        return QStringLiteral("Range from %1 not the one asked").arg(l_Ending.RangeStart);
    if (l_Ending.Encoded)
        return QStringLiteral("Compressed answer");
    if (l_Transfer._Received != l_Transfer.Expected())
        return QStringLiteral("Received %1 of %2 bytes").arg(l_Transfer._Received).arg(l_Transfer.Expected());
    return QString();
}

void CASCArchivesManager::FailTransfer(int p_Kind, const QString& p_Message)
{
    CASCArchiveTransfer& l_Transfer = *m_Transfer;
    if (Transfer* l_Engine = l_Transfer._Engine)
    {
        l_Transfer._Engine = nullptr;
        l_Engine->disconnect(this);
        l_Engine->deleteLater(); // aborts what it still runs
    }
    l_Transfer._Stopped = true;
    m_BytesDone -= quint64(l_Transfer._Received);
    m_Rate.Lower(m_BytesDone);
    l_Transfer._Received = 0;
    if (l_Transfer._Attempts < MaxAttempts && l_Transfer._Retry)
    {
        qCWarning(CascLog).noquote() << "CASCArchivesManager::FailTransfer() asking again: " + p_Message;
        l_Transfer._Retrying = true;
        const std::function<void()> l_Retry = l_Transfer._Retry;
        l_Retry();
        return;
    }
    TransferFailed(p_Kind, p_Message);
}

void CASCArchivesManager::HTTP_OnError(QNetworkReply::NetworkError p_Error)
{
    // The cancel that follows a stop is no failure.
    if (p_Error == QNetworkReply::OperationCanceledError)
        return;
    FailTransfer(2, CASCHttpGet::ErrorMessage(p_Error, m_Transfer->_Url));
}

void CASCArchivesManager::HTTP_OnReadyRead(qint64 p_Bytes)
{
    CASCArchiveTransfer& l_Transfer = *m_Transfer;
    if (sender() != l_Transfer._Engine)
        return;
    l_Transfer._Received += p_Bytes;
    m_BytesDone += quint64(p_Bytes);
    ProgressTick();
}

void CASCArchivesManager::ProgressTick()
{
    if (m_Stopped || (!m_Streaming && m_Transfer->_Stopped) || !m_Rate.Due())
        return;
    const quint64 l_Speed = m_Rate.Sample(m_BytesDone);
    const int l_Percent = int((float(m_BytesDone) / float(m_BytesTotal == 0 ? 1 : m_BytesTotal)) * 100.0f);
    m_OnDownloadProgress(m_FileNumber, qMax(1, int(m_ToDownload.size())), l_Percent, m_BytesDone, m_BytesTotal, l_Speed);
}

void CASCArchivesManager::HTTP_DownloadFinished()
{
    CASCArchiveTransfer& l_Transfer = *m_Transfer;
    Transfer* l_Engine = l_Transfer._Engine;
    if (!l_Engine || sender() != l_Engine)
        return;
    l_Engine->deleteLater();
    l_Transfer._Engine = nullptr;
    const TransferResult l_Result = l_Engine->Result();

    // An answer to another request than the one asked is named as such, whatever else went wrong.
    if (l_Result.Outcome != TransferResult::Verdict::Stopped && l_Result.Outcome != TransferResult::Verdict::WriteFailed &&
        l_Result.Ending.Status == 200 && l_Transfer._From != 0)
        return FailTransfer(2, "Status 200 instead of 206 for file : " + l_Transfer._Url);
    switch (l_Result.Outcome)
    {
    case TransferResult::Verdict::Stopped:
        // Held until ResumeDownload asks it again, unless the resume came first.
        l_Transfer._Stopped = true;
        if (!m_Stopped)
            Restart();
        return;
    case TransferResult::Verdict::WriteFailed:
        l_Transfer._Attempts = MaxAttempts; // asking again would meet the same disk
        FailTransfer(1, "Failed to write download file : " + l_Transfer._Path + " " + l_Result.Reason);
        return;
    case TransferResult::Verdict::TooLarge:
        FailTransfer(2, "More bytes than asked for file : " + l_Transfer._Url);
        return;
    case TransferResult::Verdict::Complete:
        break;
    case TransferResult::Verdict::Refused:
        break; // named below
    default:
    {
        const int l_Code = CASCHttpGet::FailureCode(l_Result);
        if (l_Code != 0)
            return HTTP_OnError(QNetworkReply::NetworkError(l_Code));
        break;
    }
    }
    const QString l_Refused = Refusal(l_Result);
    if (!l_Refused.isEmpty() || l_Result.Outcome != TransferResult::Verdict::Complete)
    {
        FailTransfer(2, (l_Refused.isEmpty() ? "Status " + QString::number(l_Result.Ending.Status) : l_Refused) +
                            " for file : " + l_Transfer._Url);
        return;
    }
    ProgressTick();
    const std::function<void()> l_Completion = l_Transfer._Completion; // it may start the next transfer
    if (l_Completion)
        l_Completion();
}

void CASCArchivesManager::StopDownload()
{
    // The transfer in flight and every next step read the flag; a scan in flight reads the other.
    m_Stopped = true;
    m_ScanCancel = true;
    // The archives close once nothing is in flight; from this object's own thread.
    QMetaObject::invokeMethod(this, [this] { CloseArchivesIfIdle(); }, Qt::QueuedConnection);
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
    if (m_Streaming)
    {
        // The requests the stop held go out again (each from its first blob not written).
        m_Rate.Restart(m_BytesDone);
        DownloadNextFile();
        return;
    }
    if (m_StreamFailed)
    {
        // The slots a failed stream left listed are fetched again.
        StartStreaming();
        return;
    }
    Restart();
}

void CASCArchivesManager::Restart()
{
    CASCArchiveTransfer& l_Transfer = *m_Transfer;
    if (!l_Transfer._Stopped || l_Transfer._Url.isEmpty() || l_Transfer._Engine)
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
