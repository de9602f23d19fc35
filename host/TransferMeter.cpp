#include "host/TransferMeter.h"

namespace Orvane {
namespace Host {

void TransferMeter::Attach(Launcher::Application* p_App)
{
    QObject::connect(
        p_App, &Launcher::Application::OnHTTPDownloadProgressUpdate, p_App,
        [this](Launcher::HTTP_DownloadFileRequest* p_Request) { Note(p_Request, false); }, Qt::DirectConnection);
    QObject::connect(
        p_App, &Launcher::Application::OnHTTPDownloadProgressComplete, p_App,
        [this](Launcher::HTTP_DownloadFileRequest* p_Request) { Note(p_Request, true); }, Qt::DirectConnection);
}

void TransferMeter::Note(Launcher::HTTP_DownloadFileRequest* p_Request, bool p_Last)
{
    if (!p_Request)
        return;
    const qint64 l_Written = p_Request->WrittenBytes;
    std::lock_guard<std::mutex> l_Lock(m_Mutex);
    auto l_It = m_Written.find(p_Request);
    // A record seen for the first time (or one freed and its address taken again) counts from nothing.
    const qint64 l_Before = (l_It == m_Written.end() || l_It->second > l_Written) ? 0 : l_It->second;
    m_Moved += l_Written - l_Before;
    if (p_Last)
    {
        if (l_It != m_Written.end())
            m_Written.erase(l_It);
    }
    else
        m_Written[p_Request] = l_Written;
}

} // namespace Host
} // namespace Orvane
