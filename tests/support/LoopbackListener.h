#pragma once
#include <QtGlobal>

#include <functional>

class QObject;
class QTcpServer;
class QTcpSocket;
class QThread;

/// A listener on 127.0.0.1 (free port) with a thread of its own, for the test servers: each new
/// connection is handed to OnConnection on that thread, with the listener as the parent to give it.
class LoopbackListener
{
public:
    LoopbackListener() = default;
    ~LoopbackListener() { Stop(); }
    Q_DISABLE_COPY(LoopbackListener)

    /// Listens on p_Port (0: any free port).
    bool Start(std::function<void(QObject* p_Parent, QTcpSocket* p_Socket)> p_OnConnection, quint16 p_Port = 0);
    /// Closes the listener and every connection it parents: the port then refuses connections.
    void Stop();
    quint16 Port() const { return m_Port; }

private:
    quint16 m_Port = 0;               ///< written by Start only
    QThread* m_Thread = nullptr;
    QTcpServer* m_Listener = nullptr; ///< lives on m_Thread, owns the connections
};
