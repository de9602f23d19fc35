// orvane-launcher: a terminal launcher that drives one application module the
// way the desktop launcher does.
#include "host/ApplicationLoader.h"
#include "host/Console.h"
#include "host/HostCallbacks.h"
#include "host/HostOptions.h"
#include "host/HostRun.h"
#include "host/Interrupts.h"
#include "host/NetworkProxy.h"
#include "host/Reports.h"
#include "cli/CommandLine.h"
#include "cli/LogFilter.h"
#include "platform/Platform.h"

#include <QCoreApplication>

using namespace Orvane::Host;

namespace {

/// Commands that never call Init end here: the object is let go the same way.
int EndWithoutInit(Orvane::Launcher::Application* p_App, int p_ExitCode)
{
    HostCallbacks::SetRunning(false);
    HostCallbacks::ReleaseTurn();
    p_App->Uninit();
    delete p_App;
    return p_ExitCode;
}

/// Without --server or --channel, a game goes on with those it was installed from (the host keeps them).
void UseRemembered(Orvane::Launcher::Application* p_App, HostOptions* p_Options)
{
    const QString l_Prefix = "orvane-launcher/" + p_App->m_FolderName + ".";
    const QString l_Server = p_App->GetLocalSetting(l_Prefix + "Server", QString()).toString();
    if (p_Options->ServerUrl.isEmpty() && qgetenv("KESTRUN_SERVER_URL").trimmed().isEmpty() && !l_Server.isEmpty())
        qputenv("KESTRUN_SERVER_URL", l_Server.toUtf8());
    p_Options->ServerNamed = !qgetenv("KESTRUN_SERVER_URL").trimmed().isEmpty();
    const QString l_Channel = p_App->GetLocalSetting(l_Prefix + "Channel", QString()).toString();
    if (!p_Options->ChannelGiven && !l_Channel.isEmpty())
        p_Options->DevChannel = l_Channel == "dev";
    HostCallbacks::SetDevChannel(p_Options->DevChannel);
}

} // namespace

int main(int argc, char* argv[])
{
    Orvane::Launcher::Platform::KeepFreedMemory();
    QCoreApplication l_Application(argc, argv);
    QCoreApplication::setApplicationName("orvane-launcher");

    HostOptions l_Options;
    QString l_Error;
    if (!l_Options.Parse(QCoreApplication::arguments().mid(1), &l_Error))
    {
        Console::Err("orvane-launcher: " + l_Error);
        Console::Err("usage: orvane-launcher [OPTIONS] COMMAND [ARGUMENTS] (orvane-launcher --help for details)");
        return 2;
    }
    if (l_Options.Help)
    {
        Console::Out(HostOptions::Usage());
        return 0;
    }
    if (l_Options.Version)
    {
        Console::Out(Orvane::Tools::CommandLine::VersionLine());
        return 0;
    }

    // The module's diagnostics are for developers: shown with --verbose, critical ones always.
    Orvane::Tools::LogFilter::Install(l_Options.Verbose, &Console::Err);
    Interrupts::Install();
    if (!l_Options.ServerUrl.isEmpty())
        qputenv("KESTRUN_SERVER_URL", l_Options.ServerUrl.toUtf8());
    if (!l_Options.CascCdn.isEmpty())
        qputenv("KESTRUN_CDN_HOST", l_Options.CascCdn.toUtf8());
    HostCallbacks::SetJson(l_Options.Json);
    HostCallbacks::SetLocaleTag(l_Options.LocaleTag);
    HostCallbacks::SetDevChannel(l_Options.DevChannel);
    // Set before the module is loaded: its network managers choose each request's proxy from it.
    if (!NetworkProxy::Install(l_Options.Proxy, &l_Error))
    {
        Console::Err("orvane-launcher: " + l_Error);
        return 2;
    }

    ApplicationLoader l_Loader(l_Options.PluginPath);
    if (!l_Loader.Check(&l_Error))
    {
        Console::Err("orvane-launcher: " + l_Error);
        return 2;
    }
    // "info" reads nothing of the user's: it leaves the settings alone.
    if (l_Options.Command != "info" && !HostCallbacks::Open(l_Options.SettingsPath, &l_Error))
    {
        Console::Err("error: " + l_Error);
        return 1;
    }
    Orvane::Launcher::Application* l_App = l_Loader.Load(&l_Error);
    if (!l_App)
    {
        Console::Err("orvane-launcher: " + l_Error);
        return 2;
    }
    HostCallbacks::Fill(l_App);
    if (l_Options.Command != "info" && l_Options.Command != "running")
        UseRemembered(l_App, &l_Options);
    // --limit-rate holds for this run only: the module reads it, the stored value stays.
    if (l_Options.LimitRate >= 0)
        HostCallbacks::SetRunOverride(l_App->m_FolderName + ".DownloadRateLimit", l_Options.LimitRate);

    int l_ExitCode = 0;
    if (l_Options.Command == "info")
    {
        Reports::Info(l_Loader, l_App, l_Options.Json);
        l_ExitCode = EndWithoutInit(l_App, 0);
    }
    else if (l_Options.Command == "running")
    {
        l_App->GetInstallationPath();
        bool l_Running = l_App->IsGameRunning();
        Reports::Result(l_App->m_Name + (l_Running ? " is running." : " is not running."), {{"running", l_Running}},
                        l_Options.Json);
        l_ExitCode = EndWithoutInit(l_App, l_Running ? 0 : 1);
    }
    else
    {
        HostRun l_Run(l_Options, l_App);
        l_ExitCode = l_Run.Exec();
    }
    HostCallbacks::Close();
    return l_ExitCode;
}
