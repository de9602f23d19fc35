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

    /// Asks for these credentials (407, Basic) before it forwards anything; empty: none needed.
    void RequireCredentials(const QString& p_User, const QString& p_Password)
    {
        QMutexLocker l_Lock(&m_Mutex);
        m_Required = (p_User + ":" + p_Password).toUtf8().toBase64();
    }
    /// Proxy-Authorization values received, oldest first.
    QList<QByteArray> Authorizations() const
    {
        QMutexLocker l_Lock(&m_Mutex);
        return m_Authorizations;
    }

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

    /// False when credentials are required and p_Authorization does not carry them.
    bool Admit(const QByteArray& p_Authorization)
    {
        QMutexLocker l_Lock(&m_Mutex);
        if (!p_Authorization.isEmpty())
            m_Authorizations << p_Authorization;
        return m_Required.isEmpty() || p_Authorization == "Basic " + m_Required;
    }

    mutable QMutex m_Mutex;
    QStringList m_Requests;
    QByteArray m_Required;
    QList<QByteArray> m_Authorizations;
    LoopbackListener m_Listener;
};
