#include "launcher/ListFileWriter.h"
#include "launcher/Application.h"
#include "platform/ThreadOwner.h"

#include <QTimer>

namespace Orvane {
namespace Launcher {

ListFileWriter::ListFileWriter(Application& p_App) : m_App(p_App)
{
    m_Timer = new QTimer(&m_App);
    m_Timer->setSingleShot(true);
    m_Timer->setInterval(1000);
    QObject::connect(m_Timer, &QTimer::timeout, &m_App, [this] { Flush(false); });
}

void ListFileWriter::Update(const QString& p_ListPath, const QString& p_Current, const QString& p_AppendPath)
{
    KESTRUN_OWNED_BY(m_App.thread());
    m_File.Open(p_ListPath);
    m_File.Update(p_Current, p_AppendPath);
    if (m_File.Pending() && !m_Timer->isActive())
        m_Timer->start();
}

void ListFileWriter::Flush(bool p_Close)
{
    KESTRUN_OWNED_BY(m_App.thread());
    if (p_Close)
        m_File.Close();
    else
        m_File.Flush();
    if (!m_File.Pending())
        m_Timer->stop();
}

} // namespace Launcher
} // namespace Orvane
