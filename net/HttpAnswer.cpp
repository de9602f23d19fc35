#include "net/HttpAnswer.h"
#include "net/TransferResult.h"

#include <QNetworkReply>
#include <QNetworkRequest>

#include <algorithm>

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
    switch (Status(p_Reply))
    {
    case 301: case 302: case 303: case 305: case 307: case 308:
        return p_Reply->hasRawHeader("Location");
    default:
        return false;
    }
}

QUrl HttpAnswer::RedirectTarget(const QNetworkReply* p_Reply, const QUrl& p_From)
{
    return p_From.resolved(QUrl::fromEncoded(p_Reply->rawHeader("Location").trimmed(), QUrl::TolerantMode));
}

QNetworkReply::NetworkError HttpAnswer::RedirectRefusal(const QUrl& p_From, const QUrl& p_To, QString* p_Why)
{
    const QString l_Scheme = p_To.scheme().toLower();
    if (!p_To.isValid())
        return *p_Why = "a redirect to an unreadable address", QNetworkReply::ProtocolFailure;
    if (p_To.host().isEmpty() || (l_Scheme != "http" && l_Scheme != "https"))
        return *p_Why = "a redirect to an address that cannot be fetched", QNetworkReply::ProtocolUnknownError;
    if (p_From.scheme().toLower() == "https" && l_Scheme == "http")
        return *p_Why = "a redirect from https down to http", QNetworkReply::InsecureRedirectError;
    return QNetworkReply::NoError;
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

void HttpAnswer::Read(const QNetworkReply* p_Reply, TransferResult& p_Result)
{
    TransferResult::Facts& l_Ending = p_Result.Ending;
    const int l_Status = Status(p_Reply);
    l_Ending.Status = l_Status;
    l_Ending.RangeStart = RangeStart(p_Reply);
    l_Ending.RangeTotal = RangeTotal(p_Reply);
    l_Ending.RetryAfterSeconds = TransferResult::RetryAfter(p_Reply->rawHeader("Retry-After"));
    bool l_HasLength = false;
    const qint64 l_Length = p_Reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&l_HasLength);
    p_Result.ContentLength = l_HasLength ? l_Length : -1;
    if (l_Status == 206 || l_Status == 416)
        p_Result.FullSize = std::max<qint64>(0, l_Ending.RangeTotal);
    else if (l_Status == 200)
        p_Result.FullSize = std::max<qint64>(0, p_Result.ContentLength);
    const QByteArray l_Encoding = p_Reply->rawHeader("Content-Encoding").trimmed().toLower();
    l_Ending.Encoded = !l_Encoding.isEmpty() && l_Encoding != "identity";
}

#ifndef QT_NO_SSL
QStringList HttpAnswer::TlsProblems(QStringList p_Known, const QList<QSslError>& p_Errors)
{
    for (const QSslError& l_Error : p_Errors)
    {
        switch (l_Error.error())
        {
        case QSslError::HostNameMismatch:
            p_Known << "the server's name does not match its certificate";
            break;
        case QSslError::CertificateExpired:
            p_Known << "the server's certificate has expired";
            break;
        case QSslError::SelfSignedCertificate:
        case QSslError::SelfSignedCertificateInChain:
        case QSslError::UnableToGetLocalIssuerCertificate:
        case QSslError::UnableToVerifyFirstCertificate:
        case QSslError::CertificateUntrusted:
        case QSslError::UnableToGetIssuerCertificate:
            p_Known << "the server's certificate is not trusted";
            break;
        default:
            p_Known << "TLS: " + l_Error.errorString();
            break;
        }
    }
    p_Known.removeDuplicates();
    return p_Known;
}
#endif

} // namespace Launcher
} // namespace Orvane
