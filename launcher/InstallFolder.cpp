#include "launcher/InstallFolder.h"
#include "launcher/Manifest.h"

#include <QDir>
#include <QFileInfo>

namespace Orvane {
namespace Launcher {

InstallFolder::InstallFolder(const QString& p_Folder)
{
    if (!p_Folder.trimmed().isEmpty())
        m_Root = QDir::cleanPath(QFileInfo(p_Folder).absoluteFilePath());
}

bool InstallFolder::Contains(const QString& p_RelativePath) const
{
    if (m_Root.isEmpty() || !IsSafeRelativePath(p_RelativePath))
        return false;
    QString l_Full = QDir::cleanPath(m_Root + "/" + p_RelativePath);
    return l_Full.startsWith(m_Root + "/");
}

void InstallFolder::RemoveEmptyParents(const QString& p_DeletedPath) const
{
    if (m_Root.isEmpty())
        return;
    QString l_Dir = QFileInfo(QDir::cleanPath(QFileInfo(p_DeletedPath).absoluteFilePath())).absolutePath();
    while (l_Dir.startsWith(m_Root + "/") && l_Dir != m_Root)
    {
        QDir l_Folder(l_Dir);
        if (!l_Folder.isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
            return;
        if (!QDir().rmdir(l_Dir))
            return;
        l_Dir = QFileInfo(l_Dir).absolutePath();
    }
}

} // namespace Launcher
} // namespace Orvane
