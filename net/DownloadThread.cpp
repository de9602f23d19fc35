#include "net/DownloadThread.h"
#include "net/ModuleNetwork.h"

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
    m_Ready.release();
    exec();
    delete m_Manager;
    m_Manager = nullptr;
}

} // namespace Launcher
} // namespace Orvane
