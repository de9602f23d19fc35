#include "TestHttpProxy.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QUrl>

#include <utility>

/// One client connection: one request forwarded, its answer relayed, then both sides closed.
/// The answer says "Connection: close", so the client never sends a second request here.
class TestHttpProxyConnection : public QObject
{
public:
    TestHttpProxyConnection(QObject* p_Parent, TestHttpProxy* p_Owner, QTcpSocket* p_Client)
        : QObject(p_Parent), m_Owner(p_Owner), m_Client(p_Client), m_Origin(new QTcpSocket(this))
    {
        m_Client->setParent(this);
        connect(m_Client, &QTcpSocket::readyRead, this, [this] { OnRequest(); });
        connect(m_Client, &QTcpSocket::disconnected, this, [this] {
            Close();
            deleteLater(); // only now: deleting the socket earlier would drop what it still has to send
        });
        connect(m_Origin, &QTcpSocket::readyRead, this, [this] { OnAnswer(); });
        connect(m_Origin, &QTcpSocket::disconnected, this, [this] { Close(); });
    }

private:
    void OnRequest()
    {
        if (m_Forwarded)
            return m_Client->readAll(), void();
        m_Head += m_Client->readAll();
        const int l_End = m_Head.indexOf("\r\n\r\n");
        if (l_End < 0)
            return;
        QList<QByteArray> l_Lines = m_Head.left(l_End).split('\n');
        const QList<QByteArray> l_First = l_Lines.takeFirst().trimmed().split(' ');
        const QUrl l_Url(QString::fromLatin1(l_First.value(1)));
        m_Method = l_First.value(0);
        QByteArray l_Authorization;
        for (const QByteArray& l_Line : l_Lines)
            if (l_Line.trimmed().toLower().startsWith("proxy-authorization:"))
                l_Authorization = l_Line.mid(l_Line.indexOf(':') + 1).trimmed();
        if (!m_Owner->Admit(l_Authorization))
        {
            m_Forwarded = true;
            m_Client->write("HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"test\"\r\n"
                            "Content-Length: 0\r\nConnection: close\r\n\r\n");
            return m_Client->disconnectFromHost();
        }
        m_Owner->Record(QString::fromLatin1(l_First.value(0)) + " " + l_Url.toString());
        m_Forwarded = true;
        if (l_Url.host() != "127.0.0.1" || l_Url.port() <= 0)
        {
            m_Client->write("HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            return m_Client->disconnectFromHost();
        }
        QByteArray l_Out = l_First.value(0) + " " + l_Url.path(QUrl::FullyEncoded).toLatin1() +
                           (l_Url.hasQuery() ? "?" + l_Url.query(QUrl::FullyEncoded).toLatin1() : QByteArray()) +
                           " HTTP/1.1\r\n";
        for (const QByteArray& l_Line : l_Lines)
        {
            const QByteArray l_Name = l_Line.left(l_Line.indexOf(':')).trimmed().toLower();
            if (l_Name != "connection" && l_Name != "proxy-connection" && l_Name != "keep-alive" &&
                l_Name != "proxy-authorization")
                l_Out += l_Line.trimmed() + "\r\n";
        }
        m_Origin->connectToHost(QHostAddress::LocalHost, quint16(l_Url.port()));
        m_Origin->write(l_Out + "Connection: close\r\n\r\n");
    }

    void OnAnswer()
    {
        if (m_AnswerHeadDone)
            return Relay(m_Origin->readAll());
        m_Answer += m_Origin->readAll();
        const int l_End = m_Answer.indexOf("\r\n\r\n");
        if (l_End < 0)
            return;
        QList<QByteArray> l_Lines = m_Answer.left(l_End).split('\n');
        QByteArray l_Head = l_Lines.takeFirst().trimmed() + "\r\n";
        const int l_Status = l_Head.split(' ').value(1).toInt();
        m_BodyLeft = -1; // until the origin closes
        for (const QByteArray& l_Line : l_Lines)
        {
            const QByteArray l_Name = l_Line.left(l_Line.indexOf(':')).trimmed().toLower();
            if (l_Name == "content-length")
                m_BodyLeft = l_Line.mid(l_Line.indexOf(':') + 1).trimmed().toLongLong();
            if (l_Name != "connection" && l_Name != "keep-alive")
                l_Head += l_Line.trimmed() + "\r\n";
        }
        if (m_Method == "HEAD" || l_Status == 204 || l_Status == 304)
            m_BodyLeft = 0;
        m_AnswerHeadDone = true;
        m_Client->write(l_Head + "Connection: close\r\n\r\n");
        Relay(m_Answer.mid(l_End + 4));
    }

    void Relay(const QByteArray& p_Body)
    {
        const QByteArray l_Part = m_BodyLeft >= 0 ? p_Body.left(int(m_BodyLeft)) : p_Body;
        m_Client->write(l_Part);
        if (m_BodyLeft >= 0 && (m_BodyLeft -= l_Part.size()) == 0)
            Close();
    }

    void Close()
    {
        if (std::exchange(m_Closed, true))
            return;
        m_Origin->abort();
        m_Client->disconnectFromHost(); // what was written still reaches the client
        if (m_Client->state() == QAbstractSocket::UnconnectedState)
            deleteLater();
    }

    TestHttpProxy* m_Owner;
    QTcpSocket* m_Client;
    QTcpSocket* m_Origin;
    QByteArray m_Head;
    QByteArray m_Method;
    QByteArray m_Answer;
    qint64 m_BodyLeft = -1;
    bool m_Forwarded = false;
    bool m_AnswerHeadDone = false;
    bool m_Closed = false;
};

bool TestHttpProxy::Start()
{
    return m_Listener.Start(
        [this](QObject* p_Parent, QTcpSocket* p_Socket) { new TestHttpProxyConnection(p_Parent, this, p_Socket); });
}
