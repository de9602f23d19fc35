#pragma once
#include <QByteArray>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QString>

#include <memory>

class QThread;
class TestHttpServerWorker;

/// A loopback HTTP/1.1 server for tests, listening on 127.0.0.1 on a free port.
///
/// It runs on a thread of its own, so a test may block (a blocking stop, a
/// wait on a worker) while transfers go on. Every method may be called from
/// the test's thread at any time.
///
///     TestHttpServer l_Server;
///     QVERIFY(l_Server.Start());
///     l_Server.SetResource("/files/a.bin", l_Bytes);
///     TestHttpServer::Fault l_Fault;
///     l_Fault.CloseAfterBytes = 1000;
///     l_Fault.Times = 1;
///     l_Server.SetFault("/files/a.bin", l_Fault);
///     ... l_Server.BaseUrl() + "files/a.bin" ...
///     QCOMPARE(l_Server.Requests("/files/a.bin").size(), 2);
///
/// Resources are looked up in memory first (SetResource), then under the file
/// root (SetFileRoot), streamed from disk. GET and HEAD are served; Range
/// "bytes=A-", "bytes=A-B" and "bytes=-N" get 206 with Content-Range, an
/// unsatisfiable range gets 416. Connections are kept alive between requests.
class TestHttpServer : public QObject
{
    Q_OBJECT

public:
    /// Misbehaviour applied to the requests of one path.
    struct Fault
    {
        int Status = 0;               ///< answer this status (404, 416, 500 ...) with a short body; 0: serve normally
        bool IgnoreRange = false;     ///< answer 200 with the whole body even to a Range request
        bool OmitContentLength = false; ///< no Content-Length; the body ends when the connection closes
        qint64 CloseAfterBytes = -1;  ///< close the connection after this many body bytes (0: right after the headers)
        qint64 StallAfterBytes = -1;  ///< stop sending after this many body bytes (0: right after the headers), connection left open
        qint64 BytesPerSecond = 0;    ///< throttle the body to about this rate; 0: as fast as the client reads
        bool NoAnswer = false;        ///< read the request and never answer (connection left open)
        int Times = -1;               ///< requests it applies to, then it is cleared; -1: every request
    };

    /// One request as received.
    struct Request
    {
        QByteArray Method;
        QString Path;                       ///< decoded path, query removed, starts with "/"
        QByteArray Range;                   ///< value of the Range header, empty when absent
        QMap<QByteArray, QByteArray> Headers; ///< lower-case names
    };

    explicit TestHttpServer(QObject* p_Parent = nullptr);
    ~TestHttpServer() override;

    /// Starts listening; false when no port could be bound.
    bool Start();
    /// Closes the listener and every connection.
    void Stop();

    quint16 Port() const;
    /// "http://127.0.0.1:<port>/"
    QString BaseUrl() const;
    /// BaseUrl() followed by p_Path without its leading "/".
    QString Url(const QString& p_Path) const;

    void SetResource(const QString& p_Path, const QByteArray& p_Bytes);
    void RemoveResource(const QString& p_Path);
    /// Paths not set in memory are served from files under this folder.
    void SetFileRoot(const QString& p_Folder);

    void SetFault(const QString& p_Path, const Fault& p_Fault);
    void ClearFault(const QString& p_Path);
    void ClearFaults();

    /// Requests received, oldest first; only those of p_Path when it is given.
    QList<Request> Requests(const QString& p_Path = QString()) const;
    void ClearRequests();
    /// Connections accepted so far.
    int ConnectionCount() const;
    /// Connections currently open.
    int OpenConnections() const;

private:
    friend class TestHttpServerWorker;
    friend class TestHttpServerConnection;

    static QString NormalPath(const QString& p_Path);
    /// Records p_Request and decides how to answer it (consumes a counted fault).
    void Plan(const Request& p_Request, QByteArray& p_Bytes, QString& p_File, bool& p_Found, Fault& p_Fault);
    void CountConnection(int p_Delta);

    mutable QMutex m_Mutex;
    QMap<QString, QByteArray> m_Resources;
    QString m_FileRoot;
    QMap<QString, Fault> m_Faults;
    QList<Request> m_Requests;
    int m_ConnectionCount = 0;
    int m_OpenConnections = 0;
    quint16 m_Port = 0;

    QThread* m_Thread = nullptr;
    TestHttpServerWorker* m_Worker = nullptr;
};
