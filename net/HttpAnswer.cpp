#include "net/HttpAnswer.h"

#include <QNetworkReply>
#include <QNetworkRequest>

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

int HttpAnswer::Status(const QNetworkReply* p_Reply)
{
    return p_Reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

bool HttpAnswer::IsRedirect(const QNetworkReply* p_Reply)
{
    const int l_Status = Status(p_Reply);
    // While Qt sends the next request of a chain, the reply keeps the 3xx status without its headers.
    return l_Status >= 300 && l_Status < 400 && (p_Reply->hasRawHeader("Location") || !p_Reply->isFinished());
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

} // namespace Launcher
} // namespace Orvane
