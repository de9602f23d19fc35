#include "LinkConnection.h"

#include "platform/QtCompat.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace {
/// One clock for every connection: a shared cap compares their release times.
qint64 Now()
{
    static QElapsedTimer s_Clock = [] {
        QElapsedTimer l_Clock;
        l_Clock.start();
        return l_Clock;
    }();
    return s_Clock.nsecsElapsed();
}
} // namespace

LinkConnection::LinkConnection(QTcpSocket* p_Client, quint16 p_UpstreamPort, Link p_Link, QObject* p_Parent)
    : QObject(p_Parent), m_Link(p_Link)
{
    p_Client->setParent(this);
    auto* l_Server = new QTcpSocket(this);
    m_Up.From = p_Client;
    m_Up.To = l_Server;
    m_Down.From = l_Server;
    m_Down.To = p_Client;
    Wire(m_Up);
    Wire(m_Down);
    // The client's first bytes leave once its handshake is done, one round trip after it connected.
    m_Up.LastRelease = Now() + m_Link.HalfRttNs * 3;
    connect(l_Server, &QTcpSocket::connected, this, [this] {
        m_Connected = true;
        Release(m_Up);
    });
    // The handshake of a real link costs one round trip before the request can leave.
    QTimer::singleShot(int(m_Link.HalfRttNs * 2 / 1000000), this,
                       [this, l_Server, p_UpstreamPort] { l_Server->connectToHost(QHostAddress::LocalHost, p_UpstreamPort); });
    Take(m_Up);
}

void LinkConnection::Wire(Direction& p_Dir)
{
    Direction* l_Dir = &p_Dir;
    // Qt stops reading the socket when this fills: the sender then feels the back-pressure.
    p_Dir.From->setReadBufferSize(c_Chunk);
    p_Dir.Timer = new QTimer(this);
    p_Dir.Timer->setSingleShot(true);
    p_Dir.Timer->setTimerType(Qt::PreciseTimer);
    connect(p_Dir.Timer, &QTimer::timeout, this, [this, l_Dir] { Release(*l_Dir); });
    connect(p_Dir.From, &QTcpSocket::readyRead, this, [this, l_Dir] { Take(*l_Dir); });
    connect(p_Dir.From, &QTcpSocket::disconnected, this, [this, l_Dir] {
        Take(*l_Dir);
        l_Dir->Ended = true;
        Release(*l_Dir);
    });
    connect(p_Dir.To, &QTcpSocket::bytesWritten, this, [this, l_Dir] { Release(*l_Dir); });
    connect(p_Dir.From, Orvane::Compat::SocketError, this, [this, l_Dir](QAbstractSocket::SocketError p_Error) {
        if (p_Error == QAbstractSocket::RemoteHostClosedError)
            return; // handled as an end once the queue is out
        Close();
    });
}

void LinkConnection::Take(Direction& p_Dir)
{
    const qint64 l_Now = Now();
    while (p_Dir.Queued < c_Bound && p_Dir.From->bytesAvailable() > 0)
    {
        QByteArray l_Data = p_Dir.From->read(c_Chunk);
        const qint64 l_Wire = m_Link.BytesPerSecond > 0 ? l_Data.size() * 1000000000LL / m_Link.BytesPerSecond : 0;
        qint64* l_Shared = m_Link.SharedLast ? &m_Link.SharedLast[&p_Dir == &m_Down ? 1 : 0] : nullptr;
        const qint64 l_Release = l_Shared ? std::max({l_Now + m_Link.HalfRttNs, p_Dir.LastRelease, *l_Shared + l_Wire})
                                          : std::max(l_Now + m_Link.HalfRttNs, p_Dir.LastRelease + l_Wire);
        p_Dir.LastRelease = l_Release;
        if (l_Shared)
            *l_Shared = l_Release;
        p_Dir.Queued += l_Data.size();
        p_Dir.Queue.emplace_back(l_Release, std::move(l_Data));
    }
    if (!p_Dir.Timer->isActive())
        Release(p_Dir);
}

void LinkConnection::Release(Direction& p_Dir)
{
    if (m_Closed || !m_Connected)
        return;
    if (p_Dir.To->state() != QAbstractSocket::ConnectedState)
    {
        // The receiver is gone: nothing left to deliver to it.
        p_Dir.Queue.clear();
        p_Dir.Queued = 0;
        if (p_Dir.Ended && p_Dir.To->state() == QAbstractSocket::UnconnectedState)
            Close();
        return;
    }
    const qint64 l_Now = Now();
    bool l_Freed = false;
    while (!p_Dir.Queue.empty() && p_Dir.Queue.front().first <= l_Now && p_Dir.To->bytesToWrite() < c_Bound)
    {
        p_Dir.To->write(p_Dir.Queue.front().second);
        p_Dir.Queued -= p_Dir.Queue.front().second.size();
        p_Dir.Queue.pop_front();
        l_Freed = true;
    }
    if (l_Freed && p_Dir.From->bytesAvailable() > 0)
    {
        Take(p_Dir);
        return;
    }
    if (!p_Dir.Queue.empty())
    {
        if (p_Dir.Queue.front().first > l_Now)
            p_Dir.Timer->start(int((p_Dir.Queue.front().first - l_Now + 999999) / 1000000));
        return; // otherwise bytesWritten calls again
    }
    if (p_Dir.Ended)
    {
        // Everything sent: the close reaches the other side half a round trip after the last byte.
        p_Dir.To->disconnectFromHost();
        if (m_Up.Ended && m_Down.Ended && m_Up.To->bytesToWrite() == 0 && m_Down.To->bytesToWrite() == 0)
            Close();
    }
}

void LinkConnection::Close()
{
    if (m_Closed)
        return;
    m_Closed = true;
    m_Up.Timer->stop();
    m_Down.Timer->stop();
    m_Up.From->abort();
    m_Down.From->abort();
    deleteLater();
}
