#include "casc/CASCHttpGet.h"
#include "casc/CascLog.h"

#include "net/Deployment.h"
#include "net/Transfer.h"
#include "net/TransferSink.h"
#include "net/UrlText.h"

#include <QDebug>
#include <QNetworkAccessManager>

#include <memory>

namespace Orvane {
namespace CASC {

using Launcher::Transfer;
using Launcher::TransferResult;

int CASCHttpGet::FailureCode(const TransferResult& p_Result)
{
    const Launcher::TransferResult::Facts& l_Ending = p_Result.Ending;
    if (l_Ending.Stalled)
        return QNetworkReply::TimeoutError;
    if (l_Ending.Error != QNetworkReply::NoError && l_Ending.Error != QNetworkReply::OperationCanceledError)
        return l_Ending.Error;
    if (l_Ending.OverCap || (TransferResult::IsBody(l_Ending.Status) && !l_Ending.BodyComplete))
        return QNetworkReply::RemoteHostClosedError;
    return QNetworkReply::NoError;
}

QString CASCHttpGet::ErrorMessage(int p_Code, const QString& p_Url)
{
    if (p_Code == QNetworkReply::RemoteHostClosedError)
        return "Error RemoteHostClosedError for file : " + p_Url;
    if (p_Code == QNetworkReply::UnknownContentError)
        return "Error UnknownContentError for file : " + p_Url;
    return "QtHttp error " + QString::number(p_Code) + " when retrieving file " + p_Url;
}

namespace {

class Keeper : public QObject
{
public:
    Keeper(QObject* p_Owner, std::shared_ptr<void> p_Thing) : QObject(p_Owner), m_Thing(std::move(p_Thing)) {}

private:
    std::shared_ptr<void> m_Thing; // the owner's thread
};

// The manager deletes its replies before its children: its transfers must go first.
void CutOff(QNetworkAccessManager* p_Manager, bool p_Now)
{
    for (Transfer* l_Transfer : p_Manager->findChildren<Transfer*>(QString(), Qt::FindDirectChildrenOnly))
    {
        l_Transfer->disconnect();
        if (p_Now)
            delete l_Transfer;
        else
            l_Transfer->deleteLater();
    }
}

} // namespace

void CASCHttpGet::KeepWith(QObject* p_Owner, std::shared_ptr<void> p_Thing)
{
    new Keeper(p_Owner, std::move(p_Thing));
}

void CASCHttpGet::Abandon(QNetworkAccessManager* p_Manager)
{
    if (!p_Manager)
        return;
    CutOff(p_Manager, false);
    p_Manager->deleteLater();
}

void CASCHttpGet::Release(QNetworkAccessManager* p_Manager)
{
    if (!p_Manager)
        return;
    CutOff(p_Manager, true);
    delete p_Manager;
}

void CASCHttpGet::Start(QNetworkAccessManager* p_Manager, const QString& p_Url, Success p_Success, Failure p_Failure)
{
    // A child of the manager: it goes with it, before the replies it holds.
    auto* l_Transfer = new Transfer(p_Manager, p_Manager);
    // A document this large is no document of ours.
    std::shared_ptr<Launcher::TransferSink> l_Sink(Launcher::TransferSink::Memory(Launcher::Deployment::MaxDocumentBytes()));
    KeepWith(l_Transfer, l_Sink);
    QObject::connect(l_Transfer, &Transfer::Ended, l_Transfer, [l_Transfer, l_Sink, p_Url, p_Success, p_Failure] {
        l_Transfer->deleteLater();
        const TransferResult& l_Result = l_Transfer->Result();
        const int l_Code = FailureCode(l_Result);
        if (l_Result.Ending.OverCap)
            qCWarning(CascLog).noquote() << "CASCHttpGet larger than" << Launcher::Deployment::MaxDocumentBytes()
                                         << "bytes, aborting" << Launcher::UrlText::Safe(p_Url);
        if (l_Code == QNetworkReply::RemoteHostClosedError || l_Code == QNetworkReply::UnknownContentError ||
            l_Code == QNetworkReply::TimeoutError)
        {
            l_Sink->Data().clear();
            p_Failure(l_Code);
            return;
        }
        // An error page is not the document: the parse finds nothing in it; nor is a part of one.
        QByteArray l_Body;
        if (TransferResult::WholeDocument(l_Result))
            l_Body = std::move(l_Sink->Data());
        p_Success(p_Url, l_Body);
    });
    Launcher::TransferRequest l_Asked;
    l_Asked.Url = p_Url;
    l_Transfer->Start(l_Asked, l_Sink.get());
}

} // namespace CASC
} // namespace Orvane
