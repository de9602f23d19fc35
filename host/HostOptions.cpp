#include "host/HostOptions.h"
#include "launcher/LauncherLocale.h"
#include "KestrunVersion.h"

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
    static const QStringList s_Options = {"--plugin", "--settings", "--server", "--locale", "--idle-timeout"};
    return s_Options;
}

const QStringList& FlagOptions()
{
    static const QStringList s_Options = {"--dev-channel", "--json", "--verbose"};
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

    int l_Index = 0;
    // Global options, up to the command.
    for (; l_Index < p_Arguments.size(); ++l_Index)
    {
        QString l_Arg = p_Arguments.at(l_Index);
        if (l_Arg == "-h" || l_Arg == "--help" || l_Arg == "help")
        {
            Help = true;
            return true;
        }
        if (l_Arg == "--")
        {
            ++l_Index; // whatever follows is the command and its arguments
            break;
        }
        if (!l_Arg.startsWith("-"))
            break;

        QString l_Name = l_Arg;
        QString l_Value;
        bool l_HasValue = false;
        int l_Equal = l_Arg.indexOf('=');
        if (l_Equal > 0)
        {
            l_Name = l_Arg.left(l_Equal);
            l_Value = l_Arg.mid(l_Equal + 1);
            l_HasValue = true;
        }

        if (FlagOptions().contains(l_Name))
        {
            if (l_HasValue)
                return l_Fail("option " + l_Name + " takes no value");
            if (l_Name == "--dev-channel")
                DevChannel = true;
            else if (l_Name == "--json")
                Json = true;
            else
                Verbose = true;
            continue;
        }
        if (!ValueOptions().contains(l_Name))
            return l_Fail("unknown option " + l_Name);
        if (!l_HasValue)
        {
            if (l_Index + 1 >= p_Arguments.size())
                return l_Fail("option " + l_Name + " needs a value");
            l_Value = p_Arguments.at(++l_Index);
        }
        if (l_Value.isEmpty())
            return l_Fail("option " + l_Name + " needs a non-empty value");

        if (l_Name == "--plugin")
            PluginPath = QFileInfo(l_Value).absoluteFilePath();
        else if (l_Name == "--settings")
            SettingsPath = QFileInfo(l_Value).absoluteFilePath();
        else if (l_Name == "--server")
        {
            QUrl l_Url(l_Value, QUrl::StrictMode);
            if (!l_Url.isValid() || l_Url.host().isEmpty() ||
                (l_Url.scheme() != "http" && l_Url.scheme() != "https"))
                return l_Fail("--server needs an http:// or https:// URL, not \"" + l_Value + "\"");
            ServerUrl = l_Value;
        }
        else if (l_Name == "--locale")
        {
            if (!KnownLocaleTags().contains(l_Value))
                return l_Fail("unknown locale \"" + l_Value + "\" (known: " + KnownLocaleTags().join(", ") + ")");
            LocaleTag = l_Value;
        }
        else
        {
            bool l_Ok = false;
            int l_Seconds = l_Value.toInt(&l_Ok);
            if (!l_Ok || l_Seconds < 0)
                return l_Fail("--idle-timeout needs a whole number of seconds (0: never), not \"" + l_Value + "\"");
            IdleTimeoutSeconds = l_Seconds;
        }
    }

    if (l_Index >= p_Arguments.size())
        return l_Fail("no command given");
    Command = p_Arguments.at(l_Index++);
    if (!Commands().contains(Command))
        return l_Fail("unknown command \"" + Command + "\"");

    // Arguments of the command.
    QStringList l_Positional;
    bool l_OptionsEnded = false;
    for (; l_Index < p_Arguments.size(); ++l_Index)
    {
        QString l_Arg = p_Arguments.at(l_Index);
        if (l_OptionsEnded)
            l_Positional.append(l_Arg);
        else if (l_Arg == "--")
            l_OptionsEnded = true; // a folder may start with "-"
        else if (Command == "install" && l_Arg == "--existing")
            Existing = true;
        else if (Command == "uninstall" && l_Arg == "--delete-files")
            DeleteFiles = true;
        else if (l_Arg.startsWith("--") &&
                 (FlagOptions().contains(l_Arg.section('=', 0, 0)) || ValueOptions().contains(l_Arg.section('=', 0, 0))))
            return l_Fail("global option " + l_Arg.section('=', 0, 0) + " must come before the command");
        else if (l_Arg.startsWith("-") && l_Arg.size() > 1)
            return l_Fail("unknown option " + l_Arg + " for " + Command);
        else
            l_Positional.append(l_Arg);
    }

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
    return QStringLiteral(
        "usage: orvane-launcher [OPTIONS] COMMAND [ARGUMENTS]\n"
        "\n"
        "Commands:\n"
        "  info                      plugin metadata, identity and resources (no network)\n"
        "  status                    installed or not, folder, locale, build\n"
        "  install FOLDER [--existing]\n"
        "                            install into FOLDER (--existing: adopt the game already there)\n"
        "  update                    bring the installed game up to date\n"
        "  repair                    check every file and fetch what is missing or damaged\n"
        "  rebuild                   forget the cached download lists and rebuild them\n"
        "  uninstall [--delete-files]\n"
        "                            forget the installation (and delete the game's files)\n"
        "  start                     start the game\n"
        "  locales                   the languages of the build\n"
        "  set-locale TAG            set the game's language (e.g. frFR)\n"
        "  running                   exit 0 when the game is running, 1 when not\n"
        "\n"
        "Options (before the command):\n"
        "  --plugin PATH             the application module (default: beside this program)\n"
        "  --settings FILE           the launcher's settings file (INI)\n"
        "  --server URL              application server for this run\n"
        "  --locale TAG              launcher language: enUS (default), frFR, esES, ruRU, ptBR\n"
        "  --dev-channel             follow the development channel\n"
        "  --json                    one JSON object per line on stdout\n"
        "  --idle-timeout SECONDS    give up after this long without progress (default 120, 0: never)\n"
        "  --verbose                 show the module's diagnostics on stderr\n"
        "\n"
        "\"--\" ends the options: what follows is taken as it stands (a folder named \"-x\").\n"
        "\n"
        "Exit status: 0 done, 1 failed (reason on stderr), 2 usage error or refused plugin,\n"
        "130 interrupted (Ctrl-C; the next run resumes).\n");
}

} // namespace Host
} // namespace Orvane
