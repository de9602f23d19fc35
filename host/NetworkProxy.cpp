#include "host/NetworkProxy.h"

#include "platform/QtCompat.h"

#include <QStringList>
#include <QUrl>

namespace Orvane {
namespace Host {

bool NetworkProxy::FromUrl(const QString& p_Text, QNetworkProxy* p_Proxy, QString* p_Error)
{
    // A bare "host:port" is an HTTP proxy, as curl reads it.
    const QString l_Text = p_Text.contains("://") ? p_Text : "http://" + p_Text;
    const QUrl l_Url(l_Text, QUrl::StrictMode);
    const QString l_Scheme = l_Url.scheme().toLower();
    if (!l_Url.isValid() || l_Url.host().isEmpty() || (l_Scheme != "http" && l_Scheme != "socks5"))
    {
        *p_Error = "proxy needs an http:// or socks5:// URL, not \"" + p_Text + "\"";
        return false;
    }
    *p_Proxy = QNetworkProxy(l_Scheme == "http" ? QNetworkProxy::HttpProxy : QNetworkProxy::Socks5Proxy, l_Url.host(),
                             quint16(l_Url.port(1080)), l_Url.userName(), l_Url.password());
    return true;
}

bool NetworkProxy::Bypassed(const QString& p_NoProxy, const QString& p_Host)
{
    const QString l_Host = p_Host.toLower();
    for (QString l_Entry : p_NoProxy.split(QLatin1Char(','), Compat::SkipEmptyParts))
    {
        l_Entry = l_Entry.trimmed().toLower();
        if (l_Entry == "*")
            return true;
        // "host:port" names the host; an IPv6 address in brackets keeps its colons.
        if (l_Entry.startsWith('['))
            l_Entry = l_Entry.mid(1, l_Entry.indexOf(']') - 1);
        else if (l_Entry.count(':') == 1)
            l_Entry = l_Entry.section(':', 0, 0);
        if (l_Entry.startsWith('.'))
            l_Entry = l_Entry.mid(1);
        if (!l_Entry.isEmpty() && (l_Host == l_Entry || l_Host.endsWith("." + l_Entry)))
            return true;
    }
    return false;
}

bool NetworkProxy::Choose(const QString& p_Option, const QString& p_ServerUrl, QNetworkProxy* p_Proxy,
                          QString* p_Error)
{
    *p_Proxy = QNetworkProxy(QNetworkProxy::NoProxy);
    if (p_Option == "none")
        return true;
    if (!p_Option.isEmpty())
        return FromUrl(p_Option, p_Proxy, p_Error);
    QString l_FromEnvironment = qEnvironmentVariable("http_proxy").trimmed();
    if (l_FromEnvironment.isEmpty())
        l_FromEnvironment = qEnvironmentVariable("HTTP_PROXY").trimmed();
    if (l_FromEnvironment.isEmpty())
        return true;
    QString l_NoProxy = qEnvironmentVariable("no_proxy");
    if (l_NoProxy.isEmpty())
        l_NoProxy = qEnvironmentVariable("NO_PROXY");
    if (Bypassed(l_NoProxy, QUrl(p_ServerUrl).host()))
        return true;
    if (FromUrl(l_FromEnvironment, p_Proxy, p_Error))
        return true;
    *p_Error = "http_proxy: " + *p_Error;
    return false;
}

} // namespace Host
} // namespace Orvane
