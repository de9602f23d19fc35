#pragma once
#include <QByteArray>
#include <QNetworkReply>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace Orvane {
namespace Launcher {

/// How one transfer ended: the facts the engine saw (Ending), and the one verdict drawn from them (Classify),
/// which decides what happens to the bytes the transfer already holds.
struct TransferResult
{
    enum class Verdict
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
    struct Facts
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

    static constexpr int PatienceMs = 1000;       ///< before a resume after 429 or 503
    static constexpr int MaxRetryAfterMs = 10000; ///< a longer Retry-After is cut to this

    Facts Ending;
    Verdict Outcome = Verdict::Complete; ///< set by Classify
    int BackOffMs = 0;                   ///< wait before the next request of a Resume
    qint64 ContentLength = -1; ///< of the final answer; -1 absent
    qint64 FullSize = 0;       ///< the whole resource as the server gave it (Content-Range total, Content-Length of a 200); 0 unknown
    qint64 BodyBytes = 0;      ///< bytes of this answer's body put into the sink
    QString Reason;            ///< why it failed, for the user (no credentials in it); empty when complete
    bool TlsFailed = false;    ///< the secure connection could not be made (Reason says why)
    bool OpenFailed = false;   ///< the sink could not be opened (WriteFailed, nothing received)

    /// The one classification of a transfer's ending: Outcome and BackOffMs from Ending.
    void Classify();
    /// A result holding p_Ending, classified.
    static TransferResult Classified(const Facts& p_Ending);

    /// A document (a body fetched whole into memory) is delivered only whole: a success status, its
    /// Content-Length reached or its chunked or close-delimited end read, nothing cut, stalled or stopped.
    static bool WholeDocument(const TransferResult& p_Result);
    /// A reason for p_Error a user can act on (TLS problems named); no credentials in it.
    static QString Describe(QNetworkReply::NetworkError p_Error, int p_Status, const QStringList& p_TlsProblems,
                            const QString& p_QtText);
    /// Whether p_Status's body is the resource (or the asked part of it) rather than an error page.
    static bool IsBody(int p_Status) { return p_Status == 200 || p_Status == 206; }
    /// "Retry-After: SECONDS"; -1 when absent or not a number (a date is read as absent).
    static int RetryAfter(const QByteArray& p_Value);
    /// Whether p_Error, with no answer, means the host cannot be reached (refused, unknown, TLS, proxy).
    static bool Unreachable(QNetworkReply::NetworkError p_Error);
    /// As logs and tests print it: "complete", "stopped", "resume" ...
    static const char* Name(Verdict p_Verdict);
};

} // namespace Launcher
} // namespace Orvane
