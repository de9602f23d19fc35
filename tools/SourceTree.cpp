#include "tools/SourceTree.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

namespace Orvane {
namespace Publish {

SourceTree::SourceTree(const QString& p_Root)
    : m_Root(p_Root)
{
}

bool SourceTree::Scan(QString& p_Error)
{
    m_Files.clear();
    QStringList l_Ancestors{QFileInfo(m_Root).canonicalFilePath()};
    if (!ScanFolder(QString(), l_Ancestors, p_Error))
        return false;
    // Plain code-point order: the same folder always gives the same manifest.
    std::sort(m_Files.begin(), m_Files.end());
    return true;
}

bool SourceTree::ScanFolder(const QString& p_Relative, QStringList& p_Ancestors, QString& p_Error)
{
    const QString l_Full = p_Relative.isEmpty() ? m_Root : m_Root + "/" + p_Relative;
    QDir l_Dir(l_Full);
    if (!l_Dir.isReadable())
    {
        p_Error = "cannot read folder " + l_Full;
        return false;
    }
    const QFileInfoList l_Entries =
        l_Dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& l_Entry : l_Entries)
    {
        const QString l_Relative = p_Relative.isEmpty() ? l_Entry.fileName() : p_Relative + "/" + l_Entry.fileName();
        if (l_Entry.isSymLink() && !l_Entry.exists())
        {
            p_Error = "cannot read " + l_Entry.filePath() + ": broken symbolic link";
            return false;
        }
        if (l_Entry.isDir())
        {
            // A link back to a folder being scanned would never end.
            const QString l_Real = l_Entry.canonicalFilePath();
            if (p_Ancestors.contains(l_Real))
            {
                p_Error = "cannot read " + l_Entry.filePath() + ": symbolic link loop";
                return false;
            }
            p_Ancestors.append(l_Real);
            bool l_Ok = ScanFolder(l_Relative, p_Ancestors, p_Error);
            p_Ancestors.removeLast();
            if (!l_Ok)
                return false;
            continue;
        }
        if (!l_Entry.isFile())
        {
            p_Error = "cannot read " + l_Entry.filePath() + ": not a regular file";
            return false;
        }
        m_Files.append(l_Relative);
    }
    return true;
}

} // namespace Publish
} // namespace Orvane
