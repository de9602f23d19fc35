#include "net/DownloadThread.h"
#include "net/ModuleNetwork.h"
#include "net/RequestAhead.h"

namespace Orvane {
namespace Launcher {

DownloadThread::~DownloadThread()
{
    quit();
    wait();
}

void DownloadThread::Launch()
{
    start();
    m_Ready.acquire();
}

void DownloadThread::run()
{
    m_Manager = ModuleNetwork::NewManager(nullptr);
    m_Ahead = new RequestAhead(m_Manager);
    m_Ready.release();
    exec();
    delete m_Ahead;
    m_Ahead = nullptr;
    delete m_Manager;
    m_Manager = nullptr;
}

} // namespace Launcher
} // namespace Orvane
