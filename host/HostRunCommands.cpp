// What each command does once the module reports its state.
#include "host/Console.h"
#include "host/ContentStoreState.h"
#include "host/HostCallbacks.h"
#include "host/HostRun.h"
#include "host/InstallState.h"
#include "host/Reports.h"
#include "net/Deployment.h"
#include "net/ProxyFactory.h"

#include <QDir>
#include <QNetworkProxyFactory>
#include <QUrl>
#include <QFileInfo>

namespace Orvane {
namespace Host {

namespace {
QString WithSlash(QString p_Folder)
{
    if (!p_Folder.endsWith('/'))
        p_Folder += '/';
    return p_Folder;
}
} // namespace

QString HostRun::NotInstalledReason() const
{
    return m_App->m_Name + " is not installed (install it first: orvane-launcher install FOLDER)";
}

bool HostRun::PrepareInstallFolder(QString* p_Folder)
{
    QString l_Folder = WithSlash(QDir::cleanPath(QFileInfo(m_Options.Folder).absoluteFilePath()));
    // The launcher's own folder gets a folder of the game's name. The module would fix the folder up
    // too, but only after its first writes (the client's configuration) went to the one given.
    if (l_Folder == WithSlash(QDir::currentPath()))
        l_Folder += m_App->m_Name + "/";
    // Read without the slash: "file/" would not exist and the file would not be named as such.
    QFileInfo l_Info(l_Folder.left(l_Folder.size() - 1));
    if (l_Info.exists() && !l_Info.isDir())
    {
        Finish(1, l_Info.filePath() + " is not a folder");
        return false;
    }
    if (m_App->IsInstalled())
    {
        // Nothing is made for a command that is refused.
        const QString l_Current = WithSlash(m_App->GetInstallationPath());
        if (l_Current != l_Folder && l_Current != l_Folder + m_App->m_Name + "/")
        {
            Finish(1, m_App->m_Name + " is already installed in " + l_Current +
                          " (uninstall it first, or update it there)");
            return false;
        }
    }
    if (m_Options.Existing && !l_Info.exists())
    {
        Finish(1, "the folder " + l_Folder + " does not exist (leave out --existing for a new installation)");
        return false;
    }
    if (!QDir().mkpath(l_Folder))
    {
        Finish(1, "cannot create the folder " + l_Folder);
        return false;
    }
    *p_Folder = l_Folder;
    return true;
}

bool HostRun::Fetching() const
{
    const QString& l_Command = m_Options.Command;
    return l_Command == "install" || l_Command == "update" || l_Command == "repair" || l_Command == "rebuild";
}

QString HostRun::ServerFailure() const
{
    QString l_Text = Launcher::Deployment::ServerBaseUrl();
    // The transfers of the build information know why they got nothing (refused, not found, TLS, the proxy).
    for (auto l_It = m_App->m_ContentFailures.constBegin(); l_It != m_App->m_ContentFailures.constEnd(); ++l_It)
        if (!l_It.value().isEmpty())
        {
            // Through a proxy the connection is the proxy's: a refusal or a time-out is named as its own.
            // The module's own factory: Qt's application-wide one never proxies loopback hosts.
            Launcher::ProxyFactory l_Factory(Launcher::ProxySettings::FromEnvironment(m_Options.Proxy));
            const QList<QNetworkProxy> l_Proxies = l_Factory.queryProxy(QNetworkProxyQuery(QUrl(l_It.key())));
            const bool l_Proxied = !l_Proxies.isEmpty() && l_Proxies.first().type() != QNetworkProxy::NoProxy &&
                                   l_Proxies.first().type() != QNetworkProxy::DefaultProxy;
            const QString l_Proxy =
                l_Proxied ? l_Proxies.first().hostName() + ":" + QString::number(l_Proxies.first().port()) : QString();
            QString l_Reason = l_It.value();
            if (l_Proxied && !l_Reason.startsWith("the proxy") && !l_Reason.startsWith("the server answered"))
                l_Reason = "the proxy " + l_Proxy + ": " + l_Reason;
            else if (l_Proxied && l_Reason.startsWith("the proxy"))
                l_Reason += " (proxy " + l_Proxy + ")";
            l_Text += ": " + l_Reason;
            break;
        }
    if (!m_Options.ServerNamed)
        l_Text += " (no server was named for this game: pass --server URL)";
    return l_Text;
}

void HostRun::RecordProgress(bool p_Now)
{
    if (!m_App || !Fetching() || m_Completed || !m_App->IsInstalled())
        return;
    const Launcher::ApplicationStatus& l_Status = m_App->m_Status;
    const bool l_Transfer = l_Status.DownloadStatus == Launcher::DownloadStatus::Downloading || (l_Status.DownloadStatus == Launcher::DownloadStatus::Stopped && l_Status.Total > 0);
    m_Fetched = m_Fetched || l_Transfer;
    if (!m_Fetched || (!p_Now && m_LastRecord.isValid() && m_LastRecord.elapsed() < 1000))
        return;
    m_LastRecord.start();
    // What the phase still has to move; a phase not downloading has no figure.
    InstallState::RecordFetching(m_App, l_Transfer ? qMax<qint64>(0, l_Status.Total - l_Status.Done) : -1);
}

bool HostRun::RefuseIncomplete(const QString& p_Command)
{
    const InstallState& l_State = m_LocalState;
    if (!l_State.FolderPresent)
        Finish(1, m_App->m_Name + " cannot " + p_Command + ": its folder " + l_State.Folder +
                      " is gone (install it again there: orvane-launcher install FOLDER, or uninstall)");
    else if (!l_State.Complete())
        Finish(1, m_App->m_Name + " is not completely installed: " + l_State.ToFetchText() +
                      " (run orvane-launcher update first)");
    else
        return false;
    return true;
}

void HostRun::ReportLocalState(const QString& p_Unreached)
{
    m_View.Finish();
    const InstallState& l_State = m_LocalState;
    if (m_Options.Json)
        Reports::StatusJson(m_App, l_State, QString(), p_Unreached);
    else
        Reports::StatusServer(l_State, QString(), p_Unreached);
    Finish(0, QString());
}

void HostRun::OnStateKnown()
{
    const QString& l_Command = m_Options.Command;
    bool l_Installed = m_App->IsInstalled();

    if (l_Command == "status")
    {
        m_View.Finish();
        const InstallState& l_State = m_LocalState;
        const QString l_ServerBuild = l_Installed ? m_BuildText : QString();
        if (m_Options.Json)
            Reports::StatusJson(m_App, l_State, l_ServerBuild, QString());
        else
            Reports::StatusServer(l_State, l_ServerBuild, QString());
        Finish(0, QString());
    }
    else if (l_Command == "locales")
    {
        m_View.Finish();
        Reports::Locales(m_App, m_Options.Json);
        Finish(0, QString());
    }
    else if (l_Command == "install")
    {
        QString l_Folder;
        if (!PrepareInstallFolder(&l_Folder))
            return;
        if (l_Installed)
        {
            // The update of that installation runs already.
            Say("Already installed in " + WithSlash(m_App->GetInstallationPath()) + "; bringing it up to date.", {},
                false);
        }
        else
        {
            m_App->Install(l_Folder, !m_Options.Existing);
            // Later commands on the game go to the server and channel it came from.
            m_App->SetLocalSetting(InstallState::Key(m_App, "Server"), Launcher::Deployment::ServerBaseUrl());
            m_App->SetLocalSetting(InstallState::Key(m_App, "Channel"),
                                   m_Options.DevChannel ? QStringLiteral("dev") : QStringLiteral("production"));
            InstallState::RecordFetching(m_App, -1);
        }
        StartSettle();
    }
    else if (l_Command == "update" || l_Command == "repair" || l_Command == "rebuild")
    {
        if (!l_Installed)
        {
            Finish(1, NotInstalledReason());
            return;
        }
        // Repair and rebuild start a new pass at once: the one Init started stops
        // at its next check, so every file is checked once.
        if (l_Command == "repair")
            m_App->Repair();
        else if (l_Command == "rebuild")
            m_App->RebuildManifests();
        StartSettle();
    }
    else if (l_Command == "start" && !l_Installed)
        Finish(1, NotInstalledReason());
    else if (l_Command == "start" && RefuseIncomplete("start"))
        return;
    else if (l_Command == "set-locale")
    {
        QStringList l_Tags;
        for (const auto& l_Entry : m_App->GetAvailableLocales())
            l_Tags.append(l_Entry.first);
        if (!l_Tags.contains(m_Options.Tag))
        {
            Finish(1, "the build has no locale \"" + m_Options.Tag + "\" (available: " +
                          (l_Tags.isEmpty() ? QStringLiteral("none") : l_Tags.join(", ")) + ")");
            return;
        }
        StartPause();
    }
    else
        StartPause(); // uninstall, start
}

void HostRun::Say(const QString& p_Text, const QJsonObject& p_Fields, bool p_Final)
{
    // The progress shown so far comes first, so that the lines read in order.
    if (p_Final)
    {
        m_View.Finish();
        Reports::Result(p_Text, p_Fields, m_Options.Json);
    }
    else
    {
        m_View.Flush();
        Reports::Notice(p_Text, m_Options.Json);
    }
}

void HostRun::StartSettle()
{
    // Every way here (Init of an installed game, Install, Repair, RebuildManifests)
    // ran OnManifestReceived, which raises Busy and queues the manifest pass in one
    // step on this thread: from now on a finished state is the end of that pass.
    m_Phase = Phase::Settle;
    m_SettleMark = 0;
    m_LastProgress.restart();
}

void HostRun::CheckSettled()
{
    Launcher::ApplicationStatus l_Status = m_App->m_Status;
    bool l_Errors = HostCallbacks::ModuleErrorCount() > 0;
    bool l_Candidate = (l_Status.ApplicationState == Launcher::ApplicationState::Installed && !l_Status.Busy) || l_Status.DownloadStatus == Launcher::DownloadStatus::Stopped ||
                       l_Status.ApplicationState == Launcher::ApplicationState::NotInstalled ||
                       (l_Errors && !l_Status.Busy);
    if (!l_Candidate || !Quiet())
    {
        m_SettleMark = 0;
        return;
    }
    // A pass hands over to the next step through the queues and through queued signals (a
    // finished transfer): the end state counts once every event posted before it was handled
    // and it still holds, with nothing queued.
    if (m_SettleMark == 0 || !StatusView::SameProgress(l_Status, m_StableStatus))
    {
        static quint64 s_Marks = 0;
        const quint64 l_Mark = ++s_Marks;
        m_StableStatus = l_Status;
        m_SettleMark = l_Mark;
        m_MarkBack = false;
        QMetaObject::invokeMethod(
            this,
            [this, l_Mark] {
                if (m_SettleMark != l_Mark || m_ShuttingDown)
                    return;
                m_MarkBack = true;
                Tick();
            },
            Qt::QueuedConnection);
        return;
    }
    if (m_MarkBack)
        OnSettled(l_Status);
}

void HostRun::OnSettled(const Launcher::ApplicationStatus& p_Status)
{
    bool l_Installed = m_App->IsInstalled() && p_Status.ApplicationState == Launcher::ApplicationState::Installed;
    // Errors on the way (a CDN host down, a transfer restarted) may have been
    // recovered: a full check tells, and only what it leaves reported counts.
    // A content-store run reports its errors as they end it: a second pass would only repeat them.
    if (l_Installed && !m_Verifying && !m_Options.ContentStore && p_Status.DownloadStatus != Launcher::DownloadStatus::Stopped &&
        HostCallbacks::ModuleErrorCount() > 0 && HostCallbacks::HostErrorCount() == 0)
    {
        m_Verifying = true;
        int l_Count = HostCallbacks::ModuleErrorCount();
        Say(QString::number(l_Count) + (l_Count == 1 ? " error" : " errors") +
                " reported on the way; checking every file before concluding.",
            {}, false);
        HostCallbacks::ClearModuleErrors();
        m_App->Repair();
        StartSettle();
        return;
    }

    int l_Errors = HostCallbacks::ModuleErrorCount() + HostCallbacks::HostErrorCount();
    if (!l_Installed)
        Finish(1, NotInstalledReason());
    else if (l_Errors > 0)
        Finish(1, QString::number(l_Errors) + (l_Errors == 1 ? " error" : " errors") +
                      (m_Verifying ? " reported by the check of every file" : " reported") +
                      "; the game is not fully up to date (run update or repair to try again)");
    else if (p_Status.DownloadStatus == Launcher::DownloadStatus::Stopped)
        Finish(1, "the download stopped before the end");
    else if (m_Options.ContentStore && ContentStoreState::SlotsToFetch(m_App->GetInstallationPath()) != 0)
    {
        const int l_Left = ContentStoreState::SlotsToFetch(m_App->GetInstallationPath());
        Finish(1, l_Left < 0 ? QStringLiteral("the content store was not checked (the plain files are not all in place)")
                             : QString::number(l_Left) + " slots of the content store are still to fetch");
    }
    else
    {
        QString l_Folder = m_App->GetInstallationPath();
        InstallState::RecordComplete(m_App, m_BuildText);
        m_Completed = true;
        // The game is now the build of this server and channel: later commands go on with them.
        m_App->SetLocalSetting(InstallState::Key(m_App, "Server"), Launcher::Deployment::ServerBaseUrl());
        m_App->SetLocalSetting(InstallState::Key(m_App, "Channel"),
                               m_Options.DevChannel ? QStringLiteral("dev") : QStringLiteral("production"));
        QJsonObject l_Fields{{"installed", true}, {"folder", l_Folder}};
        if (m_Options.ContentStore)
            l_Fields.insert("contentStore", true);
        Say(m_App->m_Name + (m_Options.ContentStore ? " is installed, its content store whole, in "
                                                     : " is installed and up to date in ") +
                l_Folder + ".",
            l_Fields, true);
        Finish(0, QString());
    }
}

void HostRun::StartPause()
{
    m_Phase = Phase::Pause;
    m_LastProgress.restart();
    // The background work (the manifest pass of Init) winds down; no transfer starts.
    HostCallbacks::SetRunning(false);
    HostCallbacks::SetTurnWithheld(true);
}

void HostRun::CheckPaused()
{
    if (m_Phase == Phase::Pause)
    {
        if (!m_Worker.QueueEmpty() || !m_Worker.Idle())
            return;
        m_Worker.SetOpen(false);
        m_Phase = Phase::PauseGate;
    }
    // A clean-up may have slipped in before the gate closed.
    if (!m_Worker.Idle())
        return;
    const Launcher::ApplicationStatus& l_Status = m_App->m_Status;
    if (l_Status.Busy || l_Status.DownloadStatus == Launcher::DownloadStatus::Downloading)
        m_App->StopDownload();
    HostCallbacks::SetRunning(true);
    RunOperation();
}

void HostRun::RunOperation()
{
    const QString& l_Command = m_Options.Command;
    int l_ErrorsBefore = HostCallbacks::ModuleErrorCount();
    if (l_Command == "uninstall")
    {
        m_App->Uninstall(m_Options.DeleteFiles);
        if (m_App->IsInstalled())
            Finish(1, m_App->m_Name + " is still installed");
        else if (HostCallbacks::ModuleErrorCount() > l_ErrorsBefore || HostCallbacks::HostErrorCount() > 0)
            Finish(1, "uninstalled, but some files could not be deleted");
        else
        {
            Say(m_App->m_Name + (m_Options.DeleteFiles ? " uninstalled and its files deleted."
                                                        : " uninstalled (files left in place)."),
                {{"installed", false}}, true);
            Finish(0, QString());
        }
    }
    else if (l_Command == "start")
    {
        // A first start shows its notice and answers false, though it launched the game.
        const bool l_FirstStart = m_App->GetLocalSetting(m_App->SettingKey(".FirstStart"), true).toBool();
        const bool l_Started = m_App->Start(QString(), QString());
        // The module tells a start the system refused, with its reason (shown above).
        if (HostCallbacks::ModuleErrorCount() > l_ErrorsBefore)
            Finish(1, m_App->m_Name + " was not started");
        else if (l_Started || l_FirstStart)
        {
            Say(m_App->m_Name + " started.", {{"started", true}}, true);
            Finish(0, QString());
        }
        else
            Finish(1, m_App->m_Name + " could not be started");
    }
    else if (l_Command == "set-locale")
    {
        m_App->SetAppLocale(m_Options.Tag);
        QString l_Now = m_App->GetAppLocale();
        if (l_Now != m_Options.Tag)
            Finish(1, "the locale is still " + l_Now);
        else if (HostCallbacks::ModuleErrorCount() > l_ErrorsBefore || HostCallbacks::HostErrorCount() > 0)
            Finish(1, "the locale is " + l_Now + ", but errors were reported");
        else
        {
            // Only the client's configuration changed: the language's files are fetched by an update.
            Say("Locale set to " + l_Now + "; its files come with the next update (orvane-launcher update).",
                {{"locale", l_Now}}, true);
            Finish(0, QString());
        }
    }
}

} // namespace Host
} // namespace Orvane
