#pragma once
#include "LinkConnection.h"

#include <cstdint>
#include <memory>
#include <vector>

/// The proxy's event loop: accepts on a loopback port, hands each client to a LinkConnection
/// towards the upstream port, and wakes each connection on its sockets' events and at the
/// times its held bytes are due. One thread; owns the connections.
class LinkLoop
{
public:
    LinkLoop(uint16_t p_UpstreamPort, LinkConnection::Link p_Link);
    ~LinkLoop();
    LinkLoop(const LinkLoop&) = delete;
    LinkLoop& operator=(const LinkLoop&) = delete;

    /// Listens on 127.0.0.1:p_Port (0: a free port); the port, or 0 when it cannot (errno says why).
    uint16_t Listen(uint16_t p_Port);
    /// Serves until p_Seconds have passed.
    void Run(int64_t p_Seconds);

    /// Nanoseconds on the proxy's clock (one for every connection: a shared cap compares their times).
    static int64_t Now();

private:
    void Accept();

    uint16_t m_UpstreamPort;
    LinkConnection::Link m_Link;
    int m_Epoll = -1;
    int m_Listener = -1;
    std::vector<std::unique_ptr<LinkConnection>> m_Connections;
};
