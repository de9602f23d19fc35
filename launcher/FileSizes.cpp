#include "launcher/FileSizes.h"
#include "launcher/CdnHosts.h"
#include "launcher/InstallFolder.h"
#include "launcher/LauncherLog.h"
#include "launcher/ManifestPass.h"
#include "launcher/StatusRecord.h"
#include "net/UrlText.h"
#include "platform/ThreadOwner.h"

#include <QDebug>

namespace Orvane {
namespace Launcher {

namespace {
/// Size requests in flight at once: six per host on each of the size managers.
const int c_SizeRequestWindow = Application::SizeRequestsInFlight;
} // namespace

FileSizes::FileSizes(Application& p_App, CdnHosts& p_Cdn, const ManifestPass& p_Passes,
                     const std::vector<ManifestFile>& p_List, AllKnown p_AllKnown)
    : m_App(p_App), m_Cdn(p_Cdn), m_Passes(p_Passes), m_List(p_List), m_AllKnown(std::move(p_AllKnown))
{
}

qint64 FileSizes::Update(const QString& p_Path, qint64 p_Size)
{
    KESTRUN_OWNED_BY(m_App.thread());
    qint64& l_Known = m_Known[p_Path];
    const qint64 l_Before = l_Known;
    l_Known = p_Size;
    return l_Before;
}

void FileSizes::Request(bool p_WaitForTurn, quint64 p_Pass)
{
    KESTRUN_OWNED_BY(m_App.thread());
    m_Answers = 0;
    m_Next = 0;
    m_Known.clear();
    if (m_List.empty())
    {
        m_App.PostMainTask([this, p_WaitForTurn, p_Pass] { RequestNext(p_WaitForTurn, p_Pass); });
        return;
    }
    // A few at a time: each time-out then starts when its request is sent, not while it waits behind
    // the connection limit, so a slow link does not turn the later answers into unknown sizes.
    for (int l_I = 0; l_I < c_SizeRequestWindow; ++l_I)
        m_App.PostMainTask([this, p_WaitForTurn, p_Pass] { RequestNext(p_WaitForTurn, p_Pass); });
}

void FileSizes::RequestNext(bool p_WaitForTurn, quint64 p_Pass)
{
    KESTRUN_OWNED_BY(m_App.thread());
    // Answers of a superseded pass count for nothing: the new pass asks again.
    if (!m_Passes.IsCurrent(p_Pass) || !StatusRecord::LauncherRunning(m_App))
        return;
    if (m_List.empty())
        return m_AllKnown(p_WaitForTurn, p_Pass);
    if (m_Next >= m_List.size())
        return;
    const ManifestFile l_Entry = m_List[m_Next++];
    m_Cdn.Select(l_Entry, false);
    qCWarning(LauncherLog).noquote().nospace()
        << m_App.m_Name << " Fetch file " << l_Entry.Location << " " << UrlText::Safe(m_Cdn.BaseUrl());
    m_App.HTTP_GetContentSize(m_Cdn.BaseUrl() + m_App.m_FolderName + "/" + l_Entry.Location,
                              [this, l_Entry, p_WaitForTurn, p_Pass](QString, quint64 p_Size) {
                                  qCWarning(LauncherLog).noquote().nospace()
                                      << m_App.m_Name << " Fetched file " << l_Entry.Location;
                                  if (!m_Passes.IsCurrent(p_Pass))
                                      return;
                                  m_Known[l_Entry.Path] = qint64(p_Size);
                                  m_App.m_Status.Total += qint64(p_Size);
                                  StatusRecord::Changed(m_App);
                                  if (++m_Answers < m_List.size())
                                  {
                                      RequestNext(p_WaitForTurn, p_Pass);
                                      return;
                                  }
                                  // Every size is known: the phase's downloads start.
                                  m_App.PostMainTask(
                                      [this, p_WaitForTurn, p_Pass] { m_AllKnown(p_WaitForTurn, p_Pass); });
                              });
    // The last size is asked: the first file's host is drawn now (as its turn would, after every size's draw)
    // and its connection opened, so that the handshake overlaps the last answers.
    if (m_Next == m_List.size() && InstallFolder(m_App.m_InstallationPath).Contains(m_List.front().Path))
        m_App.PrepareDownloadConnection(m_Cdn.Draw(m_List.front()));
}

} // namespace Launcher
} // namespace Orvane
