#pragma once
#include "CascStore.h"
#include "TestHttpServer.h"
#include "casc/CASCApplication.h"

#include <QSignalSpy>

#include <memory>

/// An orchestrator over an installation folder and a CDN: the loopback test server, or the
/// server named by KESTRUN_CASC_CDN_URL over the store forged at KESTRUN_CASC_STORE.
class CascRig
{
public:
    CascRig();
    ~CascRig();

    /// Forges a store served by the test server (or takes the external one), without Init.
    bool Forge(const QStringList& p_Args);
    /// A new orchestrator over p_Install (default: the store's installation) and the CDN.
    void NewApp(const QString& p_Install = QString());
    /// Init(2) until InitComplete; false on an error or a timeout.
    bool Init();
    bool External() const { return !m_ExternalUrl.isEmpty(); }
    /// Serves p_Text as the build configuration, under its own key, in place of the forged one.
    void ServeBuildConfig(const QByteArray& p_Text);

    TestHttpServer m_Server;
    CascStore m_Store;
    QString m_StoreRoot; ///< the forged store's folder
    QString m_CdnUrl;
    std::unique_ptr<Orvane::CASC::CASCApplication> m_App;
    std::unique_ptr<QSignalSpy> m_Errors;

private:
    QString m_ExternalUrl;
};
