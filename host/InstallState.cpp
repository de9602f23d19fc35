#include "host/InstallState.h"
#include "host/StatusView.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace Orvane {
namespace Host {

namespace {
/// Paths named by a download list; false when the list is not there.
bool ReadList(const QString& p_Path, QSet<QString>* p_Paths)
{
    QFile l_List(p_Path);
    if (!l_List.open(QIODevice::ReadOnly))
        return false;
    while (!l_List.atEnd())
    {
        const QString l_Line = QString::fromUtf8(l_List.readLine()).remove('\r').remove('\n');
        if (!l_Line.isEmpty())
            p_Paths->insert(l_Line);
    }
    return true;
}
} // namespace

QString InstallState::Key(Launcher::Application* p_App, const QString& p_Name)
{
    return "orvane-launcher/" + p_App->m_FolderName + "." + p_Name;
}

InstallState InstallState::Read(Launcher::Application* p_App)
{
    InstallState l_State;
    l_State.Installed = p_App->IsInstalled();
    l_State.Folder = p_App->GetInstallationPath();
    if (!l_State.Installed)
        return l_State;
    const QString l_Folder = l_State.Folder.endsWith('/') ? l_State.Folder : l_State.Folder + "/";
    l_State.FolderPresent = !l_State.Folder.trimmed().isEmpty() && QFileInfo(l_Folder).isDir();
    if (l_State.FolderPresent)
    {
        QSet<QString> l_Paths;
        ReadList(l_Folder + "ToDownloadBase.db", &l_Paths);
        l_State.StreamedChecked = ReadList(l_Folder + "ToDownload.db", &l_Paths);
        l_State.FilesToFetch = l_Paths.size();
    }
    l_State.LastRunComplete = p_App->GetLocalSetting(Key(p_App, "Complete"), true).toBool();
    bool l_Ok = false;
    const qint64 l_Bytes = p_App->GetLocalSetting(Key(p_App, "BytesToFetch"), -1).toLongLong(&l_Ok);
    l_State.BytesToFetch = l_State.FilesToFetch == 0 && l_State.StreamedChecked ? 0
                           : l_Ok && l_State.FilesToFetch > 0                  ? l_Bytes
                                                                               : -1;
    l_State.Build = p_App->GetLocalSetting(Key(p_App, "LastBuild"), QString()).toString();
    return l_State;
}

void InstallState::RecordFetching(Launcher::Application* p_App, qint64 p_Bytes)
{
    if (!p_App->IsInstalled())
        return;
    if (p_App->GetLocalSetting(Key(p_App, "Complete"), true).toBool())
        p_App->SetLocalSetting(Key(p_App, "Complete"), false);
    if (p_App->GetLocalSetting(Key(p_App, "BytesToFetch"), -1).toLongLong() != p_Bytes)
        p_App->SetLocalSetting(Key(p_App, "BytesToFetch"), p_Bytes);
}

void InstallState::RecordComplete(Launcher::Application* p_App, const QString& p_Build)
{
    if (!p_Build.isEmpty())
        p_App->SetLocalSetting(Key(p_App, "LastBuild"), p_Build);
    p_App->SetLocalSetting(Key(p_App, "Complete"), true);
    p_App->SetLocalSetting(Key(p_App, "BytesToFetch"), qint64(0));
}

QString InstallState::ToFetchText() const
{
    QString l_Text;
    if (FilesToFetch > 0)
        l_Text = QString::number(FilesToFetch) + (FilesToFetch == 1 ? " file" : " files") + " still to fetch" +
                 (BytesToFetch > 0 ? " (" + StatusView::HumanBytes(BytesToFetch) + ")" : QString());
    if (!StreamedChecked)
        l_Text += (l_Text.isEmpty() ? QString("files still to fetch") : QString(", then")) +
                  " the streamed files, not checked yet";
    if (l_Text.isEmpty())
        l_Text = QStringLiteral("files still to fetch, not counted yet");
    return l_Text;
}

} // namespace Host
} // namespace Orvane
