// The choice of the host each file is fetched from.
#include "launcher/CdnHosts.h"
#include "launcher/Application.h"
#include "launcher/LauncherLog.h"
#include "launcher/Manifest.h"
#include "net/Deployment.h"
#include "net/UrlText.h"
#include "platform/QtCompat.h"
#include "platform/ThreadOwner.h"

#include <QDebug>
#include <QRegularExpression>

#include <cstdlib>

namespace Orvane {
namespace Launcher {

CdnHosts::CdnHosts(Application& p_App) : m_App(p_App) {}

void CdnHosts::SetHosts(const QString& p_Text)
{
    KESTRUN_OWNED_BY(m_App.thread());
    // Line ends and other blanks are not part of a host name; empty entries are no host.
    m_Hosts = p_Text.split(QRegularExpression(QStringLiteral("\\s+")), Compat::SkipEmptyParts);
    m_Failed.clear();
    m_BaseUrl = RandomBaseUrl();
    LogSelected();
}

void CdnHosts::LogSelected() const
{
    qCWarning(LauncherLog).noquote().nospace() << "Selected CDN " << m_App.m_Name << " " << UrlText::Safe(m_BaseUrl);
}

QStringList CdnHosts::Usable() const
{
    // A host that is down would otherwise use up the restarts of every file sent to it.
    QStringList l_Hosts;
    for (const QString& l_Host : m_Hosts)
        if (!m_Failed.contains(l_Host))
            l_Hosts.append(l_Host);
    return l_Hosts.isEmpty() ? m_Hosts : l_Hosts;
}

QString CdnHosts::RandomBaseUrl() const
{
    // Without any CDN host the application server serves the files itself.
    if (m_Hosts.isEmpty())
        return Deployment::ServerBaseUrl();
    const QStringList l_Hosts = Usable();
    return "http://" + l_Hosts.at(std::rand() % l_Hosts.size()) + "/";
}

void CdnHosts::MarkFailed(const QString& p_Url, const QString& p_Reason)
{
    KESTRUN_OWNED_BY(m_App.thread());
    for (const QString& l_Host : m_Hosts)
    {
        if (!p_Url.startsWith("http://" + l_Host + "/") || m_Failed.contains(l_Host))
            continue;
        qCWarning(LauncherLog) << "StandartApplication::MarkCdnFailed avoiding CDN host" << l_Host;
        m_Failed.append(l_Host);
        // The user hears which host failed, and that the others serve its files.
        const QStringList l_Others = Usable();
        if (!l_Others.contains(l_Host) && m_App.ShowMessageBox)
            m_App.ShowMessageBox("CDN host " + l_Host + " delivered nothing" +
                                     (p_Reason.isEmpty() ? QString() : " (" + p_Reason + ")") +
                                     "; its files are fetched from " + l_Others.join(", ") + ".",
                                 true);
    }
}

bool CdnHosts::OtherHostFor(const ManifestFile& p_Entry, const QString& p_Url) const
{
    if (p_Entry.Flags & FlagFromServer)
        return false;
    for (const QString& l_Host : Usable())
        if (!p_Url.startsWith("http://" + l_Host + "/"))
            return true;
    return false;
}

void CdnHosts::Select(const ManifestFile& p_File, bool p_Log)
{
    KESTRUN_OWNED_BY(m_App.thread());
    const QString l_Drawn = p_File.Path == m_DrawnFor ? m_DrawnBaseUrl : QString();
    m_DrawnFor.clear();
    if (p_File.Flags & FlagFromServer)
    {
        m_BaseUrl = Deployment::ServerBaseUrl();
        return;
    }
    // The host its request went ahead to, unless that host failed since.
    bool l_Usable = false;
    for (const QString& l_Host : Usable())
        l_Usable = l_Usable || l_Drawn == "http://" + l_Host + "/";
    m_BaseUrl = l_Usable ? l_Drawn : RandomBaseUrl();
    if (p_Log)
        LogSelected();
}

QString CdnHosts::Draw(const ManifestFile& p_File)
{
    KESTRUN_OWNED_BY(m_App.thread());
    m_DrawnFor = p_File.Path;
    m_DrawnBaseUrl = (p_File.Flags & FlagFromServer) ? Deployment::ServerBaseUrl() : RandomBaseUrl();
    return m_DrawnBaseUrl;
}

} // namespace Launcher
} // namespace Orvane
