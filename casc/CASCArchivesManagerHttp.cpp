#include "casc/CASCArchivesManager.h"

#include "casc/CASCFetchLoop.h"
#include "casc/CASCHttpGet.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkReply>

namespace Orvane {
namespace CASC {

using Launcher::TransferResult;

// The whole-file transfer (the encoding file) as the fetch loop runs it, and the stop and resume.

CASCFetchLoop* CASCArchivesManager::NewFetchLoop()
{
    CASCFetchLoop::Hooks l_Hooks;
    l_Hooks._Raise = [this](Errors::Type p_Kind, const QString& p_Message) { Raise(p_Kind, p_Message); };
    l_Hooks._Prepare = [](CASCFetchRequest& p_File, Errors::Type* p_Kind) { return Prepare(p_File, p_Kind); };
    l_Hooks._Judge = [](CASCFetchRequest& p_File, const TransferResult& p_Result) { return Judge(p_File, p_Result); };
    l_Hooks._Tick = [this] { ProgressTick(); };
    l_Hooks._Name = QStringLiteral("CASCArchivesManager");
    l_Hooks._MaxAttempts = MaxAttempts;
    return new CASCFetchLoop(this, std::move(l_Hooks));
}

QString CASCArchivesManager::Prepare(CASCFetchRequest& p_File, Errors::Type* p_Kind)
{
    if (p_File._To < 0)
    {
        // Nothing is asked without its bound.
        *p_Kind = Errors::Network;
        return "No size for file : " + p_File._Url;
    }
    QDir().mkpath(QFileInfo(p_File._Path).absolutePath());
    QFile::remove(p_File._Path);
    {
        QFile l_Scratch(p_File._Path);
        if (!l_Scratch.open(QIODevice::WriteOnly | QIODevice::Truncate))
        {
            *p_Kind = Errors::LocalStorage;
            return QStringLiteral("Failed to open archive or download file");
        }
    }
    // The range bounds the file: a server that ignores it cannot fill the disk.
    p_File._Sink = Launcher::TransferSink::File(p_File._Path, p_File.Expected());
    return QString();
}

CASCFetchLoop::Verdict CASCArchivesManager::Judge(CASCFetchRequest& p_File, const TransferResult& p_Result)
{
    CASCFetchLoop::Verdict l_Verdict;
    const TransferResult::Verdict l_Ended = p_Result.Outcome;
    const Launcher::TransferResult::Facts& l_Ending = p_Result.Ending;
    const QString l_For = " for file : " + p_File._Url;
    // An answer to another request than the one asked is named as such, whatever else went wrong.
    if (l_Ended != TransferResult::Verdict::WriteFailed && l_Ending.Status == 200 && p_File._From != 0)
    {
        l_Verdict._Message = "Status 200 instead of 206" + l_For;
        return l_Verdict;
    }
    switch (l_Ended)
    {
    case TransferResult::Verdict::WriteFailed:
        l_Verdict._Kind = Errors::LocalStorage;
        l_Verdict._Final = true; // asking again would meet the same disk
        l_Verdict._Message = "Failed to write download file : " + p_File._Path + " " + p_Result.Reason;
        return l_Verdict;
    case TransferResult::Verdict::TooLarge:
        l_Verdict._Message = "More bytes than asked" + l_For;
        return l_Verdict;
    case TransferResult::Verdict::Complete:
    case TransferResult::Verdict::Refused: // named below
        break;
    default:
    {
        const int l_Code = CASCHttpGet::FailureCode(p_Result);
        if (l_Code != 0)
        {
            // The cancel that follows a stop is no failure.
            l_Verdict._Quiet = l_Code == QNetworkReply::OperationCanceledError;
            l_Verdict._Message = CASCHttpGet::ErrorMessage(l_Code, p_File._Url);
            return l_Verdict;
        }
        break;
    }
    }
    QString l_Refused;
    if (l_Ending.Status == 206 && l_Ending.RangeStart != qint64(p_File._From))
        l_Refused = QStringLiteral("Range from %1 not the one asked").arg(l_Ending.RangeStart);
    else if (l_Ending.Encoded)
        l_Refused = QStringLiteral("Compressed answer");
    else if (p_File._Received != p_File.Expected())
        l_Refused = QStringLiteral("Received %1 of %2 bytes").arg(p_File._Received).arg(p_File.Expected());
    if (!l_Refused.isEmpty() || l_Ended != TransferResult::Verdict::Complete)
    {
        l_Verdict._Message = (l_Refused.isEmpty() ? "Status " + QString::number(l_Ending.Status) : l_Refused) + l_For;
        return l_Verdict;
    }
    l_Verdict._Whole = true;
    return l_Verdict;
}

void CASCArchivesManager::ProgressTick()
{
    quint64 l_Speed = 0;
    int l_Percent = 0;
    if (m_Fetch->Stopped() || (!m_Streaming && m_Fetch->File()._Stopped) || !m_Fetch->Sample(&l_Speed, &l_Percent))
        return;
    m_OnDownloadProgress(m_FileNumber, qMax(1, int(m_ToDownload.size())), l_Percent, m_Fetch->Done(), m_Fetch->Total(),
                         l_Speed);
}

void CASCArchivesManager::StopDownload()
{
    // The transfer in flight and every next step read the flag; a scan in flight reads the other.
    m_Fetch->Stop();
    m_ScanCancel = true;
    // The archives close once nothing is in flight; from this object's own thread.
    QMetaObject::invokeMethod(this, [this] { CloseArchivesIfIdle(); }, Qt::QueuedConnection);
}

void CASCArchivesManager::ResumeDownload()
{
    m_ScanCancel = false;
    if (m_Fetch->Resume())
        return;
    if (m_Streaming)
    {
        // The requests the stop held go out again (each from its first blob not written).
        m_Fetch->RestartRate();
        DownloadNextFile();
        return;
    }
    if (m_StreamFailed)
    {
        // The slots a failed stream left listed are fetched again.
        StartStreaming();
        return;
    }
    // The encoding file's transfer, from its first byte.
    m_Fetch->Restart();
}

} // namespace CASC
} // namespace Orvane
