#include "host/NetworkProxy.h"

#include "net/ProxyFactory.h"

namespace Orvane {
namespace Host {

bool NetworkProxy::Install(const QString& p_Option, QString* p_Error)
{
    return Launcher::ProxyFactory::Install(Launcher::ProxySettings::FromEnvironment(p_Option), p_Error);
}

} // namespace Host
} // namespace Orvane
