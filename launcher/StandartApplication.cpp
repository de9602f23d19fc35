#include "launcher/StandartApplication.h"
#include "launcher/InstallFolder.h"
#include "launcher/PartFile.h"
#include "launcher/StatusRecord.h"
#include "platform/Platform.h"
#include "platform/PlatformPath.h"
#include "platform/ThreadOwner.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace Orvane {
namespace Launcher {

StandartApplication::StandartApplication(const QString& p_Name, const QString& p_FolderName)
    : Application(p_Name, p_FolderName),
      m_Queue(*this, m_Cdn, m_Passes,
              DownloadQueue::Hooks{
                  [this](const QString& p_Folder) { return AvailableDiskSpace(p_Folder); },
                  [this] { StartStreamedPhase(false); },
                  [this](bool p_WaitForTurn, quint64 p_Pass) { StartPhaseDownloads(p_WaitForTurn, p_Pass); },
                  [this](quint64 p_Pass) { CheckContentStore(p_Pass); }})
{
    connect(this, &Application::OnHTTPDownloadProgressUpdate, this,
            &StandartApplication::App_OnHTTPDownloadProgressUpdate);
    connect(this, &Application::OnHTTPDownloadProgressComplete, this,
            &StandartApplication::App_OnHTTPDownloadProgressComplete);
    connect(this, &Application::OnHTTPDownloadRestarted, this, &StandartApplication::App_OnHTTPDownloadRestarted);
}

StandartApplication::~StandartApplication()
{
    m_Queue.Unload();
}

qint64 StandartApplication::AvailableDiskSpace(const QString& p_Folder)
{
    return Platform::FreeDiskSpace(PlatformPath(p_Folder));
}

void StandartApplication::Init()
{
    KESTRUN_OWNED_BY(thread());
    m_Status.ApplicationState = ApplicationState::Initialising;
    StatusRecord::Changed(*this);
    PostMainTask([this] { m_Remote.RequestVersion(); });
}

void StandartApplication::OnBuildReceived()
{
    KESTRUN_OWNED_BY(thread());
    m_FullScan = false;
    if (!GetLocalSetting(SettingKey(".ManifestBuilt"), false).toBool())
    {
        SetLocalSetting(SettingKey(".ManifestBuilt"), true);
        m_FullScan = true;
    }
    OnManifestReceived();
}

void StandartApplication::SelectBaseUrl(const ManifestFile& p_File, bool p_Log)
{
    m_Cdn.Select(p_File, p_Log);
}

void StandartApplication::OnManifestReceived()
{
    KESTRUN_OWNED_BY(thread());
    QString l_Folder = GetInstallationPath();
    if (!l_Folder.endsWith('/'))
        l_Folder += '/';
    QString l_Current = QDir::currentPath();
    if (!l_Current.endsWith('/'))
        l_Current += '/';

    if (IsInstalled() && l_Folder == l_Current)
    {
        l_Folder += m_Name + "/";
        SetLocalSetting(SettingKey(".InstallFolder"), l_Folder);
        m_FullScan = true;
        m_InstallationPath = l_Folder;
    }

    // Any pass still checking or asking for sizes ends here.
    const quint64 l_Pass = BeginPass();

    if (!IsInstalled())
    {
        m_Status.ApplicationState = ApplicationState::NotInstalled;
        StatusRecord::Changed(*this);
        // Absent reads as false: an uninstall leaves no setting of the application behind.
        if (GetLocalSetting(SettingKey(".ManifestBuilt"), false).toBool())
            SetLocalSetting(SettingKey(".ManifestBuilt"), false);
    }
    else
    {
        m_Status.ApplicationState = ApplicationState::Installed;
        m_Status.Detail = m_Remote.Build().BuildStr;
        m_Status.DetailVisible = true;
        m_Status.DetailValue = 0;
        m_Status.Done = 0;
        m_Status.Total = qint64(m_Remote.Build().BaseFiles.size());
        m_Status.Percent = 0;
        m_Status.Busy = true;
        m_Status.DownloadStatus = DownloadStatus::Checking;
        StatusRecord::Changed(*this);
        if (m_FullScan)
        {
            // The scan rewrites both lists when it ends; until then no old list may be trusted. A scan cut
            // short (a kill, the launcher closing) so leaves lists never written, and the next run checks
            // their files again.
            for (const char* l_Name : {"ToDownloadBase.db", "ToDownload.db"})
                if (!m_InstallationPath.isEmpty() && QFile::exists(m_InstallationPath + l_Name))
                    QFile::remove(m_InstallationPath + l_Name);
        }
        const ListInput l_Input = ListInputOf(m_Remote.Build().BaseFiles);
        PostWorkerTask([this, l_Pass, l_Input] { BuildBaseList(l_Pass, l_Input); });
    }

    ApplyFileAttributes();
    AfterOnManifestReceived();
}

void StandartApplication::Install(const QString& p_Folder, bool p_NewFolder)
{
    KESTRUN_OWNED_BY(thread());
    // A running check must not write its lists into the folder being set up.
    BeginPass();
    m_HeldDeletes.Cancel();
    SetLocalSetting(SettingKey(".Installed"), true);
    // Every path is the folder followed by a relative path: without its separator "/games/wow" would put the
    // files beside it ("/games/wowData/...") while the checks look inside it.
    QString l_Folder = p_Folder;
    if (!l_Folder.isEmpty() && !l_Folder.endsWith('/') && !l_Folder.endsWith('\\'))
        l_Folder += '/';
    SetLocalSetting(SettingKey(".InstallFolder"), l_Folder);
    m_FullScan = !p_NewFolder;
    if (!GetLocalSetting(SettingKey(".ManifestBuilt"), false).toBool())
        SetLocalSetting(SettingKey(".ManifestBuilt"), true);

    GetInstallationPath();
    if (p_NewFolder)
        DeleteListFiles(); // stale lists of an earlier installation

    OnInstall();
    OnManifestReceived();
}

void StandartApplication::DeleteListFiles()
{
    // Without a folder the names would resolve against the launcher's own folder.
    if (m_InstallationPath.isEmpty())
        return;
    for (const char* l_Name : {"ToDownloadCASC.db", "ToDownloadBase.db", "ToDownload.db"})
        if (QFile::exists(m_InstallationPath + l_Name))
            QFile::remove(m_InstallationPath + l_Name);
}

void StandartApplication::Repair()
{
    KESTRUN_OWNED_BY(thread());
    if (!IsInstalled())
        return;
    m_FullScan = true;
    OnManifestReceived();
}

void StandartApplication::RebuildManifests()
{
    KESTRUN_OWNED_BY(thread());
    StopDownload();
    // A running check must not write a list after they are deleted.
    BeginPass();
    GetInstallationPath();
    DeleteListFiles();
    m_FullScan = false;
    if (!GetLocalSetting(SettingKey(".ManifestBuilt"), false).toBool())
        SetLocalSetting(SettingKey(".ManifestBuilt"), true);
    OnManifestReceived();
}

void StandartApplication::Uninstall(bool p_DeleteFiles)
{
    KESTRUN_OWNED_BY(thread());
    // A transfer left running would go on writing into the forgotten installation, a check its lists.
    StopDownload();
    BeginPass();
    m_HeldDeletes.Cancel();

    if (p_DeleteFiles)
    {
        InstallFolder l_Folder(m_InstallationPath);
        for (const std::vector<ManifestFile>* l_List : {&m_Remote.Build().BaseFiles, &m_Remote.Build().StreamedFiles})
        {
            for (const ManifestFile& l_Entry : *l_List)
            {
                // Only paths inside the install folder are ever deleted.
                if (!l_Folder.Contains(l_Entry.Path))
                    continue;
                QString l_Path = m_InstallationPath + l_Entry.Path;
                for (const QString& l_Extra : {l_Path + ".part", l_Path})
                {
                    QFile l_File(l_Extra);
                    if (!l_File.exists())
                        continue;
                    Platform::ClearReadOnly(l_Extra.toUtf8().toStdString());
                    l_File.setPermissions(l_File.permissions() | QFileDevice::WriteOwner | QFileDevice::WriteUser);
                    if (l_File.remove())
                        l_Folder.RemoveEmptyParents(l_Extra);
                    else if (Platform::InUse(PlatformPath(l_Extra)))
                    {
                        ShowMessageBox("File " + l_Extra +
                                           " error : it is in use by another program, which keeps it from being "
                                           "deleted; it is deleted as soon as that program lets go of it.",
                                       false);
                        m_HeldDeletes.Add(m_InstallationPath, l_Extra);
                    }
                    else
                        ShowMessageBox("File " + l_Extra + " error : " + l_File.errorString(), false);
                }
            }
        }
        DeleteListFiles();
    }

    QString l_Needle = m_FolderName + ".";
    for (const QString& l_Key : GetLocalSettingKeys())
        if (l_Key.contains(l_Needle, Qt::CaseInsensitive))
            RemoveLocalSetting(l_Key);

    m_Queue.Forget();
    OnManifestReceived();
    m_HeldDeletes.Start();
}

void StandartApplication::StopDownload()
{
    KESTRUN_OWNED_BY(thread());
    m_Queue.Stop(m_ContentStore.Active());
    m_ContentStore.Stop();
}

void StandartApplication::ResumeDownload()
{
    KESTRUN_OWNED_BY(thread());
    if (m_ContentStore.Active())
        m_ContentStore.Resume();
    else
        m_Queue.Resume();
}

void StandartApplication::Uninit()
{
    KESTRUN_OWNED_BY(thread());
    // The host unloads the module next: no transfer may outlive it, no completion stays unwritten.
    if (m_Queue.Transferring())
        StopDownload();
    m_ContentStore.Unload();
    m_Queue.Unload();
}

void StandartApplication::ApplyFileAttributes()
{
    InstallFolder l_Folder(m_InstallationPath);
    for (const ManifestFile& l_File : m_Remote.Build().BaseFiles)
    {
        if (!StatusRecord::LauncherRunning(*this))
            return;
        if (!(l_File.Flags & (FlagReadOnly | FlagFullPermissions)) || !l_Folder.Contains(l_File.Path))
            continue;
        const QString l_Path = m_InstallationPath + l_File.Path;
        if (QFileInfo(l_Path).isFile())
            PartFile::ApplyAttributes(l_Path, l_File.Flags);
    }
}

void StandartApplication::App_OnHTTPDownloadProgressUpdate(HTTP_DownloadFileRequest* p_Request)
{
    m_Queue.OnProgress(p_Request);
}

void StandartApplication::App_OnHTTPDownloadRestarted(HTTP_DownloadFileRequest* p_Request)
{
    m_Queue.OnRestarted(p_Request);
}

void StandartApplication::App_OnHTTPDownloadProgressComplete(HTTP_DownloadFileRequest* p_Request)
{
    m_Queue.OnComplete(p_Request);
}

void StandartApplication::CheckContentStore(quint64 p_Pass)
{
    // A newer pass hands over itself when it ends.
    if (!m_Passes.IsCurrent(p_Pass))
        return;
    if (!GetLocalSetting(SettingKey(".IsCASCEnabled"), false).toBool())
        return;
    m_ContentStore.Start();
}

std::vector<std::pair<QString, QString>> StandartApplication::GetAvailableLocales()
{
    std::vector<std::pair<QString, QString>> l_Locales;
    for (const auto& l_Entry : m_Remote.Build().AvailableLocales)
        l_Locales.push_back(l_Entry.second);
    return l_Locales;
}

QString StandartApplication::GetAppLocale()
{
    return GetLocalSetting(SettingKey(".InstallLocale"), GetLauncherLocale()._Tag).toString();
}

} // namespace Launcher
} // namespace Orvane
