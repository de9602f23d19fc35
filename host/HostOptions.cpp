#include "host/HostOptions.h"
#include "launcher/LauncherLocale.h"
#include "net/ByteSize.h"
#include "KestrunVersion.h"
#include "cli/CommandLine.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

namespace Orvane {
namespace Host {

namespace {

const QStringList& Commands()
{
    static const QStringList s_Commands = {"info",   "status",    "install", "update", "repair",     "rebuild",
                                           "uninstall", "start", "locales", "set-locale", "running"};
    return s_Commands;
}

const QStringList& ValueOptions()
{
    static const QStringList s_Options = {"plugin", "settings", "server", "locale", "idle-timeout", "proxy", "limit-rate",
                                          "casc-cdn", "channel"};
    return s_Options;
}

const QStringList& FlagOptions()
{
    static const QStringList s_Options = {"dev-channel", "json", "verbose"};
    return s_Options;
}

QStringList KnownLocaleTags()
{
    QStringList l_Tags;
    for (const Launcher::LauncherLocale& l_Row : Launcher::g_LauncherLocales)
        if (!l_Row._Tag.isEmpty())
            l_Tags.append(l_Row._Tag);
    return l_Tags;
}

/// The options that come before the command.
void DefineGlobal(Tools::CommandLine& p_Line)
{
    p_Line.AddValue({"plugin"}, "PATH", "The application module (default: beside this program).");
    p_Line.AddValue({"settings"}, "FILE", "The launcher's settings file (INI).");
    p_Line.AddValue({"server"}, "URL",
                    "Application server (default: the one the game was installed from, else the built-in one).");
    p_Line.AddValue({"locale"}, "TAG", "Launcher language: enUS (default), frFR, esES, ruRU, ptBR.");
    p_Line.AddValue({"channel"}, "production|dev",
                    "Build channel (default: the one the game was installed from, else production).");
    p_Line.AddSwitch({"dev-channel"}, "Same as --channel dev.");
    p_Line.AddSwitch({"json"}, "One JSON object per line on stdout.");
    p_Line.AddValue({"idle-timeout"}, "SECONDS", "Give up after this long without progress (default 120, 0: never).");
    p_Line.AddSwitch({"verbose"}, "Show the module's diagnostics on stderr.");
    p_Line.AddValue({"proxy"}, "URL|none",
                    "HTTP proxy for every request of the run (default: http_proxy, HTTP_PROXY, unless no_proxy names "
                    "the server; none: direct).");
    p_Line.AddValue({"limit-rate"}, "RATE",
                    "Download at most RATE bytes per second (K, M suffixes; 0: no limit); without it the stored "
                    "setting holds.");
    p_Line.AddValue({"casc-cdn"}, "HOST[:PORT]", "CDN host of the content store for this run.");
    p_Line.AddHelpAndVersion();
}

/// HOST or HOST:PORT, as the region tables of a store would name it.
bool ValidCdnHost(const QString& p_Value)
{
    QUrl l_Url("http://" + p_Value + "/", QUrl::StrictMode);
    return l_Url.isValid() && !l_Url.host().isEmpty() && l_Url.path() == "/" && l_Url.userInfo().isEmpty() &&
           !p_Value.contains('/') && !p_Value.contains('@') && (!p_Value.contains(':') || l_Url.port() > 0);
}

} // namespace

QString HostOptions::DefaultPluginPath()
{
#if defined(Q_OS_WIN)
    const char* l_Name = "kestrun.dll";
#else
    const char* l_Name = "libkestrun.so";
#endif
    const QString l_Folder = QCoreApplication::applicationDirPath();
    const QString l_Beside = l_Folder + "/" + QString::fromLatin1(l_Name);
    // An installed or unpacked package keeps the module under ../lib/<multiarch>/orvane/.
    const QString l_Installed = QDir::cleanPath(l_Folder + "/../" KESTRUN_PLUGIN_INSTALL_DIR "/" + QString::fromLatin1(l_Name));
    return QFileInfo::exists(l_Beside) || !QFileInfo::exists(l_Installed) ? l_Beside : l_Installed;
}

QString HostOptions::DefaultSettingsPath()
{
    QString l_Folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (l_Folder.isEmpty())
        l_Folder = QDir::homePath() + "/.config";
    return l_Folder + "/orvane/launcher.ini";
}

bool HostOptions::Parse(const QStringList& p_Arguments, QString* p_Error)
{
    auto l_Fail = [p_Error](const QString& p_Text) {
        *p_Error = p_Text;
        return false;
    };

    // Global options, up to the command.
    Tools::CommandLine l_Global;
    DefineGlobal(l_Global);
    l_Global.StopAtFirstPositional();
    if (!l_Global.Parse(p_Arguments))
    {
        if (l_Global.Failure() == Tools::CommandLine::Error::MissingValue)
            return l_Fail("option " + l_Global.Offending() + " needs a value");
        if (l_Global.Failure() == Tools::CommandLine::Error::UnexpectedValue)
            return l_Fail("option " + l_Global.Offending() + " takes no value");
        return l_Fail(l_Global.Message());
    }
    QStringList l_Rest = l_Global.Positional();
    if (l_Global.IsSet("help") || l_Rest.value(0) == "help")
    {
        Help = true;
        return true;
    }
    if (l_Global.IsSet("version"))
    {
        Version = true;
        return true;
    }
    for (const QString& l_Name : ValueOptions())
        for (const QString& l_Value : l_Global.Values(l_Name))
            if (l_Value.isEmpty())
                return l_Fail("option --" + l_Name + " needs a non-empty value");
    DevChannel = l_Global.IsSet("dev-channel");
    ChannelGiven = DevChannel;
    for (const QString& l_Value : l_Global.Values("channel"))
    {
        if (l_Value != "production" && l_Value != "dev")
            return l_Fail("--channel needs production or dev, not \"" + l_Value + "\"");
        if (DevChannel && l_Value != "dev")
            return l_Fail("--dev-channel and --channel " + l_Value + " contradict each other");
        DevChannel = l_Value == "dev";
        ChannelGiven = true;
    }
    Json = l_Global.IsSet("json");
    Verbose = l_Global.IsSet("verbose");
    for (const QString& l_Value : l_Global.Values("plugin"))
        PluginPath = QFileInfo(l_Value).absoluteFilePath();
    for (const QString& l_Value : l_Global.Values("settings"))
        SettingsPath = QFileInfo(l_Value).absoluteFilePath();
    for (const QString& l_Value : l_Global.Values("server"))
    {
        QUrl l_Url(l_Value, QUrl::StrictMode);
        if (!l_Url.isValid() || l_Url.host().isEmpty() || (l_Url.scheme() != "http" && l_Url.scheme() != "https"))
            return l_Fail("--server needs an http:// or https:// URL, not \"" + l_Value + "\"");
        ServerUrl = l_Value;
    }
    for (const QString& l_Value : l_Global.Values("locale"))
    {
        if (!KnownLocaleTags().contains(l_Value))
            return l_Fail("unknown locale \"" + l_Value + "\" (known: " + KnownLocaleTags().join(", ") + ")");
        LocaleTag = l_Value;
    }
    for (const QString& l_Value : l_Global.Values("idle-timeout"))
    {
        bool l_Ok = false;
        int l_Seconds = l_Value.toInt(&l_Ok);
        if (!l_Ok || l_Seconds < 0)
            return l_Fail("--idle-timeout needs a whole number of seconds (0: never), not \"" + l_Value + "\"");
        IdleTimeoutSeconds = l_Seconds;
    }
    for (const QString& l_Value : l_Global.Values("casc-cdn"))
    {
        if (!ValidCdnHost(l_Value))
            return l_Fail("--casc-cdn needs HOST or HOST:PORT, not \"" + l_Value + "\"");
        CascCdn = l_Value;
    }
    for (const QString& l_Value : l_Global.Values("proxy"))
        Proxy = l_Value;
    for (const QString& l_Value : l_Global.Values("limit-rate"))
    {
        LimitRate = Launcher::ByteSize::Parse(l_Value);
        if (LimitRate < 0)
            return l_Fail("--limit-rate needs bytes per second with an optional K, M or G suffix, not \"" + l_Value + "\"");
    }

    if (l_Rest.isEmpty())
        return l_Fail("no command given");
    Command = l_Rest.takeFirst();
    if (!Commands().contains(Command))
        return l_Fail("unknown command \"" + Command + "\"");

    // Arguments of the command. The global options are known here only to say where they belong.
    Tools::CommandLine l_Own;
    if (Command == "install")
        l_Own.AddSwitch({"existing"}, QString());
    if (Command == "uninstall")
        l_Own.AddSwitch({"delete-files"}, QString());
    if (Command == "install" || Command == "update" || Command == "repair")
        l_Own.AddSwitch({"content-store"}, QString());
    for (const QStringList* l_Names : {&ValueOptions(), &FlagOptions()})
        for (const QString& l_Name : *l_Names)
            l_Own.AddSwitch({l_Name}, QString());
    const bool l_Parsed = l_Own.Parse(l_Rest);
    for (const QStringList* l_Names : {&ValueOptions(), &FlagOptions()})
        for (const QString& l_Name : *l_Names)
            if ((l_Parsed && l_Own.IsSet(l_Name)) || (!l_Parsed && l_Own.Offending() == "--" + l_Name))
                return l_Fail("global option --" + l_Name + " must come before the command");
    if (!l_Parsed && l_Own.Failure() == Tools::CommandLine::Error::UnknownOption)
        return l_Fail("unknown option " + l_Own.Offending() + " for " + Command);
    if (!l_Parsed)
        return l_Fail(l_Own.Message(Command));
    Existing = Command == "install" && l_Own.IsSet("existing");
    DeleteFiles = Command == "uninstall" && l_Own.IsSet("delete-files");
    ContentStore = (Command == "install" || Command == "update" || Command == "repair") && l_Own.IsSet("content-store");
    const QStringList l_Positional = l_Own.Positional();

    int l_Wanted = (Command == "install" || Command == "set-locale") ? 1 : 0;
    if (l_Positional.size() < l_Wanted)
        return l_Fail(Command + (Command == "install" ? " needs a FOLDER" : " needs a locale TAG"));
    if (l_Positional.size() > l_Wanted)
        return l_Fail("unexpected argument \"" + l_Positional.at(l_Wanted) + "\" for " + Command);
    if (Command == "install")
    {
        if (l_Positional.at(0).trimmed().isEmpty())
            return l_Fail("install needs a FOLDER");
        Folder = l_Positional.at(0);
    }
    if (Command == "set-locale")
        Tag = l_Positional.at(0);

    if (PluginPath.isEmpty())
        PluginPath = DefaultPluginPath();
    if (SettingsPath.isEmpty())
        SettingsPath = DefaultSettingsPath();
    return true;
}

QString HostOptions::Usage()
{
    Tools::CommandLine l_Line;
    DefineGlobal(l_Line);
    return l_Line.HelpText("orvane-launcher [OPTIONS] COMMAND [ARGUMENTS]",
                           "Installs, updates, repairs and starts a game through its application module.\n"
                           "The options come before the command.") +
           QStringLiteral(
        "\n"
        "Commands:\n"
        "  info                      plugin metadata, identity and resources (no network)\n"
        "  status                    installed or not, folder, locale, build\n"
        "  install FOLDER [--existing] [--content-store]\n"
        "                            install into FOLDER (--existing: adopt the game already there)\n"
        "  update [--content-store]  bring the installed game up to date\n"
        "  repair [--content-store]  check every file and fetch what is missing or damaged\n"
        "                            --content-store: then check and complete the game's content\n"
        "                            store (CASC), fetching damaged or missing slots from its CDN\n"
        "  rebuild                   forget the cached download lists and rebuild them\n"
        "  uninstall [--delete-files]\n"
        "                            forget the installation (and delete the game's files)\n"
        "  start                     start the game\n"
        "  locales                   the languages of the build\n"
        "  set-locale TAG            set the game's language (e.g. frFR)\n"
        "  running                   exit 0 when the game is running, 1 when not\n"
        "\n"
        "\"--\" ends the options: what follows is taken as it stands (a folder whose name starts with \"-\").\n"
        "\n"
        "Exit status: 0 done, 1 failed (reason on stderr), 2 usage error or refused plugin,\n"
        "130 interrupted (Ctrl-C; the next run resumes).\n");
}

} // namespace Host
} // namespace Orvane
