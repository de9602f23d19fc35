#pragma once
#include <QNetworkProxy>
#include <QString>

namespace Orvane {
namespace Host {

/// The proxy of one run, set as Qt's application proxy before the module is loaded (the module hands
/// that proxy to each of its network managers). One proxy serves the whole run, so no_proxy is
/// matched against the application server's host: when it names it, the run goes direct.
class NetworkProxy
{
public:
    /// p_Option: the --proxy value; empty takes http_proxy, then HTTP_PROXY; "none" goes direct.
    /// False with a one-line reason on a proxy URL that cannot be used.
    static bool Choose(const QString& p_Option, const QString& p_ServerUrl, QNetworkProxy* p_Proxy, QString* p_Error);
    /// "http://[user[:password]@]host[:port]" (port 1080 by default, as curl) or "socks5://...".
    static bool FromUrl(const QString& p_Text, QNetworkProxy* p_Proxy, QString* p_Error);
    /// no_proxy: comma-separated host names, domain suffixes (".example.com" or "example.com"), addresses, "*".
    static bool Bypassed(const QString& p_NoProxy, const QString& p_Host);
};

} // namespace Host
} // namespace Orvane
