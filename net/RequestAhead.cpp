#include "net/RequestAhead.h"
#include "net/Transfer.h"
#include "platform/ThreadOwner.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrl>

#include <algorithm>
#ifndef QT_NO_SSL
#include <QSslError>
#endif

#include <utility>

namespace Orvane {
namespace Launcher {

RequestAhead::RequestAhead(QNetworkAccessManager* p_Manager, QObject* p_Parent)
    : QObject(p_Parent), m_Manager(p_Manager)
{
}

RequestAhead::~RequestAhead()
{
    Drop();
}

bool RequestAhead::Same(const TransferRequest& p_A, const TransferRequest& p_B)
{
    return p_A.Url == p_B.Url && p_A.From == p_B.From && p_A.To == p_B.To && !p_A.SizeOnly && !p_B.SizeOnly;
}

QString RequestAhead::Origin(const QString& p_Url)
{
    const QUrl l_Url(p_Url, QUrl::TolerantMode);
    return l_Url.scheme().toLower() + "://" + l_Url.host().toLower() + ":" +
           QString::number(l_Url.port(l_Url.scheme().compare("https", Qt::CaseInsensitive) == 0 ? 443 : 80));
}

void RequestAhead::KeptAlive(const QString& p_Url)
{
    KESTRUN_OWNED_BY(m_Manager->thread());
    m_KeptAlive.insert(Origin(p_Url));
}

void RequestAhead::Ask(const TransferRequest& p_Request)
{
    KESTRUN_OWNED_BY(m_Manager->thread());
    if (m_Reply && Same(m_Request, p_Request) && !m_Tainted)
        return;
    Drop();
    if (p_Request.SizeOnly || !m_KeptAlive.contains(Origin(p_Request.Url)))
        return;
    m_Request = p_Request;
    m_Request.Pipelined = true;
    m_Reply = m_Manager->get(m_Request.Network());
    m_Reply->setReadBufferSize(std::min(HeldBytes, m_Request.ReadBuffer(nullptr)));
#ifndef QT_NO_SSL
    connect(m_Reply, &QNetworkReply::sslErrors, this, [this] { m_Tainted = true; });
#endif
}

QNetworkReply* RequestAhead::Take(const TransferRequest& p_Request)
{
    KESTRUN_OWNED_BY(m_Manager->thread());
    if (!m_Reply)
        return nullptr;
    const bool l_Usable = Same(m_Request, p_Request) && !m_Tainted;
    if (!l_Usable)
    {
        Drop();
        return nullptr;
    }
    m_Reply->disconnect(this);
    m_Tainted = false;
    return std::exchange(m_Reply, nullptr);
}

void RequestAhead::Drop()
{
    KESTRUN_OWNED_BY(m_Manager->thread());
    m_Tainted = false;
    QNetworkReply* l_Reply = std::exchange(m_Reply, nullptr);
    if (!l_Reply)
        return;
    l_Reply->disconnect(this);
    l_Reply->abort();
    l_Reply->deleteLater();
}

} // namespace Launcher
} // namespace Orvane
