#pragma once
#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

class QNetworkAccessManager;
class QObject;

namespace Orvane {
namespace Launcher {
struct TransferResult;
}
namespace CASC {

/// One GET of a small document into memory on the transfer engine, as the region tables and
/// configuration files are fetched. Only a closed connection (2), unexpected content (299), a
/// stall (4) or a body over the document bound (2, as the plain path) fail the request; any
/// other answer (an error page, nothing) reaches p_Success with what arrived, an error page
/// with nothing. Exactly one of the two callables runs, on the thread of p_Manager.
class CASCHttpGet
{
public:
    using Success = std::function<void(QString p_Url, QByteArray p_Body)>;
    using Failure = std::function<void(int p_Code)>;

    static void Start(QNetworkAccessManager* p_Manager, const QString& p_Url, Success p_Success, Failure p_Failure);

    /// The code a store transfer that did not complete reports, as Qt names it: the reply's
    /// error, 4 (time-out) for a stall, 2 for a closed or cut-short body; 0 when it completed.
    static int FailureCode(const Launcher::TransferResult& p_Result);
    /// "Error RemoteHostClosedError for file : URL", "Error UnknownContentError for file : URL",
    /// else "QtHttp error CODE when retrieving file URL".
    static QString ErrorMessage(int p_Code, const QString& p_Url);

    /// Keeps p_Thing alive as long as p_Owner (a transfer's sink, which an abandoned transfer may
    /// still write into until it is deleted).
    static void KeepWith(QObject* p_Owner, std::shared_ptr<void> p_Thing);

    /// Lets go of a manager whose transfers may still be pending, possibly from inside one of
    /// their handlers: no callback of its transfers runs any more, and it is deleted once
    /// control returns to the event loop.
    static void Abandon(QNetworkAccessManager* p_Manager);
    /// Deletes p_Manager now, after cutting its transfers off from every callback (an owner's
    /// destructor: nothing may reach the half-destroyed owner).
    static void Release(QNetworkAccessManager* p_Manager);
};

} // namespace CASC
} // namespace Orvane
