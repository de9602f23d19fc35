#pragma once
#include <QString>

class QNetworkReply;

namespace Orvane {
namespace Launcher {

/// How an answer's headers read: status, redirects, ranges. Used by the transfer engine.
class HttpAnswer
{
public:
    /// The HTTP status, 0 before the status line (or for another scheme).
    static int Status(const QNetworkReply* p_Reply);
    /// A 3xx answer that Qt follows by itself, or one it is following (the reply not finished yet): not the
    /// final answer yet.
    static bool IsRedirect(const QNetworkReply* p_Reply);

    /// First byte and total size of a "Content-Range: bytes A-B/N" (or "bytes */N") header;
    /// -1 for a part that is absent or unreadable.
    static qint64 RangeStart(const QNetworkReply* p_Reply);
    static qint64 RangeTotal(const QNetworkReply* p_Reply);
};

} // namespace Launcher
} // namespace Orvane
