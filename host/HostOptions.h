#pragma once
#include <QString>
#include <QStringList>

namespace Orvane {
namespace Host {

/// The command line of orvane-launcher: global options, then one command.
struct HostOptions
{
    QString PluginPath;   ///< --plugin (default: the module beside the executable)
    QString SettingsPath; ///< --settings (default: in the user's configuration folder)
    QString ServerUrl;    ///< --server (empty: the module's built-in server)
    QString LocaleTag = QStringLiteral("enUS");
    bool DevChannel = false;
    bool ChannelGiven = false; ///< --channel or --dev-channel was given
    bool ServerNamed = false;  ///< a server was given (--server, KESTRUN_SERVER_URL) or remembered for the game
    bool Json = false;
    bool Verbose = false;
    int IdleTimeoutSeconds = 120; ///< 0: never give up
    QString Proxy;                ///< --proxy URL or "none" (empty: from the environment)
    qint64 LimitRate = -1;        ///< --limit-rate in bytes per second (0: unlimited; -1: the stored setting)
    QString CascCdn;              ///< --casc-cdn HOST[:PORT] (empty: the module's default CDN host)

    QString Command;
    QString Folder;     ///< install
    bool Existing = false;    ///< install --existing
    bool DeleteFiles = false; ///< uninstall --delete-files
    bool ContentStore = false; ///< install, update, repair --content-store
    bool Help = false;
    bool Version = false;
    QString Tag;        ///< set-locale

    /// Parses the arguments after the program name. Returns false with a
    /// one-line reason in *p_Error on a usage error.
    bool Parse(const QStringList& p_Arguments, QString* p_Error);

    static QString Usage();
    static QString DefaultPluginPath();
    static QString DefaultSettingsPath();
};

} // namespace Host
} // namespace Orvane
