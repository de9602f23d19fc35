#include "net/TransferRequest.h"
#include "net/Deployment.h"
#include "net/RateLimiter.h"

#include "KestrunVersion.h"

#include <QNetworkRequest>
#include <QUrl>

namespace Orvane {
namespace Launcher {

namespace {
constexpr qint64 c_SizeReadBuffer = 16384; // a size asked with GET: the body is never wanted
} // namespace

QNetworkRequest TransferRequest::Network() const
{
    QNetworkRequest l_Request(QUrl(Url, QUrl::TolerantMode));
    // Redirects are followed by the transfer, not by Qt: Qt 5 may send a redirected request once more to the
    // host that redirected it when its network thread runs late, and an answer then arrives twice.
    l_Request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    // A compressed answer would break ranges and sizes.
    l_Request.setRawHeader("Accept-Encoding", "identity");
    l_Request.setHeader(QNetworkRequest::UserAgentHeader, QByteArray("Kestrun/") + KESTRUN_VERSION);
    if (From >= 0 && !SizeOnly)
        l_Request.setRawHeader("Range", "bytes=" + QByteArray::number(From) + "-" +
                                            (To >= 0 ? QByteArray::number(To) : QByteArray()));
    if (Pipelined && !SizeOnly)
        l_Request.setAttribute(QNetworkRequest::HttpPipeliningAllowedAttribute, true);
    return l_Request;
}

qint64 TransferRequest::ReadBuffer(const RateLimiter* p_Limiter) const
{
    // Bounded from the first byte, whatever the size: unbounded, a reply nobody reads yet (one sent ahead, one
    // whose file is still being created) or one whose writer falls behind holds the rest of its file in memory.
    // Qt drops the bytes it holds back for the bound when the connection closes, and it holds back only while
    // the reply holds the bound already: high enough that a writer that keeps up never gets there, a cut then
    // costs no byte that arrived. Under a limit a small buffer makes the server feel it instead of filling
    // memory at full speed.
    if (SizeOnly)
        return c_SizeReadBuffer;
    if (p_Limiter && p_Limiter->Limited())
        return qBound<qint64>(16 * 1024, p_Limiter->Rate() / 4, Deployment::ReadBufferBytes());
    return Deployment::HeldBodyBytes();
}

int TransferRequest::SilenceMs() const
{
    return SizeOnly ? Deployment::SizeTimeoutMs() : Deployment::StallTimeoutMs();
}

} // namespace Launcher
} // namespace Orvane
