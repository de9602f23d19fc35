#pragma once
#include <QNetworkRequest>
#include <QString>

class QNetworkReply;

namespace Orvane {
namespace Launcher {

/// How every request of the module is made and how its answer is read: redirects followed (at most
/// MaxRedirects hops, never from https down to http), status, ranges and bodies cut short.
class HttpAnswer
{
public:
    static constexpr int MaxRedirects = 5;

    /// A GET request for p_Url (parsed in tolerant mode) that follows redirects.
    static QNetworkRequest Request(const QString& p_Url);

    /// The HTTP status, 0 before the status line (or for another scheme).
    static int Status(const QNetworkReply* p_Reply);
    /// 4xx, 5xx, or a 3xx left at the end of a chain (too many hops): the body is not the resource.
    static bool IsError(int p_Status) { return p_Status >= 300; }
    /// A 3xx answer that Qt follows by itself: not the final answer yet.
    static bool IsRedirect(const QNetworkReply* p_Reply);

    /// First byte and total size of a "Content-Range: bytes A-B/N" (or "bytes */N") header;
    /// -1 for a part that is absent or unreadable.
    static qint64 RangeStart(const QNetworkReply* p_Reply);
    static qint64 RangeTotal(const QNetworkReply* p_Reply);

    /// Qt can end a reply whose connection closed mid-body without an error: true when the reply ended
    /// without one after p_BodyBytes of its Content-Length. A compressed body is counted after decoding,
    /// so it is never judged.
    static bool CutShort(const QNetworkReply* p_Reply, qint64 p_BodyBytes);
};

} // namespace Launcher
} // namespace Orvane
