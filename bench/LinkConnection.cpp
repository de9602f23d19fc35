#include "LinkConnection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {
constexpr unsigned c_SpliceFlags = SPLICE_F_NONBLOCK | SPLICE_F_MOVE;
constexpr int c_PipeBytes = 1024 * 1024;
} // namespace

LinkConnection::LinkConnection(int p_Epoll, int p_Client, uint16_t p_UpstreamPort, Link p_Link, int64_t p_Now)
    : m_Epoll(p_Epoll), m_UpstreamPort(p_UpstreamPort), m_Link(p_Link)
{
    m_Up.From = p_Client;
    m_Down.To = p_Client;
    // The handshake of a real link costs one round trip before the request can leave.
    m_ConnectAt = p_Now + m_Link.HalfRttNs * 2;
    // The client's first bytes leave once its handshake is done, one round trip after it connected.
    m_Up.LastRelease = p_Now + m_Link.HalfRttNs * 3;
    Watch(p_Client);
}

LinkConnection::~LinkConnection()
{
    Close(false);
}

void LinkConnection::Watch(int p_Socket)
{
    epoll_event l_Event{};
    l_Event.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
    l_Event.data.ptr = this;
    ::epoll_ctl(m_Epoll, EPOLL_CTL_ADD, p_Socket, &l_Event);
}

void LinkConnection::Connect()
{
    m_Connecting = true;
    const int l_Server = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (l_Server < 0)
        return Close(true);
    sockaddr_in l_Address{};
    l_Address.sin_family = AF_INET;
    l_Address.sin_port = htons(m_UpstreamPort);
    l_Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    m_Up.To = l_Server;
    m_Down.From = l_Server;
    if (::connect(l_Server, reinterpret_cast<sockaddr*>(&l_Address), sizeof l_Address) != 0 && errno != EINPROGRESS)
        return Close(true);
    Watch(l_Server);
}

bool LinkConnection::CheckConnected()
{
    int l_Error = 0;
    socklen_t l_Size = sizeof l_Error;
    if (::getsockopt(m_Up.To, SOL_SOCKET, SO_ERROR, &l_Error, &l_Size) != 0 || l_Error != 0)
    {
        Close(true);
        return false;
    }
    sockaddr_in l_Peer{};
    socklen_t l_PeerSize = sizeof l_Peer;
    m_Connected = ::getpeername(m_Up.To, reinterpret_cast<sockaddr*>(&l_Peer), &l_PeerSize) == 0;
    return m_Connected;
}

void LinkConnection::Pump(int64_t p_Now)
{
    if (m_Closed)
        return;
    if (!m_Connecting && p_Now >= m_ConnectAt)
        Connect();
    if (m_Closed)
        return;
    if (!m_Connected && (!m_Connecting || !CheckConnected()))
        return Take(m_Up, p_Now); // the request waits (bounded) for the server
    for (Direction* l_Dir : {&m_Up, &m_Down})
    {
        // Taken again after a release: the room it made may be all the socket waits for (no new event).
        l_Dir->Blocked = false;
        Take(*l_Dir, p_Now);
        Release(*l_Dir, p_Now);
        Take(*l_Dir, p_Now);
    }
    if (!m_Closed && m_Up.Shut && m_Down.Shut)
        Close(false);
}

int64_t LinkConnection::NextDeadline() const
{
    if (m_Closed)
        return -1;
    if (!m_Connecting)
        return m_ConnectAt;
    if (!m_Connected)
        return -1; // the server's socket event says when
    int64_t l_Next = -1;
    for (const Direction* l_Dir : {&m_Up, &m_Down})
        if (!l_Dir->Blocked && !l_Dir->Queue.empty() && (l_Next < 0 || l_Dir->Queue.front().first < l_Next))
            l_Next = l_Dir->Queue.front().first;
    return l_Next;
}

LinkConnection::Pipe* LinkConnection::Tail(Direction& p_Dir)
{
    if (!p_Dir.Pipes.empty() && !p_Dir.Pipes.back().Full)
        return &p_Dir.Pipes.back();
    Pipe l_Pipe;
    if (!m_Spare.empty())
    {
        l_Pipe = m_Spare.back();
        m_Spare.pop_back();
    }
    else
    {
        int l_Ends[2];
        if (::pipe2(l_Ends, O_NONBLOCK | O_CLOEXEC) != 0)
            return nullptr;
        l_Pipe.Read = l_Ends[0];
        l_Pipe.Write = l_Ends[1];
        ::fcntl(l_Pipe.Write, F_SETPIPE_SZ, c_PipeBytes); // the default (64 KiB) when refused
    }
    p_Dir.Pipes.push_back(l_Pipe);
    return &p_Dir.Pipes.back();
}

void LinkConnection::Recycle(Direction& p_Dir)
{
    // An emptied pipe that no longer takes bytes goes back to the spares.
    while (!p_Dir.Pipes.empty() && p_Dir.Pipes.front().Held == 0 && (p_Dir.Pipes.size() > 1 || p_Dir.Pipes.front().Full))
    {
        Pipe l_Pipe = p_Dir.Pipes.front();
        p_Dir.Pipes.pop_front();
        l_Pipe.Full = false;
        m_Spare.push_back(l_Pipe);
    }
}

void LinkConnection::Take(Direction& p_Dir, int64_t p_Now)
{
    while (!m_Closed && p_Dir.From >= 0 && !p_Dir.Ended && p_Dir.Queued < c_Bound)
    {
        Pipe* l_Pipe = Tail(p_Dir);
        if (!l_Pipe)
            return Close(true);
        const ssize_t l_Read = ::splice(p_Dir.From, nullptr, l_Pipe->Write, nullptr, c_Chunk, c_SpliceFlags);
        if (l_Read == 0)
        {
            p_Dir.Ended = true;
            break;
        }
        if (l_Read < 0)
        {
            if (errno != EAGAIN)
                return Close(true);
            // Either the socket has nothing (wait for it) or the pipe is full (take the next one).
            int l_Waiting = 0;
            if (l_Pipe->Held == 0 || ::ioctl(p_Dir.From, FIONREAD, &l_Waiting) != 0 || l_Waiting == 0)
                break;
            l_Pipe->Full = true;
            continue;
        }
        const int64_t l_Wire = m_Link.BytesPerSecond > 0 ? l_Read * 1000000000LL / m_Link.BytesPerSecond : 0;
        int64_t* l_Shared = m_Link.SharedLast ? &m_Link.SharedLast[&p_Dir == &m_Down ? 1 : 0] : nullptr;
        const int64_t l_Release = l_Shared ? std::max({p_Now + m_Link.HalfRttNs, p_Dir.LastRelease, *l_Shared + l_Wire})
                                           : std::max(p_Now + m_Link.HalfRttNs, p_Dir.LastRelease + l_Wire);
        p_Dir.LastRelease = l_Release;
        if (l_Shared)
            *l_Shared = l_Release;
        l_Pipe->Held += l_Read; // each chunk lies in one pipe
        p_Dir.Queued += l_Read;
        p_Dir.Queue.emplace_back(l_Release, l_Read);
    }
}

void LinkConnection::Release(Direction& p_Dir, int64_t p_Now)
{
    if (!m_Connected || m_Closed)
        return;
    while (!p_Dir.Queue.empty() && p_Dir.Queue.front().first <= p_Now)
    {
        int64_t& l_Bytes = p_Dir.Queue.front().second;
        Pipe& l_Pipe = p_Dir.Pipes.front();
        const ssize_t l_Sent = ::splice(l_Pipe.Read, nullptr, p_Dir.To, nullptr, size_t(l_Bytes), c_SpliceFlags);
        if (l_Sent < 0 && errno == EAGAIN)
        {
            p_Dir.Blocked = true; // the receiver's window is full: its socket event calls again
            return;
        }
        if (l_Sent <= 0)
            return Close(true); // the receiver is gone
        l_Bytes -= l_Sent;
        l_Pipe.Held -= l_Sent;
        p_Dir.Queued -= l_Sent;
        if (l_Bytes == 0)
            p_Dir.Queue.pop_front();
        Recycle(p_Dir);
    }
    if (p_Dir.Queue.empty() && p_Dir.Ended && !p_Dir.Shut)
    {
        // Everything sent: the close reaches the other side half a round trip after the last byte.
        ::shutdown(p_Dir.To, SHUT_WR);
        p_Dir.Shut = true;
    }
}

void LinkConnection::Close(bool p_Reset)
{
    if (m_Closed)
        return;
    m_Closed = true;
    for (int l_Socket : {m_Up.From, m_Up.To})
    {
        if (l_Socket < 0)
            continue;
        if (p_Reset)
        {
            const linger l_Abort{1, 0};
            ::setsockopt(l_Socket, SOL_SOCKET, SO_LINGER, &l_Abort, sizeof l_Abort);
        }
        ::close(l_Socket); // also leaves the epoll set
    }
    for (Direction* l_Dir : {&m_Up, &m_Down})
        for (const Pipe& l_Pipe : l_Dir->Pipes)
            m_Spare.push_back(l_Pipe);
    for (const Pipe& l_Pipe : m_Spare)
    {
        ::close(l_Pipe.Read);
        ::close(l_Pipe.Write);
    }
    m_Spare.clear();
    m_Up.Pipes.clear();
    m_Down.Pipes.clear();
}
