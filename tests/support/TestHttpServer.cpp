#include "TestHttpServer.h"

#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <limits>
#include <memory>
#include <utility>

namespace {

constexpr qint64 c_ChunkBytes = 64 * 1024;
constexpr qint64 c_MaxQueuedBytes = 256 * 1024; // written but not yet sent: beyond it, wait for bytesWritten
constexpr int c_PaceMs = 20;

/// "bytes=A-" or "bytes=A-B" against p_Size; false when unsatisfiable.
bool ParseRange(const QByteArray& p_Value, qint64 p_Size, qint64& p_From, qint64& p_To)
{
    const QList<QByteArray> l_Bounds = p_Value.trimmed().mid(6).split('-');
    bool l_Ok = false;
    p_From = l_Bounds.value(0).toLongLong(&l_Ok);
    if (!p_Value.trimmed().startsWith("bytes=") || l_Bounds.size() != 2 || !l_Ok || p_From >= p_Size)
        return false;
    p_To = l_Bounds[1].isEmpty() ? p_Size - 1 : std::min(l_Bounds[1].toLongLong(&l_Ok), p_Size - 1);
    return l_Ok && p_To >= p_From;
}

} // namespace

/// One client connection: answers its requests one after the other, streaming each body.
class TestHttpServerConnection : public QObject
{
public:
    TestHttpServerConnection(QObject* p_Parent, TestHttpServer* p_Owner, QTcpSocket* p_Socket)
        : QObject(p_Parent), m_Owner(p_Owner), m_Socket(p_Socket)
    {
        m_Socket->setParent(this);
        m_Pace.setInterval(c_PaceMs);
        connect(&m_Pace, &QTimer::timeout, this, [this] {
            Refill();
            Pump();
            // Under Wine a reset from a client that left with bytes unread may raise no event on a socket
            // that waits to write: a write tried now fails and ends it, as the client's leaving should.
            if (m_Socket->bytesToWrite() > 0)
                m_Socket->flush();
        });
        connect(m_Socket, &QTcpSocket::readyRead, this, [this] {
            m_Input += m_Socket->readAll();
            if (!m_Busy)
                NextRequest();
        });
        connect(m_Socket, &QTcpSocket::bytesWritten, this, [this] { Pump(); });
        connect(m_Socket, &QTcpSocket::disconnected, this, [this] {
            m_Busy = false; // the pace timer may still fire before the deletion
            Closed();
            deleteLater();
        });
    }

private:
    void NextRequest()
    {
        const int l_End = m_Input.indexOf("\r\n\r\n");
        if (l_End < 0)
            return;
        const QList<QByteArray> l_Lines = m_Input.left(l_End).split('\n');
        m_Input.remove(0, l_End + 4);
        TestHttpServer::Request l_Request;
        l_Request.Method = l_Lines[0].split(' ').value(0);
        l_Request.Path = QUrl::fromPercentEncoding(l_Lines[0].split(' ').value(1).split('?').value(0));
        for (const QByteArray& l_Line : l_Lines)
        {
            const QByteArray l_Lower = l_Line.toLower();
            if (l_Lower.startsWith("range:"))
                l_Request.Range = l_Line.mid(6).trimmed();
            else if (l_Lower.startsWith("accept-encoding:"))
                l_Request.AcceptEncoding = l_Line.mid(16).trimmed();
            else if (l_Lower.startsWith("user-agent:"))
                l_Request.UserAgent = l_Line.mid(11).trimmed();
        }
        Answer(l_Request);
    }

    void Answer(const TestHttpServer::Request& p_Request)
    {
        m_Busy = true;
        QString l_FilePath;
        bool l_Found = m_Owner->Plan(p_Request, m_Memory, l_FilePath, m_Fault);
        if (m_Fault.NoAnswer)
            return; // later requests on this connection wait for ever too
        if (m_Fault.DelayMs > 0)
        {
            // Nothing moves meanwhile: the last answer's end would otherwise start the next request's.
            m_Delayed = true;
            QTimer::singleShot(std::exchange(m_Fault.DelayMs, 0), this, [this, l_Found, l_FilePath, p_Request] {
                m_Delayed = false;
                Respond(p_Request, l_Found, l_FilePath);
            });
            return;
        }
        Respond(p_Request, l_Found, l_FilePath);
    }

    void Respond(const TestHttpServer::Request& p_Request, bool p_Found, const QString& p_FilePath)
    {
        m_File.reset(p_FilePath.isEmpty() ? nullptr : new QFile(p_FilePath));
        const bool l_Found = p_Found && (!m_File || m_File->open(QIODevice::ReadOnly));
        const qint64 l_Size = m_File ? m_File->size() : m_Memory.size();

        const bool l_Head = p_Request.Method == "HEAD";
        int l_Status = !m_Fault.RedirectTo.isEmpty() ? 302 : m_Fault.Status != 0 ? m_Fault.Status : l_Found ? 200 : 404;
        if (l_Head && m_Fault.HeadStatus != 0)
            l_Status = m_Fault.HeadStatus;
        qint64 l_From = 0, l_To = l_Size - 1;
        QByteArray l_Extra;
        if (l_Status == 302)
            l_Extra = "Location: " + m_Fault.RedirectTo.toUtf8() + "\r\n";
        if (l_Status == 200 && !p_Request.Range.isEmpty() && !m_Fault.IgnoreRange)
        {
            const bool l_Satisfiable = ParseRange(p_Request.Range, l_Size, l_From, l_To);
            l_Status = l_Satisfiable ? 206 : 416;
            if (m_Fault.WrongRangeStart)
                l_From = 0;
            l_Extra = "Content-Range: bytes " +
                      (l_Satisfiable ? QByteArray::number(l_From) + "-" + QByteArray::number(l_To) : QByteArray("*")) +
                      "/" + QByteArray::number(l_Size) + "\r\n";
        }
        if (l_Status >= 300)
        {
            m_File.reset();
            m_Memory = QByteArray::number(l_Status) + " error\n";
            l_From = 0;
            l_To = m_Memory.size() - 1;
        }
        if (l_Status == 429 || l_Status == 503 ? m_Fault.RetryAfter >= 0 : false)
            l_Extra += "Retry-After: " + QByteArray::number(m_Fault.RetryAfter) + "\r\n";
        // Compressed only when the client said it may be (a server that ignores identity is another fault).
        const bool l_Gzip = m_Fault.GzipIfAccepted && l_Status < 300 && p_Request.AcceptEncoding.contains("gzip");
        if (l_Gzip)
        {
            m_Memory = Gzip(m_File ? m_File->readAll() : m_Memory);
            m_File.reset();
            l_Status = 200;
            l_From = 0;
            l_To = m_Memory.size() - 1;
            l_Extra = "Content-Encoding: gzip\r\n";
        }
        m_Position = l_From;
        m_End = l_To + 1;
        m_BodyEnd = m_End;
        if (l_Status < 300)
            m_End += m_Fault.ExtraBytes;
        m_Sent = 0;
        m_Paused = false;
        if (m_File)
            m_File->seek(l_From);

        QByteArray l_Header = "HTTP/1.1 " + QByteArray::number(l_Status) + (l_Status < 300 ? " OK" : " Error") +
                              "\r\n" + (m_Fault.NoAcceptRanges ? QByteArray() : QByteArray("Accept-Ranges: bytes\r\n")) +
                              l_Extra;
        l_Header += m_Fault.OmitContentLength ? QByteArray("Connection: close")
                                              : "Content-Length: " + QByteArray::number(m_End - m_Position);
        m_Socket->write(l_Header + "\r\n\r\n");
        if (l_Head)
            m_End = m_Position; // the headers of the GET, no body
        Refill();
        if (m_Fault.BytesPerSecond > 0)
            m_Pace.start();
        Pump();
    }

    /// A gzip member holding p_Bytes (stored blocks: no compressor needed, a valid stream all the same).
    static QByteArray Gzip(const QByteArray& p_Bytes)
    {
        QByteArray l_Out("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\xff", 10);
        int l_At = 0;
        do
        {
            const int l_Len = std::min(65535, p_Bytes.size() - l_At);
            const bool l_Last = l_At + l_Len >= p_Bytes.size();
            l_Out += char(l_Last ? 1 : 0);
            l_Out += char(l_Len & 0xff), l_Out += char(l_Len >> 8);
            l_Out += char(~l_Len & 0xff), l_Out += char((~l_Len >> 8) & 0xff);
            l_Out += p_Bytes.mid(l_At, l_Len);
            l_At += l_Len;
        } while (l_At < p_Bytes.size());
        const quint32 l_Crc = Crc32(p_Bytes);
        const quint32 l_Size = quint32(p_Bytes.size());
        for (quint32 l_Value : {l_Crc, l_Size})
            for (int l_Shift = 0; l_Shift < 32; l_Shift += 8)
                l_Out += char((l_Value >> l_Shift) & 0xff);
        return l_Out;
    }

    static quint32 Crc32(const QByteArray& p_Bytes)
    {
        quint32 l_Crc = 0xffffffffu;
        for (char l_Byte : p_Bytes)
        {
            l_Crc ^= quint8(l_Byte);
            for (int l_Bit = 0; l_Bit < 8; ++l_Bit)
                l_Crc = (l_Crc >> 1) ^ (0xedb88320u & (0u - (l_Crc & 1u)));
        }
        return ~l_Crc;
    }

    void Refill() { m_Budget = m_Fault.BytesPerSecond * c_PaceMs / 1000 + 1; }

    /// Body bytes left before p_Limit (a fault's byte count, -1: none).
    qint64 Left(qint64 p_Limit) const { return p_Limit >= 0 ? p_Limit - m_Sent : std::numeric_limits<qint64>::max(); }

    void Pump()
    {
        while (m_Busy && !m_Delayed && m_Socket->bytesToWrite() < c_MaxQueuedBytes)
        {
            if (Left(m_Fault.CloseAfterBytes) <= 0)
                return Finish(true); // graceful: what was written still reaches the client
            if (Left(m_Fault.StallAfterBytes) <= 0)
                return m_Pace.stop(); // the client waits; the connection stays open
            if (!m_Paused && Left(m_Fault.PauseAfterBytes) <= 0)
            {
                m_Paused = m_Delayed = true;
                QTimer::singleShot(m_Fault.PauseMs, this, [this] { m_Delayed = false, Pump(); });
                return;
            }
            if (m_Position >= m_End)
                return Finish(m_Fault.OmitContentLength);
            qint64 l_Chunk = std::min({c_ChunkBytes, m_End - m_Position, Left(m_Fault.CloseAfterBytes),
                                       Left(m_Fault.StallAfterBytes),
                                       m_Paused ? c_ChunkBytes : Left(m_Fault.PauseAfterBytes)});
            if (m_Position < m_BodyEnd)
                l_Chunk = std::min(l_Chunk, m_BodyEnd - m_Position);
            if (m_Fault.BytesPerSecond > 0 && (l_Chunk = std::min(l_Chunk, m_Budget)) <= 0)
                return; // the pace timer refills the budget
            const QByteArray l_Data = m_Position >= m_BodyEnd ? QByteArray(int(l_Chunk), 'x')
                                      : m_File ? m_File->read(l_Chunk)
                                               : m_Memory.mid(int(m_Position), int(l_Chunk));
            if (l_Data.isEmpty())
                return m_Socket->abort(); // the file shrank under us
            m_Socket->write(l_Data);
            m_Position += l_Data.size();
            m_Sent += l_Data.size();
            m_Budget -= l_Data.size();
        }
    }

    void Finish(bool p_Close)
    {
        m_Busy = false;
        m_Pace.stop();
        m_File.reset();
        if (!p_Close)
            return NextRequest();
        // Closed from this side now: Qt on Windows hears no more of a socket it is closing, so a client
        // that lets go of the bytes still queued is never seen leaving there.
        Closed();
        m_Socket->disconnectFromHost();
    }

    /// Counts the connection closed, once.
    void Closed()
    {
        if (std::exchange(m_Counted, true))
            return;
        m_Owner->Locked([&] { ++m_Owner->m_Closed, --m_Owner->m_Open; });
    }

    TestHttpServer* m_Owner;
    QTcpSocket* m_Socket;
    QTimer m_Pace;
    QByteArray m_Input;
    bool m_Busy = false;
    bool m_Delayed = false; ///< an answer waits for its delay
    TestHttpServer::Fault m_Fault;
    QByteArray m_Memory;
    std::unique_ptr<QFile> m_File;
    qint64 m_Position = 0, m_End = 0, m_Sent = 0, m_Budget = 0;
    qint64 m_BodyEnd = 0; ///< end of the resource's bytes; up to m_End the body runs on (ExtraBytes)
    bool m_Paused = false; ///< the pause of PauseAfterBytes was taken
    bool m_Counted = false; ///< counted among the closed connections
};

bool TestHttpServer::Start(quint16 p_Port)
{
    return m_Listener.Start(
        [this](QObject* p_Parent, QTcpSocket* p_Socket) {
            Locked([&] { ++m_Connections, ++m_Open; });
            new TestHttpServerConnection(p_Parent, this, p_Socket);
        },
        p_Port);
}

void TestHttpServer::Stop()
{
    m_Listener.Stop();
}

QList<TestHttpServer::Request> TestHttpServer::Requests(const QString& p_Path) const
{
    QMutexLocker l_Lock(&m_Mutex);
    QList<Request> l_Result;
    for (const Request& l_Request : m_Requests)
        if (p_Path.isEmpty() || l_Request.Path == NormalPath(p_Path))
            l_Result.append(l_Request);
    return l_Result;
}

QByteArray TestHttpServer::Pattern(int p_Size, int p_Seed)
{
    QByteArray l_Bytes(p_Size, '\0');
    quint32 l_State = quint32(p_Seed) * 2654435761u + 1;
    for (int l_Index = 0; l_Index < p_Size; ++l_Index)
        l_Bytes[l_Index] = char((l_State = l_State * 1664525u + 1013904223u) >> 24);
    return l_Bytes;
}

bool TestHttpServer::Plan(const Request& p_Request, QByteArray& p_Bytes, QString& p_File, Fault& p_Fault)
{
    QMutexLocker l_Lock(&m_Mutex);
    m_Requests.append(p_Request);
    auto l_Faults = m_Faults.find(p_Request.Path);
    const bool l_Faulty = l_Faults != m_Faults.end() && !l_Faults->isEmpty();
    p_Fault = l_Faulty ? l_Faults->first() : Fault();
    if (l_Faulty && l_Faults->first().Times > 0 && --l_Faults->first().Times == 0)
        l_Faults->removeFirst();

    p_File.clear();
    p_Bytes = m_Resources.value(p_Request.Path);
    if (m_Resources.contains(p_Request.Path))
        return true;
    // Only files inside the root are served.
    const QString l_Path = QDir::cleanPath(m_FileRoot + p_Request.Path);
    if (m_FileRoot.isEmpty() || !l_Path.startsWith(m_FileRoot + "/") || !QFileInfo(l_Path).isFile())
        return false;
    p_File = l_Path;
    return true;
}
