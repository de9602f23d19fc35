#pragma once
#include <QByteArray>
#include <QString>

#include <functional>

class QNetworkAccessManager;
class QNetworkReply;

namespace Orvane {
namespace CASC {

/// One GET of a small document into memory, as the region tables and configuration files are
/// fetched. Only a closed connection (2), unexpected content (299) or a stall fail the request;
/// any other answer (an error page, nothing) reaches p_Success with what arrived. Exactly one
/// of the two callables runs, on the thread of p_Manager.
class CASCHttpGet
{
public:
    using Success = std::function<void(QString p_Url, QByteArray p_Body)>;
    using Failure = std::function<void(int p_Code)>;

    static void Start(QNetworkAccessManager* p_Manager, const QString& p_Url, Success p_Success, Failure p_Failure);

    /// A transfer that receives nothing for this long fails with QNetworkReply::TimeoutError (4):
    /// KESTRUN_STALL_TIMEOUT_MS, 60 seconds by default.
    static int StallTimeoutMs();
    /// Fails p_Reply through p_OnStall when nothing arrives for StallTimeoutMs(); the watch
    /// starts again at every arrival and ends with the reply.
    static void WatchStall(QNetworkReply* p_Reply, std::function<void()> p_OnStall);

    /// Lets go of a manager whose replies may still be pending, possibly from inside one of
    /// their handlers: no callback of its replies runs any more, and it is deleted once control
    /// returns to the event loop.
    static void Abandon(QNetworkAccessManager* p_Manager);
    /// Deletes p_Manager now, after cutting its replies off from every callback (an owner's
    /// destructor: nothing may reach the half-destroyed owner).
    static void Release(QNetworkAccessManager* p_Manager);
};

} // namespace CASC
} // namespace Orvane
