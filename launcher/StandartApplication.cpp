#include "launcher/StandartApplication.h"
#include "casc/CASCArchivesManager.h"
#include "platform/ThreadOwner.h"
#include "casc/CASCApplication.h"
#include "launcher/InstallFolder.h"
#include "platform/Platform.h"

#include <QDir>
#include <QFile>
#include <QThread>
#include <QTimer>

namespace Orvane {
namespace Launcher {

StandartApplication::StandartApplication(const QString& p_Name, const QString& p_FolderName)
    : Application(p_Name, p_FolderName)
{
    connect(this, SIGNAL(OnHTTPDownloadProgressUpdate(HTTP_DownloadFileRequest*)), this,
            SLOT(App_OnHTTPDownloadProgressUpdate(HTTP_DownloadFileRequest*)));
    connect(this, SIGNAL(OnHTTPDownloadProgressComplete(HTTP_DownloadFileRequest*)), this,
            SLOT(App_OnHTTPDownloadProgressComplete(HTTP_DownloadFileRequest*)));
    connect(this, SIGNAL(OnHTTPDownloadRestarted(HTTP_DownloadFileRequest*)), this,
            SLOT(App_OnHTTPDownloadRestarted(HTTP_DownloadFileRequest*)));
    m_ListFileTimer = new QTimer(this);
    m_ListFileTimer->setSingleShot(true);
    m_ListFileTimer->setInterval(1000);
    connect(m_ListFileTimer, &QTimer::timeout, this, [this] { FlushListFile(false); });
}

StandartApplication::~StandartApplication()
{
    CallOffCheck();
    m_CheckRun.waitForFinished();
    FlushListFile(true);
    delete m_CASCApplication;
}

void StandartApplication::SetPercent(qint64 p_Done, qint64 p_Total)
{
    KESTRUN_OWNED_BY(thread());
    // A size answered as unknown (0) lets Done pass Total for a while: never past 100.
    m_Status.Percent = int32_t(qBound<qint64>(0, p_Done * 100 / (p_Total <= 0 ? 1 : p_Total), 100));
}

void StandartApplication::Init()
{
    KESTRUN_OWNED_BY(thread());
    m_Status.ApplicationState = 0;
    StateChanged();
    PostMainTask([this] { RequestVersion(); });
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
        m_Status.ApplicationState = 1;
        StateChanged();
        // Absent reads as false: an uninstall leaves no setting of the application behind.
        if (GetLocalSetting(SettingKey(".ManifestBuilt"), false).toBool())
            SetLocalSetting(SettingKey(".ManifestBuilt"), false);
    }
    else
    {
        m_Status.ApplicationState = 2;
        m_Status.Detail = m_Manifest.BuildStr;
        m_Status.DetailVisible = true;
        m_Status.DetailValue = 0;
        m_Status.Done = 0;
        m_Status.Total = qint64(m_Manifest.BaseFiles.size());
        m_Status.Percent = 0;
        m_Status.Busy = true;
        m_Status.DownloadStatus = 5;
        StateChanged();
        if (m_FullScan)
        {
            // The scan rewrites both lists when it ends; until then no old list may be trusted. A scan cut
            // short (a kill, the launcher closing) so leaves lists never written, and the next run checks
            // their files again.
            for (const char* l_Name : {"ToDownloadBase.db", "ToDownload.db"})
                if (!m_InstallationPath.isEmpty() && QFile::exists(m_InstallationPath + l_Name))
                    QFile::remove(m_InstallationPath + l_Name);
        }
        const ListInput l_Input = ListInputOf(m_Manifest.BaseFiles);
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

    if (p_DeleteFiles)
    {
        InstallFolder l_Folder(m_InstallationPath);
        for (const std::vector<ManifestFile>* l_List : {&m_Manifest.BaseFiles, &m_Manifest.StreamedFiles})
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
                    if (!l_File.remove())
                        ShowMessageBox("File " + l_Extra + " error : " + l_File.errorString(), false);
                    else
                        l_Folder.RemoveEmptyParents(l_Extra);
                }
            }
        }
        DeleteListFiles();
    }

    QString l_Needle = m_FolderName + ".";
    for (const QString& l_Key : GetLocalSettingKeys())
        if (l_Key.contains(l_Needle, Qt::CaseInsensitive))
            RemoveLocalSetting(l_Key);

    m_DownloadList.clear();
    m_CurrentRequest = nullptr;
    OnManifestReceived();
}

void StandartApplication::StopDownload()
{
    KESTRUN_OWNED_BY(thread());
    // A running transfer is always reached, also one whose list a new pass already emptied.
    HTTP_DownloadFileRequest* l_Request = m_CurrentRequest;
    if (l_Request)
    {
        l_Request->StopRequested = true;
        while (!l_Request->Stopped)
            QThread::msleep(10);
        // The stopped transfer is over: its late completion changes nothing, and
        // the entry keeps its index and its list line for ResumeDownload.
        m_CurrentRequest = nullptr;
        m_Restarts.clear();
    }
    // Between two files the next one's request may have gone out already.
    DropRequestAhead();
    // A finished file still being checked stays at the index with its whole ".part": ResumeDownload
    // asks for the rest, is told there is none, and checks it again.
    CallOffCheck();
    FlushListFile(false);

    if (!m_CASCMode && (m_DownloadList.empty() || m_CurrentIndex >= m_DownloadList.size()))
    {
        if (l_Request)
            ReleaseDownloadTurn();
        ShowInstalled();
        return;
    }
    if (l_Request || m_WaitingForSpace || !m_CASCMode)
    {
        // Between two files the next one is not started (DownloadCurrentFile checks the status).
        ReleaseDownloadTurn();
        m_Status.DownloadStatus = 4;
        StateChanged();
    }
    if (m_CASCMode && m_CASCApplication)
        StopContentStore();
}

void StandartApplication::Uninit()
{
    KESTRUN_OWNED_BY(thread());
    // The host unloads the module next: no transfer may outlive it, no completion stays unwritten.
    if (m_CurrentRequest)
        StopDownload();
    if (m_CASCMode && m_CASCApplication)
    {
        m_CASCApplication->GetArchivesManager()->CancelScan();
        StopContentStore();
    }
    // A scan or index load in flight ends at its next slot or file: it is waited for.
    m_CASCWork.lock();
    m_CASCWork.unlock();
    // A file check still running would go on after the unload: its ".part" and line stay for the next run.
    CallOffCheck();
    m_CheckRun.waitForFinished();
    FlushListFile(true);
}

std::vector<std::pair<QString, QString>> StandartApplication::GetAvailableLocales()
{
    std::vector<std::pair<QString, QString>> l_Locales;
    for (const auto& l_Entry : m_Manifest.AvailableLocales)
        l_Locales.push_back(l_Entry.second);
    return l_Locales;
}

QString StandartApplication::GetAppLocale()
{
    return GetLocalSetting(SettingKey(".InstallLocale"), GetLauncherLocale()._Tag).toString();
}

} // namespace Launcher
} // namespace Orvane
