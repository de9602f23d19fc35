#include "casc/CASCVersion.h"

#include "casc/CASCApplication.h"
#include "casc/CASCConfigParser.h"
#include "casc/CASCHttpGet.h"
#include "casc/CASCKey.h"
#include "net/ModuleNetwork.h"

#include <QNetworkAccessManager>
#include <QThread>

namespace Orvane {
namespace CASC {

CASCVersion::CASCVersion(CASCApplication* p_Owner) : m_Owner(p_Owner) {}

CASCVersion::~CASCVersion()
{
    CASCHttpGet::Release(m_NetworkManager);
}

const QString& CASCVersion::GetEncodingKey() const
{
    static const QString s_None;
    return m_BuildConfig._Encoding.isEmpty() ? s_None : m_BuildConfig._Encoding.last();
}

QString CASCVersion::ConfigUrl(const QString& p_Host, const QString& p_Path, const QString& p_Key)
{
    return "http://" + p_Host + "/" + p_Path + "/" + "config" + "/" + p_Key.left(2) + "/" + p_Key.mid(2, 2) + "/" +
           p_Key;
}

void CASCVersion::Retire()
{
    m_Retired = true;
    ++m_Generation;
    CASCHttpGet::Abandon(m_NetworkManager);
    m_NetworkManager = nullptr;
}

void CASCVersion::Init()
{
    if (m_Retired)
        return;
    // A reply of the old manager may be on the stack: the manager goes once control returns.
    CASCHttpGet::Abandon(m_NetworkManager);
    m_NetworkManager = Launcher::ModuleNetwork::NewManager(nullptr);
    m_NetworkManager->moveToThread(QThread::currentThread());
    const quint64 l_Generation = ++m_Generation;

    const int l_Region = m_Owner->GetRegion();
    const CASCCdnEntry* l_Cdn = m_Owner->GetRandomCDN(l_Region);
    const CASCVersionEntry& l_Version = m_Owner->GetVersionInfo(l_Region);
    if (!l_Cdn)
    {
        m_Owner->RaiseError(Errors::NoCdn, "No CDN for world region " + QString::number(l_Region));
        return;
    }
    const QString l_CdnUrl = ConfigUrl(l_Cdn->_Host, l_Cdn->_Path, l_Version._CdnConfig);
    const QString l_BuildUrl = ConfigUrl(l_Cdn->_Host, l_Cdn->_Path, l_Version._BuildConfig);
    auto l_Failed = [this, l_Generation](const QString& p_Url) {
        return [this, l_Generation, p_Url](int p_Code) {
            if (l_Generation == m_Generation)
                m_Owner->RaiseError(Errors::Network, "QtHttp error " + QString::number(p_Code) +
                                                         " when retrieving file " + p_Url);
        };
    };
    // Served over plain HTTP: a body is the configuration only when it hashes to its key.
    auto l_Refused = [this](const QString& p_Url) {
        m_Owner->RaiseError(Errors::Network, "CASCVersion::Init() configuration does not match its key : " + p_Url);
    };
    const QString l_CdnKey = l_Version._CdnConfig;
    const QString l_BuildKey = l_Version._BuildConfig;
    GetContent(l_CdnUrl, [=](QString, QByteArray p_Body) {
        if (l_Generation != m_Generation)
            return;
        if (!CASCKey::Matches(p_Body, l_CdnKey))
            return l_Refused(l_CdnUrl);
        ParseCDNConfig(CASCConfigParser::Text(p_Body));
        GetContent(l_BuildUrl, [=](QString, QByteArray p_BuildBody) {
            if (l_Generation != m_Generation)
                return;
            if (!CASCKey::Matches(p_BuildBody, l_BuildKey))
                return l_Refused(l_BuildUrl);
            ParseBuildConfig(CASCConfigParser::Text(p_BuildBody));
            emit InitComplete();
        }, l_Failed(l_BuildUrl));
    }, l_Failed(l_CdnUrl));
}

void CASCVersion::GetContent(const QString& p_Url, std::function<void(QString, QByteArray)> p_OnSuccess,
                             std::function<void(int)> p_OnError)
{
    CASCHttpGet::Start(m_NetworkManager, p_Url, std::move(p_OnSuccess), std::move(p_OnError));
}

void CASCVersion::ParseCDNConfig(const QString& p_Text)
{
    CASCConfigParser::ParseCDNConfig(p_Text, m_CDNConfig);
}

void CASCVersion::ParseBuildConfig(const QString& p_Text)
{
    CASCConfigParser::ParseBuildConfig(p_Text, m_BuildConfig);
}

} // namespace CASC
} // namespace Orvane
