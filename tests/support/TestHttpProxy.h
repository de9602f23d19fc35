#pragma once
#include "LoopbackListener.h"

#include <QMutex>
#include <QStringList>

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
    void Stop() { m_Listener.Stop(); }
    quint16 Port() const { return m_Listener.Port(); }
    QString Url() const { return QString("http://127.0.0.1:%1").arg(Port()); }

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
    LoopbackListener m_Listener;
};
