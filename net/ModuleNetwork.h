#pragma once
#include <QNetworkAccessManager>
#include <QNetworkProxy>

namespace Orvane {
namespace Launcher {

/// Network managers of the module. The host owns the proxy settings (the module never changes them);
/// each manager is handed the host's application proxy, since through the default Qt sends loopback
/// hosts around it. Without an application proxy the manager keeps Qt's default (and the host's
/// proxy factory, if it set one). Call on the thread that will use the manager.
class ModuleNetwork
{
public:
    static QNetworkAccessManager* NewManager(QObject* p_Parent)
    {
        auto* l_Manager = new QNetworkAccessManager(p_Parent);
        const QNetworkProxy l_Proxy = QNetworkProxy::applicationProxy();
        if (l_Proxy.type() != QNetworkProxy::NoProxy && l_Proxy.type() != QNetworkProxy::DefaultProxy)
            l_Manager->setProxy(l_Proxy);
        return l_Manager;
    }
};

} // namespace Launcher
} // namespace Orvane
