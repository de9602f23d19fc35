#include "net/ProxyFactory.h"
#include "net/UrlText.h"
#include "platform/QtCompat.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QStringList>
#include <QUrl>
#include <QVariant>

namespace Orvane {
namespace Launcher {

namespace {
/// The installed settings live on the application object: the host and the module each carry their own
/// copy of this library, but share Qt's.
const char* const c_Property = "Kestrun.ProxySettings";

int DefaultPort(const QUrl& p_Url)
{
    return p_Url.port(p_Url.scheme().toLower() == "https" ? 443 : 80);
}
} // namespace

ProxySettings ProxySettings::FromEnvironment(const QString& p_Option)
{
    ProxySettings l_Settings;
    l_Settings.Option = p_Option.trimmed();
    l_Settings.HttpProxy = qEnvironmentVariable("http_proxy").trimmed();
    if (l_Settings.HttpProxy.isEmpty())
        l_Settings.HttpProxy = qEnvironmentVariable("HTTP_PROXY").trimmed();
    l_Settings.NoProxy = qEnvironmentVariable("no_proxy");
    if (l_Settings.NoProxy.trimmed().isEmpty())
        l_Settings.NoProxy = qEnvironmentVariable("NO_PROXY");
    return l_Settings;
}

ProxyFactory::ProxyFactory(const ProxySettings& p_Settings) : m_Settings(p_Settings), m_Proxy(QNetworkProxy::NoProxy)
{
    QString l_Ignored;
    if (m_Settings.Option == "none")
        return;
    const QString l_Text = m_Settings.Option.isEmpty() ? m_Settings.HttpProxy : m_Settings.Option;
    if (!l_Text.isEmpty() && !FromUrl(l_Text, &m_Proxy, &l_Ignored))
        m_Proxy = QNetworkProxy(QNetworkProxy::NoProxy);
}

bool ProxyFactory::IsUsable(QString* p_Error) const
{
    if (m_Settings.Option == "none")
        return true;
    QNetworkProxy l_Proxy;
    if (!m_Settings.Option.isEmpty())
        return FromUrl(m_Settings.Option, &l_Proxy, p_Error);
    if (m_Settings.HttpProxy.isEmpty() || FromUrl(m_Settings.HttpProxy, &l_Proxy, p_Error))
        return true;
    *p_Error = "http_proxy: " + *p_Error;
    return false;
}

QNetworkProxy ProxyFactory::For(const QString& p_Host, int p_Port) const
{
    // --proxy is the user's explicit choice for this run; no_proxy qualifies the environment's proxy.
    if (m_Settings.Option.isEmpty() && Bypassed(m_Settings.NoProxy, p_Host, p_Port))
        return QNetworkProxy(QNetworkProxy::NoProxy);
    return m_Proxy;
}

QList<QNetworkProxy> ProxyFactory::queryProxy(const QNetworkProxyQuery& p_Query)
{
    const QUrl l_Url = p_Query.url();
    const QString l_Host = l_Url.isValid() && !l_Url.host().isEmpty() ? l_Url.host() : p_Query.peerHostName();
    const int l_Port = l_Url.isValid() && !l_Url.host().isEmpty() ? DefaultPort(l_Url) : p_Query.peerPort();
    return {For(l_Host, l_Port)};
}

bool ProxyFactory::FromUrl(const QString& p_Text, QNetworkProxy* p_Proxy, QString* p_Error)
{
    const QString l_Text = p_Text.contains("://") ? p_Text : "http://" + p_Text;
    const QUrl l_Url(l_Text, QUrl::StrictMode);
    const QString l_Scheme = l_Url.scheme().toLower();
    if (!l_Url.isValid() || l_Url.host().isEmpty() || (l_Scheme != "http" && l_Scheme != "socks5"))
    {
        *p_Error = "proxy needs an http:// or socks5:// URL, not \"" + UrlText::Scrub(p_Text) + "\"";
        return false;
    }
    *p_Proxy = QNetworkProxy(l_Scheme == "http" ? QNetworkProxy::HttpProxy : QNetworkProxy::Socks5Proxy, l_Url.host(),
                             quint16(l_Url.port(1080)), l_Url.userName(QUrl::FullyDecoded),
                             l_Url.password(QUrl::FullyDecoded));
    return true;
}

bool ProxyFactory::Bypassed(const QString& p_NoProxy, const QString& p_Host, int p_Port)
{
    QString l_Host = p_Host.toLower();
    if (l_Host.startsWith('[') && l_Host.endsWith(']'))
        l_Host = l_Host.mid(1, l_Host.size() - 2);
    if (l_Host.endsWith('.'))
        l_Host.chop(1);
    const QHostAddress l_HostAddress(l_Host);
    for (QString l_Entry : p_NoProxy.split(QLatin1Char(','), Compat::SkipEmptyParts))
    {
        l_Entry = l_Entry.trimmed().toLower();
        if (l_Entry == "*")
            return true;
        int l_Port = -1;
        if (l_Entry.startsWith('['))
        {
            // "[v6]" or "[v6]:port"
            const int l_Close = l_Entry.indexOf(']');
            if (l_Close < 0)
                continue;
            if (l_Entry.mid(l_Close + 1).startsWith(':'))
                l_Port = l_Entry.mid(l_Close + 2).toInt();
            l_Entry = l_Entry.mid(1, l_Close - 1);
        }
        else if (l_Entry.count(':') == 1)
        {
            l_Port = l_Entry.section(':', 1).toInt();
            l_Entry = l_Entry.section(':', 0, 0);
        }
        if (l_Port > 0 && l_Port != p_Port)
            continue;
        if (l_Entry.startsWith("*."))
            l_Entry = l_Entry.mid(1);
        if (l_Entry.startsWith('.'))
            l_Entry = l_Entry.mid(1);
        if (l_Entry.endsWith('.'))
            l_Entry.chop(1);
        if (l_Entry.isEmpty())
            continue;
        const QHostAddress l_EntryAddress(l_Entry);
        if (!l_EntryAddress.isNull())
        {
            if (!l_HostAddress.isNull() && l_HostAddress.isEqual(l_EntryAddress))
                return true;
            continue; // an address names itself only, never a suffix
        }
        if (l_Host == l_Entry || l_Host.endsWith("." + l_Entry))
            return true;
    }
    return false;
}

bool ProxyFactory::Install(const ProxySettings& p_Settings, QString* p_Error)
{
    ProxyFactory l_Check(p_Settings);
    if (!l_Check.IsUsable(p_Error))
        return false;
    QNetworkProxyFactory::setApplicationProxyFactory(new ProxyFactory(p_Settings));
    if (QCoreApplication::instance())
        QCoreApplication::instance()->setProperty(
            c_Property, QStringList{p_Settings.Option, p_Settings.HttpProxy, p_Settings.NoProxy});
    return true;
}

void ProxyFactory::Apply(QNetworkAccessManager* p_Manager)
{
    const QVariant l_Installed =
        QCoreApplication::instance() ? QCoreApplication::instance()->property(c_Property) : QVariant();
    if (l_Installed.isValid())
    {
        const QStringList l_Values = l_Installed.toStringList();
        ProxySettings l_Settings;
        l_Settings.Option = l_Values.value(0);
        l_Settings.HttpProxy = l_Values.value(1);
        l_Settings.NoProxy = l_Values.value(2);
        p_Manager->setProxyFactory(new ProxyFactory(l_Settings));
        return;
    }
    const QNetworkProxy l_Proxy = QNetworkProxy::applicationProxy();
    if (l_Proxy.type() != QNetworkProxy::NoProxy && l_Proxy.type() != QNetworkProxy::DefaultProxy)
        p_Manager->setProxy(l_Proxy);
}

} // namespace Launcher
} // namespace Orvane
