#pragma once
#include <QByteArray>
#include <QNetworkReply>
#include <QtGlobal>

namespace Orvane {
namespace Launcher {

/// What happens to the bytes a transfer already holds, decided once for every way a transfer ends.
enum class TransferVerdict
{
    Complete,    ///< the body (or the asked range) arrived whole
    Stopped,     ///< a stop was asked; bytes kept
    Resume,      ///< bytes kept; ask again from what is kept (closed, stall, time-out, 5xx, 408, 429 ...)
    Check,       ///< 416 on a file that may be whole: the caller checks its content
    StartAgain,  ///< the kept bytes are not part of this resource any more (416 past its end; no ranges at all)
    Refused,     ///< the answer does not fit the kept bytes (206 from another offset, 200 to a Range): kept, not appended
    Permanent,   ///< 404, 410 and other 4xx: this host will not serve it; bytes kept, try another host
    WriteFailed, ///< the sink did not take the bytes (full disk, lost device)
    TooLarge,    ///< more bytes than the known size or the document bound
};

/// The facts of one ended transfer, as the engine saw them.
struct TransferEnding
{
    QNetworkReply::NetworkError Error = QNetworkReply::NoError;
    int Status = 0;              ///< HTTP status of the final answer; 0: none came
    bool StopAsked = false;
    bool Stalled = false;        ///< aborted by the watchdog
    bool WriteFailed = false;
    bool OverCap = false;
    qint64 AskedFrom = -1;       ///< first byte asked with Range; -1: no Range
    qint64 Kept = 0;             ///< bytes the sink held before this answer
    qint64 RangeStart = -1;      ///< first byte of the Content-Range; -1 absent
    qint64 RangeTotal = -1;      ///< total of the Content-Range; -1 absent or "*"
    bool RangesSupported = true; ///< no "Accept-Ranges: none", and no 200 without "Accept-Ranges: bytes" to a Range
    bool BodyComplete = false;   ///< the body's Content-Length (or the end of an unsized body) was reached
    int RetryAfterSeconds = -1;  ///< Retry-After of the answer; -1 absent
    bool Encoded = false;        ///< the body came compressed although identity was asked: not the resource's bytes
    bool Unreachable = false;    ///< no answer at all: refused connection, unknown host, TLS or proxy failure
};

struct TransferOutcome
{
    TransferVerdict Verdict = TransferVerdict::Complete;
    int BackOffMs = 0; ///< wait before the next request of a Resume
};

/// The one classification of a transfer's ending.
class TransferClassifier
{
public:
    static constexpr int BackOffMs = 1000;        ///< before a resume after 429 or 503
    static constexpr int MaxRetryAfterMs = 10000; ///< a longer Retry-After is cut to this

    static TransferOutcome Classify(const TransferEnding& p_Ending);
    /// Whether p_Status's body is the resource (or the asked part of it) rather than an error page.
    static bool IsBody(int p_Status) { return p_Status == 200 || p_Status == 206; }
    /// "Retry-After: SECONDS"; -1 when absent or not a number (a date is read as absent).
    static int RetryAfter(const QByteArray& p_Value);
    /// Whether p_Error, with no answer, means the host cannot be reached (refused, unknown, TLS, proxy).
    static bool Unreachable(QNetworkReply::NetworkError p_Error);
    static const char* Name(TransferVerdict p_Verdict);
};

} // namespace Launcher
} // namespace Orvane
