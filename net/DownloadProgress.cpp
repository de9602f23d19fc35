#include "net/DownloadProgress.h"
#include "net/HTTP_DownloadFileRequest.h"

#include <QObject>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace Orvane {
namespace Launcher {

DownloadProgress::DownloadProgress(QObject* p_Context, std::function<void()> p_Tell)
    : m_Context(p_Context), m_Tell(std::move(p_Tell))
{
}

void DownloadProgress::Start()
{
    m_SinceSignal.start();
}

void DownloadProgress::Written(HTTP_DownloadFileRequest& p_Request, qint64 p_Size)
{
    p_Request.WrittenBytes += p_Size - p_Request.FileSize;
    p_Request.FileSize = p_Size;
    p_Request.ReceivedBytes = p_Size;

    const qint64 l_Elapsed = p_Request.SpeedTimer.elapsed();
    if (l_Elapsed >= 1000)
    {
        p_Request.BytesPerSecond = (p_Request.FileSize - p_Request.SpeedSampleBytes) * 1000 / l_Elapsed;
        p_Request.SpeedSampleBytes = p_Request.FileSize;
        p_Request.SpeedTimer.restart();
    }
    Tell(false);
}

void DownloadProgress::Counted(HTTP_DownloadFileRequest& p_Request, qint64 p_Before, qint64 p_Current, qint64 p_Total)
{
    // Counted over the whole file: the bytes a resume found on disk are part of it.
    qint64 l_Denominator = p_Total < 0 ? -1 : p_Before + p_Total;
    if (l_Denominator == 0)
        l_Denominator = 1;
    // An unknown total (-1) gives 0, never a negative or wrapped percentage.
    const qint64 l_Percent = l_Denominator > 0 ? (p_Before + p_Current) * 100 / l_Denominator : 0;
    p_Request.FilePercent = uint8_t(std::min<qint64>(100, std::max<qint64>(0, l_Percent)));
    Tell(false);
}

void DownloadProgress::Flush()
{
    if (m_Pending)
        Tell(true);
}

void DownloadProgress::Tell(bool p_Force)
{
    if (!p_Force && m_SinceSignal.elapsed() < EveryMs)
    {
        m_Pending = true;
        if (!m_FlushQueued)
        {
            m_FlushQueued = true;
            QTimer::singleShot(int(EveryMs), m_Context, [this] {
                m_FlushQueued = false;
                if (m_Pending && !m_Stopped)
                    Tell(true);
            });
        }
        return;
    }
    m_Pending = false;
    m_SinceSignal.restart();
    m_Tell();
}

} // namespace Launcher
} // namespace Orvane
