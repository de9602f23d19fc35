#include "casc/CASCHttpGet.h"

#include "platform/QtCompat.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace Orvane {
namespace CASC {

int CASCHttpGet::StallTimeoutMs()
{
    bool l_Ok = false;
    const int l_Value = qgetenv("KESTRUN_STALL_TIMEOUT_MS").trimmed().toInt(&l_Ok);
    return l_Ok && l_Value > 0 ? l_Value : 60000;
}

void CASCHttpGet::WatchStall(QNetworkReply* p_Reply, std::function<void()> p_OnStall)
{
    // The timer is a child of the reply: it goes with it.
    auto* l_Timer = new QTimer(p_Reply);
    l_Timer->setSingleShot(true);
    l_Timer->setInterval(StallTimeoutMs());
    QObject::connect(l_Timer, &QTimer::timeout, p_Reply, std::move(p_OnStall), Qt::DirectConnection);
    QObject::connect(p_Reply, &QNetworkReply::readyRead, l_Timer, qOverload<>(&QTimer::start), Qt::DirectConnection);
    QObject::connect(p_Reply, &QNetworkReply::metaDataChanged, l_Timer, qOverload<>(&QTimer::start),
                     Qt::DirectConnection);
    QObject::connect(p_Reply, &QNetworkReply::finished, l_Timer, &QTimer::stop, Qt::DirectConnection);
    l_Timer->start();
}

namespace {

void CutOff(QNetworkAccessManager* p_Manager)
{
    for (QNetworkReply* l_Reply : p_Manager->findChildren<QNetworkReply*>())
    {
        for (QTimer* l_Timer : l_Reply->findChildren<QTimer*>())
            l_Timer->disconnect();
        l_Reply->disconnect();
    }
}

} // namespace

void CASCHttpGet::Abandon(QNetworkAccessManager* p_Manager)
{
    if (!p_Manager)
        return;
    CutOff(p_Manager);
    p_Manager->deleteLater();
}

void CASCHttpGet::Release(QNetworkAccessManager* p_Manager)
{
    if (!p_Manager)
        return;
    CutOff(p_Manager);
    delete p_Manager;
}

void CASCHttpGet::Start(QNetworkAccessManager* p_Manager, const QString& p_Url, Success p_Success, Failure p_Failure)
{
    QNetworkReply* l_Reply = p_Manager->get(QNetworkRequest(QUrl(p_Url, QUrl::TolerantMode)));
    // Shared by the handlers below; once m_Done is set the reply delivers nothing more.
    struct State
    {
        QByteArray m_Body;
        bool m_Done = false;
    };
    auto l_State = std::make_shared<State>();
    // A reply that reported an error has ended already; only a stalled one needs its abort.
    auto l_Fail = [l_Reply, l_State, p_Failure](int p_Code, bool p_Abort) {
        if (l_State->m_Done)
            return;
        l_State->m_Done = true;
        l_State->m_Body.clear();
        p_Failure(p_Code);
        if (p_Abort)
            l_Reply->abort();
        l_Reply->deleteLater();
    };
    QObject::connect(l_Reply, &QNetworkReply::readyRead, l_Reply, [l_Reply, l_State] {
        if (!l_State->m_Done)
            l_State->m_Body.append(l_Reply->readAll());
    }, Qt::DirectConnection);
    QObject::connect(l_Reply, &QNetworkReply::finished, l_Reply, [l_Reply, l_State, p_Url, p_Success] {
        if (l_State->m_Done)
            return;
        l_State->m_Done = true;
        l_State->m_Body.append(l_Reply->readAll());
        const QByteArray l_Body = std::move(l_State->m_Body);
        l_Reply->deleteLater();
        p_Success(p_Url, l_Body);
    }, Qt::DirectConnection);
    QObject::connect(l_Reply, Compat::ReplyError, l_Reply, [l_Fail](QNetworkReply::NetworkError p_Code) {
        if (p_Code == QNetworkReply::RemoteHostClosedError || p_Code == QNetworkReply::UnknownContentError)
            l_Fail(int(p_Code), false);
    }, Qt::DirectConnection);
    WatchStall(l_Reply, [l_Fail] { l_Fail(int(QNetworkReply::TimeoutError), true); });
}

} // namespace CASC
} // namespace Orvane
