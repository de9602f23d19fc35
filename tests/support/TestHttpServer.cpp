#include "TestHttpServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QMutexLocker>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <memory>

namespace {

constexpr qint64 c_ChunkBytes = 64 * 1024;
constexpr qint64 c_MaxQueuedBytes = 256 * 1024; // socket bytes waiting to be written before we pause
constexpr int c_PaceMs = 20;

QByteArray Reason(int p_Status)
{
    switch (p_Status)
    {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 416: return "Range Not Satisfiable";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

/// Parses "bytes=A-", "bytes=A-B" or "bytes=-N" against p_Size. False when unsatisfiable.
bool ParseRange(const QByteArray& p_Value, qint64 p_Size, qint64& p_From, qint64& p_To)
{
    QByteArray l_Value = p_Value.trimmed();
    if (!l_Value.startsWith("bytes="))
        return false;
    l_Value = l_Value.mid(6);
    int l_Dash = l_Value.indexOf('-');
    if (l_Dash < 0 || l_Value.contains(','))
        return false;
    QByteArray l_First = l_Value.left(l_Dash).trimmed();
    QByteArray l_Last = l_Value.mid(l_Dash + 1).trimmed();
    bool l_Ok = true;
    if (l_First.isEmpty())
    {
        qint64 l_Suffix = l_Last.toLongLong(&l_Ok);
        if (!l_Ok || l_Suffix <= 0 || p_Size == 0)
            return false;
        p_From = std::max<qint64>(0, p_Size - l_Suffix);
        p_To = p_Size - 1;
        return true;
    }
    p_From = l_First.toLongLong(&l_Ok);
    if (!l_Ok || p_From < 0 || p_From >= p_Size)
        return false;
    p_To = p_Size - 1;
    if (!l_Last.isEmpty())
    {
        qint64 l_To = l_Last.toLongLong(&l_Ok);
        if (!l_Ok || l_To < p_From)
            return false;
        p_To = std::min(l_To, p_Size - 1);
    }
    return true;
}

} // namespace

/// One client connection: parses requests one after the other and streams the answers.
class TestHttpServerConnection : public QObject
{
public:
    TestHttpServerConnection(QObject* p_Parent, TestHttpServer* p_Owner, QTcpSocket* p_Socket)
        : QObject(p_Parent), m_Owner(p_Owner), m_Socket(p_Socket)
    {
        m_Socket->setParent(this);
        m_Pace.setInterval(c_PaceMs);
        connect(&m_Pace, &QTimer::timeout, this, [this] {
            m_Budget = m_Fault.BytesPerSecond * c_PaceMs / 1000 + 1;
            Pump();
        });
        connect(m_Socket, &QTcpSocket::readyRead, this, [this] {
            m_Input += m_Socket->readAll();
            if (!m_Busy)
                NextRequest();
        });
        connect(m_Socket, &QTcpSocket::bytesWritten, this, [this] { Pump(); });
        connect(m_Socket, &QTcpSocket::disconnected, this, [this] { Close(); });
        m_Owner->CountConnection(1);
    }

    ~TestHttpServerConnection() override
    {
        if (!m_Closed)
            m_Owner->CountConnection(-1);
    }

    void Close()
    {
        if (m_Closed)
            return;
        m_Closed = true;
        m_Pace.stop();
        m_Owner->CountConnection(-1);
        m_Socket->abort();
        deleteLater();
    }

private:
    void NextRequest()
    {
        int l_End = m_Input.indexOf("\r\n\r\n");
        if (l_End < 0)
            return;
        QList<QByteArray> l_Lines = m_Input.left(l_End).split('\n');
        m_Input.remove(0, l_End + 4);

        TestHttpServer::Request l_Request;
        QList<QByteArray> l_Start = l_Lines.value(0).trimmed().split(' ');
        l_Request.Method = l_Start.value(0);
        QByteArray l_Target = l_Start.value(1);
        int l_Query = l_Target.indexOf('?');
        if (l_Query >= 0)
            l_Target.truncate(l_Query);
        l_Request.Path = QUrl::fromPercentEncoding(l_Target);
        for (int l_Index = 1; l_Index < l_Lines.size(); ++l_Index)
        {
            const QByteArray& l_Line = l_Lines[l_Index];
            int l_Colon = l_Line.indexOf(':');
            if (l_Colon > 0)
                l_Request.Headers.insert(l_Line.left(l_Colon).trimmed().toLower(), l_Line.mid(l_Colon + 1).trimmed());
        }
        l_Request.Range = l_Request.Headers.value("range");
        // A request body (none is expected) is skipped.
        qint64 l_BodyLength = l_Request.Headers.value("content-length").toLongLong();
        m_Input.remove(0, int(std::min<qint64>(l_BodyLength, m_Input.size())));

        Answer(l_Request);
    }

    void Answer(const TestHttpServer::Request& p_Request)
    {
        QByteArray l_Bytes;
        QString l_FilePath;
        bool l_Found = false;
        m_Owner->Plan(p_Request, l_Bytes, l_FilePath, l_Found, m_Fault);
        if (m_Fault.NoAnswer)
        {
            m_Busy = true; // later requests on this connection wait for ever too
            return;
        }

        m_Memory.clear();
        m_File.reset();
        qint64 l_Size = 0;
        if (l_Found && !l_FilePath.isEmpty())
        {
            m_File.reset(new QFile(l_FilePath));
            if (!m_File->open(QIODevice::ReadOnly))
            {
                m_File.reset();
                l_Found = false;
            }
            else
                l_Size = m_File->size();
        }
        else if (l_Found)
        {
            m_Memory = l_Bytes;
            l_Size = l_Bytes.size();
        }

        int l_Status = 200;
        qint64 l_From = 0;
        qint64 l_To = l_Size - 1;
        QByteArray l_Extra;
        if (m_Fault.Status != 0 || !l_Found)
        {
            l_Status = m_Fault.Status != 0 ? m_Fault.Status : 404;
            if (l_Status == 416 && l_Found)
                l_Extra += "Content-Range: bytes */" + QByteArray::number(l_Size) + "\r\n";
            SetErrorBody(l_Status);
            l_From = 0;
            l_To = m_Memory.size() - 1;
        }
        else if (!p_Request.Range.isEmpty() && !m_Fault.IgnoreRange)
        {
            if (ParseRange(p_Request.Range, l_Size, l_From, l_To))
            {
                l_Status = 206;
                l_Extra += "Content-Range: bytes " + QByteArray::number(l_From) + "-" + QByteArray::number(l_To) + "/" +
                           QByteArray::number(l_Size) + "\r\n";
            }
            else
            {
                l_Status = 416;
                l_Extra += "Content-Range: bytes */" + QByteArray::number(l_Size) + "\r\n";
                SetErrorBody(l_Status);
                l_From = 0;
                l_To = m_Memory.size() - 1;
            }
        }

        const bool l_Head = p_Request.Method == "HEAD";
        m_Position = l_From;
        m_End = l_Head ? l_From : l_To + 1;
        if (m_File)
            m_File->seek(l_From);
        m_Sent = 0;
        m_CloseAtEnd = m_Fault.OmitContentLength || p_Request.Headers.value("connection").toLower() == "close";

        QByteArray l_Header = "HTTP/1.1 " + QByteArray::number(l_Status) + " " + Reason(l_Status) + "\r\n";
        l_Header += "Content-Type: application/octet-stream\r\nAccept-Ranges: bytes\r\n";
        l_Header += l_Extra;
        if (!m_Fault.OmitContentLength)
            l_Header += "Content-Length: " + QByteArray::number(l_To + 1 - l_From) + "\r\n";
        if (m_CloseAtEnd)
            l_Header += "Connection: close\r\n";
        l_Header += "\r\n";
        m_Socket->write(l_Header);

        m_Busy = true;
        m_Budget = m_Fault.BytesPerSecond * c_PaceMs / 1000 + 1;
        if (m_Fault.BytesPerSecond > 0)
            m_Pace.start();
        Pump();
    }

    void SetErrorBody(int p_Status)
    {
        m_File.reset();
        m_Memory = QByteArray::number(p_Status) + " " + Reason(p_Status) + "\n";
    }

    void Pump()
    {
        if (!m_Busy || m_Closed)
            return;
        while (m_Position < m_End && m_Socket->bytesToWrite() < c_MaxQueuedBytes)
        {
            if (m_Fault.CloseAfterBytes >= 0 && m_Sent >= m_Fault.CloseAfterBytes)
            {
                // Graceful close: what was written still reaches the client.
                m_Busy = false;
                m_Pace.stop();
                m_Socket->disconnectFromHost();
                return;
            }
            if (m_Fault.StallAfterBytes >= 0 && m_Sent >= m_Fault.StallAfterBytes)
            {
                m_Pace.stop();
                return; // the client waits; the connection stays open
            }
            qint64 l_Chunk = std::min(c_ChunkBytes, m_End - m_Position);
            if (m_Fault.CloseAfterBytes >= 0)
                l_Chunk = std::min(l_Chunk, m_Fault.CloseAfterBytes - m_Sent);
            if (m_Fault.StallAfterBytes >= 0)
                l_Chunk = std::min(l_Chunk, m_Fault.StallAfterBytes - m_Sent);
            if (m_Fault.BytesPerSecond > 0)
            {
                l_Chunk = std::min(l_Chunk, m_Budget);
                if (l_Chunk <= 0)
                    return; // the pace timer refills the budget
            }
            QByteArray l_Data;
            if (m_File)
                l_Data = m_File->read(l_Chunk);
            else
                l_Data = m_Memory.mid(int(m_Position), int(l_Chunk));
            if (l_Data.isEmpty())
            {
                Close(); // the file shrank under us
                return;
            }
            m_Socket->write(l_Data);
            m_Position += l_Data.size();
            m_Sent += l_Data.size();
            m_Budget -= l_Data.size();
        }
        if (m_Position < m_End)
            return;
        if (m_Fault.CloseAfterBytes >= 0 && m_Sent >= m_Fault.CloseAfterBytes)
        {
            m_Busy = false;
            m_Socket->disconnectFromHost();
            return;
        }
        // Answer complete.
        m_Busy = false;
        m_Pace.stop();
        m_File.reset();
        m_Memory.clear();
        if (m_CloseAtEnd)
        {
            m_Socket->disconnectFromHost();
            return;
        }
        NextRequest();
    }

    TestHttpServer* m_Owner;
    QTcpSocket* m_Socket;
    QTimer m_Pace;
    QByteArray m_Input;
    bool m_Busy = false;
    bool m_Closed = false;
    bool m_CloseAtEnd = false;
    TestHttpServer::Fault m_Fault;
    QByteArray m_Memory;
    std::unique_ptr<QFile> m_File;
    qint64 m_Position = 0;
    qint64 m_End = 0;
    qint64 m_Sent = 0;
    qint64 m_Budget = 0;
};

/// Owns the listener; lives on the server's thread.
class TestHttpServerWorker : public QObject
{
public:
    explicit TestHttpServerWorker(TestHttpServer* p_Owner) : m_Owner(p_Owner) {}

    quint16 Listen()
    {
        m_Server = new QTcpServer(this);
        connect(m_Server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* l_Socket = m_Server->nextPendingConnection())
                new TestHttpServerConnection(this, m_Owner, l_Socket);
        });
        if (!m_Server->listen(QHostAddress::LocalHost, 0))
            return 0;
        return m_Server->serverPort();
    }

    void Shutdown()
    {
        if (m_Server)
            m_Server->close();
        const QObjectList l_Children = children();
        for (QObject* l_Child : l_Children)
            if (auto* l_Connection = dynamic_cast<TestHttpServerConnection*>(l_Child))
                delete l_Connection;
    }

private:
    TestHttpServer* m_Owner;
    QTcpServer* m_Server = nullptr;
};

// ---------------------------------------------------------------------------

TestHttpServer::TestHttpServer(QObject* p_Parent) : QObject(p_Parent) {}

TestHttpServer::~TestHttpServer()
{
    Stop();
}

bool TestHttpServer::Start()
{
    if (m_Thread)
        return m_Port != 0;
    m_Thread = new QThread();
    m_Thread->setObjectName("TestHttpServer");
    m_Worker = new TestHttpServerWorker(this);
    m_Worker->moveToThread(m_Thread);
    m_Thread->start();
    quint16 l_Port = 0;
    QMetaObject::invokeMethod(
        m_Worker, [this, &l_Port] { l_Port = m_Worker->Listen(); }, Qt::BlockingQueuedConnection);
    QMutexLocker l_Lock(&m_Mutex);
    m_Port = l_Port;
    return m_Port != 0;
}

void TestHttpServer::Stop()
{
    if (!m_Thread)
        return;
    TestHttpServerWorker* l_Worker = m_Worker;
    QMetaObject::invokeMethod(
        l_Worker, [l_Worker] {
            l_Worker->Shutdown();
            delete l_Worker;
        },
        Qt::BlockingQueuedConnection);
    m_Worker = nullptr;
    m_Thread->quit();
    m_Thread->wait();
    delete m_Thread;
    m_Thread = nullptr;
}

quint16 TestHttpServer::Port() const
{
    QMutexLocker l_Lock(&m_Mutex);
    return m_Port;
}

QString TestHttpServer::BaseUrl() const
{
    return QString("http://127.0.0.1:%1/").arg(Port());
}

QString TestHttpServer::Url(const QString& p_Path) const
{
    QString l_Path = p_Path;
    while (l_Path.startsWith('/'))
        l_Path.remove(0, 1);
    return BaseUrl() + l_Path;
}

QString TestHttpServer::NormalPath(const QString& p_Path)
{
    return p_Path.startsWith('/') ? p_Path : "/" + p_Path;
}

void TestHttpServer::SetResource(const QString& p_Path, const QByteArray& p_Bytes)
{
    QMutexLocker l_Lock(&m_Mutex);
    m_Resources[NormalPath(p_Path)] = p_Bytes;
}

void TestHttpServer::RemoveResource(const QString& p_Path)
{
    QMutexLocker l_Lock(&m_Mutex);
    m_Resources.remove(NormalPath(p_Path));
}

void TestHttpServer::SetFileRoot(const QString& p_Folder)
{
    QMutexLocker l_Lock(&m_Mutex);
    m_FileRoot = QDir(p_Folder).absolutePath();
}

void TestHttpServer::SetFault(const QString& p_Path, const Fault& p_Fault)
{
    QMutexLocker l_Lock(&m_Mutex);
    m_Faults[NormalPath(p_Path)] = p_Fault;
}

void TestHttpServer::ClearFault(const QString& p_Path)
{
    QMutexLocker l_Lock(&m_Mutex);
    m_Faults.remove(NormalPath(p_Path));
}

void TestHttpServer::ClearFaults()
{
    QMutexLocker l_Lock(&m_Mutex);
    m_Faults.clear();
}

QList<TestHttpServer::Request> TestHttpServer::Requests(const QString& p_Path) const
{
    QMutexLocker l_Lock(&m_Mutex);
    if (p_Path.isEmpty())
        return m_Requests;
    QList<Request> l_Result;
    const QString l_Path = NormalPath(p_Path);
    for (const Request& l_Request : m_Requests)
        if (l_Request.Path == l_Path)
            l_Result.append(l_Request);
    return l_Result;
}

void TestHttpServer::ClearRequests()
{
    QMutexLocker l_Lock(&m_Mutex);
    m_Requests.clear();
}

int TestHttpServer::ConnectionCount() const
{
    QMutexLocker l_Lock(&m_Mutex);
    return m_ConnectionCount;
}

int TestHttpServer::OpenConnections() const
{
    QMutexLocker l_Lock(&m_Mutex);
    return m_OpenConnections;
}

void TestHttpServer::CountConnection(int p_Delta)
{
    QMutexLocker l_Lock(&m_Mutex);
    m_OpenConnections += p_Delta;
    if (p_Delta > 0)
        m_ConnectionCount += p_Delta;
}

void TestHttpServer::Plan(const Request& p_Request, QByteArray& p_Bytes, QString& p_File, bool& p_Found, Fault& p_Fault)
{
    QMutexLocker l_Lock(&m_Mutex);
    m_Requests.append(p_Request);

    p_Fault = Fault();
    auto l_Fault = m_Faults.find(p_Request.Path);
    if (l_Fault != m_Faults.end())
    {
        p_Fault = l_Fault.value();
        if (l_Fault->Times > 0 && --l_Fault->Times == 0)
            m_Faults.erase(l_Fault);
    }

    p_Found = false;
    p_File.clear();
    auto l_Resource = m_Resources.constFind(p_Request.Path);
    if (l_Resource != m_Resources.constEnd())
    {
        p_Bytes = l_Resource.value();
        p_Found = true;
        return;
    }
    if (m_FileRoot.isEmpty())
        return;
    // Only files inside the root are served.
    QString l_Path = QDir::cleanPath(m_FileRoot + p_Request.Path);
    if (!l_Path.startsWith(m_FileRoot + "/"))
        return;
    QFileInfo l_Info(l_Path);
    if (l_Info.isFile())
    {
        p_File = l_Path;
        p_Found = true;
    }
}
