#include "net/DownloadFile.h"
#include "net/Deployment.h"
#include "net/HTTP_DownloadFileRequest.h"
#include "net/NetLog.h"
#include "net/TransferSink.h"

#include <QDebug>
#include <QFileInfo>

namespace Orvane {
namespace Launcher {

DownloadFile::DownloadFile() = default;
DownloadFile::~DownloadFile() = default;

void DownloadFile::Create(const QString& p_Path)
{
    m_Sink = TransferSink::File(p_Path);
    if (Deployment::HashWhileWriting())
        m_Sink->HashWhileWriting();
}

bool DownloadFile::Prepare(HTTP_DownloadFileRequest& p_Request, const std::function<bool()>& p_Go)
{
    const QString& l_Path = p_Request.FilePath;
    // A file not begun yet is created while its request travels (the transfer opens it, and a failure there
    // ends as this one would); a kept part is opened first, its size being the range to ask.
    const bool l_New = !QFileInfo::exists(l_Path);
    m_Sink->SetOpenAfterSending(l_New);
    if (!l_New && !m_Sink->Open())
        return false;

    p_Request.FileSize = 0;
    const qint64 l_Size = l_New ? 0 : m_Sink->Size();
    if (p_Request.Resume && l_Size > 0)
    {
        p_Request.FileSize = l_Size;
        qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::StartDownload Resuming download at byte " << l_Size
                          << " for file \"" << l_Path << "\"";
        p_Request.ReceivedBytes = l_Size;
        p_Request.SpeedSampleBytes = l_Size;
    }
    else if (l_Size > 0)
    {
        // Without resume the body starts at byte 0: never appended to old bytes.
        m_Sink->Truncate();
    }
    // A kept part is read once here; every byte after it is hashed as it is written. A stop skips it
    // (no digest then: the caller reads the file itself if it needs one).
    m_Sink->CatchUpHash(p_Go);
    return true;
}

void DownloadFile::StartOver(HTTP_DownloadFileRequest& p_Request)
{
    m_Sink->Truncate();
    p_Request.FileSize = 0;
    p_Request.SpeedSampleBytes = 0;
    p_Request.ReceivedBytes = 0;
    p_Request.BytesPerSecond = 0;
    p_Request.FilePercent = 0;
    p_Request.SpeedTimer.restart();
}

void DownloadFile::End(HTTP_DownloadFileRequest& p_Request)
{
    m_Sink->Close();
    // Hashed as it was written: the caller checks the file without reading it again. A stop needs no check.
    QString l_Md5;
    qint64 l_Bytes = 0;
    if (!p_Request.StopRequested && m_Sink->TakeDigest(&l_Md5, &l_Bytes))
    {
        p_Request.WrittenMd5 = l_Md5;
        p_Request.WrittenMd5Bytes = l_Bytes;
    }
}

void DownloadFile::Release()
{
    m_Sink.reset();
}

} // namespace Launcher
} // namespace Orvane
