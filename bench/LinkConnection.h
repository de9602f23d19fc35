#pragma once
#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>

#include <deque>

class QTcpSocket;
class QTimer;

/// One client connection of the emulated link: held for one round trip before it is passed
/// upstream, then every chunk waits half a round trip (and its share of the bandwidth) in
/// each direction. Lives on the proxy's only thread.
class LinkConnection : public QObject
{
    Q_OBJECT

public:
    struct Link
    {
        qint64 HalfRttNs = 0;
        qint64 BytesPerSecond = 0; ///< 0: no cap
        /// When set, the cap is the link's: every connection's chunks queue behind each other (last
        /// release per direction, [0] up, [1] down), as on one real line. Null: the cap is per connection.
        qint64* SharedLast = nullptr;
    };

    LinkConnection(QTcpSocket* p_Client, quint16 p_UpstreamPort, Link p_Link, QObject* p_Parent);

private:
    struct Direction
    {
        QTcpSocket* From = nullptr;
        QTcpSocket* To = nullptr;
        std::deque<std::pair<qint64, QByteArray>> Queue; ///< release time (ns on the proxy's clock), bytes
        qint64 Queued = 0;
        qint64 LastRelease = 0;
        bool Ended = false; ///< From closed: To is closed once the queue is out
        QTimer* Timer = nullptr;
    };

    void Wire(Direction& p_Dir);
    void Take(Direction& p_Dir);
    void Release(Direction& p_Dir);
    void Close();

    /// Bytes held per direction: bounds memory, and with the delay bounds throughput to Bound / half RTT.
    static constexpr qint64 c_Bound = 32 * 1024 * 1024;
    static constexpr qint64 c_Chunk = 256 * 1024;

    Link m_Link;
    Direction m_Up;   ///< client to server
    Direction m_Down; ///< server to client
    bool m_Connected = false;
    bool m_Closed = false;
};
