#pragma once
#include "net/TransferRequest.h"

#include <QNetworkReply>
#include <QString>

namespace Orvane {
namespace Launcher {

/// The redirects one request follows: where the request in flight went, how many hops it took, and whether the
/// next hop may go out (at most Max, only to http or https with a host, never from https down to http). Used on
/// the transfer's thread.
class RedirectChain
{
public:
    static constexpr int Max = 5;

    /// A new request to p_Request.Url.
    void Start(const TransferRequest& p_Request);
    /// p_Redirect answered the request in flight: NoError and p_Hop (the request to its target, not pipelined),
    /// or the error that ends the chain and p_Why for the user.
    QNetworkReply::NetworkError Follow(const QNetworkReply* p_Redirect, TransferRequest* p_Hop, QString* p_Why);

private:
    // All: the transfer's thread.
    TransferRequest m_Request; ///< the first request of the chain
    QString m_At;              ///< where the request in flight went: m_Request.Url, or a redirect's target
    int m_Hops = 0;            ///< followed since the request went out
};

} // namespace Launcher
} // namespace Orvane
