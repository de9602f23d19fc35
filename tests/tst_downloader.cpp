// One-file downloads against the loopback server: the file on disk, the signals
// the application receives, the stop protocol and the errors the host is shown.
#include "net/ApplicationAsyncHttpDownloader.h"
#include "net/DownloadThread.h"
#include "net/RequestAhead.h"
#include "support/BareApplication.h"
#include "support/GameFixture.h"
#include "support/TestHttpServer.h"
#include "support/WarningLog.h"

#include <QDeadlineTimer>
#include <QtTest>

#include <atomic>
#include <memory>
#include <vector>

using namespace Orvane::Launcher;
using Fault = TestHttpServer::Fault;
using Ranges = QStringList; // Range header of each request ("bytes=": any offset)

constexpr int c_NoServer = -1; // as a fault's status: the request goes to a port nobody listens on

/// Waits without serving this thread's events, as StopDownload does.
static bool BlockUntil(const std::function<bool()>& p_Condition)
{
    for (QDeadlineTimer l_Deadline(10000); !p_Condition() && !l_Deadline.hasExpired();)
        QThread::msleep(2);
    return p_Condition();
}

static bool NoDownloader() { return ApplicationAsyncHttpDownloader::LiveCount() == 0; }

struct Snapshot // the record as the application's queued slots saw it
{
    qint64 FileSize = -1, ContentLength = -1;
    int FilePercent = -1;
    bool StopRequested = false;
    bool WriteFailed = false;
};

static Snapshot Of(const HTTP_DownloadFileRequest* p_R)
{
    return {p_R->FileSize, p_R->ContentLength, p_R->FilePercent, p_R->StopRequested, p_R->WriteFailed};
}

class tst_Downloader : public QObject
{
    Q_OBJECT

    TestHttpServer m_Server;
    TestHttpServer m_Second; ///< where redirects lead
    QString m_DeadUrl;
    const QByteArray m_Body = TestHttpServer::Pattern(1000000);
    std::unique_ptr<FakeHost> m_Host;
    std::unique_ptr<BareApplication> m_App;
    std::unique_ptr<QTemporaryDir> m_Dir;
    int m_Restarts = 0;
    Snapshot m_LastProgress;
    QList<Snapshot> m_Completions;

    QString Target() const { return m_Dir->filePath("sub/f.part"); } // below a folder the downloader creates
    auto Download(bool p_Resume) { return m_App->HTTP_DownloadFile(m_Server.Url("f"), Target(), p_Resume); }

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
        QVERIFY(m_Second.Start());
        m_Second.SetFault("/hop", With(&Fault::RedirectTo, m_Second.Url("f")));
        m_Second.SetResource("/f", m_Body);
        TestHttpServer l_Dead;
        QVERIFY(l_Dead.Start());
        m_DeadUrl = l_Dead.Url("f");
        qputenv("KESTRUN_READ_BUFFER_BYTES", "65536"); // small: every transfer crosses it many times
    }

    void init()
    {
        qputenv("KESTRUN_MAX_SELF_RESTARTS", "1");
        qunsetenv("KESTRUN_STALL_TIMEOUT_MS");
        m_Server.ClearFaults();
        m_Server.ClearRequests();
        m_Dir.reset(new QTemporaryDir());
        m_Host.reset(new FakeHost());
        m_App.reset(new BareApplication());
        m_Host->Attach(m_App.get());
        m_Restarts = 0;
        m_LastProgress = Snapshot();
        m_Completions.clear();
        // Automatic connections: queued to this thread, as StandartApplication receives them.
        connect(m_App.get(), &Application::OnHTTPDownloadProgressUpdate, this,
                [this](HTTP_DownloadFileRequest* p_Request) { m_LastProgress = Of(p_Request); });
        connect(m_App.get(), &Application::OnHTTPDownloadRestarted, this, [this] { ++m_Restarts; });
        connect(m_App.get(), &Application::OnHTTPDownloadProgressComplete, this,
                [this](HTTP_DownloadFileRequest* p_Request) { m_Completions << Of(p_Request); });
    }

    void cleanup()
    {
        QVERIFY(WaitIdle());
        m_Host.reset();
        m_App.reset();
    }

    void transfers_data()
    {
        QTest::addColumn<QByteArray>("onDisk"); // file present before the start (null: none)
        QTest::addColumn<bool>("resume");
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<Ranges>("ranges");
        QTest::addColumn<int>("restarts");
        QTest::addColumn<int>("kept"); // bytes of the body in the file at the end; -1: all of it
        const QByteArray l_No;
        const Fault l_Cut = With(&Fault::CloseAfterBytes, 250000, 1);
        QTest::newRow("no resume: old file replaced") << QByteArray("x") << false << Fault() << Ranges{""} << 0 << -1;
        QTest::newRow("resume appends") << m_Body.left(300000) << true << Fault() << Ranges{"bytes=300000-"} << 0 << -1;
        QTest::newRow("complete file resumed: 416, kept for the caller's check")
            << m_Body << true << Fault() << Ranges{"bytes=1000000-"} << 0 << 1000000;
        QTest::newRow("206 from the wrong offset: not appended, asked again")
            << m_Body.left(300000) << true << With(&Fault::WrongRangeStart, true, 1) << Ranges{"bytes=300000-"} << 1
            << -1;
        QTest::newRow("redirected twice to a second host, range kept")
            << m_Body.left(300000) << true << With(&Fault::RedirectTo, m_Second.Url("hop")) << Ranges{"bytes=300000-"}
            << 0 << -1;
        Fault l_NoRanges = With(&Fault::IgnoreRange, true);
        l_NoRanges.NoAcceptRanges = true;
        QTest::newRow("range ignored (200) by a server that cannot do ranges: file starts over")
            << m_Body.left(400000) << true << l_NoRanges << Ranges{"bytes=400000-"} << 0 << -1;
        QTest::newRow("range ignored (200) by a server that does ranges: bytes kept, not appended")
            << m_Body.left(400000) << true << With(&Fault::IgnoreRange, true) << Ranges{"bytes=400000-"} << 1 << 400000;
        QTest::newRow("no Content-Length")
            << l_No << false << With(&Fault::OmitContentLength, true) << Ranges{""} << 0 << -1;
        QTest::newRow("closed mid-body, resume: asked again from exactly the bytes that came")
            << l_No << true << l_Cut << Ranges{"", "bytes=250000-"} << 1 << -1;
        QTest::newRow("closed mid-body, no resume: emptied first") << l_No << false << l_Cut << Ranges{""} << 1 << -1;
        QTest::newRow("closed every 450000 bytes: progress each time, more restarts than the bound")
            << l_No << true << With(&Fault::CloseAfterBytes, 450000) << Ranges{"", "bytes=", "bytes="} << 2 << -1;
        // One restart without progress (the bound here), then the caller's verification decides.
        QTest::newRow("closed after the headers every time")
            << m_Body.left(10) << true << With(&Fault::CloseAfterBytes, 0) << Ranges{"bytes=10-"} << 1 << 10;
        // Busy or timed-out answers to a resume keep the bytes and ask again from them (Retry-After 0: no wait here).
        for (int l_Status : {408, 429, 500, 503})
        {
            Fault l_Busy = With(&Fault::Status, l_Status, 1);
            l_Busy.RetryAfter = 0;
            QTest::addRow("%d once to a resume: kept, asked again", l_Status)
                << m_Body.left(300000) << true << l_Busy << Ranges{"bytes=300000-"} << 1 << -1;
        }
        QTest::newRow("404 on a resumed file: error page not appended")
            << m_Body.left(777) << true << With(&Fault::Status, 404) << Ranges{"bytes=777-"} << 0 << 777;
        QTest::newRow("nobody listening") << l_No << true << With(&Fault::Status, c_NoServer) << Ranges{} << 0 << 0;
        QTest::newRow("stalled: aborted, resumed from every byte that came")
            << l_No << true << With(&Fault::StallAfterBytes, 20000, 1) << Ranges{"", "bytes=20000-"} << 1 << -1;
        QTest::newRow("stalled after the headers every time: kept for the caller")
            << m_Body.left(20000) << true << With(&Fault::StallAfterBytes, 0) << Ranges{"bytes=20000-"} << 1 << 20000;
    }

    void transfers()
    {
        QFETCH(QByteArray, onDisk);
        QFETCH(bool, resume);
        QFETCH(Fault, fault);
        QFETCH(Ranges, ranges);
        QFETCH(int, restarts);
        QFETCH(int, kept);
        // Room for a loaded machine: a slow read taken for a stall would add a request to the exact list.
        qputenv("KESTRUN_STALL_TIMEOUT_MS", fault.StallAfterBytes >= 0 ? "2000" : "60000");
        m_Server.SetFault("/f", fault);
        QVERIFY(onDisk.isNull() || WriteFile(Target(), onDisk));
        m_App->HTTP_DownloadFile(fault.Status == c_NoServer ? m_DeadUrl : m_Server.Url("f"), Target(), resume);
        QVERIFY(WaitIdle());
        QCOMPARE(m_Completions.size(), 1);
        QCOMPARE(m_Restarts, restarts);
        Ranges l_Ranges; // a request Qt itself repeats after a closed connection counts once
        for (const TestHttpServer::Request& l_Request : m_Server.Requests("/f"))
            if (l_Ranges.isEmpty() || l_Ranges.last() != l_Request.Range)
                l_Ranges << QString::fromLatin1(l_Request.Range);
        for (int l_Index = 0; l_Index < l_Ranges.size(); ++l_Index)
            if (ranges.value(l_Index) == "bytes=" && l_Ranges[l_Index].startsWith("bytes="))
                l_Ranges[l_Index] = "bytes=";
        QCOMPARE(l_Ranges, ranges);
        const QByteArray l_File = ReadFile(Target());
        QVERIFY(l_File == (kept < 0 ? m_Body : m_Body.left(kept)));
        QCOMPARE(m_Completions[0].FileSize, qint64(l_File.size()));
        // Told on the application's thread, through its main queue: the host and the cause, as a notice (the
        // file's own check decides whether it failed). A refused connection is the download queue's to tell.
        const QString l_Said = fault.Status == 404 ? QString("127.0.0.1:%1: ").arg(m_Server.Port()) : QString();
        QTRY_COMPARE(m_Host->Notices.size(), l_Said.isEmpty() ? 0 : 1);
        QVERIFY2(l_Said.isEmpty() || (m_Host->Notices[0].startsWith(l_Said) &&
                                      m_Host->Notices[0].endsWith("; the file is asked for again")),
                 qPrintable(m_Host->Notices.value(0)));
        QCOMPARE(m_Host->Errors, QStringList());
        QCOMPARE(m_Host->OffThreadMessages, QStringList());
        // The last progress is always delivered, whatever the throttling.
        QVERIFY(kept >= 0 || (m_LastProgress.FileSize == m_Body.size() &&
                              (m_LastProgress.FilePercent == 100 || fault.OmitContentLength)));
    }

    void stop_data()
    {
        QTest::addColumn<bool>("resume");
        QTest::addColumn<Fault>("fault");
        const Fault l_Flowing = With(&Fault::BytesPerSecond, 200000);
        QTest::newRow("non-resumable, flowing: no file left") << false << l_Flowing;
        QTest::newRow("resumable, flowing: file kept") << true << l_Flowing;
        QTest::newRow("resumable, stalled: no network events after the first bytes")
            << true << With(&Fault::StallAfterBytes, 65536);
        QTest::newRow("while restarting by itself") << true << With(&Fault::Status, 416);
    }

    void stop()
    {
        QFETCH(bool, resume);
        QFETCH(Fault, fault);
        qputenv("KESTRUN_MAX_SELF_RESTARTS", "100000");
        // Far past the checks below: a stall time-out must not be what ends the stalled transfer.
        qputenv("KESTRUN_STALL_TIMEOUT_MS", "60000");
        m_Server.SetFault("/f", fault);
        // Connections of earlier rows that the server has not yet heard closed (slow under Wine on a
        // busy machine) are not this transfer's.
        const int l_OpenBefore = m_Server.OpenConnections();
        HTTP_DownloadFileRequest* l_Request = Download(resume);
        QTRY_VERIFY_WITH_TIMEOUT(m_LastProgress.FileSize > 0 || m_Restarts > 0, 20000);
        QVERIFY(StopAndWait(l_Request));
        // The server sees the connection of the body in flight closed (between the answers of a
        // restart, the downloader gone); then, while a transfer left running would have moved, no
        // request comes and the file stays as it is.
        QTRY_VERIFY_WITH_TIMEOUT(fault.Status != 0 ? NoDownloader() : m_Server.OpenConnections() <= l_OpenBefore, 30000);
        const int l_Requests = m_Server.Requests().size();
        const qint64 l_Size = QFileInfo(Target()).size();
        QVERIFY(!QTest::qWaitFor([&] {
            return m_Server.Requests().size() != l_Requests || QFileInfo(Target()).size() != l_Size;
        }, 1500));
        QCOMPARE(m_Completions.size(), 1);
        QVERIFY(m_Completions[0].StopRequested && m_Host->Errors.isEmpty());
        QVERIFY(resume || !QFile::exists(Target()));
        // A kept file is a true beginning of the body, of the size the completion reports.
        const QByteArray l_Kept = ReadFile(Target());
        QVERIFY(!resume || fault.Status != 0 ||
                (!l_Kept.isEmpty() && l_Kept.size() < m_Body.size() && m_Body.startsWith(l_Kept) &&
                 l_Kept.size() == m_Completions[0].FileSize));
    }

    void noThreadWarnings()
    {
        // A file's transfer leaves Qt nothing to complain about (objects moved across threads, timers ...).
        WarningLog l_Log;
        l_Log.Silence = [](const QString&) { return true; };
        Download(false);
        QVERIFY(WaitIdle());
        QVERIFY(ReadFile(Target()) == m_Body);
        for (const QString& l_Line : l_Log.Lines())
            QVERIFY2(!l_Line.startsWith("QObject::") && !l_Line.startsWith("QTimer") && !l_Line.startsWith("QSocket"),
                     qPrintable(l_Line));
    }

    void unwritableTargetIsToldAsARefusedWrite_data()
    {
        QTest::addColumn<QString>("blocker"); // a file or a folder in the way
        QTest::addColumn<QString>("part");
        // A new file is created while its request travels; a part that exists is opened before anything is sent.
        QTest::newRow("a file where the folder should be") << "blocker" << "blocker/f.part";
        QTest::newRow("a folder where the part should be") << "f.part/x" << "f.part";
    }

    // Nothing can be written there: told as a completion that could not write, with the system's reason (the
    // caller stops and says so rather than fetching it again).
    void unwritableTargetIsToldAsARefusedWrite()
    {
        QFETCH(QString, blocker);
        QFETCH(QString, part);
        QVERIFY(WriteFile(m_Dir->filePath(blocker), "x"));
        m_App->HTTP_DownloadFile(m_Server.Url("f"), m_Dir->filePath(part), true);
        QVERIFY(WaitIdle());
        QCOMPARE(m_Completions.size(), 1);
        QCOMPARE(m_Completions[0].FileSize, qint64(0));
        QVERIFY(m_Completions[0].WriteFailed);
        QVERIFY(ReadFile(m_Dir->filePath(blocker)) == "x");
    }

    void consecutiveFilesShareOneConnection()
    {
        // Files fetched one after the other travel over one kept-alive connection; the connection the
        // server closed mid-body is not used again. (Qt itself may send the request the close cut once
        // more on a fresh connection: only the files after it are counted.)
        m_Server.SetFault("/f", With(&Fault::CloseAfterBytes, 250000, 1));
        Download(false);
        QVERIFY(WaitIdle());
        QVERIFY(m_Completions.size() == 1 && m_Restarts == 1 && ReadFile(Target()) == m_Body);
        m_Server.ClearRequests();
        for (int l_File = 0; l_File < 4; ++l_File)
        {
            Download(false);
            QVERIFY(WaitIdle());
        }
        QVERIFY(m_Completions.size() == 5 && m_Restarts == 1 && ReadFile(Target()) == m_Body);
        QCOMPARE(m_Server.Requests("/f").size(), 4);
        QVERIFY(m_Server.Connections() <= 1);
    }

    void preparedConnectionIsTakenByTheDownload()
    {
        // Opened before the file's turn, the connection carries the file's request: no handshake at the turn.
        m_App->PrepareDownloadConnection(m_Server.BaseUrl());
        QTRY_COMPARE(m_Server.Connections(), 1); // before any request
        Download(false);
        QVERIFY(WaitIdle());
        QVERIFY(m_Completions.size() == 1 && m_Restarts == 0 && ReadFile(Target()) == m_Body);
        QCOMPARE(m_Server.Requests("/f").size(), 1);
        QCOMPARE(m_Server.Connections(), 1);
        // A host that is down costs the next download nothing, and an address that is not http opens nothing
        // (taken for http, the ftp one would connect to the second server).
        m_Second.ClearRequests();
        m_App->PrepareDownloadConnection(QUrl(m_DeadUrl).resolved(QUrl("/")).toString());
        m_App->PrepareDownloadConnection(QString("ftp://127.0.0.1:%1/").arg(m_Second.Port()));
        Download(false);
        QVERIFY(WaitIdle());
        QVERIFY(m_Completions.size() == 2 && m_Restarts == 0 && ReadFile(Target()) == m_Body);
        QCOMPARE(m_Server.Requests("/f").size(), 2);
        QCOMPARE(m_Server.Connections(), 1);
        QCOMPARE(m_Second.Connections(), 0);
    }

    /// Downloads /f with /b announced as the file after it, once a first file has ended whole.
    HTTP_DownloadFileRequest* DownloadWithNextAnnounced(const QString& p_Next)
    {
        Download(false);
        if (!WaitIdle())
            return nullptr;
        m_Server.ClearRequests();
        m_Server.SetFault("/f", With(&Fault::BytesPerSecond, 4000000)); // its body travels a while
        m_App->m_NextAhead = {m_Server.Url(p_Next), m_Dir->filePath(p_Next + ".part"), -1};
        return Download(false);
    }

    void nextFileIsAskedAheadOnTheSameConnection()
    {
        // Its answer follows the current file's on the kept-alive connection: no round trip between
        // the two, no second request and no second connection.
        const QByteArray l_Next = TestHttpServer::Pattern(300000, 3);
        m_Server.SetResource("/b", l_Next);
        QVERIFY(DownloadWithNextAnnounced("b"));
        QVERIFY(WaitIdle());
        QTRY_COMPARE(m_Server.Requests("/b").size(), 1); // before its turn
        m_App->HTTP_DownloadFile(m_Server.Url("b"), m_Dir->filePath("b.part"), true);
        QVERIFY(WaitIdle());
        QCOMPARE(m_Completions.size(), 3);
        QVERIFY(ReadFile(Target()) == m_Body && ReadFile(m_Dir->filePath("b.part")) == l_Next);
        QCOMPARE(m_Server.Requests("/b").size(), 1);
        QCOMPARE(m_Server.Connections(), 0);
    }

    void redirectedFilesAreAskedOnceOnABusyMachine()
    {
        // However late the network thread runs, the host that redirects is asked once per file and the host
        // it leads to once: Qt 5's own following sent the first request again about one time in ten with
        // every core busy, and the answer then came twice.
        const QByteArray l_Small = TestHttpServer::Pattern(2000, 7);
        m_Second.ClearRequests();
        m_Second.SetResource("/small", l_Small);
        m_Server.SetFault("/moved", With(&Fault::RedirectTo, m_Second.Url("small")));
        std::atomic<bool> l_Busy{true};
        std::vector<std::unique_ptr<QThread>> l_Spinners;
        for (int l_Core = 0; l_Core <= QThread::idealThreadCount(); ++l_Core)
        {
            l_Spinners.emplace_back(QThread::create([&l_Busy] {
                while (l_Busy.load(std::memory_order_relaxed))
                    ;
            }));
            l_Spinners.back()->start();
        }
        const int l_Files = 60;
        int l_Whole = 0;
        for (int l_File = 0; l_File < l_Files; ++l_File)
        {
            const QString l_Path = m_Dir->filePath(QString("moved%1.part").arg(l_File));
            m_App->HTTP_DownloadFile(m_Server.Url("moved"), l_Path, false);
            if (!WaitIdle())
                break;
            l_Whole += ReadFile(l_Path) == l_Small;
        }
        l_Busy = false;
        for (auto& l_Spinner : l_Spinners)
            l_Spinner->wait();
        QCOMPARE(l_Whole, l_Files);
        QCOMPARE(m_Server.Requests("/moved").size(), l_Files);
        QCOMPARE(m_Second.Requests("/small").size(), l_Files);
    }

    /// The status of the reply held ahead (0: none yet, or nothing held) and whether it finished.
    QPair<int, bool> HeldAhead()
    {
        QPair<int, bool> l_State(0, false);
        DownloadThread* l_Thread = m_App->m_DownloadThread;
        QMetaObject::invokeMethod(
            l_Thread->Manager(),
            [&] {
                if (const QNetworkReply* l_Held = l_Thread->Ahead().Held())
                    l_State = {l_Held->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                               l_Held->isFinished()};
            },
            Qt::BlockingQueuedConnection);
        return l_State;
    }

    void requestAheadFollowsARedirect_data()
    {
        QTest::addColumn<int>("redirectDelayMs"); // the 302's delay on the first host
        QTest::addColumn<int>("answerDelayMs");   // the answer's delay on the host it leads to
        QTest::addColumn<bool>("redirectHeld");   // the turn waits until the held reply is the whole 302
        QTest::newRow("redirect held, answered at once") << 0 << 0 << true;
        QTest::newRow("redirect held, answer late") << 0 << 300 << true;
        QTest::newRow("turn long before the redirect") << 1500 << 0 << false;
        QTest::newRow("turn before the redirect, answer late too") << 1500 << 300 << false;
    }

    void requestAheadFollowsARedirect()
    {
        // To another host, as a CDN sends a file elsewhere: the answer at the end of the chain is the file's,
        // and neither host is asked for it twice.
        QFETCH(int, redirectDelayMs);
        QFETCH(int, answerDelayMs);
        QFETCH(bool, redirectHeld);
        const QByteArray l_Next = TestHttpServer::Pattern(300000, 3);
        m_Second.ClearRequests();
        m_Second.SetResource("/b", l_Next);
        m_Second.SetFault("/b", With(&Fault::DelayMs, answerDelayMs));
        Fault l_Redirect = With(&Fault::RedirectTo, m_Second.Url("b"));
        l_Redirect.DelayMs = redirectDelayMs;
        m_Server.SetFault("/b", l_Redirect);
        QVERIFY(DownloadWithNextAnnounced("b"));
        QVERIFY(WaitIdle());
        if (redirectHeld)
            QTRY_VERIFY_WITH_TIMEOUT(HeldAhead() == qMakePair(302, true), 10000);
        else
            QCOMPARE(HeldAhead().first, 0); // the turn comes first
        m_App->HTTP_DownloadFile(m_Server.Url("b"), m_Dir->filePath("b.part"), true);
        QVERIFY(WaitIdle());
        m_Second.ClearFaults();
        QVERIFY(ReadFile(m_Dir->filePath("b.part")) == l_Next);
        QCOMPARE(m_Server.Requests("/b").size(), 1);
        QCOMPARE(m_Second.Requests("/b").size(), 1);
    }

    void requestAheadIsDroppedWhenItsTurnDiffers_data()
    {
        QTest::addColumn<QString>("turn");
        QTest::newRow("its file grew meanwhile") << "grown";
        QTest::newRow("another file comes first") << "other";
    }

    void requestAheadIsDroppedWhenItsTurnDiffers()
    {
        // What comes instead is asked from its own byte, and never waits behind the answer nobody reads
        // (one that never comes, here).
        QFETCH(QString, turn);
        const QByteArray l_Next = TestHttpServer::Pattern(300000, 4);
        m_Server.SetResource("/b", l_Next);
        m_Server.SetResource("/c", l_Next);
        if (turn == "other")
            m_Server.SetFault("/b", With(&Fault::NoAnswer, true));
        QVERIFY(DownloadWithNextAnnounced("b"));
        QVERIFY(WaitIdle());
        QTRY_COMPARE(m_Server.Requests("/b").size(), 1);
        const QString l_File = turn == "other" ? "c" : "b";
        if (turn == "grown")
            QVERIFY(WriteFile(m_Dir->filePath("b.part"), l_Next.left(1000)));
        m_App->HTTP_DownloadFile(m_Server.Url(l_File), m_Dir->filePath(l_File + ".part"), true);
        QVERIFY(WaitIdle());
        QVERIFY(ReadFile(m_Dir->filePath(l_File + ".part")) == l_Next);
        const QList<TestHttpServer::Request> l_Asked = m_Server.Requests("/" + l_File);
        QVERIFY(!l_Asked.isEmpty());
        QCOMPARE(l_Asked.last().Range, QByteArray(turn == "grown" ? "bytes=1000-" : ""));
    }

    void stopDropsTheRequestAhead()
    {
        // A stop ends the traffic: the request sent ahead goes with the stopped file's.
        m_Server.SetResource("/b", m_Body);
        HTTP_DownloadFileRequest* l_Request = DownloadWithNextAnnounced("b");
        QVERIFY(l_Request);
        const auto l_Holds = [this] {
            bool l_Held = false;
            DownloadThread* l_Thread = m_App->m_DownloadThread;
            QMetaObject::invokeMethod(
                l_Thread->Manager(), [&] { l_Held = l_Thread->Ahead().Holds(); }, Qt::BlockingQueuedConnection);
            return l_Held;
        };
        QTRY_VERIFY(m_LastProgress.FileSize > 0 && l_Holds());
        QVERIFY(StopAndWait(l_Request));
        QVERIFY(!l_Holds());
    }

    void recordLifetime()
    {
        // The completion slot runs after the downloader is gone: the record must still be valid (sanitizer build).
        for (int l_Round = 1; l_Round <= 2; ++l_Round)
        {
            Download(false);
            QVERIFY(BlockUntil(NoDownloader));
            QCOMPARE(m_Completions.size(), l_Round - 1); // nothing served yet on this thread
            QTRY_COMPARE_WITH_TIMEOUT(m_Completions.size(), l_Round, 20000);
            QCOMPARE(m_Completions.last().ContentLength, qint64(m_Body.size()));
        }
        // Handed back to an application deleted before the release ran: freed all the same (no leak).
        m_App->disconnect(this);
        Download(false);
        QVERIFY(BlockUntil(NoDownloader));
        m_Host.reset();
        m_App.reset();
        QVERIFY(ReadFile(Target()) == m_Body);
    }
};

QTEST_MAIN(tst_Downloader)
#include "tst_downloader.moc"
