#pragma once
#include <QString>

namespace Orvane {
namespace Host {

/// The proxy settings of one run, installed before the module is loaded: every network manager of the
/// module then chooses the proxy of each request by its host (net/ProxyFactory).
class NetworkProxy
{
public:
    /// p_Option: the --proxy value; empty takes http_proxy, then HTTP_PROXY, with no_proxy; "none" goes direct.
    /// False with a one-line reason (no credentials in it) on a proxy URL that cannot be used.
    static bool Install(const QString& p_Option, QString* p_Error);
};

} // namespace Host
} // namespace Orvane
