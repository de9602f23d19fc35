#pragma once
#include <QByteArray>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QMutex>
#include <QString>

class QObject;
class QTcpServer;
class QThread;

/// A loopback HTTP/1.1 server for tests on 127.0.0.1, on a free port and a thread of its own, so
/// that a test may block (a stop, a wait on a worker) while transfers go on. Every method may be
/// called from the test's thread at any time.
///
/// Resources come from memory (SetResource), else from the files under SetFileRoot. Range
/// "bytes=A-" and "bytes=A-B" get 206 with Content-Range, an unsatisfiable range 416.
/// Connections are kept alive between requests.
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
        int Times = -1;                 ///< requests it applies to, then it is cleared; -1: every request
    };

    /// One request as received.
    struct Request
    {
        QString Path;     ///< decoded path, query removed, starts with "/"
        QByteArray Range; ///< value of the Range header, empty when absent
    };

    explicit TestHttpServer(QObject* p_Parent = nullptr);
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    /// Starts listening; false when no port could be bound.
    bool Start();
    /// Closes the listener and every connection; the port then refuses connections.
    void Stop();

    quint16 Port() const { return m_Port; }
    /// "http://127.0.0.1:<port>/"
    QString BaseUrl() const;
    /// BaseUrl() followed by p_Path without its leading "/".
    QString Url(const QString& p_Path) const;

    void SetResource(const QString& p_Path, const QByteArray& p_Bytes);
    /// Paths not set in memory are served from files under this folder.
    void SetFileRoot(const QString& p_Folder);

    void SetFault(const QString& p_Path, const Fault& p_Fault);
    void ClearFaults();

    /// Requests received, oldest first; only those of p_Path when it is given.
    QList<Request> Requests(const QString& p_Path = QString()) const;
    void ClearRequests();

    /// Bytes in which a block misplaced, repeated or cut off shows.
    static QByteArray Pattern(int p_Size, int p_Seed = 7);

private:
    friend class TestHttpServerConnection;

    /// Records p_Request, consumes a counted fault and finds the resource: false when there is none.
    bool Plan(const Request& p_Request, QByteArray& p_Bytes, QString& p_File, Fault& p_Fault);

    mutable QMutex m_Mutex;
    QMap<QString, QByteArray> m_Resources;
    QString m_FileRoot;
    QMap<QString, Fault> m_Faults;
    QList<Request> m_Requests;
    quint16 m_Port = 0; ///< written by Start only

    QThread* m_Thread = nullptr;
    QTcpServer* m_Listener = nullptr; ///< lives on m_Thread, owns the connections
};

Q_DECLARE_METATYPE(TestHttpServer::Fault)
