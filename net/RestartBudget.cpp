#include "net/RestartBudget.h"
#include "net/Deployment.h"
#include "net/NetLog.h"
#include "net/UrlText.h"

#include <QDebug>

namespace Orvane {
namespace Launcher {

bool RestartBudget::Allow(qint64 p_Size, const QString& p_Url)
{
    if (p_Size > m_Best)
    {
        m_Best = p_Size;
        m_WithoutProgress = 0;
    }
    if (m_WithoutProgress >= Deployment::MaxSelfRestarts())
    {
        qCWarning(NetLog) << "ApplicationAsyncHttpDownloader::HTTP_OnError giving up after" << m_WithoutProgress
                          << "restarts without progress for \"" << UrlText::Safe(p_Url) << "\"";
        return false;
    }
    ++m_WithoutProgress;
    return true;
}

} // namespace Launcher
} // namespace Orvane
