#include "launcher/DeferredDeletes.h"
#include "launcher/InstallFolder.h"
#include "launcher/StatusRecord.h"
#include "platform/Platform.h"
#include "platform/PlatformPath.h"
#include "platform/ThreadOwner.h"

#include <QFile>
#include <QTimer>

namespace Orvane {
namespace Launcher {

DeferredDeletes::DeferredDeletes(Application& p_App) : m_App(p_App)
{
}

void DeferredDeletes::Add(const QString& p_Folder, const QString& p_Path)
{
    KESTRUN_OWNED_BY(m_App.thread());
    m_Folder = p_Folder;
    if (!m_Paths.contains(p_Path))
        m_Paths.append(p_Path);
}

void DeferredDeletes::Start()
{
    KESTRUN_OWNED_BY(m_App.thread());
    if (m_Paths.isEmpty())
        return;
    ShowWaiting();
    const quint64 l_Round = ++m_Round;
    QTimer::singleShot(250, &m_App, [this, l_Round] { Retry(l_Round, 1); });
}

void DeferredDeletes::Cancel()
{
    KESTRUN_OWNED_BY(m_App.thread());
    ++m_Round;
    m_Paths.clear();
}

void DeferredDeletes::ShowWaiting()
{
    m_App.m_Status.Busy = true;
    m_App.m_Status.Message = "Waiting for " + m_Paths.first() + " (in use by another program) to delete it...";
    StatusRecord::Changed(m_App);
}

void DeferredDeletes::Retry(quint64 p_Round, unsigned p_Attempt)
{
    KESTRUN_OWNED_BY(m_App.thread());
    if (p_Round != m_Round)
        return;
    // The launcher closes: the files stay, as the user was told.
    if (!StatusRecord::LauncherRunning(m_App))
        return Cancel();
    const InstallFolder l_Folder(m_Folder);
    QStringList l_Held;
    for (const QString& l_Path : m_Paths)
    {
        QFile l_File(l_Path);
        if (!l_File.exists())
            continue;
        Platform::ClearReadOnly(PlatformPath(l_Path));
        if (l_File.remove())
            l_Folder.RemoveEmptyParents(l_Path);
        else if (Platform::InUse(PlatformPath(l_Path)))
            l_Held.append(l_Path);
        else
            m_App.ShowMessageBox("File " + l_Path + " error : " + l_File.errorString(), false);
    }
    m_Paths = l_Held;
    if (m_Paths.isEmpty())
    {
        ++m_Round;
        m_App.m_Status.Busy = false;
        m_App.m_Status.Message.clear();
        StatusRecord::Changed(m_App);
        return;
    }
    ShowWaiting();
    QTimer::singleShot(HeldPauseMs(p_Attempt), &m_App,
                       [this, p_Round, p_Attempt] { Retry(p_Round, p_Attempt + 1); });
}

} // namespace Launcher
} // namespace Orvane
