#pragma once
#include "launcher/Manifest.h"

#include <QByteArray>
#include <QString>
#include <functional>

namespace Orvane {
namespace Launcher {

class Application;
class CdnHosts;

/// The remote build chain: "version.json" names the build, its "info.json" is the build information
/// (the manifest), "cdns.info" the hosts that serve its files. Each answer asks the next; the last hands
/// the hosts to CdnHosts and calls p_OnReceived.
///
/// Threads: every member belongs to the application's thread (the answers come back on it).
class RemoteBuild
{
public:
    RemoteBuild(Application& p_App, CdnHosts& p_Cdn, std::function<void()> p_OnReceived);

    void RequestVersion();
    /// The build information received last.
    const Manifest& Build() const { return m_Build; }
    /// Takes p_Build as the build information, as if received (a pass started without the request chain).
    void UseBuild(Manifest p_Build) { m_Build = std::move(p_Build); }

private:
    void OnVersionReceived(const QByteArray& p_Data);
    void RequestBuildInfo();
    void OnBuildInfoReceived(const QByteArray& p_Data);
    void RequestCdnList();

    Application& m_App;
    CdnHosts& m_Cdn;
    std::function<void()> m_OnReceived;
    QString m_BuildName; ///< app thread: build named by the version document
    Manifest m_Build;    ///< app thread; list building works on copies
};

} // namespace Launcher
} // namespace Orvane
