// Remote build information: version, build information, CDN list.
#include "launcher/RemoteBuild.h"
#include "launcher/Application.h"
#include "launcher/CdnHosts.h"
#include "net/Deployment.h"
#include "platform/ThreadOwner.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace Orvane {
namespace Launcher {

RemoteBuild::RemoteBuild(Application& p_App, CdnHosts& p_Cdn, std::function<void()> p_OnReceived)
    : m_App(p_App), m_Cdn(p_Cdn), m_OnReceived(std::move(p_OnReceived))
{
}

void RemoteBuild::RequestVersion()
{
    const QString l_Url =
        Deployment::ServerBaseUrl() + m_App.m_FolderName +
        (m_App.IsDevChannel() ? QStringLiteral("/version_dev.json") : QStringLiteral("/version.json"));
    m_App.HTTP_GetContent(
        l_Url, [this](QString, QByteArray* p_Data) { OnVersionReceived(*p_Data); }, [](QNetworkReply::NetworkError) {});
}

void RemoteBuild::OnVersionReceived(const QByteArray& p_Data)
{
    KESTRUN_OWNED_BY(m_App.thread());
    QJsonParseError l_Error;
    const QJsonDocument l_Document = QJsonDocument::fromJson(QString::fromUtf8(p_Data).toUtf8(), &l_Error);
    if (l_Error.error != QJsonParseError::NoError || !l_Document.isObject())
    {
        m_App.ShowMessageBox("Failed to get " + m_App.m_Name + " remote configuration.", false);
        return;
    }
    m_BuildName = l_Document.object().value("build").toString();
    m_App.PostMainTask([this] { RequestBuildInfo(); });
}

void RemoteBuild::RequestBuildInfo()
{
    const QString l_Url = Deployment::ServerBaseUrl() + m_App.m_FolderName + "/builds/" + m_BuildName + "/info.json";
    m_App.HTTP_GetContent(
        l_Url, [this](QString, QByteArray* p_Data) { OnBuildInfoReceived(*p_Data); },
        [](QNetworkReply::NetworkError) {});
}

void RemoteBuild::OnBuildInfoReceived(const QByteArray& p_Data)
{
    KESTRUN_OWNED_BY(m_App.thread());
    bool l_Ok = false;
    m_Build = ParseManifest(p_Data, &l_Ok);
    if (!l_Ok)
    {
        m_App.ShowMessageBox("Failed to get " + m_App.m_Name + " remote build infos.", false);
        return;
    }
    m_App.PostMainTask([this] { RequestCdnList(); });
}

void RemoteBuild::RequestCdnList()
{
    m_App.HTTP_GetContent(
        Deployment::ServerBaseUrl() + "cdns.info",
        [this](QString, QByteArray* p_Data) {
            m_Cdn.SetHosts(QString::fromUtf8(*p_Data));
            m_OnReceived();
        },
        [](QNetworkReply::NetworkError) {});
}

} // namespace Launcher
} // namespace Orvane
