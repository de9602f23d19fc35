#include "net/TransferResult.h"
#include "net/UrlText.h"

#include <algorithm>

namespace Orvane {
namespace Launcher {

namespace {
using Verdict = TransferResult::Verdict;

Verdict Judge(const TransferResult::Facts& p_Ending)
{
    if (p_Ending.WriteFailed)
        return Verdict::WriteFailed;
    if (p_Ending.StopAsked)
        return Verdict::Stopped;
    if (p_Ending.OverCap)
        return Verdict::TooLarge;
    const int l_Status = p_Ending.Status;
    if (l_Status == 0 && p_Ending.Unreachable)
        return Verdict::Permanent; // this host cannot be reached: another one may
    const bool l_Ranged = p_Ending.AskedFrom > 0;

    if (l_Status == 416)
    {
        // Nothing left to send from there: the kept bytes may be the whole file.
        if (l_Ranged && (p_Ending.RangeTotal < 0 || p_Ending.RangeTotal == p_Ending.Kept))
            return Verdict::Check;
        if (l_Ranged && p_Ending.RangeTotal >= 0 && p_Ending.RangeTotal < p_Ending.Kept)
            return Verdict::StartAgain;
        return Verdict::Resume; // says nothing about the kept bytes
    }
    if (TransferResult::IsBody(l_Status) && p_Ending.Encoded)
        return Verdict::Refused;
    // Without a Range a part can only be from the first byte.
    if (l_Status == 206 && p_Ending.RangeStart != std::max<qint64>(0, p_Ending.AskedFrom))
        return Verdict::Refused;
    if (l_Status == 200 && l_Ranged && p_Ending.Kept > 0)
    {
        // The whole body to a Range request: start over only where ranges cannot work at all.
        if (!p_Ending.RangesSupported)
            return p_Ending.BodyComplete && p_Ending.Error == QNetworkReply::NoError ? Verdict::Complete
                                                                                     : Verdict::Resume;
        return Verdict::Refused;
    }
    if (l_Status == 404 || l_Status == 410 ||
        (l_Status >= 400 && l_Status < 500 && l_Status != 408 && l_Status != 429 && l_Status != 416))
        return Verdict::Permanent;
    if (TransferResult::IsBody(l_Status) && p_Ending.BodyComplete && !p_Ending.Stalled &&
        (p_Ending.Error == QNetworkReply::NoError || p_Ending.Error == QNetworkReply::OperationCanceledError))
        return Verdict::Complete;
    // Closed, stalled, timed out, refused connection, 5xx, 408, 429, a redirect left at the end of a chain,
    // a TLS failure: none of it says anything against the bytes already kept.
    return Verdict::Resume;
}
} // namespace

void TransferResult::Classify()
{
    Outcome = Judge(Ending);
    BackOffMs = 0;
    if (Outcome == Verdict::Resume && (Ending.Status == 429 || Ending.Status == 503))
    {
        // The server asked for patience: a short wait, longer when it says so, within a bound.
        BackOffMs = Ending.RetryAfterSeconds >= 0
                        ? int(std::min<qint64>(qint64(Ending.RetryAfterSeconds) * 1000, MaxRetryAfterMs))
                        : PatienceMs;
    }
}

TransferResult TransferResult::Classified(const Facts& p_Ending)
{
    TransferResult l_Result;
    l_Result.Ending = p_Ending;
    l_Result.Classify();
    return l_Result;
}

bool TransferResult::WholeDocument(const TransferResult& p_Result)
{
    const Facts& l_Ending = p_Result.Ending;
    return IsBody(l_Ending.Status) && !l_Ending.Encoded && l_Ending.BodyComplete && !l_Ending.Stalled &&
           !l_Ending.OverCap && !l_Ending.StopAsked && !l_Ending.WriteFailed &&
           (l_Ending.Error == QNetworkReply::NoError || l_Ending.Error == QNetworkReply::OperationCanceledError);
}

QString TransferResult::Describe(QNetworkReply::NetworkError p_Error, int p_Status, const QStringList& p_TlsProblems,
                                 const QString& p_QtText)
{
    if (!p_TlsProblems.isEmpty())
        return p_TlsProblems.join("; ");
    if (p_Error == QNetworkReply::SslHandshakeFailedError)
        return "the secure connection failed: " + UrlText::Scrub(p_QtText);
    if (p_Status >= 300)
        return "the server answered " + QString::number(p_Status) + (p_Status == 404 ? " (not found)" : "");
    // In the user's words; a proxy is told apart from the server it stands for.
    switch (p_Error)
    {
        case QNetworkReply::NoError: return QString();
        case QNetworkReply::ConnectionRefusedError: return QStringLiteral("connection refused");
        case QNetworkReply::HostNotFoundError: return QStringLiteral("host name not found");
        case QNetworkReply::TimeoutError: return QStringLiteral("timed out");
        case QNetworkReply::RemoteHostClosedError: return QStringLiteral("the server closed the connection");
        case QNetworkReply::ProxyConnectionRefusedError: return QStringLiteral("the proxy refused the connection");
        case QNetworkReply::ProxyConnectionClosedError: return QStringLiteral("the proxy closed the connection");
        case QNetworkReply::ProxyNotFoundError: return QStringLiteral("the proxy's host name was not found");
        case QNetworkReply::ProxyTimeoutError: return QStringLiteral("the proxy timed out");
        case QNetworkReply::ProxyAuthenticationRequiredError: return QStringLiteral("the proxy asks for credentials");
        default: return UrlText::Scrub(p_QtText);
    }
}

int TransferResult::RetryAfter(const QByteArray& p_Value)
{
    bool l_Ok = false;
    const qint64 l_Seconds = p_Value.trimmed().toLongLong(&l_Ok);
    return l_Ok && l_Seconds >= 0 ? int(std::min<qint64>(l_Seconds, 1000000)) : -1;
}

bool TransferResult::Unreachable(QNetworkReply::NetworkError p_Error)
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

const char* TransferResult::Name(Verdict p_Verdict)
{
    switch (p_Verdict)
    {
    case Verdict::Complete: return "complete";
    case Verdict::Stopped: return "stopped";
    case Verdict::Resume: return "resume";
    case Verdict::Check: return "check";
    case Verdict::StartAgain: return "start again";
    case Verdict::Refused: return "refused";
    case Verdict::Permanent: return "permanent";
    case Verdict::WriteFailed: return "write failed";
    case Verdict::TooLarge: return "too large";
    }
    return "?";
}

} // namespace Launcher
} // namespace Orvane
