#include "launcher/PendingListFile.h"
#include "launcher/DownloadListFile.h"

namespace Orvane {
namespace Launcher {

void PendingListFile::Open(const QString& p_Path)
{
    if (p_Path == m_Path)
        return;
    Close();
    m_Path = p_Path;
    const DownloadListFile l_File(p_Path);
    // A list never written is created by the first update, changed or not.
    m_Dirty = !l_File.Exists();
    for (const QString& l_Line : l_File.Read())
    {
        m_Where[l_Line].append(int(m_Lines.size()));
        m_Lines.push_back(l_Line);
        m_OnDisk.insert(l_Line);
    }
    m_SinceWrite.start();
}

void PendingListFile::Close()
{
    if (!m_Path.isEmpty())
        Flush();
    m_Path.clear();
    m_Lines.clear();
    m_Where.clear();
    m_OnDisk.clear();
    m_Dirty = false;
}

bool PendingListFile::Update(const QString& p_Remove, const QString& p_Append)
{
    if (m_Path.isEmpty())
        return false;
    if (!p_Remove.isEmpty())
    {
        for (int l_Index : m_Where.take(p_Remove))
            m_Lines[size_t(l_Index)].clear();
        m_Dirty = m_Dirty || m_OnDisk.contains(p_Remove);
    }
    bool l_Now = false;
    if (!p_Append.isEmpty())
    {
        m_Where[p_Append].append(int(m_Lines.size()));
        m_Lines.push_back(p_Append);
        m_Dirty = true;
        l_Now = !m_OnDisk.contains(p_Append);
    }
    if (!m_Dirty || (!l_Now && m_SinceWrite.elapsed() < m_WriteEveryMs))
        return true;
    return Write();
}

bool PendingListFile::Flush()
{
    return !m_Dirty || Write();
}

bool PendingListFile::Write()
{
    QStringList l_Lines;
    std::vector<QString> l_Kept;
    m_Where.clear();
    for (QString& l_Line : m_Lines)
    {
        if (l_Line.isEmpty())
            continue;
        m_Where[l_Line].append(int(l_Kept.size()));
        l_Lines.append(l_Line);
        l_Kept.push_back(std::move(l_Line));
    }
    m_Lines.swap(l_Kept);
    m_SinceWrite.restart();
    if (!DownloadListFile(m_Path).Write(l_Lines))
        return false;
    m_OnDisk = Compat::ToSet(l_Lines);
    m_Dirty = false;
    return true;
}

} // namespace Launcher
} // namespace Orvane
