#include "tools/forge/OutputTree.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace Orvane {
namespace CASC {
namespace Forge {

OutputTree::OutputTree(const QString& p_Root) : m_Root(p_Root) {}

QString OutputTree::KeyedPath(const QString& p_Key)
{
    return p_Key.left(2) + '/' + p_Key.mid(2, 2) + '/' + p_Key;
}

bool OutputTree::Write(const QString& p_Relative, const QByteArray& p_Data)
{
    const QString l_Path = QDir(m_Root).filePath(p_Relative);
    const QString l_Folder = QFileInfo(l_Path).absolutePath();
    if (!QDir().mkpath(l_Folder))
    {
        m_Error = "cannot create folder " + l_Folder;
        return false;
    }
    QSaveFile l_File(l_Path);
    if (!l_File.open(QIODevice::WriteOnly))
    {
        m_Error = QStringLiteral("cannot write %1: %2").arg(l_Path, l_File.errorString());
        return false;
    }
    if (l_File.write(p_Data) != p_Data.size())
    {
        m_Error = QStringLiteral("cannot write %1: %2").arg(l_Path, l_File.errorString());
        l_File.cancelWriting();
        return false;
    }
    // A full disk often shows only when the data is flushed.
    if (!l_File.commit())
    {
        m_Error = QStringLiteral("cannot write %1: %2").arg(l_Path, l_File.errorString());
        return false;
    }
    return true;
}

} // namespace Forge
} // namespace CASC
} // namespace Orvane
