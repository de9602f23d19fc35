// One-file downloads against the loopback server: the file on disk, the signals
// the application receives, the stop protocol and the errors the host is shown.
#include "launcher/ApplicationAsyncHttpDownloader.h"
#include "support/BareApplication.h"
#include "support/GameFixture.h"
#include "support/TestHttpServer.h"

#include <QDeadlineTimer>
#include <QtTest>

#include <memory>

using namespace Orvane::Launcher;
using Fault = TestHttpServer::Fault;

namespace {

constexpr int c_NobodyListening = -1; // as a fault's status: the request goes to a port nobody listens on

template <class T, class V>
Fault With(T Fault::*p_Field, V p_Value, int p_Times = -1)
{
    Fault l_Fault;
    l_Fault.*p_Field = T(p_Value);
    l_Fault.Times = p_Times;
    return l_Fault;
}

/// Waits without serving this thread's events, as StopDownload does.
bool BlockUntil(const std::function<bool()>& p_Condition)
{
    QDeadlineTimer l_Deadline(10000);
    while (!p_Condition() && !l_Deadline.hasExpired())
        QThread::msleep(2);
    return p_Condition();
}

bool NoDownloader() { return ApplicationAsyncHttpDownloader::LiveCount() == 0; }

/// The record as the application's queued slots saw it.
struct Snapshot
{
    qint64 FileSize = -1, ContentLength = -1;
    int FilePercent = -1;
    bool StopRequested = false;
};

Snapshot Of(const HTTP_DownloadFileRequest* p_Request)
{
    return {p_Request->FileSize, p_Request->ContentLength, p_Request->FilePercent, p_Request->StopRequested};
}

} // namespace

class tst_Downloader : public QObject
{
    Q_OBJECT

    TestHttpServer m_Server;
    QString m_DeadUrl;
    const QByteArray m_Body = TestHttpServer::Pattern(1000000);
    std::unique_ptr<FakeHost> m_Host;
    std::unique_ptr<BareApplication> m_App;
    std::unique_ptr<QTemporaryDir> m_Dir;
    int m_Completions = 0;
    int m_Restarts = 0;
    Snapshot m_LastProgress;
    Snapshot m_Completion;

    // Below a folder that does not exist yet: the downloader creates it.
    QString Target() const { return m_Dir->filePath("sub/f.part"); }

    HTTP_DownloadFileRequest* Download(bool p_Resume, const QString& p_Target = QString())
    {
        return m_App->HTTP_DownloadFile(m_Server.Url("f"), p_Target.isEmpty() ? Target() : p_Target, p_Resume);
    }

    /// Until the downloader is gone and every queued slot (and the record's release) has run.
    bool WaitIdle()
    {
        const bool l_Gone = QTest::qWaitFor(NoDownloader, 20000);
        QCoreApplication::sendPostedEvents();
        return l_Gone;
    }

    /// As StopDownload does: ask, then block until acknowledged.
    bool StopAndWait(HTTP_DownloadFileRequest* p_Request)
    {
        p_Request->StopRequested = true;
        return BlockUntil([p_Request] { return bool(p_Request->Stopped); }) && WaitIdle();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_Server.Start());
        m_Server.SetResource("/f", m_Body);
        TestHttpServer l_Dead;
        QVERIFY(l_Dead.Start());
        m_DeadUrl = l_Dead.Url("f");
    }

    void init()
    {
        // A small read buffer: every transfer crosses it many times.
        qputenv("KESTRUN_READ_BUFFER_BYTES", "65536");
        qputenv("KESTRUN_MAX_SELF_RESTARTS", "1");
        qunsetenv("KESTRUN_STALL_TIMEOUT_MS");
        m_Server.ClearFaults();
        m_Server.ClearRequests();
        m_Dir.reset(new QTemporaryDir());
        m_Host.reset(new FakeHost());
        m_App.reset(new BareApplication());
        m_Host->Attach(m_App.get());
        m_Completions = m_Restarts = 0;
        m_LastProgress = m_Completion = Snapshot();
        // Automatic connections: queued to this thread, as StandartApplication receives them.
        connect(m_App.get(), &Application::OnHTTPDownloadProgressUpdate, this,
                [this](HTTP_DownloadFileRequest* p_Request) { m_LastProgress = Of(p_Request); });
        connect(m_App.get(), &Application::OnHTTPDownloadRestarted, this, [this] { ++m_Restarts; });
        connect(m_App.get(), &Application::OnHTTPDownloadProgressComplete, this,
                [this](HTTP_DownloadFileRequest* p_Request) {
                    ++m_Completions;
                    m_Completion = Of(p_Request);
                });
    }

    void cleanup()
    {
        QVERIFY(WaitIdle());
        m_Host.reset();
        m_App.reset();
    }

    void transfers_data();
    void transfers();
    void stop_data();
    void stop();
    void unwritableTargetIsReportedAsCompletion();
    void recordLifetime();
};

void tst_Downloader::transfers_data()
{
    QTest::addColumn<QByteArray>("onDisk"); // file present before the start (null: none)
    QTest::addColumn<bool>("resume");
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QStringList>("ranges"); // Range header of each request ("bytes=": any offset)
    QTest::addColumn<int>("restarts");
    QTest::addColumn<int>("kept"); // bytes of the body in the file at the end; -1: all of it

    const QByteArray l_None;
    QTest::newRow("existing file, no resume: replaced") << QByteArray("stale") << false << Fault() << QStringList{""}
                                                        << 0 << -1;
    QTest::newRow("resumed: appended") << m_Body.left(300000) << true << Fault() << QStringList{"bytes=300000-"} << 0
                                       << -1;
    QTest::newRow("complete file resumed: 416, deleted, restarted from zero")
        << m_Body << true << Fault() << QStringList{"bytes=1000000-", ""} << 1 << -1;
    QTest::newRow("range ignored (200): file starts over")
        << m_Body.left(400000) << true << With(&Fault::IgnoreRange, true) << QStringList{"bytes=400000-"} << 0 << -1;
    QTest::newRow("no Content-Length") << l_None << false << With(&Fault::OmitContentLength, true) << QStringList{""}
                                       << 0 << -1;
    // A closed connection: bytes Qt received but did not hand over are fetched again.
    QTest::newRow("closed mid-body, resume")
        << l_None << true << With(&Fault::CloseAfterBytes, 250000, 1) << QStringList{"", "bytes="} << 1 << -1;
    QTest::newRow("closed mid-body, no resume: emptied first")
        << l_None << false << With(&Fault::CloseAfterBytes, 250000, 1) << QStringList{""} << 1 << -1;
    QTest::newRow("closed every 450000 bytes: progress each time, more restarts than the bound")
        << l_None << true << With(&Fault::CloseAfterBytes, 450000) << QStringList{"", "bytes=", "bytes="} << 2 << -1;
    // One restart without progress (the bound here), then the caller's verification decides.
    QTest::newRow("closed after the headers every time")
        << m_Body.left(10) << true << With(&Fault::CloseAfterBytes, 0) << QStringList{"bytes=10-"} << 1 << 10;
    QTest::newRow("404 on a resumed file: error page not appended")
        << m_Body.left(777) << true << With(&Fault::Status, 404) << QStringList{"bytes=777-"} << 0 << 777;
    QTest::newRow("nobody listening") << l_None << true << With(&Fault::Status, c_NobodyListening) << QStringList{}
                                      << 0 << 0;
    QTest::newRow("stalled: aborted, what came is kept")
        << l_None << true << With(&Fault::StallAfterBytes, 20000) << QStringList{""} << 0 << 20000;
}

void tst_Downloader::transfers()
{
    QFETCH(QByteArray, onDisk);
    QFETCH(bool, resume);
    QFETCH(Fault, fault);
    QFETCH(QStringList, ranges);
    QFETCH(int, restarts);
    QFETCH(int, kept);

    if (fault.StallAfterBytes >= 0)
        qputenv("KESTRUN_STALL_TIMEOUT_MS", "300");
    m_Server.SetFault("/f", fault);
    QVERIFY(onDisk.isNull() || WriteFile(Target(), onDisk));
    m_App->HTTP_DownloadFile(fault.Status == c_NobodyListening ? m_DeadUrl : m_Server.Url("f"), Target(), resume);
    QVERIFY(WaitIdle());

    QCOMPARE(m_Completions, 1);
    QCOMPARE(m_Restarts, restarts);
    // A request Qt itself repeats after a closed connection counts once.
    QStringList l_Ranges;
    for (const TestHttpServer::Request& l_Request : m_Server.Requests("/f"))
        if (l_Ranges.isEmpty() || l_Ranges.last() != l_Request.Range)
            l_Ranges << QString::fromLatin1(l_Request.Range);
    for (int l_Index = 0; l_Index < l_Ranges.size(); ++l_Index)
        if (ranges.value(l_Index) == "bytes=" && l_Ranges[l_Index].startsWith("bytes="))
            l_Ranges[l_Index] = "bytes=";
    QCOMPARE(l_Ranges, ranges);
    const QByteArray l_File = ReadFile(Target());
    QVERIFY(l_File == (kept < 0 ? m_Body : m_Body.left(kept)));
    QCOMPARE(m_Completion.FileSize, qint64(l_File.size()));
    const int l_Error = fault.Status == 404 ? 203 : fault.Status == c_NobodyListening ? 1 : 0;
    QCOMPARE(m_Host->Errors, l_Error ? QStringList{QString("Http Error %1").arg(l_Error)} : QStringList());
    // The last progress is always delivered, whatever the throttling.
    QVERIFY(kept >= 0 || m_LastProgress.FileSize == m_Body.size());
    QVERIFY(kept >= 0 || m_LastProgress.FilePercent == 100 || fault.OmitContentLength);
}

void tst_Downloader::stop_data()
{
    QTest::addColumn<bool>("resume");
    QTest::addColumn<Fault>("fault");
    const Fault l_Flowing = With(&Fault::BytesPerSecond, 200000);
    QTest::newRow("non-resumable, flowing: no file left") << false << l_Flowing;
    QTest::newRow("resumable, flowing: file kept") << true << l_Flowing;
    // No more network events after the first bytes.
    QTest::newRow("resumable, stalled") << true << With(&Fault::StallAfterBytes, 65536);
    QTest::newRow("while restarting by itself") << true << With(&Fault::Status, 416);
}

void tst_Downloader::stop()
{
    QFETCH(bool, resume);
    QFETCH(Fault, fault);
    qputenv("KESTRUN_MAX_SELF_RESTARTS", "100000");
    m_Server.SetFault("/f", fault);

    HTTP_DownloadFileRequest* l_Request = Download(resume);
    QTRY_VERIFY_WITH_TIMEOUT(m_LastProgress.FileSize > 0 || m_Restarts > 0, 20000);
    QVERIFY(StopAndWait(l_Request));

    QCOMPARE(m_Completions, 1);
    QVERIFY(m_Completion.StopRequested);
    QVERIFY(m_Host->Errors.isEmpty());
    QVERIFY(resume || !QFile::exists(Target()));
    const QByteArray l_Kept = ReadFile(Target());
    if (resume && fault.Status == 0)
    {
        QVERIFY(!l_Kept.isEmpty() && l_Kept.size() < m_Body.size() && m_Body.startsWith(l_Kept));
        QCOMPARE(qint64(l_Kept.size()), m_Completion.FileSize);
    }
}

void tst_Downloader::unwritableTargetIsReportedAsCompletion()
{
    // A regular file where the folder should be: nothing can be written below it. A stop asked
    // meanwhile is acknowledged too.
    QVERIFY(WriteFile(m_Dir->filePath("blocker"), "x"));
    QVERIFY(StopAndWait(Download(true, m_Dir->filePath("blocker/f.part"))));
    QCOMPARE(m_Completions, 1);
    QVERIFY(m_Server.Requests().isEmpty());
}

void tst_Downloader::recordLifetime()
{
    // The completion slot runs after the downloader is gone: the record must still be valid
    // (the sanitizer build turns a use after free into a failure).
    for (int l_Round = 1; l_Round <= 2; ++l_Round)
    {
        Download(false);
        QVERIFY(BlockUntil(NoDownloader));
        QCOMPARE(m_Completions, l_Round - 1); // nothing served yet on this thread
        QTRY_COMPARE_WITH_TIMEOUT(m_Completions, l_Round, 20000);
        QCOMPARE(m_Completion.ContentLength, qint64(m_Body.size()));
    }
    // Handed back to an application deleted before the release ran: freed all the same (the
    // sanitizer build reports leaks).
    m_App->disconnect(this);
    Download(false);
    QVERIFY(BlockUntil(NoDownloader));
    m_Host.reset();
    m_App.reset();
    QVERIFY(ReadFile(Target()) == m_Body);
}

QTEST_MAIN(tst_Downloader)
#include "tst_downloader.moc"
