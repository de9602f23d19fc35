#pragma once
#include <QString>
#include <QtGlobal>

class QNetworkRequest;

namespace Orvane {
namespace Launcher {

class RateLimiter;

/// What one transfer asks for.
struct TransferRequest
{
    QString Url;
    qint64 From = -1;         ///< first byte asked with Range; -1: the whole resource
    qint64 To = -1;           ///< last byte asked (inclusive) with From; -1: to the end
    qint64 ExpectedSize = -1; ///< bytes of the whole resource when known (bounds what is taken); -1 unknown
    bool SizeOnly = false;    ///< only the headers: HEAD, or a GET dropped after its headers where HEAD is refused
    /// Bytes of the whole resource as an earlier answer gave them (-1 unknown): bounds a whole body whose answer
    /// tells no length of its own (close-delimited, no Content-Length).
    qint64 SizeHint = -1;
    /// Another GET may be sent behind this one on its connection before its answer ends (HTTP pipelining).
    bool Pipelined = false;

    /// Whole resource appended to what the sink holds (p_Kept > 0: asked from there).
    static TransferRequest Append(const QString& p_Url, qint64 p_Kept, qint64 p_ExpectedSize = -1)
    {
        TransferRequest l_Request;
        l_Request.Url = p_Url;
        l_Request.From = p_Kept > 0 ? p_Kept : -1;
        l_Request.ExpectedSize = p_ExpectedSize;
        return l_Request;
    }

    /// The request as it goes out: tolerant URL, redirects left to the transfer, identity encoding, the
    /// module's User-Agent, the Range, and pipelining when allowed.
    QNetworkRequest Network() const;
    /// The read buffer of its reply (QNetworkReply::setReadBufferSize; 0 unbounded) under p_Limiter (null: none).
    qint64 ReadBuffer(const RateLimiter* p_Limiter) const;
    /// How long its answer may stay silent before it counts as stalled.
    int SilenceMs() const;
};

} // namespace Launcher
} // namespace Orvane
