#include "casc/CASCApplication.h"

#include "casc/CASCArchivesManager.h"
#include "casc/CASCBaseVerifier.h"
#include "casc/CASCHttpGet.h"
#include "net/ModuleNetwork.h"
#include "casc/CASCIndexManager.h"
#include "casc/CASCTables.h"
#include "casc/CASCVersion.h"

#include <QNetworkAccessManager>
#include <QThread>

#include <cstdlib>

namespace Orvane {
namespace CASC {

namespace {

QString Folder(QString p_Folder)
{
    p_Folder.replace('\\', '/');
    return p_Folder.endsWith('/') ? p_Folder : p_Folder + '/';
}

QString Url(const QString& p_Url)
{
    return p_Url.endsWith('/') ? p_Url : p_Url + '/';
}

} // namespace

CASCApplication::CASCApplication(int p_Product, QString p_InstallFolder, QString p_CdnUrl)
    : m_Product(p_Product), m_InstallFolder(Folder(p_InstallFolder)), m_CdnUrl(Url(p_CdnUrl))
{
    qRegisterMetaType<Errors::Type>("Orvane::CASC::Errors::Type");
    m_BaseVerifier = new CASCBaseVerifier(this);
    m_IndexManager = new CASCIndexManager(this);
    m_ArchivesManager = new CASCArchivesManager(this);
}

CASCApplication::~CASCApplication()
{
    delete m_ArchivesManager;
    delete m_Version;
    for (const QPointer<CASCVersion>& l_Old : m_Retired)
        delete l_Old.data();
    delete m_IndexManager;
    delete m_BaseVerifier;
    CASCHttpGet::Release(m_NetworkManager);
}

void CASCApplication::RaiseError(Errors::Type p_Type, QString p_Message)
{
    emit OnError(p_Type, p_Message);
}

const CASCCdnEntry* CASCApplication::GetRandomCDN(int p_Region) const
{
    const auto l_Found = m_CdnTable.find(p_Region);
    if (l_Found == m_CdnTable.end() || l_Found->second.isEmpty())
        return nullptr;
    return &l_Found->second.at(std::rand() % l_Found->second.size());
}

const CASCVersionEntry& CASCApplication::GetVersionInfo(int p_Region) const
{
    static const CASCVersionEntry s_None;
    const auto l_Found = m_VersionTable.find(p_Region);
    return l_Found == m_VersionTable.end() ? s_None : l_Found->second;
}

void CASCApplication::RetireVersion()
{
    if (!m_Version)
        return;
    // Its fetch may still be running: it goes quiet now and is deleted from the event loop.
    disconnect(m_Version, nullptr, this, nullptr);
    m_Version->Retire();
    m_Version->deleteLater();
    m_Retired.removeAll(nullptr);
    m_Retired.append(m_Version);
    m_Version = nullptr;
}

void CASCApplication::Init(int p_Region)
{
    CASCHttpGet::Abandon(m_NetworkManager);
    // Without a parent, so that it can move to the calling thread; the destructor deletes it.
    m_NetworkManager = Launcher::ModuleNetwork::NewManager(nullptr);
    m_NetworkManager->moveToThread(QThread::currentThread());
    const quint64 l_Generation = ++m_Generation;
    RetireVersion();

    const QString l_Base = m_CdnUrl + (m_Product == 0 ? "wow/" : "");
    const QString l_CdnsUrl = l_Base + "cdns";
    const QString l_VersionsUrl = l_Base + "versions";
    auto l_Failed = [this, l_Generation](const QString& p_Url) {
        return [this, l_Generation, p_Url](int p_Code) {
            if (l_Generation == m_Generation)
                emit OnError(Errors::Network,
                             "QtHttp error " + QString::number(p_Code) + " when retrieving file " + p_Url);
        };
    };
    GetContent(l_CdnsUrl, [=](QString, QByteArray p_Cdns) {
        if (l_Generation != m_Generation)
            return;
        CASCTables::ParseCdns(p_Cdns, m_CdnTable);
        GetContent(l_VersionsUrl, [=](QString, QByteArray p_Versions) {
            if (l_Generation != m_Generation)
                return;
            CASCTables::ParseVersions(p_Versions, m_VersionTable);
            m_Region = p_Region;
            m_Version = new CASCVersion(this);
            connect(m_Version, &CASCVersion::InitComplete, this, &CASCApplication::InitComplete,
                    Qt::DirectConnection);
            m_Version->Init();
        }, l_Failed(l_VersionsUrl));
    }, l_Failed(l_CdnsUrl));
}

void CASCApplication::GetContent(const QString& p_Url, std::function<void(QString, QByteArray)> p_OnSuccess,
                                 std::function<void(int)> p_OnFailure)
{
    CASCHttpGet::Start(m_NetworkManager, p_Url, std::move(p_OnSuccess), std::move(p_OnFailure));
}

} // namespace CASC
} // namespace Orvane
