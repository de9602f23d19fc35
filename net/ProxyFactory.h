#pragma once
#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QString>

class QNetworkAccessManager;

namespace Orvane {
namespace Launcher {

/// Where the proxy of a run comes from: the --proxy value, else http_proxy (over HTTP_PROXY) with
/// no_proxy (over NO_PROXY).
struct ProxySettings
{
    QString Option;    ///< --proxy: a URL, "none" (direct), empty (the environment)
    QString HttpProxy; ///< from the environment
    QString NoProxy;   ///< from the environment

    static ProxySettings FromEnvironment(const QString& p_Option);
};

/// The proxy of each request, chosen by its host: application server and CDN hosts alike. Credentials of the
/// proxy URL go to the proxy only, never into a message.
class ProxyFactory : public QNetworkProxyFactory
{
public:
    explicit ProxyFactory(const ProxySettings& p_Settings);

    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& p_Query = QNetworkProxyQuery()) override;
    /// The proxy for a request to p_Host:p_Port (no proxy when no_proxy names it).
    QNetworkProxy For(const QString& p_Host, int p_Port) const;

    /// False with a one-line reason (no credentials in it) when the settings name a proxy that cannot be used.
    bool IsUsable(QString* p_Error) const;

    /// "http://[user[:password]@]host[:port]" (port 1080 by default, as curl) or "socks5://..."; a bare
    /// "host:port" is an HTTP proxy.
    static bool FromUrl(const QString& p_Text, QNetworkProxy* p_Proxy, QString* p_Error);
    /// no_proxy: comma-separated entries: "*", host names, domain suffixes (".example.com" or "example.com"),
    /// addresses, "[IPv6]", each optionally with ":port" (then only that port is bypassed).
    static bool Bypassed(const QString& p_NoProxy, const QString& p_Host, int p_Port);

    /// For the whole process (the host, before the module is loaded): Qt's application proxy factory, and the
    /// settings every network manager of the module takes its own factory from (see Apply).
    static bool Install(const ProxySettings& p_Settings, QString* p_Error);
    /// Gives p_Manager the installed factory. Without one, the host's application proxy if it set one (through
    /// Qt's default, loopback hosts would go around it); else Qt's default.
    static void Apply(QNetworkAccessManager* p_Manager);

private:
    ProxySettings m_Settings;
    QNetworkProxy m_Proxy; ///< the proxy named, NoProxy when none (or unusable)
};

} // namespace Launcher
} // namespace Orvane
