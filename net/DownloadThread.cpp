#include "net/DownloadThread.h"
#include "net/ModuleNetwork.h"
#include "net/RequestAhead.h"

#include <QNetworkReply>
#include <QUrl>

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
    // Qt leaves the reply of a preconnection (its own scheme) to the manager until the manager goes.
    QObject::connect(m_Manager, &QNetworkAccessManager::finished, m_Manager, [](QNetworkReply* p_Reply) {
        if (p_Reply->url().scheme().startsWith(QLatin1String("preconnect-")))
            p_Reply->deleteLater();
    });
    m_Ready.release();
    exec();
    delete m_Ahead;
    m_Ahead = nullptr;
    delete m_Manager;
    m_Manager = nullptr;
}

void DownloadThread::Preconnect(const QUrl& p_BaseUrl)
{
    const QString l_Scheme = p_BaseUrl.scheme().toLower();
    const QString l_Host = p_BaseUrl.host();
    if (l_Host.isEmpty() || (l_Scheme != QLatin1String("http") && l_Scheme != QLatin1String("https")))
        return;
    const bool l_Tls = l_Scheme == QLatin1String("https");
    const quint16 l_Port = quint16(p_BaseUrl.port(l_Tls ? 443 : 80));
    QNetworkAccessManager* l_Manager = m_Manager;
    QMetaObject::invokeMethod(
        l_Manager,
        [l_Manager, l_Tls, l_Host, l_Port] {
#ifndef QT_NO_SSL
            if (l_Tls)
                return l_Manager->connectToHostEncrypted(l_Host, l_Port);
#endif
            if (!l_Tls)
                l_Manager->connectToHost(l_Host, l_Port);
        },
        Qt::QueuedConnection);
}

} // namespace Launcher
} // namespace Orvane
