#pragma once
#include <QMutex>
#include <QStringList>

class QTcpServer;
class QThread;

/// A forwarding HTTP proxy on 127.0.0.1 with a thread of its own: takes absolute-form requests
/// ("GET http://127.0.0.1:P/x HTTP/1.1"), records them and relays each over a connection of its own
/// to its loopback origin (other hosts get 502). One request per client connection.
class TestHttpProxy
{
public:
    TestHttpProxy() = default;
    ~TestHttpProxy() { Stop(); }
    Q_DISABLE_COPY(TestHttpProxy)

    bool Start();
    void Stop();
    quint16 Port() const { return m_Port; }
    QString Url() const { return QString("http://127.0.0.1:%1").arg(m_Port); }

    /// "METHOD URL" of every request received, oldest first.
    QStringList Requests() const
    {
        QMutexLocker l_Lock(&m_Mutex);
        return m_Requests;
    }

private:
    friend class TestHttpProxyConnection;
    void Record(const QString& p_Line)
    {
        QMutexLocker l_Lock(&m_Mutex);
        m_Requests << p_Line;
    }

    mutable QMutex m_Mutex;
    QStringList m_Requests;
    quint16 m_Port = 0;               ///< written by Start only
    QThread* m_Thread = nullptr;
    QTcpServer* m_Listener = nullptr; ///< lives on m_Thread, owns the connections
};
