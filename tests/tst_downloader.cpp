// One-file downloads against the loopback server: the file on disk, the signals
// the application receives, the stop protocol and the errors the host is shown.
#include "launcher/ApplicationAsyncHttpDownloader.h"
#include "support/FakeHost.h"
#include "support/TestHttpServer.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

using namespace Orvane::Launcher;

namespace {

class TestApp : public Application
{
public:
    TestApp() : Application("Test", "test") {}
    void Init() override {}
    void Uninit() override {}
    QString const GetRessource(ApplicationRessource::Type) override { return QString(); }
    std::vector<std::pair<QString, QString>> GetAvailableLocales() override { return {}; }
    QString GetAppLocale() override { return QString(); }
    void SetAppLocale(QString) override {}
};

QByteArray Pattern(int p_Size, int p_Seed = 7)
{
    QByteArray l_Bytes(p_Size, '\0');
    quint32 l_State = quint32(p_Seed) * 2654435761u + 1;
    for (int l_Index = 0; l_Index < p_Size; ++l_Index)
    {
        l_State = l_State * 1664525u + 1013904223u;
        l_Bytes[l_Index] = char(l_State >> 24);
    }
    return l_Bytes;
}

QByteArray ReadFile(const QString& p_Path)
{
    QFile l_File(p_Path);
    return l_File.open(QIODevice::ReadOnly) ? l_File.readAll() : QByteArray();
}

bool WriteFile(const QString& p_Path, const QByteArray& p_Bytes)
{
    QFile l_File(p_Path);
    return l_File.open(QIODevice::WriteOnly) && l_File.write(p_Bytes) == p_Bytes.size();
}

/// The record as the application's queued slots saw it.
struct Snapshot
{
    qint64 FileSize = -1;
    qint64 ReceivedBytes = -1;
    qint64 ContentLength = -1;
    int FilePercent = -1;
    bool StopRequested = false;

    static Snapshot Of(const HTTP_DownloadFileRequest* p_Request)
    {
        Snapshot l_Snapshot;
        l_Snapshot.FileSize = p_Request->FileSize;
        l_Snapshot.ReceivedBytes = p_Request->ReceivedBytes;
        l_Snapshot.ContentLength = p_Request->ContentLength;
        l_Snapshot.FilePercent = p_Request->FilePercent;
        l_Snapshot.StopRequested = p_Request->StopRequested;
        return l_Snapshot;
    }
};

/// A host, an application, a server and a folder; records what reaches the application's thread.
class Harness : public QObject
{
public:
    FakeHost Host;
    TestApp App;
    TestHttpServer Server;
    QTemporaryDir Dir;

    int Completions = 0;
    int Restarts = 0;
    int Progress = 0;
    Snapshot LastProgress;
    Snapshot Completion;
    HTTP_DownloadFileRequest* Record = nullptr;

    Harness()
    {
        Host.Attach(&App);
        Server.Start();
        // Automatic connections: queued to this thread, as StandartApplication receives them.
        connect(&App, &Application::OnHTTPDownloadProgressUpdate, this, [this](HTTP_DownloadFileRequest* p_Request) {
            ++Progress;
            LastProgress = Snapshot::Of(p_Request);
        });
        connect(&App, &Application::OnHTTPDownloadRestarted, this, [this](HTTP_DownloadFileRequest* p_Request) {
            ++Restarts;
            Record = p_Request;
        });
        connect(&App, &Application::OnHTTPDownloadProgressComplete, this,
                [this](HTTP_DownloadFileRequest* p_Request) {
                    ++Completions;
                    Completion = Snapshot::Of(p_Request);
                    Record = nullptr;
                });
    }

    ~Harness() override
    {
        WaitIdle();
        Host.Detach();
    }

    HTTP_DownloadFileRequest* Download(const QString& p_Path, const QString& p_Target, bool p_Resume)
    {
        Record = App.HTTP_DownloadFile(Server.Url(p_Path), p_Target, p_Resume);
        return Record;
    }

    /// Until the downloader is gone and every queued slot (and the record's release) has run.
    bool WaitIdle()
    {
        bool l_Gone = QTest::qWaitFor([] { return ApplicationAsyncHttpDownloader::LiveCount() == 0; }, 20000);
        QCoreApplication::sendPostedEvents();
        return l_Gone;
    }

    /// Waits, without serving the application's thread, as StopDownload does.
    static bool BlockUntil(const std::function<bool()>& p_Condition, int p_TimeoutMs = 10000)
    {
        QElapsedTimer l_Timer;
        l_Timer.start();
        while (!p_Condition())
        {
            if (l_Timer.elapsed() > p_TimeoutMs)
                return false;
            QThread::msleep(2);
        }
        return true;
    }

    QStringList Ranges(const QString& p_Path) const
    {
        QStringList l_Ranges;
        const QList<TestHttpServer::Request> l_Requests = Server.Requests(p_Path);
        for (const TestHttpServer::Request& l_Request : l_Requests)
            l_Ranges << QString::fromLatin1(l_Request.Range);
        return l_Ranges;
    }
};

/// After a closed connection Qt itself may send the same request once more (and drop the answer).
QStringList Collapsed(const QStringList& p_Ranges)
{
    QStringList l_Result;
    for (const QString& l_Range : p_Ranges)
        if (l_Result.isEmpty() || l_Result.last() != l_Range)
            l_Result << l_Range;
    return l_Result;
}

/// Sets an environment variable for one test.
class ScopedEnv
{
public:
    ScopedEnv(const char* p_Name, const QByteArray& p_Value) : m_Name(p_Name), m_Old(qgetenv(p_Name))
    {
        qputenv(p_Name, p_Value);
    }
    ~ScopedEnv()
    {
        if (m_Old.isEmpty())
            qunsetenv(m_Name);
        else
            qputenv(m_Name, m_Old);
    }

private:
    const char* m_Name;
    QByteArray m_Old;
};

} // namespace

Q_DECLARE_METATYPE(TestHttpServer::Fault)

class tst_Downloader : public QObject
{
    Q_OBJECT

private slots:
    void transfers_data();
    void transfers();
    void httpErrors_data();
    void httpErrors();
    void stop_data();
    void stop();
    void stopWinsOverSelfRestarts();
    void stallTimeoutReportsCompletion();
    void selfRestartsAreBounded_data();
    void selfRestartsAreBounded();
    void startFailureIsReportedAsCompletion();
    void recordOutlivesTheDownloader();
    void largeFileFromDiskWithSmallBuffer();
    void recordFreedWhenTheApplicationGoesFirst();
};

void tst_Downloader::transfers_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QByteArray>("onDisk"); // file present before the start ("-": none)
    QTest::addColumn<bool>("resume");
    QTest::addColumn<TestHttpServer::Fault>("fault");
    QTest::addColumn<QStringList>("ranges"); // Range header of each request
    QTest::addColumn<int>("restarts");

    const int l_Size = 1000000;
    const QByteArray l_Body = Pattern(l_Size);
    const QByteArray l_None("-");
    TestHttpServer::Fault l_Clean;

    QTest::newRow("fresh") << l_Size << l_None << false << l_Clean << QStringList{""} << 0;
    QTest::newRow("existing file, no resume: replaced")
        << l_Size << QByteArray("stale bytes") << false << l_Clean << QStringList{""} << 0;
    QTest::newRow("resumed") << l_Size << l_Body.left(300000) << true << l_Clean << QStringList{"bytes=300000-"} << 0;
    QTest::newRow("resume of an empty file") << l_Size << QByteArray() << true << l_Clean << QStringList{""} << 0;
    QTest::newRow("resume, missing file") << l_Size << l_None << true << l_Clean << QStringList{""} << 0;

    TestHttpServer::Fault l_CloseOnce;
    l_CloseOnce.CloseAfterBytes = 250000;
    l_CloseOnce.Times = 1;
    QTest::newRow("closed mid-body, resume")
        << l_Size << l_None << true << l_CloseOnce << QStringList{"", "bytes=250000-"} << 1;
    QTest::newRow("closed mid-body, no resume: emptied first")
        << l_Size << l_None << false << l_CloseOnce << QStringList{"", ""} << 1;
    QTest::newRow("closed mid-body of a resumed file")
        << l_Size << l_Body.left(100000) << true << l_CloseOnce << QStringList{"bytes=100000-", "bytes=350000-"} << 1;

    TestHttpServer::Fault l_CloseEvery;
    l_CloseEvery.CloseAfterBytes = 300000;
    QTest::newRow("closed every 300000 bytes, resume: progress each time")
        << l_Size << l_None << true << l_CloseEvery
        << QStringList{"", "bytes=300000-", "bytes=600000-", "bytes=900000-"} << 3;

    TestHttpServer::Fault l_IgnoreRange;
    l_IgnoreRange.IgnoreRange = true;
    QTest::newRow("range ignored: file starts over")
        << l_Size << l_Body.left(400000) << true << l_IgnoreRange << QStringList{"bytes=400000-"} << 0;
    QTest::newRow("range ignored on a foreign partial file")
        << l_Size << QByteArray(5000, 'x') << true << l_IgnoreRange << QStringList{"bytes=5000-"} << 0;

    TestHttpServer::Fault l_Refuse416;
    l_Refuse416.Status = 416;
    l_Refuse416.Times = 1;
    QTest::newRow("416 (UnknownContentError): partial deleted, restart from zero")
        << l_Size << l_Body.left(1234) << true << l_Refuse416 << QStringList{"bytes=1234-", ""} << 1;
    QTest::newRow("complete file on disk: 416, restart from zero")
        << l_Size << l_Body << true << l_Clean << QStringList{QString("bytes=%1-").arg(l_Size), ""} << 1;

    TestHttpServer::Fault l_NoLength;
    l_NoLength.OmitContentLength = true;
    QTest::newRow("no Content-Length") << l_Size << l_None << false << l_NoLength << QStringList{""} << 0;
    QTest::newRow("empty file") << 0 << l_None << false << l_Clean << QStringList{""} << 0;
}

void tst_Downloader::transfers()
{
    QFETCH(int, size);
    QFETCH(QByteArray, onDisk);
    QFETCH(bool, resume);
    QFETCH(TestHttpServer::Fault, fault);
    QFETCH(QStringList, ranges);
    QFETCH(int, restarts);

    Harness l_Harness;
    const QByteArray l_Body = Pattern(size);
    l_Harness.Server.SetResource("/game/file.bin", l_Body);
    l_Harness.Server.SetFault("/game/file.bin", fault);
    const QString l_Target = l_Harness.Dir.filePath("sub/dir/file.bin.part");
    if (onDisk != "-")
    {
        QVERIFY(QDir().mkpath(l_Harness.Dir.filePath("sub/dir")));
        QVERIFY(WriteFile(l_Target, onDisk));
    }

    l_Harness.Download("/game/file.bin", l_Target, resume);
    QTRY_COMPARE_WITH_TIMEOUT(l_Harness.Completions, 1, 20000);
    QVERIFY(l_Harness.WaitIdle());

    QCOMPARE(l_Harness.Completions, 1);
    QCOMPARE(l_Harness.Restarts, restarts);
    QCOMPARE(Collapsed(l_Harness.Ranges("/game/file.bin")), Collapsed(ranges));
    QVERIFY(ReadFile(l_Target) == l_Body);
    QCOMPARE(l_Harness.Completion.FileSize, qint64(size));
    QVERIFY(!l_Harness.Completion.StopRequested);
    QVERIFY(l_Harness.Host.Errors.isEmpty());
    if (size > 0)
    {
        // The last progress is always delivered, whatever the throttling.
        QVERIFY(l_Harness.Progress > 0);
        QCOMPARE(l_Harness.LastProgress.FileSize, qint64(size));
        QVERIFY(l_Harness.LastProgress.FilePercent == 100 || fault.OmitContentLength);
    }
    QVERIFY(l_Harness.LastProgress.FilePercent <= 100);
}

void tst_Downloader::httpErrors_data()
{
    QTest::addColumn<int>("status"); // 0: nobody listening
    QTest::addColumn<bool>("resume");
    QTest::addColumn<QString>("message");

    QTest::newRow("404") << 404 << false << "Http Error 203";
    QTest::newRow("404 on a resumed file") << 404 << true << "Http Error 203";
    QTest::newRow("500") << 500 << true << "Http Error 401";
    QTest::newRow("connection refused") << 0 << true << "Http Error 1";
}

void tst_Downloader::httpErrors()
{
    QFETCH(int, status);
    QFETCH(bool, resume);
    QFETCH(QString, message);

    Harness l_Harness;
    l_Harness.Server.SetResource("/f", Pattern(5000));
    TestHttpServer::Fault l_Fault;
    l_Fault.Status = status;
    l_Harness.Server.SetFault("/f", l_Fault);
    const QString l_Target = l_Harness.Dir.filePath("f.part");
    const QByteArray l_Partial = Pattern(5000).left(777);
    if (resume)
        QVERIFY(WriteFile(l_Target, l_Partial));

    QString l_Url = l_Harness.Server.Url("/f");
    if (status == 0)
    {
        TestHttpServer l_Gone;
        QVERIFY(l_Gone.Start());
        l_Url = l_Gone.Url("/f");
    }
    l_Harness.App.HTTP_DownloadFile(l_Url, l_Target, resume);
    QTRY_COMPARE_WITH_TIMEOUT(l_Harness.Completions, 1, 20000);
    QVERIFY(l_Harness.WaitIdle());

    QCOMPARE(l_Harness.Completions, 1);
    QCOMPARE(l_Harness.Restarts, 0);
    QCOMPARE(l_Harness.Host.Errors, QStringList{message});
    // The error page never lands in the file.
    QCOMPARE(ReadFile(l_Target), resume ? l_Partial : QByteArray());
}

void tst_Downloader::stop_data()
{
    QTest::addColumn<bool>("resume");
    QTest::addColumn<bool>("stalled"); // no more network events after the first bytes

    QTest::newRow("non-resumable, flowing") << false << false;
    QTest::newRow("resumable, flowing") << true << false;
    QTest::newRow("non-resumable, stalled") << false << true;
    QTest::newRow("resumable, stalled") << true << true;
}

void tst_Downloader::stop()
{
    QFETCH(bool, resume);
    QFETCH(bool, stalled);

    Harness l_Harness;
    const QByteArray l_Body = Pattern(4000000);
    l_Harness.Server.SetResource("/big", l_Body);
    TestHttpServer::Fault l_Fault;
    if (stalled)
        l_Fault.StallAfterBytes = 65536;
    else
        l_Fault.BytesPerSecond = 200000;
    l_Harness.Server.SetFault("/big", l_Fault);
    const QString l_Target = l_Harness.Dir.filePath("big.part");

    HTTP_DownloadFileRequest* l_Request = l_Harness.Download("/big", l_Target, resume);
    QTRY_VERIFY_WITH_TIMEOUT(l_Harness.LastProgress.FileSize > 0, 20000);

    // As StopDownload does: ask, then block until acknowledged.
    l_Request->StopRequested = true;
    QVERIFY(Harness::BlockUntil([l_Request] { return bool(l_Request->Stopped); }));

    QTRY_COMPARE_WITH_TIMEOUT(l_Harness.Completions, 1, 20000);
    QVERIFY(l_Harness.WaitIdle());
    QCOMPARE(l_Harness.Completions, 1);
    QVERIFY(l_Harness.Completion.StopRequested);
    QVERIFY(l_Harness.Host.Errors.isEmpty());
    if (resume)
    {
        const QByteArray l_Kept = ReadFile(l_Target);
        QVERIFY(!l_Kept.isEmpty());
        QVERIFY(l_Kept.size() < l_Body.size());
        QVERIFY(l_Body.startsWith(l_Kept));
        QCOMPARE(qint64(l_Kept.size()), l_Harness.Completion.FileSize);
    }
    else
        QVERIFY(!QFile::exists(l_Target));
}

void tst_Downloader::stopWinsOverSelfRestarts()
{
    // A server that rejects every request keeps the downloader restarting; a stop asked meanwhile
    // is neither lost nor delayed to the end of the restarts.
    ScopedEnv l_Max("KESTRUN_MAX_SELF_RESTARTS", "100000");
    Harness l_Harness;
    l_Harness.Server.SetResource("/f", Pattern(1000));
    TestHttpServer::Fault l_Fault;
    l_Fault.Status = 416;
    l_Harness.Server.SetFault("/f", l_Fault);

    HTTP_DownloadFileRequest* l_Request = l_Harness.Download("/f", l_Harness.Dir.filePath("f.part"), true);
    QTRY_VERIFY_WITH_TIMEOUT(l_Harness.Restarts > 0, 20000);
    l_Request->StopRequested = true;
    QVERIFY(Harness::BlockUntil([l_Request] { return bool(l_Request->Stopped); }));
    QTRY_COMPARE_WITH_TIMEOUT(l_Harness.Completions, 1, 20000);
    QVERIFY(l_Harness.WaitIdle());
    QVERIFY(l_Harness.Completion.StopRequested);
    QVERIFY(l_Harness.Server.Requests("/f").size() < 1000);
}

void tst_Downloader::stallTimeoutReportsCompletion()
{
    ScopedEnv l_Stall("KESTRUN_STALL_TIMEOUT_MS", "300");
    Harness l_Harness;
    const QByteArray l_Body = Pattern(100000);
    l_Harness.Server.SetResource("/slow", l_Body);
    TestHttpServer::Fault l_Fault;
    l_Fault.StallAfterBytes = 20000;
    l_Harness.Server.SetFault("/slow", l_Fault);
    const QString l_Target = l_Harness.Dir.filePath("slow.part");

    l_Harness.Download("/slow", l_Target, true);
    QTRY_COMPARE_WITH_TIMEOUT(l_Harness.Completions, 1, 20000);
    QVERIFY(l_Harness.WaitIdle());
    QCOMPARE(l_Harness.Completions, 1);
    QCOMPARE(l_Harness.Restarts, 0);
    QVERIFY(!l_Harness.Completion.StopRequested);
    // What came is kept for the next resume; verification decides.
    QCOMPARE(ReadFile(l_Target), l_Body.left(20000));
    QVERIFY(l_Harness.Host.Errors.isEmpty());
}

void tst_Downloader::selfRestartsAreBounded_data()
{
    QTest::addColumn<TestHttpServer::Fault>("fault");
    QTest::addColumn<bool>("resume");

    TestHttpServer::Fault l_Fault;
    l_Fault.CloseAfterBytes = 0;
    QTest::newRow("closed after the headers, every time") << l_Fault << true;
    l_Fault.CloseAfterBytes = 1000;
    QTest::newRow("closed after 1000 bytes every time, no resume") << l_Fault << false;
    l_Fault = TestHttpServer::Fault();
    l_Fault.Status = 416;
    QTest::newRow("416 every time") << l_Fault << true;
}

void tst_Downloader::selfRestartsAreBounded()
{
    QFETCH(TestHttpServer::Fault, fault);
    QFETCH(bool, resume);
    ScopedEnv l_Max("KESTRUN_MAX_SELF_RESTARTS", "3");

    Harness l_Harness;
    l_Harness.Server.SetResource("/bad", Pattern(50000));
    l_Harness.Server.SetFault("/bad", fault);
    const QString l_Target = l_Harness.Dir.filePath("bad.part");
    QVERIFY(WriteFile(l_Target, Pattern(50000).left(10)));

    l_Harness.Download("/bad", l_Target, resume);
    QTRY_COMPARE_WITH_TIMEOUT(l_Harness.Completions, 1, 20000);
    QVERIFY(l_Harness.WaitIdle());
    QCOMPARE(l_Harness.Completions, 1);
    QCOMPARE(l_Harness.Restarts, 3);
    // Four requests of ours; Qt may repeat a request once on its own after a close.
    const int l_Requests = l_Harness.Server.Requests("/bad").size();
    QVERIFY2(l_Requests >= 4 && l_Requests <= 8, qPrintable(QString::number(l_Requests)));
}

void tst_Downloader::startFailureIsReportedAsCompletion()
{
    Harness l_Harness;
    l_Harness.Server.SetResource("/f", Pattern(100));
    // A regular file where the folder should be: nothing can be written below it.
    QVERIFY(WriteFile(l_Harness.Dir.filePath("blocker"), "x"));
    const QString l_Target = l_Harness.Dir.filePath("blocker/f.part");

    HTTP_DownloadFileRequest* l_Request = l_Harness.Download("/f", l_Target, true);
    l_Request->StopRequested = true; // a stop asked meanwhile is acknowledged too
    QVERIFY(Harness::BlockUntil([l_Request] { return bool(l_Request->Stopped); }));
    QTRY_COMPARE_WITH_TIMEOUT(l_Harness.Completions, 1, 20000);
    QVERIFY(l_Harness.WaitIdle());
    QCOMPARE(l_Harness.Completions, 1);
    QVERIFY(l_Harness.Server.Requests().isEmpty());
    QVERIFY(!QFile::exists(l_Target));
}

void tst_Downloader::recordOutlivesTheDownloader()
{
    // The completion slot runs after the downloader was cleaned up; the record must still be valid
    // (the sanitizer build turns a use after free into a failure).
    Harness l_Harness;
    const QByteArray l_Body = Pattern(300000);
    l_Harness.Server.SetResource("/f", l_Body);
    const QString l_Target = l_Harness.Dir.filePath("f.part");
    for (int l_Round = 0; l_Round < 3; ++l_Round)
    {
        l_Harness.Completions = 0;
        l_Harness.Download("/f", l_Target, false);
        QVERIFY(Harness::BlockUntil([] { return ApplicationAsyncHttpDownloader::LiveCount() == 0; }));
        QCOMPARE(l_Harness.Completions, 0); // nothing served yet on this thread
        QTRY_COMPARE_WITH_TIMEOUT(l_Harness.Completions, 1, 20000);
        QCOMPARE(l_Harness.Completion.FileSize, qint64(l_Body.size()));
        QCOMPARE(l_Harness.Completion.ContentLength, qint64(l_Body.size()));
    }
}

void tst_Downloader::largeFileFromDiskWithSmallBuffer()
{
    ScopedEnv l_Buffer("KESTRUN_READ_BUFFER_BYTES", "65536");
    Harness l_Harness;
    const QByteArray l_Body = Pattern(24 * 1024 * 1024 + 3, 11);
    QVERIFY(QDir().mkpath(l_Harness.Dir.filePath("www")));
    QVERIFY(WriteFile(l_Harness.Dir.filePath("www/big.bin"), l_Body));
    l_Harness.Server.SetFileRoot(l_Harness.Dir.filePath("www"));
    TestHttpServer::Fault l_Fault;
    l_Fault.CloseAfterBytes = 10 * 1024 * 1024;
    l_Fault.Times = 1;
    l_Harness.Server.SetFault("/big.bin", l_Fault);
    const QString l_Target = l_Harness.Dir.filePath("out/big.bin.part");

    l_Harness.Download("/big.bin", l_Target, true);
    QTRY_COMPARE_WITH_TIMEOUT(l_Harness.Completions, 1, 60000);
    QVERIFY(l_Harness.WaitIdle());
    QCOMPARE(l_Harness.Completions, 1);
    QCOMPARE(l_Harness.Restarts, 1);
    QVERIFY(ReadFile(l_Target) == l_Body);
}

void tst_Downloader::recordFreedWhenTheApplicationGoesFirst()
{
    // The record's release is queued to the application; an application deleted before that runs
    // must not leak it (the sanitizer build reports leaks).
    FakeHost l_Host;
    auto* l_App = new TestApp();
    l_Host.Attach(l_App);
    TestHttpServer l_Server;
    QVERIFY(l_Server.Start());
    l_Server.SetResource("/f", Pattern(1000));
    QTemporaryDir l_Dir;
    l_App->HTTP_DownloadFile(l_Server.Url("/f"), l_Dir.filePath("f.part"), false);
    QVERIFY(Harness::BlockUntil([] { return ApplicationAsyncHttpDownloader::LiveCount() == 0; }));
    l_Host.Detach();
    delete l_App;
    QCOMPARE(ReadFile(l_Dir.filePath("f.part")), Pattern(1000));
}

QTEST_MAIN(tst_Downloader)
#include "tst_downloader.moc"
