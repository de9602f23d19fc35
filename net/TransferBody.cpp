#include "net/TransferBody.h"
#include "net/NetLog.h"
#include "net/RateLimiter.h"
#include "net/TransferResult.h"
#include "net/TransferRequest.h"
#include "net/TransferSink.h"
#include "net/UrlText.h"

#include <QDebug>
#include <QNetworkReply>

#include <algorithm>

namespace Orvane {
namespace Launcher {

qint64 TransferBody::Length(const TransferRequest& p_Request, int p_Status, qint64 p_From, qint64 p_ContentLength,
                            qint64 p_RangeTotal)
{
    qint64 l_Body = -1;
    if (p_Request.ExpectedSize >= 0)
        l_Body = p_Request.ExpectedSize - p_From;
    if (p_Status == 206 && p_Request.To >= 0)
        l_Body = p_Request.To - p_From + 1;
    if (l_Body < 0 && p_ContentLength >= 0)
        l_Body = p_ContentLength;
    if (l_Body < 0 && p_Status == 206 && p_RangeTotal >= 0)
        l_Body = p_RangeTotal - p_From;
    if (l_Body < 0 && p_Status == 200 && p_Request.SizeHint > 0)
        l_Body = p_Request.SizeHint;
    return l_Body;
}

bool TransferBody::Accept(const TransferRequest& p_Request, TransferResult& p_Result, const QByteArray& p_AcceptRanges,
                          const TransferSink* p_Sink)
{
    TransferResult::Facts& l_Ending = p_Result.Ending;
    const int l_Status = l_Ending.Status;
    if (l_Ending.Encoded)
        return false;
    // A 206 to a request without Range is a part from the first byte or nothing.
    const qint64 l_Asked = std::max<qint64>(0, p_Request.From);
    if (l_Status == 206 && l_Ending.RangeStart != l_Asked)
    {
        qCWarning(NetLog) << "Transfer answered from byte" << l_Ending.RangeStart << "instead of" << l_Asked << "for \""
                          << UrlText::Safe(p_Request.Url) << "\"";
        return false;
    }
    // Where the body's first byte lies in the resource.
    const qint64 l_From = l_Status == 206 ? l_Asked : 0;
    m_Skip = 0;
    if (l_Status == 200 && p_Request.From > 0 && l_Ending.Kept > 0)
    {
        l_Ending.RangesSupported = p_AcceptRanges.contains("bytes");
        if (l_Ending.RangesSupported)
        {
            // Ranges work here, only not this time: the kept bytes stay, the whole body is not appended.
            qCWarning(NetLog) << "Transfer range ignored (200) for \"" << UrlText::Safe(p_Request.Url)
                              << "\", bytes kept";
            return false;
        }
        // The kept bytes stay: the body's first bytes are read past, the rest appended. A cut here leaves the
        // part as long as it was; a resource that changed fails its digest as it would have.
        qCWarning(NetLog) << "Transfer the server cannot do ranges: reading \"" << UrlText::Safe(p_Request.Url)
                          << "\" past its first" << l_Ending.Kept << "bytes";
        m_Skip = l_Ending.Kept;
    }
    if (p_AcceptRanges == "none")
        l_Ending.RangesSupported = false;
    // Bound: the sink's own cap, and the length of this body: a body that runs on past it is cut, not appended.
    m_Read = 0;
    m_Cap = p_Sink ? p_Sink->Cap() : -1;
    const qint64 l_Length = Length(p_Request, l_Status, l_From, p_Result.ContentLength, l_Ending.RangeTotal);
    if (l_Length >= 0)
    {
        const qint64 l_Bound = l_Ending.Kept + std::max<qint64>(0, l_Length - m_Skip);
        m_Cap = m_Cap >= 0 ? std::min(m_Cap, l_Bound) : l_Bound;
    }
    return true;
}

TransferBody::Taken TransferBody::Take(QNetworkReply* p_Reply, TransferSink* p_Sink, RateLimiter* p_Limiter,
                                       qint64 p_Allowed, const std::function<bool()>& p_Stop,
                                       const std::function<void(qint64)>& p_Written)
{
    // Read into the sink's room and written from it: no array per chunk, and a hashed file is hashed from
    // the same place.
    qint64 l_Left = p_Allowed;
    while (l_Left > 0)
    {
        // A stop is not kept waiting for what the reply holds (up to the read bound) to reach the disk.
        if (p_Stop())
            return Taken::Stopped;
        if (m_Skip > 0)
        {
            // The first bytes of a whole body the sink holds already.
            const qint64 l_Skipped = p_Reply->skip(std::min(m_Skip, l_Left));
            if (l_Skipped <= 0)
                break;
            m_Skip -= l_Skipped;
            m_Read += l_Skipped;
            l_Left -= l_Skipped;
            if (p_Limiter)
                p_Limiter->Spend(l_Skipped);
            continue;
        }
        qint64 l_Room = l_Left;
        char* l_Into = p_Sink->Room(&l_Room);
        const qint64 l_Read = p_Reply->read(l_Into, l_Room);
        if (l_Read <= 0)
            break;
        l_Left -= l_Read;
        m_Read += l_Read;
        if (p_Limiter)
            p_Limiter->Spend(l_Read);
        qint64 l_Keep = l_Read;
        bool l_Over = false;
        if (m_Cap >= 0 && p_Sink->Size() + l_Keep > m_Cap)
        {
            l_Keep = std::max<qint64>(0, m_Cap - p_Sink->Size());
            l_Over = true;
        }
        const qint64 l_Before = p_Sink->Size();
        const bool l_Written = l_Keep == 0 || p_Sink->WriteRoom(l_Keep);
        const qint64 l_Taken = p_Sink->Size() - l_Before;
        if (l_Taken > 0)
            p_Written(l_Taken);
        if (!l_Written)
            return Taken::WriteFailed;
        if (l_Over)
            return Taken::OverCap;
    }
    return Taken::Ok;
}

} // namespace Launcher
} // namespace Orvane
