#include "CascRig.h"

#include "CdnPath.h"
#include "Files.h"

#include <QtTest>

using namespace Orvane::CASC;

CascRig::CascRig() : m_ExternalUrl(qEnvironmentVariable("KESTRUN_CASC_CDN_URL"))
{
    if (!External())
        m_Server.Start();
}

CascRig::~CascRig() = default;

bool CascRig::Forge(const QStringList& p_Args)
{
    if (External())
    {
        m_StoreRoot = qEnvironmentVariable("KESTRUN_CASC_STORE");
        m_CdnUrl = m_ExternalUrl;
        return m_Store.Open(m_StoreRoot);
    }
    if (!m_Store.Forge(p_Args + QStringList{"--hosts", QString("127.0.0.1:%1").arg(m_Server.Port())}))
        return false;
    m_Server.SetFileRoot(m_Store.CdnDocRoot());
    m_StoreRoot = m_Store.Root();
    m_CdnUrl = m_Server.BaseUrl();
    return true;
}

void CascRig::NewApp(const QString& p_Install)
{
    m_Errors.reset();
    m_App.reset(new CASCApplication(0, p_Install.isEmpty() ? m_StoreRoot + "/install" : p_Install,
                                    m_CdnUrl.isEmpty() ? m_Server.BaseUrl() : m_CdnUrl));
    m_Errors.reset(new QSignalSpy(m_App.get(), &CASCApplication::OnError));
}

bool CascRig::Init()
{
    QSignalSpy l_Complete(m_App.get(), &CASCApplication::InitComplete);
    m_App->Init(2);
    return QTest::qWaitFor([&] { return l_Complete.count() > 0 || m_Errors->count() > 0; }, 20000) &&
           m_Errors->isEmpty();
}

void CascRig::ServeBuildConfig(const QByteArray& p_Text)
{
    const QString l_Old = m_Store.Config("build");
    const QString l_Key = Md5Key(p_Text);
    m_Server.SetResource(m_Store.CdnPath("config", l_Key), p_Text);
    const QByteArray l_Versions = ReadFile(m_Store.CdnDocRoot() + "/wow/versions");
    m_Server.SetResource("/wow/versions", QByteArray(l_Versions).replace(l_Old.toLatin1(), l_Key.toLatin1()));
}
