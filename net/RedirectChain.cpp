#include "net/RedirectChain.h"
#include "net/HttpAnswer.h"

#include <QUrl>

namespace Orvane {
namespace Launcher {

void RedirectChain::Start(const TransferRequest& p_Request)
{
    m_Request = p_Request;
    m_At = p_Request.Url;
    m_Hops = 0;
}

QNetworkReply::NetworkError RedirectChain::Follow(const QNetworkReply* p_Redirect, TransferRequest* p_Hop,
                                                  QString* p_Why)
{
    const QUrl l_From(m_At, QUrl::TolerantMode);
    const QUrl l_To = HttpAnswer::RedirectTarget(p_Redirect, l_From);
    const QNetworkReply::NetworkError l_Error = HttpAnswer::RedirectRefusal(l_From, l_To, p_Why);
    if (l_Error != QNetworkReply::NoError)
        return l_Error;
    if (m_Hops >= Max)
    {
        *p_Why = QStringLiteral("too many redirects");
        return QNetworkReply::TooManyRedirectsError;
    }
    ++m_Hops;
    m_At = QString::fromUtf8(l_To.toEncoded());
    // The hop goes to a connection not known to pipeline; its answer is read as the first one would be.
    *p_Hop = m_Request;
    p_Hop->Url = m_At;
    p_Hop->Pipelined = false;
    return QNetworkReply::NoError;
}

} // namespace Launcher
} // namespace Orvane
