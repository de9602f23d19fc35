#pragma once
#include <QtGlobal>

#include <functional>

class QByteArray;
class QNetworkReply;

namespace Orvane {
namespace Launcher {

class RateLimiter;
class TransferSink;
struct TransferRequest;
struct TransferResult;

/// The body of one answer on its way into the sink: whether it fits what is asked and kept, how much of it the
/// sink may hold, the first bytes to read past (a whole body sent to a Range the sink partly holds), and the
/// reads themselves. Used on the transfer's thread.
class TransferBody
{
public:
    enum class Taken
    {
        Ok,          ///< everything allowed was taken (or the reply had no more)
        Stopped,     ///< a stop was asked between two reads
        OverCap,     ///< the body ran past its bound: the rest is dropped
        WriteFailed, ///< the sink refused the bytes
    };

    /// Whether the final answer's body (200 or 206, headers read into p_Result) fits what p_Request asked and
    /// what p_Sink keeps; if so it is the new body, bound by p_Sink's cap and its own length. False: cut it
    /// (compressed, another offset, a whole body to a Range where ranges work).
    bool Accept(const TransferRequest& p_Request, TransferResult& p_Result, const QByteArray& p_AcceptRanges,
                const TransferSink* p_Sink);

    /// Reads at most p_Allowed bytes of p_Reply into p_Sink (paying p_Limiter, null: none), asking p_Stop
    /// between reads; p_Written hears each piece the sink took.
    Taken Take(QNetworkReply* p_Reply, TransferSink* p_Sink, RateLimiter* p_Limiter, qint64 p_Allowed,
               const std::function<bool()>& p_Stop, const std::function<void(qint64)>& p_Written);

    qint64 Cap() const { return m_Cap; }
    /// Bytes of the body read from the reply, those read past included.
    qint64 Read() const { return m_Read; }

private:
    /// The body's length as the request or the answer gives it, -1 unknown: asked range, Content-Length,
    /// Content-Range total, the size an earlier answer gave. p_From: where the body's first byte lies.
    static qint64 Length(const TransferRequest& p_Request, int p_Status, qint64 p_From, qint64 p_ContentLength,
                         qint64 p_RangeTotal);

    // All: the transfer's thread.
    qint64 m_Cap = -1;  ///< bytes the sink may hold; -1 unbounded
    qint64 m_Skip = 0;  ///< first bytes of the body still to read past (the sink holds them)
    qint64 m_Read = 0;  ///< bytes of the body read from the reply, skipped ones included
};

} // namespace Launcher
} // namespace Orvane
