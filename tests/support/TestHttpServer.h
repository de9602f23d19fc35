#pragma once
#include "LoopbackListener.h"

#include <QByteArray>
#include <QDir>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QMutex>
#include <QString>

class QObject;

/// A loopback HTTP/1.1 server on 127.0.0.1 with a thread of its own, so that a test may block (a stop, a wait on
/// a worker) while transfers go on; callable from the test's thread at any time. Resources come from memory
/// (SetResource), else from files under SetFileRoot. "bytes=A-" and "bytes=A-B" get 206 with Content-Range, an
/// unsatisfiable range 416; HEAD gets the headers of a GET. Connections are kept alive between requests.
class TestHttpServer
{
public:
    /// Misbehaviour applied to the requests of one path.
    struct Fault
    {
        int Status = 0;                 ///< answer this status (404, 416 ...) with a short body; 0: serve normally
        bool IgnoreRange = false;       ///< answer 200 with the whole body even to a Range request
        bool OmitContentLength = false; ///< no Content-Length; the body ends when the connection closes
        qint64 CloseAfterBytes = -1;    ///< close the connection after this many body bytes (0: after the headers)
        qint64 StallAfterBytes = -1;    ///< stop sending after this many body bytes, connection left open
        qint64 BytesPerSecond = 0;      ///< throttle the body to about this rate; 0: as fast as the client reads
        bool NoAnswer = false;          ///< read the request and never answer (connection left open)
        int HeadStatus = 0;             ///< answer HEAD requests with this status (405, 501 ...); 0: as GET
        int DelayMs = 0;                ///< answer only after this long
        QString RedirectTo;             ///< answer 302 with this Location
        bool WrongRangeStart = false;   ///< answer a Range request with 206 and the whole body (Content-Range from 0)
        bool NoAcceptRanges = false;    ///< no "Accept-Ranges: bytes" header (a server that cannot do ranges)
        int RetryAfter = -1;            ///< with Status: a "Retry-After" header of this many seconds
        bool GzipIfAccepted = false;    ///< a gzip body when the request's Accept-Encoding allows gzip
        qint64 ExtraBytes = 0;          ///< bytes sent after the body, as if it ran on (with OmitContentLength)
        qint64 PauseAfterBytes = -1;    ///< stop sending after this many body bytes for PauseMs, then go on
        int PauseMs = 0;
        int Times = -1;                 ///< requests it applies to, then the next queued fault; -1: every request

        /// A fault with only p_Field set; found by argument-dependent lookup: With(&Fault::Status, 404).
        template <class T, class V>
        friend Fault With(T Fault::*p_Field, V p_Value, int p_Times = -1)
        {
            Fault l_Fault;
            l_Fault.*p_Field = T(p_Value);
            l_Fault.Times = p_Times;
            return l_Fault;
        }
    };

    struct Request ///< one request as received
    {
        QString Path;     ///< decoded path, query removed, starts with "/"
        QByteArray Method; ///< "GET", "HEAD" ...
        QByteArray Range; ///< value of the Range header, empty when absent
        QByteArray AcceptEncoding; ///< value of the Accept-Encoding header, empty when absent
        QByteArray UserAgent;      ///< value of the User-Agent header
    };

    explicit TestHttpServer(QObject* = nullptr) {}
    ~TestHttpServer() { Stop(); }
    Q_DISABLE_COPY(TestHttpServer)

    bool Start(quint16 p_Port = 0); ///< false when no port could be bound; p_Port 0: any free one
    void Stop();  ///< closes the listener and every connection: the port then refuses connections

    quint16 Port() const { return m_Listener.Port(); }
    QString BaseUrl() const { return QString("http://127.0.0.1:%1/").arg(Port()); }
    QString Url(const QString& p_Path) const { return BaseUrl() + (p_Path.startsWith('/') ? p_Path.mid(1) : p_Path); }

    void SetResource(const QString& p_Path, const QByteArray& p_Bytes)
    {
        Locked([&] { m_Resources[NormalPath(p_Path)] = p_Bytes; });
    }
    /// Forgets every resource set in memory.
    void ClearResources() { Locked([&] { m_Resources.clear(); }); }
    /// Paths not set in memory are served from files under this folder.
    void SetFileRoot(const QString& p_Folder) { Locked([&] { m_FileRoot = QDir(p_Folder).absolutePath(); }); }
    void SetFault(const QString& p_Path, const Fault& p_Fault)
    {
        Locked([&] { m_Faults[NormalPath(p_Path)] = {p_Fault}; });
    }
    /// Queues p_Fault after the faults of p_Path still to come (each for its Times).
    void AddFault(const QString& p_Path, const Fault& p_Fault)
    {
        Locked([&] { m_Faults[NormalPath(p_Path)].append(p_Fault); });
    }
    void ClearFaults() { Locked([&] { m_Faults.clear(); }); }

    /// Requests received, oldest first; only those of p_Path when it is given.
    QList<Request> Requests(const QString& p_Path = QString()) const;
    void ClearRequests() { Locked([&] { m_Requests.clear(), m_Connections = 0; }); }
    /// Connections accepted since the start or the last ClearRequests.
    int Connections() const
    {
        QMutexLocker l_Lock(&m_Mutex);
        return m_Connections;
    }

    /// Connections accepted and not yet closed by either side.
    int OpenConnections() const
    {
        QMutexLocker l_Lock(&m_Mutex);
        return m_Open;
    }
    /// Connections closed (by either side) since the start: the sign that a client let go of a transfer.
    int ClosedConnections() const
    {
        QMutexLocker l_Lock(&m_Mutex);
        return m_Closed;
    }

    /// Bytes in which a block misplaced, repeated or cut off shows.
    static QByteArray Pattern(int p_Size, int p_Seed = 7);

private:
    friend class TestHttpServerConnection;

    static QString NormalPath(const QString& p_Path) { return p_Path.startsWith('/') ? p_Path : "/" + p_Path; }
    template <class F>
    void Locked(F p_Change)
    {
        QMutexLocker l_Lock(&m_Mutex);
        p_Change();
    }

    /// Records p_Request, consumes a counted fault and finds the resource: false when there is none.
    bool Plan(const Request& p_Request, QByteArray& p_Bytes, QString& p_File, Fault& p_Fault);

    mutable QMutex m_Mutex;
    QMap<QString, QByteArray> m_Resources;
    QString m_FileRoot;
    QMap<QString, QList<Fault>> m_Faults;
    QList<Request> m_Requests;
    int m_Connections = 0;
    int m_Open = 0;
    int m_Closed = 0;
    LoopbackListener m_Listener;
};

Q_DECLARE_METATYPE(TestHttpServer::Fault)
