// Remote build information and CDN selection.
#include "net/Deployment.h"
#include "net/UrlText.h"
#include "platform/QtCompat.h"
#include "launcher/LauncherLog.h"
#include "launcher/StandartApplication.h"
#include "platform/ThreadOwner.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cstdlib>

namespace Orvane {
namespace Launcher {

void StandartApplication::RequestVersion()
{
    QString l_Url = Deployment::ServerBaseUrl() + m_FolderName +
                    (IsDevChannel() ? QStringLiteral("/version_dev.json") : QStringLiteral("/version.json"));
    HTTP_GetContent(
        l_Url, [this](QString, QByteArray* p_Data) { OnVersionReceived(p_Data); }, [](QNetworkReply::NetworkError) {});
}

void StandartApplication::OnVersionReceived(QByteArray* p_Data)
{
    KESTRUN_OWNED_BY(thread());
    QJsonParseError l_Error;
    QJsonDocument l_Document = QJsonDocument::fromJson(QString::fromUtf8(*p_Data).toUtf8(), &l_Error);
    if (l_Error.error != QJsonParseError::NoError || !l_Document.isObject())
    {
        ShowMessageBox("Failed to get " + m_Name + " remote configuration.", false);
        return;
    }
    m_BuildName = l_Document.object().value("build").toString();
    PostMainTask([this] { RequestBuildInfo(); });
}

void StandartApplication::RequestBuildInfo()
{
    QString l_Url = Deployment::ServerBaseUrl() + m_FolderName + "/builds/" + m_BuildName + "/info.json";
    HTTP_GetContent(
        l_Url, [this](QString, QByteArray* p_Data) { OnBuildInfoReceived(p_Data); },
        [](QNetworkReply::NetworkError) {});
}

void StandartApplication::OnBuildInfoReceived(QByteArray* p_Data)
{
    KESTRUN_OWNED_BY(thread());
    bool l_Ok = false;
    m_Manifest = ParseManifest(*p_Data, &l_Ok);
    if (!l_Ok)
    {
        ShowMessageBox("Failed to get " + m_Name + " remote build infos.", false);
        return;
    }
    PostMainTask([this] { RequestCdnList(); });
}

void StandartApplication::RequestCdnList()
{
    HTTP_GetContent(
        Deployment::ServerBaseUrl() + "cdns.info", [this](QString, QByteArray* p_Data) { OnCdnListReceived(p_Data); },
        [](QNetworkReply::NetworkError) {});
}

void StandartApplication::OnCdnListReceived(QByteArray* p_Data)
{
    KESTRUN_OWNED_BY(thread());
    // Line ends and other blanks are not part of a host name; empty entries are no host.
    m_CdnList.clear();
    m_FailedCdnHosts.clear();
    for (const QString& l_Host : QString::fromUtf8(*p_Data).split(QRegularExpression(QStringLiteral("\\s+")),
                                                                  Compat::SkipEmptyParts))
        m_CdnList.append(l_Host);
    m_BaseUrl = RandomCdnBaseUrl();
    qCWarning(LauncherLog).noquote().nospace() << "Selected CDN " << m_Name << " " << UrlText::Safe(m_BaseUrl);

    m_FullScan = false;
    if (!GetLocalSetting(SettingKey(".ManifestBuilt"), false).toBool())
    {
        SetLocalSetting(SettingKey(".ManifestBuilt"), true);
        m_FullScan = true;
    }
    OnManifestReceived();
}

QStringList StandartApplication::UsableCdnHosts() const
{
    // A host that is down would otherwise use up the restarts of every file sent to it.
    QStringList l_Hosts;
    for (const QString& l_Host : m_CdnList)
        if (!m_FailedCdnHosts.contains(l_Host))
            l_Hosts.append(l_Host);
    return l_Hosts.isEmpty() ? m_CdnList : l_Hosts;
}

QString StandartApplication::RandomCdnBaseUrl()
{
    // Without any CDN host the application server serves the files itself.
    if (m_CdnList.isEmpty())
        return Deployment::ServerBaseUrl();
    const QStringList l_Hosts = UsableCdnHosts();
    return "http://" + l_Hosts.at(std::rand() % l_Hosts.size()) + "/";
}

void StandartApplication::MarkCdnFailed(const QString& p_Url, const QString& p_Reason)
{
    KESTRUN_OWNED_BY(thread());
    for (const QString& l_Host : m_CdnList)
    {
        if (!p_Url.startsWith("http://" + l_Host + "/") || m_FailedCdnHosts.contains(l_Host))
            continue;
        qCWarning(LauncherLog) << "StandartApplication::MarkCdnFailed avoiding CDN host" << l_Host;
        m_FailedCdnHosts.append(l_Host);
        // The user hears which host failed, and that the others serve its files.
        const QStringList l_Others = UsableCdnHosts();
        if (!l_Others.contains(l_Host) && ShowMessageBox)
            ShowMessageBox("CDN host " + l_Host + " delivered nothing" +
                               (p_Reason.isEmpty() ? QString() : " (" + p_Reason + ")") + "; its files are fetched from " +
                               l_Others.join(", ") + ".",
                           true);
    }
}

bool StandartApplication::OtherHostFor(const ManifestFile& p_Entry, const QString& p_Url) const
{
    if (p_Entry.Flags & FlagFromServer)
        return false;
    for (const QString& l_Host : UsableCdnHosts())
        if (!p_Url.startsWith("http://" + l_Host + "/"))
            return true;
    return false;
}

void StandartApplication::SelectBaseUrl(const ManifestFile& p_File, bool p_Log)
{
    KESTRUN_OWNED_BY(thread());
    const QString l_Drawn = p_File.Path == m_DrawnFor ? m_DrawnBaseUrl : QString();
    m_DrawnFor.clear();
    if (p_File.Flags & FlagFromServer)
    {
        m_BaseUrl = Deployment::ServerBaseUrl();
        return;
    }
    // The host its request went ahead to, unless that host failed since.
    bool l_Usable = false;
    for (const QString& l_Host : UsableCdnHosts())
        l_Usable = l_Usable || l_Drawn == "http://" + l_Host + "/";
    m_BaseUrl = l_Usable ? l_Drawn : RandomCdnBaseUrl();
    if (p_Log)
        qCWarning(LauncherLog).noquote().nospace() << "Selected CDN " << m_Name << " " << UrlText::Safe(m_BaseUrl);
}

} // namespace Launcher
} // namespace Orvane
