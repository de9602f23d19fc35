#include "LoopbackListener.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <utility>

bool LoopbackListener::Start(std::function<void(QObject*, QTcpSocket*)> p_OnConnection, quint16 p_Port)
{
    m_Thread = new QThread();
    m_Listener = new QTcpServer();
    // Queued to the listener's thread once it is moved there.
    QObject::connect(m_Listener, &QTcpServer::newConnection, m_Listener, [this, p_OnConnection] {
        while (QTcpSocket* l_Socket = m_Listener->nextPendingConnection())
            p_OnConnection(m_Listener, l_Socket);
    });
    m_Listener->moveToThread(m_Thread);
    m_Thread->start();
    QMetaObject::invokeMethod(
        m_Listener,
        [this, p_Port] { m_Port = m_Listener->listen(QHostAddress::LocalHost, p_Port) ? m_Listener->serverPort() : 0; },
        Qt::BlockingQueuedConnection);
    return m_Port != 0;
}

void LoopbackListener::Stop()
{
    if (!m_Thread)
        return;
    QTcpServer* l_Listener = std::exchange(m_Listener, nullptr);
    QMetaObject::invokeMethod(l_Listener, [l_Listener] { delete l_Listener; }, Qt::BlockingQueuedConnection);
    m_Thread->quit();
    m_Thread->wait();
    delete std::exchange(m_Thread, nullptr);
}
