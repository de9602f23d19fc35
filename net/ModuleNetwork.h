#pragma once
#include "net/ProxyFactory.h"

#include <QNetworkAccessManager>

namespace Orvane {
namespace Launcher {

/// Network managers of the module. The host owns the proxy settings (the module never changes them); each
/// manager chooses the proxy of every request by its host through the factory the host installed.
/// Call on the thread that will use the manager.
class ModuleNetwork
{
public:
    static QNetworkAccessManager* NewManager(QObject* p_Parent)
    {
        auto* l_Manager = new QNetworkAccessManager(p_Parent);
        ProxyFactory::Apply(l_Manager);
        return l_Manager;
    }
};

} // namespace Launcher
} // namespace Orvane
