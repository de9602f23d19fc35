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
    m_Links.clear();
    if (!ScanFolder(QString(), p_Error))
        return false;
    // Plain code-point order: the same folder always gives the same manifest.
    std::sort(m_Files.begin(), m_Files.end());
    return true;
}

bool SourceTree::ScanFolder(const QString& p_Relative, QString& p_Error)
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
        if (l_Entry.isSymLink())
        {
            m_Links[l_Relative] = l_Entry.symLinkTarget();
            continue;
        }
        if (l_Entry.isDir())
        {
            if (!ScanFolder(l_Relative, p_Error))
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
