#include "LinkLoop.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

LinkLoop::LinkLoop(uint16_t p_UpstreamPort, LinkConnection::Link p_Link)
    : m_UpstreamPort(p_UpstreamPort), m_Link(p_Link), m_Epoll(::epoll_create1(EPOLL_CLOEXEC))
{
}

LinkLoop::~LinkLoop()
{
    m_Connections.clear();
    if (m_Listener >= 0)
        ::close(m_Listener);
    if (m_Epoll >= 0)
        ::close(m_Epoll);
}

int64_t LinkLoop::Now()
{
    timespec l_Time;
    ::clock_gettime(CLOCK_MONOTONIC, &l_Time);
    return int64_t(l_Time.tv_sec) * 1000000000LL + l_Time.tv_nsec;
}

uint16_t LinkLoop::Listen(uint16_t p_Port)
{
    if (m_Epoll < 0)
        return 0;
    m_Listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int l_On = 1;
    ::setsockopt(m_Listener, SOL_SOCKET, SO_REUSEADDR, &l_On, sizeof l_On);
    sockaddr_in l_Address{};
    l_Address.sin_family = AF_INET;
    l_Address.sin_port = htons(p_Port);
    l_Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t l_Size = sizeof l_Address;
    if (m_Listener < 0 || ::bind(m_Listener, reinterpret_cast<sockaddr*>(&l_Address), sizeof l_Address) != 0 ||
        ::listen(m_Listener, 128) != 0 || ::getsockname(m_Listener, reinterpret_cast<sockaddr*>(&l_Address), &l_Size) != 0)
        return 0;
    epoll_event l_Event{};
    l_Event.events = EPOLLIN;
    l_Event.data.ptr = nullptr; // the listener; connections carry themselves
    if (::epoll_ctl(m_Epoll, EPOLL_CTL_ADD, m_Listener, &l_Event) != 0)
        return 0;
    return ntohs(l_Address.sin_port);
}

void LinkLoop::Accept()
{
    for (;;)
    {
        const int l_Client = ::accept4(m_Listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (l_Client < 0)
            return;
        m_Connections.push_back(std::make_unique<LinkConnection>(m_Epoll, l_Client, m_UpstreamPort, m_Link, Now()));
    }
}

void LinkLoop::Run(int64_t p_Seconds)
{
    const int64_t l_End = Now() + p_Seconds * 1000000000LL;
    epoll_event l_Events[64];
    for (int64_t l_Now = Now(); l_Now < l_End; l_Now = Now())
    {
        int64_t l_Wake = l_End;
        for (const auto& l_Connection : m_Connections)
        {
            const int64_t l_Deadline = l_Connection->NextDeadline();
            if (l_Deadline >= 0)
                l_Wake = std::min(l_Wake, l_Deadline);
        }
        // Milliseconds, rounded up: a chunk leaves at its time or just after, never before.
        const int l_Timeout = int(std::max<int64_t>(0, (l_Wake - l_Now + 999999) / 1000000));
        const int l_Count = ::epoll_wait(m_Epoll, l_Events, 64, l_Timeout);
        if (l_Count < 0 && errno != EINTR)
            return;
        l_Now = Now();
        for (int l_Index = 0; l_Index < l_Count; ++l_Index)
        {
            if (l_Events[l_Index].data.ptr)
                static_cast<LinkConnection*>(l_Events[l_Index].data.ptr)->Pump(l_Now);
            else
                Accept();
        }
        // Closed connections go only here, after the events that may still name them.
        for (const auto& l_Connection : m_Connections)
        {
            const int64_t l_Deadline = l_Connection->NextDeadline();
            if (l_Deadline >= 0 && l_Deadline <= l_Now)
                l_Connection->Pump(l_Now);
        }
        m_Connections.erase(std::remove_if(m_Connections.begin(), m_Connections.end(),
                                           [](const std::unique_ptr<LinkConnection>& p_Connection) { return p_Connection->Closed(); }),
                            m_Connections.end());
    }
}
