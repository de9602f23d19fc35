#include "net/HttpAnswer.h"

#include <QNetworkReply>
#include <QUrl>

namespace Orvane {
namespace Launcher {

namespace {
/// The "A-B/N" part of a Content-Range header, split at '/'.
QList<QByteArray> RangeParts(const QNetworkReply* p_Reply)
{
    const QByteArray l_Value = p_Reply->rawHeader("Content-Range").trimmed();
    if (!l_Value.startsWith("bytes "))
        return {};
    return l_Value.mid(6).trimmed().split('/');
}
} // namespace

QNetworkRequest HttpAnswer::Request(const QString& p_Url)
{
    QNetworkRequest l_Request(QUrl(p_Url, QUrl::TolerantMode));
    l_Request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    l_Request.setMaximumRedirectsAllowed(MaxRedirects);
    return l_Request;
}

int HttpAnswer::Status(const QNetworkReply* p_Reply)
{
    return p_Reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

bool HttpAnswer::IsRedirect(const QNetworkReply* p_Reply)
{
    const int l_Status = Status(p_Reply);
    return l_Status >= 300 && l_Status < 400 && p_Reply->hasRawHeader("Location");
}

qint64 HttpAnswer::RangeStart(const QNetworkReply* p_Reply)
{
    const QList<QByteArray> l_Parts = RangeParts(p_Reply);
    bool l_Ok = false;
    const qint64 l_Start = l_Parts.value(0).split('-').value(0).toLongLong(&l_Ok);
    return l_Ok && l_Parts.size() == 2 ? l_Start : -1;
}

qint64 HttpAnswer::RangeTotal(const QNetworkReply* p_Reply)
{
    const QList<QByteArray> l_Parts = RangeParts(p_Reply);
    bool l_Ok = false;
    const qint64 l_Total = l_Parts.value(1).toLongLong(&l_Ok);
    return l_Ok && l_Parts.size() == 2 ? l_Total : -1;
}

bool HttpAnswer::CutShort(const QNetworkReply* p_Reply, qint64 p_BodyBytes)
{
    bool l_HasLength = false;
    const qint64 l_Length = p_Reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&l_HasLength);
    const QByteArray l_Encoding = p_Reply->rawHeader("Content-Encoding").trimmed().toLower();
    return p_Reply->error() == QNetworkReply::NoError && l_HasLength && l_Length > 0 && p_BodyBytes < l_Length &&
           (l_Encoding.isEmpty() || l_Encoding == "identity");
}

} // namespace Launcher
} // namespace Orvane
