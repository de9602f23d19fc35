#pragma once
#include <QNetworkReply>
#ifndef QT_NO_SSL
#include <QSslError>
#endif
#include <QString>
#include <QStringList>
#include <QUrl>

namespace Orvane {
namespace Launcher {

struct TransferResult;

/// How an answer's headers read: status, redirects, ranges, certificate problems. Used by the transfer engine.
class HttpAnswer
{
public:
    /// The HTTP status, 0 before the status line (or for another scheme).
    static int Status(const QNetworkReply* p_Reply);
    /// A 3xx answer that leads elsewhere (Location): not the final answer.
    static bool IsRedirect(const QNetworkReply* p_Reply);
    /// Where p_Reply's redirect leads, resolved against p_From (the URL it answered).
    static QUrl RedirectTarget(const QNetworkReply* p_Reply, const QUrl& p_From);
    /// Why a redirect from p_From to p_To is not followed (p_Why for the user), NoError when it is. Followed
    /// only to http or https with a host, and never from https down to http.
    static QNetworkReply::NetworkError RedirectRefusal(const QUrl& p_From, const QUrl& p_To, QString* p_Why);

    /// First byte and total size of a "Content-Range: bytes A-B/N" (or "bytes */N") header;
    /// -1 for a part that is absent or unreadable.
    static qint64 RangeStart(const QNetworkReply* p_Reply);
    static qint64 RangeTotal(const QNetworkReply* p_Reply);
    /// Puts the final answer's headers into p_Result: status, Content-Range, Retry-After, Content-Encoding,
    /// Content-Length and the whole resource's size they give.
    static void Read(const QNetworkReply* p_Reply, TransferResult& p_Result);

#ifndef QT_NO_SSL
    /// p_Known and what is wrong with the server's certificate by p_Errors, in the user's words, each once.
    static QStringList TlsProblems(QStringList p_Known, const QList<QSslError>& p_Errors);
#endif
};

} // namespace Launcher
} // namespace Orvane
