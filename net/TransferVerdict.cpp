#include "net/TransferVerdict.h"

#include <algorithm>

namespace Orvane {
namespace Launcher {

namespace {
TransferOutcome Resume(const TransferEnding& p_Ending)
{
    TransferOutcome l_Outcome{TransferVerdict::Resume, 0};
    if (p_Ending.Status == 429 || p_Ending.Status == 503)
    {
        // The server asked for patience: a short wait, longer when it says so, within a bound.
        l_Outcome.BackOffMs = p_Ending.RetryAfterSeconds >= 0
                                  ? int(std::min<qint64>(qint64(p_Ending.RetryAfterSeconds) * 1000,
                                                         TransferClassifier::MaxRetryAfterMs))
                                  : TransferClassifier::BackOffMs;
    }
    return l_Outcome;
}
} // namespace

TransferOutcome TransferClassifier::Classify(const TransferEnding& p_Ending)
{
    if (p_Ending.WriteFailed)
        return {TransferVerdict::WriteFailed, 0};
    if (p_Ending.StopAsked)
        return {TransferVerdict::Stopped, 0};
    if (p_Ending.OverCap)
        return {TransferVerdict::TooLarge, 0};
    const int l_Status = p_Ending.Status;
    if (l_Status == 0 && p_Ending.Unreachable)
        return {TransferVerdict::Permanent, 0}; // this host cannot be reached: another one may
    const bool l_Ranged = p_Ending.AskedFrom > 0;

    if (l_Status == 416)
    {
        // Nothing left to send from there: the kept bytes may be the whole file.
        if (l_Ranged && (p_Ending.RangeTotal < 0 || p_Ending.RangeTotal == p_Ending.Kept))
            return {TransferVerdict::Check, 0};
        if (l_Ranged && p_Ending.RangeTotal >= 0 && p_Ending.RangeTotal < p_Ending.Kept)
            return {TransferVerdict::StartAgain, 0};
        return Resume(p_Ending); // says nothing about the kept bytes
    }
    if (IsBody(l_Status) && p_Ending.Encoded)
        return {TransferVerdict::Refused, 0};
    // Without a Range a part can only be from the first byte.
    if (l_Status == 206 && p_Ending.RangeStart != std::max<qint64>(0, p_Ending.AskedFrom))
        return {TransferVerdict::Refused, 0};
    if (l_Status == 200 && l_Ranged && p_Ending.Kept > 0)
    {
        // The whole body to a Range request: start over only where ranges cannot work at all.
        if (!p_Ending.RangesSupported)
            return {p_Ending.BodyComplete && p_Ending.Error == QNetworkReply::NoError ? TransferVerdict::Complete
                                                                                       : TransferVerdict::Resume,
                    0};
        return {TransferVerdict::Refused, 0};
    }
    if (l_Status == 404 || l_Status == 410 ||
        (l_Status >= 400 && l_Status < 500 && l_Status != 408 && l_Status != 429 && l_Status != 416))
        return {TransferVerdict::Permanent, 0};
    if (IsBody(l_Status) && p_Ending.BodyComplete && !p_Ending.Stalled &&
        (p_Ending.Error == QNetworkReply::NoError || p_Ending.Error == QNetworkReply::OperationCanceledError))
        return {TransferVerdict::Complete, 0};
    // Closed, stalled, timed out, refused connection, 5xx, 408, 429, a redirect left at the end of a chain,
    // a TLS failure: none of it says anything against the bytes already kept.
    return Resume(p_Ending);
}

int TransferClassifier::RetryAfter(const QByteArray& p_Value)
{
    bool l_Ok = false;
    const qint64 l_Seconds = p_Value.trimmed().toLongLong(&l_Ok);
    return l_Ok && l_Seconds >= 0 ? int(std::min<qint64>(l_Seconds, 1000000)) : -1;
}

bool TransferClassifier::Unreachable(QNetworkReply::NetworkError p_Error)
{
    switch (p_Error)
    {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::SslHandshakeFailedError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
    case QNetworkReply::ProtocolUnknownError:
        return true;
    default:
        return false;
    }
}

const char* TransferClassifier::Name(TransferVerdict p_Verdict)
{
    switch (p_Verdict)
    {
    case TransferVerdict::Complete: return "complete";
    case TransferVerdict::Stopped: return "stopped";
    case TransferVerdict::Resume: return "resume";
    case TransferVerdict::Check: return "check";
    case TransferVerdict::StartAgain: return "start again";
    case TransferVerdict::Refused: return "refused";
    case TransferVerdict::Permanent: return "permanent";
    case TransferVerdict::WriteFailed: return "write failed";
    case TransferVerdict::TooLarge: return "too large";
    }
    return "?";
}

} // namespace Launcher
} // namespace Orvane
