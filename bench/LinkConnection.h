#pragma once
#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

/// One client connection of the emulated link: held for one round trip before it is passed
/// upstream, then every chunk waits half a round trip (and its share of the bandwidth) in
/// each direction. The bytes wait in pipes and move by splice(2), never through this process's
/// memory: the link should cost the machine as little as a real one, or it takes the CPU the
/// programs it measures need. Lives on the proxy's only thread (LinkLoop's).
class LinkConnection
{
public:
    struct Link
    {
        int64_t HalfRttNs = 0;
        int64_t BytesPerSecond = 0; ///< 0: no cap
        /// When set, the cap is the link's: every connection's chunks queue behind each other (last
        /// release per direction, [0] up, [1] down), as on one real line. Null: the cap is per connection.
        int64_t* SharedLast = nullptr;
    };

    /// Takes p_Client (non-blocking) and registers its sockets with p_Epoll.
    LinkConnection(int p_Epoll, int p_Client, uint16_t p_UpstreamPort, Link p_Link, int64_t p_Now);
    ~LinkConnection();
    LinkConnection(const LinkConnection&) = delete;
    LinkConnection& operator=(const LinkConnection&) = delete;

    /// Moves what can move: after a socket event, and when the time asked by NextDeadline comes.
    void Pump(int64_t p_Now);
    /// The next time Pump has something to do without a socket event; -1: none.
    int64_t NextDeadline() const;
    bool Closed() const { return m_Closed; }

private:
    struct Pipe
    {
        int Read = -1;
        int Write = -1;
        int64_t Held = 0;
        bool Full = false;
    };
    struct Direction
    {
        int From = -1;
        int To = -1;
        std::deque<Pipe> Pipes;                        ///< bytes enter the back one, leave the front one
        std::deque<std::pair<int64_t, int64_t>> Queue; ///< release time (ns on the proxy's clock), bytes
        int64_t Queued = 0;
        int64_t LastRelease = 0;
        bool Ended = false; ///< From reached its end: To is shut once the queue is out
        bool Shut = false;
        bool Blocked = false; ///< To took no more: wait for its socket event
    };

    void Connect();
    bool CheckConnected();
    void Take(Direction& p_Dir, int64_t p_Now);
    void Release(Direction& p_Dir, int64_t p_Now);
    Pipe* Tail(Direction& p_Dir);
    void Recycle(Direction& p_Dir);
    void Watch(int p_Socket);
    /// p_Reset: the other ends learn of it by a reset, as they would of a cut line.
    void Close(bool p_Reset);

    /// Bytes held per direction: bounds the pipes, and with the delay bounds throughput to Bound / half RTT.
    static constexpr int64_t c_Bound = 32 * 1024 * 1024;
    static constexpr int64_t c_Chunk = 256 * 1024;

    int m_Epoll;
    uint16_t m_UpstreamPort;
    Link m_Link;
    Direction m_Up;   ///< client to server
    Direction m_Down; ///< server to client
    std::vector<Pipe> m_Spare;
    int64_t m_ConnectAt = 0;
    bool m_Connecting = false;
    bool m_Connected = false;
    bool m_Closed = false;
};
