// The download queue driven end to end: the module against the loopback server through a test host.
#include "support/LauncherRun.h"
#include "support/TestBuild.h"
#include "support/TestHttpServer.h"
#include "support/WarningLog.h"
#include "net/ApplicationAsyncHttpDownloader.h"
#include "launcher/DownloadListFile.h"

#include <QProcess>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>
#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

#include <atomic>
#include <csignal>

using namespace Orvane::Launcher;
using Fault = TestHttpServer::Fault;

namespace {
QByteArray Bytes(int p_Size, int p_Seed) { return TestBuild::Pattern(p_Size, p_Seed); }
int Mode(const QString& p_Path)
{
    struct stat l_Stat;
    return ::stat(QFile::encodeName(p_Path).constData(), &l_Stat) == 0 ? int(l_Stat.st_mode & 0777) : -1;
}
#ifdef Q_OS_UNIX
/// While it exists, no file of the process may grow past p_Bytes: a write past it fails ("File too large").
struct FileSizeLimit
{
    explicit FileSizeLimit(qint64 p_Bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_Was);
        m_Signal = ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit l_Limit = m_Was;
        l_Limit.rlim_cur = rlim_t(p_Bytes);
        ::setrlimit(RLIMIT_FSIZE, &l_Limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_Was);
        ::signal(SIGXFSZ, m_Signal);
    }
    struct rlimit m_Was;
    void (*m_Signal)(int);
};
#endif

#ifdef KESTRUN_TEST_CLIENT_PATH
/// The stand-in client holding a file open without delete or write sharing, as the game, an antivirus or a
/// backup tool may, until Release (or its end).
struct Holder
{
    QProcess Process;
    QString Marker;

    bool Start(const QString& p_File, const QString& p_Marker, const QString& p_How = "--hold")
    {
        Marker = p_Marker;
        Process.start(KESTRUN_TEST_CLIENT_PATH, {p_How, p_File, p_Marker});
        return QTest::qWaitFor([&] { return QFile::exists(Marker) || Process.state() == QProcess::NotRunning; },
                               60000) &&
               QFile::exists(Marker);
    }
    bool Release()
    {
        QFile::remove(Marker);
        return Process.waitForFinished(60000) && Process.exitCode() == 0;
    }
    ~Holder()
    {
        if (Process.state() == QProcess::NotRunning)
            return;
        QFile::remove(Marker);
        if (!Process.waitForFinished(30000))
            Process.kill(), Process.waitForFinished(30000);
    }
};
#endif

// The host's answer to IsLauncherRunning, held off the host's thread while s_Hold is set.
std::atomic<bool> s_Hold{false};
std::atomic<int> s_Held{0};
QSemaphore s_Release;
QThread* s_HostThread = nullptr;
} // namespace

class tst_downloadqueue : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestHttpServer> m_Server;
    std::unique_ptr<QTemporaryDir> m_Dir;
    QString m_Folder;
    TestBuild m_Build;
    LauncherRun m_Run;

    /// Starts one launcher run with the stored settings; the first run installs into the test folder.
    bool Launch(qint64 p_FreeSpace = -1, bool p_Install = true)
    {
        m_Run.Start([&] {
            m_Run.App->FreeSpace = p_FreeSpace;
            m_Run.Host->Settings["wow_bfa.InstallLocale"] = "frFR";
        });
        const bool l_Installed = m_Run.Settings.value("wow_bfa.Installed").toBool();
        const bool l_Ready =
            m_Run.Host->WaitFor([&] { return m_Run.App->m_Status.ApplicationState == (l_Installed ? 2 : 1); });
        if (l_Ready && !l_Installed && p_Install)
            m_Run.App->Install(m_Folder, true);
        return l_Ready;
    }
    bool WaitIdle() { return m_Run.WaitIdle(); }
    bool Run() { return Launch() && WaitIdle(); }
    bool WaitMainQueueEmpty()
    {
        return m_Run.Host->WaitFor([&] {
            QMutexLocker l_Lock(&m_Run.App->m_MainTasksMutex);
            return m_Run.App->m_MainTasks.empty();
        });
    }
    QStringList Errors()
    {
        std::lock_guard<std::recursive_mutex> l_Lock(m_Run.Host->Mutex);
        return m_Run.Host->Errors;
    }
    QStringList Listed(bool p_Streamed = false)
    {
        DownloadListFile l_List(m_Folder + (p_Streamed ? "ToDownload.db" : "ToDownloadBase.db"));
        return l_List.Exists() ? l_List.Read() : QStringList({"<no list>"});
    }
    /// Files of the build not in place byte for byte (or present though of the other locale).
    QStringList Wrong()
    {
        QStringList l_Wrong;
        for (const TestBuild::File& l_File : m_Build.Files)
            if (l_File.Locale == "enUS" ? QFile::exists(m_Folder + l_File.Path)
                                        : !QFileInfo(m_Folder + l_File.Path).isFile() ||
                                              QFile::exists(m_Folder + l_File.Path + ".part") ||
                                              ReadFile(m_Folder + l_File.Path) != l_File.Bytes)
                l_Wrong.append(l_File.Path);
        return l_Wrong;
    }
    /// An installed game whose base list names p_Listed, with the ".part" files p_Parts (path -> bytes).
    bool Installed(const QStringList& p_Listed, const QMap<QString, QByteArray>& p_Parts)
    {
        m_Run.Settings = {{"wow_bfa.Installed", true}, {"wow_bfa.InstallFolder", m_Folder}, {"wow_bfa.ManifestBuilt", true}};
        bool l_Written = DownloadListFile(m_Folder + "ToDownloadBase.db").Write(p_Listed);
        for (auto l_Part = p_Parts.begin(); l_Part != p_Parts.end(); ++l_Part)
            l_Written = WriteFile(m_Folder + l_Part.key() + ".part", l_Part.value()) && l_Written;
        return l_Written;
    }
    int Gets(int p_File) { return m_Server->Requests(TestBuild::ServedPath(m_Build.Files[p_File])).size(); }
    bool Balanced() { return m_Run.Host->LockCount.load() == m_Run.Host->UnlockCount.load(); }

private slots:
    void init()
    {
        m_Server.reset(new TestHttpServer());
        QVERIFY(m_Server->Start());
        m_Dir.reset(new QTemporaryDir());
        m_Folder = m_Dir->path() + "/game/";
        m_Build = TestBuild();
        m_Run.Settings.clear();
        qputenv("KESTRUN_SERVER_URL", TestBuild::ServerUrl(*m_Server).toUtf8());
        qputenv("KESTRUN_SIZE_TIMEOUT_MS", "30000");
        qunsetenv("KESTRUN_STALL_TIMEOUT_MS");
    }

    void cleanup()
    {
        m_Run.Close();
    }

    /// Every kind of file in two locales ends byte for byte with its permissions and lists; one size
    /// request gets no answer and counts as 0; the next run fetches nothing. Manifest paths that leave
    /// the install folder never touch anything outside it, through attributes and uninstall too.
    void freshInstallFetchesTheWholeBuild()
    {
        m_Build.Add("Wow.exe", Bytes(70000, 1), 0x08 | 0x02);
        m_Build.Add("Wow-64.exe", Bytes(50000, 2), 0x10 | 0x01);
        m_Build.Add("Data/tracked.MPQ", Bytes(40000, 3), 0x20);
        m_Build.Add("Data/server.MPQ", Bytes(3000, 4), 0x40); // only the application server has it
        m_Build.Add("Data/presence.MPQ", Bytes(2000, 5), 0x80);
        m_Build.Add("Data/empty.MPQ", QByteArray(), 0x20);
        m_Build.Add("Data/frFR/locale.MPQ", Bytes(5000, 6), 0x20, "frFR");
        m_Build.Add("Data/enUS/locale.MPQ", Bytes(5000, 7), 0x20, "enUS");
        m_Build.Add("Data/s1.MPQ", Bytes(300000, 8), 0, QString(), true);
        m_Build.Add("Data/frFR/s.MPQ", Bytes(9000, 9), 0, "frFR", true);
        m_Build.Add("Data/enUS/s.MPQ", Bytes(9000, 10), 0, "enUS", true);
        const QString l_Victim = m_Dir->path() + "/victim.bin";
        QVERIFY(WriteFile(l_Victim, "keep me"));
        QVERIFY(QFile::setPermissions(l_Victim, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        TestBuild l_Served = m_Build;
        for (const QString& l_Path : {QString("../victim.bin"), QString("Data/../../victim.bin"), l_Victim})
        {
            l_Served.Add(l_Path, "evil", 0x01 | 0x02 | 0x20);
            l_Served.Add(l_Path, "evil", 0, QString(), true);
        }
        l_Served.Publish(*m_Server);
        TestHttpServer::Fault l_Silent; // one size request is never answered
        l_Silent.NoAnswer = true;
        l_Silent.Times = 1;
        m_Server->SetFault(TestBuild::ServedPath(m_Build.Files[4]), l_Silent);
        qputenv("KESTRUN_SIZE_TIMEOUT_MS", "1000");
        QVERIFY(Run());
        QCOMPARE(Wrong() + Errors() + Listed() + Listed(true), QStringList());
        QVERIFY(Gets(4) == 2 && Balanced());
        QCOMPARE(m_Run.Host->OffThreadCalls, QStringList()); // the host is called from its own thread only
        QVERIFY(Mode(m_Folder + "Wow.exe") == 0777 && !(Mode(m_Folder + "Wow-64.exe") & 0222) &&
                (Mode(m_Folder + "Data/tracked.MPQ") & 0200));
        // The next run trusts the lists, checks the plain files and fetches nothing.
        m_Run.Close();
        m_Server->ClearRequests();
        QVERIFY(Run());
        QCOMPARE(m_Server->Requests().size(), 3); // version, build information, CDN list
        m_Run.App->ApplyFileAttributes();
        m_Run.App->Uninstall(true);
#ifdef Q_OS_WIN
        const int l_VictimMode = 0666; // one read-only attribute, shown for everyone: not set
#else
        const int l_VictimMode = 0600;
#endif
        QVERIFY(ReadFile(l_Victim) == "keep me" && Mode(l_Victim) == l_VictimMode);
        QCOMPARE(QDir(m_Dir->path()).entryList(QDir::Files), QStringList({"victim.bin"}));
    }

    void fileGivenUpAfterFiveRestarts_data()
    {
        QTest::addColumn<bool>("badBytes");
        QTest::newRow("bytes do not match") << true;
    }
    /// Six failed downloads: five restarts, then the file is given up, named to the user once and
    /// kept listed; it is never taken for a finished file, and the next run fetches it.
    void fileGivenUpAfterFiveRestarts()
    {
        QFETCH(bool, badBytes);
        const QString l_Restarted = badBytes ? "(MD5) Download restarted for " : "(IO) Download restarted for ";
        const qint64 l_Raised = badBytes ? 5 * 4000 : 0; // Total grows by each restarted transfer's length
        m_Build.Add("Data/good.MPQ", Bytes(1000, 1), 0x20);
        TestBuild::File& l_Bad = m_Build.Add("Data/bad.MPQ", Bytes(4000, 2), 0x20);
        l_Bad.Md5 = badBytes ? TestBuild::Md5Of("promised") : l_Bad.Md5;
        m_Build.Add("Data/s.MPQ", Bytes(1000, 3), 0, QString(), true);
        m_Build.Publish(*m_Server);
        if (!badBytes)
            QVERIFY(QDir().mkpath(m_Folder + "Data/bad.MPQ.part"));
        WarningLog l_Log;
        qint64 l_TotalAtGiveUp = -1;
        l_Log.OnLine = [&](const QString& p_Line) {
            l_TotalAtGiveUp = p_Line.startsWith("(ToManyRetry)") ? qint64(m_Run.App->m_Status.Total) : l_TotalAtGiveUp;
        };
        QVERIFY(Run());
        QCOMPARE(l_Log.Starting("(").join('\n'), QString(l_Restarted + "files/Data/bad.MPQ\n").repeated(5) +
                                                     "(ToManyRetry) Download aborded for files/Data/bad.MPQ");
        QCOMPARE(l_TotalAtGiveUp, 1000 + 4000 + l_Raised);
        QVERIFY2(Errors().size() == 1 && Errors()[0].contains(m_Folder + "Data/bad.MPQ"),
                 qPrintable(Errors().join("; ")));
        QCOMPARE(Wrong() + Listed(), QStringList({"Data/bad.MPQ", "Data/bad.MPQ"}));
        // The host delivered what it had: a part this machine could not create, or a wrong body, is not its fault.
        QCOMPARE(m_Run.App->Cdn().Failed(), QStringList());
        // Once the fault is gone, the next run fetches it.
        m_Run.Close();
        if (badBytes)
            m_Server->SetResource(TestBuild::ServedPath(m_Build.Files[1]), m_Build.Files[1].Bytes = "promised");
        else
            QVERIFY(QDir(m_Folder + "Data/bad.MPQ.part").removeRecursively());
        QVERIFY(Run());
        QCOMPARE(Wrong() + Listed() + Errors(), QStringList());
    }

    /// A ".part" the system refuses to open (a folder has its name; as root a read-only folder would still be
    /// written) is told once, with the path and the system's reason, not taken for a bad download: the phase
    /// stops, nothing is fetched again for it, and it stays listed for the next run.
    void refusedPartStopsOnce()
    {
        m_Build.Add("Data/good.MPQ", Bytes(1000, 1), 0x20);
        m_Build.Add("Data/bad.MPQ", Bytes(4000, 2), 0x20);
        m_Build.Publish(*m_Server);
        QVERIFY(QDir().mkpath(m_Folder + "Data/bad.MPQ.part"));
        WarningLog l_Log;
        QVERIFY(Launch());
        QVERIFY(m_Run.Host->WaitFor([&] { return m_Run.App->m_Status.DownloadStatus == 4; }));
        QVERIFY(WaitMainQueueEmpty());
        QVERIFY2(Errors().size() == 1 && Errors()[0].startsWith("Could not write " + m_Folder + "Data/bad.MPQ.part: ") &&
                     !Errors()[0].contains("free"),
                 qPrintable(Errors().join("; ")));
        QCOMPARE(l_Log.Starting("(").join('\n'), QString());
        int l_Gets = 0;
        for (const TestHttpServer::Request& l_Request : m_Server->Requests(TestBuild::ServedPath(m_Build.Files[1])))
            l_Gets += l_Request.Method == "GET" ? 1 : 0;
        QCOMPARE(l_Gets, 0);
        QVERIFY(Listed().contains("Data/bad.MPQ"));
    }

    /// A full disk and a stop both leave the phase waiting stopped with its file still listed (the
    /// stop may be the last thing a run does); ResumeDownload carries on, from the ".part" size.
    void stopsAndResumes()
    {
        m_Build.Add("Data/big.MPQ", Bytes(3 * 1024 * 1024, 1), 0x20);
        m_Build.Add("Data/b.MPQ", Bytes(20000, 2));
        m_Build.Add("Data/s.MPQ", Bytes(1000, 3), 0, QString(), true);
        m_Build.Publish(*m_Server);
        TestHttpServer::Fault l_Slow;
        l_Slow.BytesPerSecond = 1024 * 1024;
        m_Server->SetFault(TestBuild::ServedPath(m_Build.Files[0]), l_Slow);
        const QString l_Part = m_Folder + "Data/big.MPQ.part";
        QVERIFY(Launch(4096) && m_Run.Host->WaitFor([&] { return !Errors().isEmpty(); }) &&
                m_Run.App->m_Status.DownloadStatus == 4);
        QVERIFY2(Errors()[0].contains("3.0 MiB needed, 4.0 KiB free"), qPrintable(Errors()[0]));
        QCOMPARE(Gets(0) + Gets(1), 2); // their sizes only
        QCOMPARE(Listed(), QStringList({"Data/big.MPQ", "Data/b.MPQ"})); // every file still to fetch
        m_Run.App->ResumeDownload(); // still short: told again
        QCOMPARE(Errors().size(), 2);
        m_Run.App->FreeSpace = -1;
        m_Run.App->ResumeDownload();
        QVERIFY(m_Run.Host->WaitFor([&] { return QFileInfo(l_Part).size() > 100000; }));
        m_Run.App->StopDownload();
        QCOMPARE(Listed(), QStringList({"Data/big.MPQ", "Data/b.MPQ"}));
        QVERIFY(m_Run.App->m_Status.DownloadStatus == 4 && Balanced() && WaitMainQueueEmpty());
        const qint64 l_Size = QFileInfo(l_Part).size();
        QVERIFY(l_Size < m_Build.Files[0].Bytes.size());
        m_Server->ClearFaults();
        m_Server->ClearRequests();
        // The bytes already on disk count once: progress never passes the total.
        qint64 l_MaxDone = 0;
        connect(m_Run.App.get(), &Application::OnHTTPDownloadProgressUpdate, this, [&] {
            l_MaxDone = m_Run.App->Queue().BasePhase() ? qMax(l_MaxDone, qint64(m_Run.App->m_Status.Done)) : l_MaxDone;
        });
        m_Run.App->ResumeDownload();
        QVERIFY(WaitIdle());
        QVERIFY2(l_MaxDone <= m_Build.Files[0].Bytes.size() + 20000, qPrintable(QString::number(l_MaxDone)));
        const QList<TestHttpServer::Request> l_Requests = m_Server->Requests(TestBuild::ServedPath(m_Build.Files[0]));
        QVERIFY(l_Requests.size() == 1 && l_Requests[0].Range == "bytes=" + QByteArray::number(l_Size) + "-");
        QVERIFY2(Wrong().isEmpty() && Errors().size() == 2, qPrintable((Wrong() + Errors()).join("; ")));
    }

    void partialFilesAreKept_data()
    {
        QTest::addColumn<int>("onDisk"); // bytes of the body in the ".part" left by an earlier run
        QTest::addColumn<QList<Fault>>("faults"); // in turn, after the size request
        QTest::addColumn<QStringList>("ranges"); // Range header of each transfer request
        QTest::addColumn<bool>("sizeKnown");     // the size request is answered (else 404: size unknown)
        const int l_Size = 2 * 1024 * 1024, l_Cut = 700000;
        const QString l_From = "bytes=" + QString::number(l_Cut) + "-";
        const Fault l_Closed = With(&Fault::CloseAfterBytes, l_Cut, 1);
        QTest::newRow("404 mid-file") << 0 << QList<Fault>{l_Closed, With(&Fault::Status, 404, 1)}
                                      << QStringList{"", l_From} << true;
        // Size never known: a transfer that failed is not judged by its content (which would delete it).
        QTest::newRow("size unknown, 404 mid-file") << 0 << QList<Fault>{l_Closed, With(&Fault::Status, 404, 1)}
                                                    << QStringList{"", l_From} << false;
        Fault l_StallUnsized = With(&Fault::StallAfterBytes, l_Cut, 1);
        l_StallUnsized.OmitContentLength = true;
        QTest::newRow("size unknown, no Content-Length, stalled mid-file")
            << 0 << QList<Fault>{l_StallUnsized} << QStringList{"", l_From} << false;
        QTest::newRow("size unknown, closed mid-file, then nothing more for a while")
            << 0 << QList<Fault>{l_Closed, With(&Fault::CloseAfterBytes, 0, 8)} << QStringList{"", l_From} << false;
        QTest::newRow("whole part left by a kill: 416, checked, kept")
            << l_Size << QList<Fault>{} << QStringList{"bytes=" + QString::number(l_Size) + "-"} << true;
    }
    /// A transfer that ends short keeps its bytes: the next request asks for the rest only. A ".part"
    /// already whole is checked, not fetched again.
    void partialFilesAreKept()
    {
        QFETCH(int, onDisk);
        QFETCH(QList<Fault>, faults);
        QFETCH(QStringList, ranges);
        QFETCH(bool, sizeKnown);
        qputenv("KESTRUN_STALL_TIMEOUT_MS", "2000"); // a slow read taken for a stall would add a range
        m_Build.Add("Data/big.MPQ", Bytes(2 * 1024 * 1024, 1), 0x20);
        m_Build.Publish(*m_Server);
        const QString l_Path = TestBuild::ServedPath(m_Build.Files[0]);
        m_Server->SetFault(l_Path, With(&Fault::Status, sizeKnown ? 0 : 404, 1)); // the size request
        for (const Fault& l_Fault : faults)
            m_Server->AddFault(l_Path, l_Fault);
        if (onDisk > 0)
            QVERIFY(Installed({"Data/big.MPQ"}, {{"Data/big.MPQ", m_Build.Files[0].Bytes.left(onDisk)}}));
        QVERIFY(Run());
        QStringList l_Ranges; // a request Qt itself repeats after a closed connection counts once
        for (const TestHttpServer::Request& l_Request : m_Server->Requests(l_Path).mid(1))
            if (l_Ranges.isEmpty() || l_Ranges.last() != l_Request.Range)
                l_Ranges << QString::fromLatin1(l_Request.Range);
        QCOMPARE(l_Ranges, ranges);
        QCOMPARE(Wrong() + Listed(), QStringList());
        QCOMPARE(m_Run.App->m_Status.Done, m_Run.App->m_Status.Total);
    }

    /// Size requests against a server that answers each after a while: none times out for waiting
    /// behind the others, so the phase's total is right.
    void sizesOnASlowServer()
    {
        qputenv("KESTRUN_SIZE_TIMEOUT_MS", "1500");
        for (int l_I = 0; l_I < 300; ++l_I)
            m_Build.Add(QString("Data/%1.MPQ").arg(l_I), Bytes(1000, l_I));
        m_Build.Publish(*m_Server);
        for (const TestBuild::File& l_File : m_Build.Files)
            m_Server->SetFault(TestBuild::ServedPath(l_File), With(&Fault::DelayMs, 30, 1));
        QVERIFY(Launch(0) && m_Run.Host->WaitFor([&] { return !Errors().isEmpty(); }, 30000));
        QVERIFY2(Errors()[0].contains(": 293.0 KiB needed, 0 B free"), qPrintable(Errors()[0]));
    }

    /// A CDN host that delivers nothing is avoided from the first file it failed, resumed files included.
    void deadHostOfResumedFiles()
    {
        TestHttpServer l_Dead; // answers 404 to everything
        QVERIFY(l_Dead.Start());
        QStringList l_Names;
        for (int l_I = 0; l_I < 12; ++l_I)
            l_Names << m_Build.Add(QString("Data/%1.MPQ").arg(l_I), Bytes(30000, l_I), 0x20).Path;
        m_Build.Publish(*m_Server);
        m_Server->SetResource("/srv/cdns.info", QString("127.0.0.1:%1 127.0.0.1:%2")
                                                    .arg(m_Server->Port()).arg(l_Dead.Port()).toUtf8());
        QMap<QString, QByteArray> l_Parts;
        for (const TestBuild::File& l_File : m_Build.Files)
            l_Parts[l_File.Path] = l_File.Bytes.left(1000);
        QVERIFY(Installed(l_Names, l_Parts));
        QVERIFY(Launch());
        int l_MaxPercent = 0; // the dead host's sizes are unknown (0): the total grows as transfers tell
        connect(m_Run.App.get(), &Application::OnHTTPDownloadProgressUpdate, this,
                [&] { l_MaxPercent = qMax(l_MaxPercent, int(m_Run.App->m_Status.Percent)); });
        QVERIFY(WaitIdle());
        QCOMPARE(Wrong() + Listed(), QStringList());
        QVERIFY(l_MaxPercent <= 100);
        int l_Transfers = 0;
        for (const TestHttpServer::Request& l_Request : l_Dead.Requests())
            l_Transfers += l_Request.Range.isEmpty() ? 0 : 1;
        QVERIFY2(l_Transfers <= 1, qPrintable(QString::number(l_Transfers)));
    }

    /// The next file's request goes out while the current file travels, to the host drawn for the next file
    /// then, which its turn keeps: across two CDN hosts every file of the build is asked for once.
    void nextFileKeepsTheHostItWasAskedOf()
    {
        TestHttpServer l_Second;
        QVERIFY(l_Second.Start());
        for (int l_I = 0; l_I < 16; ++l_I)
            m_Build.Add(QString("Data/%1.MPQ").arg(l_I), Bytes(30000, l_I), 0x20);
        m_Build.Publish(*m_Server);
        m_Build.Publish(l_Second);
        m_Server->SetResource("/srv/cdns.info", QString("127.0.0.1:%1 127.0.0.1:%2")
                                                    .arg(m_Server->Port()).arg(l_Second.Port()).toUtf8());
        QVERIFY(Run());
        QCOMPARE(Wrong() + Listed(), QStringList());
        for (const TestBuild::File& l_File : m_Build.Files)
        {
            const QString l_Path = TestBuild::ServedPath(l_File);
            int l_Gets = 0;
            for (const TestHttpServer::Request& l_Request : m_Server->Requests(l_Path) + l_Second.Requests(l_Path))
                l_Gets += l_Request.Method == "GET" ? 1 : 0;
            QVERIFY2(l_Gets == 1, qPrintable(l_File.Path + ": " + QString::number(l_Gets)));
        }
    }

    /// The first file's connection to its CDN host opens while the last size is asked, and its request
    /// goes out on it: the handshake is done by the file's turn.
    void firstFileConnectionOpensWhileSizesAreAsked()
    {
        TestHttpServer l_Cdn;
        QVERIFY(l_Cdn.Start());
        m_Build.Add("Wow.exe", Bytes(70000, 1), 0x20);
        m_Build.Publish(*m_Server);
        m_Build.Publish(l_Cdn);
        m_Server->SetResource("/srv/cdns.info", QString("127.0.0.1:%1").arg(l_Cdn.Port()).toUtf8());
        l_Cdn.SetFault(TestBuild::ServedPath(m_Build.Files[0]), With(&Fault::NoAnswer, true, 1)); // its size
        qputenv("KESTRUN_SIZE_TIMEOUT_MS", "3000");
        QVERIFY(Launch());
        // Before the size request gives up: its own connection and the file's.
        QTRY_COMPARE_WITH_TIMEOUT(l_Cdn.Connections(), 2, 2500);
        QCOMPARE(l_Cdn.Requests().size(), 1);
        QVERIFY(WaitIdle());
        QCOMPARE(Wrong() + Errors() + Listed(), QStringList());
        QCOMPARE(l_Cdn.Requests().size(), 2);
        QCOMPARE(l_Cdn.Connections(), 2);
    }

    /// Restarts count per file: many files that each fail once all complete.
    void restartBudgetPerFile()
    {
        qputenv("KESTRUN_STALL_TIMEOUT_MS", "200");
        for (int l_I = 0; l_I < 8; ++l_I)
        {
            m_Build.Add(QString("Data/%1.MPQ").arg(l_I), Bytes(50000, l_I), 0x20);
            const QString l_Path = TestBuild::ServedPath(m_Build.Files.last());
            m_Server->SetFault(l_Path, With(&Fault::Status, 0, 1)); // the size request
            // A stall the transfer resumes by itself, then closed connections until it leaves the file to the queue.
            m_Server->AddFault(l_Path, With(&Fault::StallAfterBytes, 10000, 1));
            m_Server->AddFault(l_Path, With(&Fault::CloseAfterBytes, 0, 2));
        }
        qputenv("KESTRUN_MAX_SELF_RESTARTS", "1");
        m_Build.Publish(*m_Server);
        WarningLog l_Log;
        QVERIFY(Run());
        qunsetenv("KESTRUN_MAX_SELF_RESTARTS");
        // At least one each: on a loaded machine a slow read may pass for one more stall.
        QVERIFY(l_Log.Starting("(PARTIAL) Download restarted for ").size() >= 8);
        QCOMPARE(Wrong() + Listed() + Errors(), QStringList());
    }

    void stopReachesTheTransfer_data()
    {
        QTest::addColumn<bool>("repairFirst");
        QTest::newRow("stop during a repair scan, then uninstall") << true;
        QTest::newRow("application deleted mid-transfer") << false;
    }
    /// A stop reaches the running transfer even after a new pass emptied the list, and no downloader
    /// outlives the application (the sanitizer build checks the memory).
    void stopReachesTheTransfer()
    {
        QFETCH(bool, repairFirst);
        m_Build.Add("Data/big.MPQ", Bytes(3 * 1024 * 1024, 1), 0x20);
        m_Build.Publish(*m_Server);
        m_Server->SetFault(TestBuild::ServedPath(m_Build.Files[0]), With(&Fault::BytesPerSecond, 256 * 1024));
        const QString l_Part = m_Folder + "Data/big.MPQ.part";
        QVERIFY(Launch() && m_Run.Host->WaitFor([&] { return QFileInfo(l_Part).size() > 50000; }));
        if (repairFirst)
        {
            m_Run.App->Repair();
            m_Run.App->StopDownload(); // returns once the transfer acknowledged
            QVERIFY(!m_Run.App->Queue().Transferring());
            m_Run.App->Uninstall(true);
            QVERIFY(!QFile::exists(l_Part));
        }
        m_Run.Close();
        QCOMPARE(ApplicationAsyncHttpDownloader::LiveCount(), 0);
        QCOMPARE(QFile::exists(l_Part), !repairFirst);
    }

    void writeErrorsAreReported_data()
    {
        QTest::addColumn<bool>("volumeFull");
        QTest::newRow("full volume") << true;
        QTest::newRow("file too large") << false;
    }
    /// A write that fails stops the phase and keeps what was written: on a full volume with the two
    /// figures, otherwise with the system's reason. ResumeDownload then goes on from there. The write
    /// really fails: the process may not grow a file past a limit for a while.
    void writeErrorsAreReported()
    {
#ifndef Q_OS_UNIX
        QSKIP("needs a limit on the size of the process's files (RLIMIT_FSIZE)");
#else
        QFETCH(bool, volumeFull);
        m_Build.Add("Data/big.MPQ", Bytes(2 * 1024 * 1024, 1), 0x20);
        m_Build.Publish(*m_Server);
        m_Server->SetFault(TestBuild::ServedPath(m_Build.Files[0]), With(&Fault::BytesPerSecond, 512 * 1024));
        const QString l_Part = m_Folder + "Data/big.MPQ.part";
        QVERIFY(Launch() && m_Run.Host->WaitFor([&] { return QFileInfo(l_Part).size() > 0; }));
        m_Run.App->FreeSpace = volumeFull ? 1000 : -1;
        {
            FileSizeLimit l_Limit(QFileInfo(l_Part).size() + 100000);
            QVERIFY(m_Run.Host->WaitFor([&] { return !Errors().isEmpty(); }));
        }
        QVERIFY2(Errors().size() == 1 && m_Run.App->m_Status.DownloadStatus == 4 && Balanced() &&
                     (volumeFull ? Errors()[0].contains(" needed, 1000 B free")
                                 : Errors()[0] == "Could not write " + l_Part + ": File too large"),
                 qPrintable(Errors().join("; ")));
        QVERIFY(Errors()[0].startsWith("Could not write " + l_Part + ": "));
        QVERIFY(WaitMainQueueEmpty());
        const qint64 l_Kept = QFileInfo(l_Part).size();
        QVERIFY(l_Kept > 0 && Listed() == QStringList({"Data/big.MPQ"}));
        m_Server->ClearFaults();
        m_Run.App->FreeSpace = -1;
        m_Run.App->ResumeDownload();
        QVERIFY(WaitIdle());
        QCOMPARE(Wrong() + Listed(), QStringList());
        QCOMPARE(m_Server->Requests(TestBuild::ServedPath(m_Build.Files[0])).last().Range,
                 "bytes=" + QByteArray::number(l_Kept) + "-");
#endif
    }

    void interruptedScanIsDoneAgain_data()
    {
        QTest::addColumn<bool>("existing");
        QTest::newRow("repair") << false;
        QTest::newRow("install --existing") << true;
    }
    /// A full scan cut short (the launcher closes, or is killed) leaves no list trusted: the next run
    /// checks the files again and fetches the damaged ones.
    void interruptedScanIsDoneAgain()
    {
        QFETCH(bool, existing);
        for (int l_I = 0; l_I < 6; ++l_I)
            m_Build.Add(QString("Data/%1.MPQ").arg(l_I), Bytes(20000, l_I), l_I < 4 ? 0x20 : 0, QString(), l_I >= 4);
        m_Build.Publish(*m_Server);
        QVERIFY(Run());
        m_Run.Close();
        for (int l_I : {1, 5}) // a tracked base file and a streamed one
            QVERIFY(WriteFile(m_Folder + m_Build.Files[l_I].Path, "damaged"));
        if (existing)
            m_Run.Settings.clear(); // the game is set up again over the folder, whose lists are old
        QVERIFY(Launch(-1, false));
        if (!existing)
            QVERIFY(WaitIdle());
        m_Run.Host->LauncherRunning = false; // the launcher goes while the scan runs
        if (existing)
            m_Run.App->Install(m_Folder, false);
        else
            m_Run.App->Repair();
        m_Run.Close();
        QVERIFY(Run());
        QCOMPARE(Wrong() + Listed() + Listed(true), QStringList());
    }

    /// The launcher closing while a finished file is checked leaves its ".part" and its line for the next
    /// run and no pointer to the finished transfer: a stop, a resume and the unload after it touch nothing freed.
    void closingDuringTheCheck()
    {
        // The check that reads the file back: the path of a file whose digest was not taken as it was written.
        qputenv("KESTRUN_HASH_WHILE_WRITING", "0");
        struct Unset { ~Unset() { qunsetenv("KESTRUN_HASH_WHILE_WRITING"); } } l_Unset;
        m_Build.Add("Data/a.MPQ", Bytes(300000, 1), 0x20);
        m_Build.Add("Data/b.MPQ", Bytes(1000, 2), 0x20);
        m_Build.Publish(*m_Server);
        QVERIFY(Launch());
        connect(m_Run.App.get(), &Application::OnHTTPDownloadProgressComplete, this,
                [&] { m_Run.Host->LauncherRunning = false; }, Qt::DirectConnection);
        QVERIFY(m_Run.Host->WaitFor([&] { return !m_Run.Host->LauncherRunning; }));
        QVERIFY(m_Run.Host->WaitFor([&] { return ApplicationAsyncHttpDownloader::LiveCount() == 0; }) &&
                WaitMainQueueEmpty());
        QVERIFY(m_Run.Host->WaitFor([&] { return !m_Run.App->Queue().Transferring(); }, 3000));
        m_Run.App->StopDownload();
        m_Run.App->ResumeDownload();
        m_Run.App->Uninit();
        QVERIFY(QFileInfo(m_Folder + "Data/a.MPQ.part").size() == 300000);
        QCOMPARE(Listed(), QStringList({"Data/a.MPQ", "Data/b.MPQ"}));
        m_Run.Close();
        QVERIFY(Run());
        QCOMPARE(Wrong() + Listed(), QStringList());
    }

    void checkedOffTheHostThread_data()
    {
        QTest::addColumn<int>("onDisk"); // bytes of the file already in its ".part"
        QTest::addColumn<bool>("stop");  // the user stops while the file is checked
        QTest::newRow("small file") << 0 << false;
        QTest::newRow("whole part answered 416") << 2 * 1024 * 1024 << false;
        QTest::newRow("stopped during the check, resumed") << 0 << true;
    }
    /// The digest of a finished file that was not hashed while it arrived is computed off the host's
    /// thread: the host goes on serving while it runs, a stop included.
    void checkedOffTheHostThread()
    {
        QFETCH(int, onDisk);
        QFETCH(bool, stop);
        qputenv("KESTRUN_HASH_WHILE_WRITING", "0");
        struct Unset { ~Unset() { qunsetenv("KESTRUN_HASH_WHILE_WRITING"); } } l_Unset;
        m_Build.Add("Data/a.MPQ", Bytes(onDisk ? onDisk : 300000, 1), 0x20);
        m_Build.Publish(*m_Server);
        if (onDisk > 0)
            QVERIFY(Installed({"Data/a.MPQ"}, {{"Data/a.MPQ", m_Build.Files[0].Bytes}}));
        QVERIFY(Launch());
        // Held: the check asks whether the launcher still runs before each block.
        s_HostThread = QThread::currentThread();
        s_Held = 0;
        s_Release.acquire(s_Release.available()); // what an earlier row released would let this check through
        m_Run.App->IsLauncherRunning = [] {
            if (s_Hold && QThread::currentThread() != s_HostThread)
                ++s_Held, s_Release.tryAcquire(1, 30000);
            return true;
        };
        struct Open { ~Open() { s_Hold = false, s_Release.release(1000); } } l_Open;
        connect(m_Run.App.get(), &Application::OnHTTPDownloadProgressComplete, this, [] { s_Hold = true; },
                Qt::DirectConnection);
        QVERIFY2(m_Run.Host->WaitFor([&] { return s_Held > 0; }, 10000), "the check ran on the host's thread");
        QVERIFY(!QFile::exists(m_Folder + "Data/a.MPQ"));
        if (stop)
        {
            m_Run.App->StopDownload();
            QVERIFY(m_Run.App->m_Status.DownloadStatus == 4 && Balanced());
        }
        s_Hold = false;
        s_Release.release(1000);
        if (stop)
        {
            QVERIFY(WaitMainQueueEmpty());
            QVERIFY(m_Run.App->m_Status.DownloadStatus == 4 && Listed() == QStringList({"Data/a.MPQ"}));
            m_Run.App->ResumeDownload();
        }
        QVERIFY(WaitIdle());
        QCOMPARE(Wrong() + Listed(), QStringList());
    }

    /// The old file is made writable before it is replaced, its other permissions kept: a folder where the file
    /// goes (which no download can replace) keeps its read and search bits.
    void oldFileMadeWritableKeepsItsPermissions()
    {
        m_Build.Add("Data/a.MPQ", Bytes(1000, 1), 0x20);
        m_Build.Publish(*m_Server);
        const QString l_Old = m_Folder + "Data/a.MPQ";
        QVERIFY(WriteFile(l_Old + "/inside", "x"));
        QVERIFY(QFile::setPermissions(l_Old, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                                 QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser |
                                                 QFileDevice::ReadGroup | QFileDevice::ExeGroup |
                                                 QFileDevice::ReadOther | QFileDevice::ExeOther));
        QVERIFY(Run());
        const int l_Mode = Mode(l_Old);
        QVERIFY(QFile::setPermissions(l_Old, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        QCOMPARE(l_Mode & 0555, 0555);
        QVERIFY(!Errors().isEmpty()); // it could not be replaced, and the user was told
    }

    void heldFileWaitsForItsHolder_data()
    {
        QTest::addColumn<bool>("uninstall");
        QTest::addColumn<bool>("stop");
        QTest::addColumn<bool>("part");
        QTest::newRow("an update replaces it") << false << false << false;
        QTest::newRow("an update stopped while it waits, then resumed") << false << true << false;
        QTest::newRow("an uninstall deletes it") << true << false << false;
        QTest::newRow("its whole .part, kept from a killed run, scanned as it is renamed") << false << false << true;
    }
    /// A file another program holds open without delete sharing can be neither replaced nor deleted: the user
    /// is told which file and why, once; the download keeps every byte (through a stop too) and is not
    /// fetched again; nothing reports done while it is held. Once the program lets go, the same run
    /// replaces (or deletes) it.
    void heldFileWaitsForItsHolder()
    {
#ifndef KESTRUN_TEST_CLIENT_PATH
        QSKIP("no file lock here: an open file never stops a rename or a delete");
#else
        QFETCH(bool, uninstall);
        QFETCH(bool, stop);
        QFETCH(bool, part);
        m_Build.Add("Data/held.MPQ", Bytes(60000, 1));
        m_Build.Add("Data/other.MPQ", Bytes(3000, 2));
        m_Build.Publish(*m_Server);
        QVERIFY(Run());
        QCOMPARE(Wrong() + Errors(), QStringList());
        m_Run.Close();
        const QString l_Held = m_Folder + "Data/held.MPQ";
        const QByteArray l_Old = m_Build.Files[0].Bytes;
        if (!uninstall)
        {
            m_Build.Build = "b2";
            m_Build.BuildStr = "8.3.7 b2";
            m_Build.Files[0].Bytes = Bytes(70000, 3);
            m_Build.Publish(*m_Server);
        }
        m_Server->ClearRequests();
        // The file the other program holds: the installed one, or the download that is to replace it.
        const QString l_Taken = part ? l_Held + ".part" : l_Held;
        if (part)
            QVERIFY(WriteFile(l_Taken, m_Build.Files[0].Bytes));
        Holder l_Holder;
        QVERIFY(l_Holder.Start(l_Taken, m_Dir->path() + "/held.marker", part ? "--scan" : "--hold"));
        WarningLog l_Log;
        QVERIFY(Launch());
        if (uninstall)
        {
            QVERIFY(WaitIdle());
            m_Run.App->Uninstall(true);
        }
        QVERIFY(m_Run.Host->WaitFor([&] { return !Errors().isEmpty(); }, 60000));
        QVERIFY2(Errors().size() == 1 && Errors()[0].startsWith("File " + l_Taken + " error : ") &&
                     Errors()[0].contains("in use by another program"),
                 qPrintable(Errors().join("; ")));
        // Not taken for a failed download: nothing is restarted or given up.
        QCOMPARE(l_Log.Starting("(").join('\n'), uninstall ? QString() : "(INUSE) Download waits for files/Data/held.MPQ");
        QCOMPARE(ReadFile(l_Held), l_Old);
        if (uninstall)
            QVERIFY(!QFile::exists(m_Folder + "Data/other.MPQ") && m_Run.App->m_Status.ApplicationState == 1);
        else
            QVERIFY(ReadFile(l_Held + ".part") == m_Build.Files[0].Bytes);
        QVERIFY(m_Run.App->m_Status.Busy);
        if (stop)
        {
            m_Run.App->StopDownload();
            QVERIFY(m_Run.App->m_Status.DownloadStatus == 4 && ReadFile(l_Held + ".part") == m_Build.Files[0].Bytes);
        }

        QVERIFY(l_Holder.Release());
        if (stop)
            m_Run.App->ResumeDownload();
        if (uninstall)
        {
            QVERIFY(m_Run.Host->WaitFor([&] { return !QFile::exists(l_Held) && !m_Run.App->m_Status.Busy; }, 60000));
            QVERIFY(!QDir(m_Folder + "Data").exists() && m_Run.App->m_Status.ApplicationState == 1);
        }
        else
        {
            QVERIFY(m_Run.WaitIdle(60000));
            QCOMPARE(Wrong() + Listed(), QStringList());
            int l_Gets = 0; // the held file's bytes came once; a resume asks only past its whole ".part"
            const QByteArray l_PastWhole = "bytes=" + QByteArray::number(m_Build.Files[0].Bytes.size()) + "-";
            for (const TestHttpServer::Request& l_Request : m_Server->Requests(TestBuild::ServedPath(m_Build.Files[0])))
                l_Gets += l_Request.Method == "GET" && l_Request.Range != l_PastWhole ? 1 : 0;
            QCOMPARE(l_Gets, part ? 0 : 1);
        }
        QCOMPARE(Errors().size(), 1);
#endif
    }

    /// A stop while one file is checked and the next one's request travels ahead ends that request too:
    /// the network goes quiet when the user stops.
    void stopBetweenFilesDropsTheRequestAhead()
    {
        qputenv("KESTRUN_HASH_WHILE_WRITING", "0");
        struct Unset { ~Unset() { qunsetenv("KESTRUN_HASH_WHILE_WRITING"); } } l_Unset;
        m_Build.Add("Data/z.MPQ", Bytes(20000, 1), 0x20); // ends whole first: the next files go ahead
        m_Build.Add("Data/a.MPQ", Bytes(300000, 2), 0x20);
        m_Build.Add("Data/b.MPQ", Bytes(3 * 1024 * 1024, 3), 0x20);
        m_Build.Publish(*m_Server);
        const QString l_Next = TestBuild::ServedPath(m_Build.Files[2]);
        m_Server->SetFault(l_Next, With(&Fault::BytesPerSecond, 256 * 1024));
        QVERIFY(Launch());
        // The check of a.MPQ is held (it asks whether the launcher still runs before each block).
        s_HostThread = QThread::currentThread();
        s_Held = 0;
        s_Release.acquire(s_Release.available());
        m_Run.App->IsLauncherRunning = [] {
            if (s_Hold && QThread::currentThread() != s_HostThread)
                ++s_Held, s_Release.tryAcquire(1, 30000);
            return true;
        };
        struct Open { ~Open() { s_Hold = false, s_Release.release(1000); } } l_Open;
        connect(m_Run.App.get(), &Application::OnHTTPDownloadProgressComplete, this,
                [](HTTP_DownloadFileRequest* p_Request) { s_Hold = s_Hold || p_Request->Url.endsWith("a.MPQ"); },
                Qt::DirectConnection);
        const auto l_NextAsked = [&] {
            int l_Gets = 0;
            for (const TestHttpServer::Request& l_Request : m_Server->Requests(l_Next))
                l_Gets += l_Request.Method == "GET" ? 1 : 0;
            return l_Gets;
        };
        QVERIFY(m_Run.Host->WaitFor([&] { return s_Held > 0 && l_NextAsked() == 1; }, 20000));
        const int l_Closed = m_Server->ClosedConnections();
        m_Run.App->StopDownload();
        QVERIFY(m_Run.App->m_Status.DownloadStatus == 4 && Balanced());
        // The answer ahead would take seconds more: its connection is closed now.
        QVERIFY(m_Run.Host->WaitFor([&] { return m_Server->ClosedConnections() > l_Closed; }, 4000));
        s_Hold = false;
        s_Release.release(1000);
        m_Server->ClearFaults();
        QVERIFY(WaitMainQueueEmpty());
        m_Run.App->ResumeDownload();
        QVERIFY(WaitIdle());
        QCOMPARE(Wrong() + Listed(), QStringList());
    }

    void restartsCountOnlyWithoutProgress_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<int>("restarts");
        QTest::addColumn<bool>("givenUp");
        // The transfer itself resumes after a stall that followed progress: no restart, or few.
        QTest::newRow("stalls six times, each after progress") << With(&Fault::StallAfterBytes, 100000, 6) << 6 << false;
        QTest::newRow("500 every time") << With(&Fault::Status, 500) << 5 << true;
    }
    /// A transfer that ends short after progress is resumed without using up the file's restarts; one
    /// that brings nothing does use them up (restarts: exactly for a file given up, at most otherwise).
    void restartsCountOnlyWithoutProgress()
    {
        QFETCH(Fault, fault);
        QFETCH(int, restarts);
        QFETCH(bool, givenUp);
        qputenv("KESTRUN_STALL_TIMEOUT_MS", "2000");
        m_Build.Add("Data/big.MPQ", Bytes(1024 * 1024, 1), 0x20);
        m_Build.Publish(*m_Server);
        const QString l_Path = TestBuild::ServedPath(m_Build.Files[0]);
        m_Server->SetFault(l_Path, With(&Fault::Status, 0, 1)); // the size request
        m_Server->AddFault(l_Path, fault);
        WarningLog l_Log;
        QVERIFY(Run());
        const int l_Restarts = l_Log.Starting("(PARTIAL) Download restarted for ").size();
        QVERIFY2(givenUp ? l_Restarts == restarts : l_Restarts <= restarts, qPrintable(QString::number(l_Restarts)));
        QCOMPARE(l_Log.Starting("(ToManyRetry)").size(), givenUp ? 1 : 0);
        QCOMPARE(Wrong().isEmpty(), !givenUp);
    }

    /// A host is avoided for its errors only: an empty file and a whole ".part" answered 416 bring no
    /// bytes and are no error.
    void noBytesIsNoError()
    {
        m_Build.Add("Data/empty.MPQ", QByteArray(), 0x20);
        m_Build.Add("Data/whole.MPQ", Bytes(5000, 1), 0x20);
        m_Build.Add("Data/c.MPQ", Bytes(5000, 2), 0x20);
        m_Build.Publish(*m_Server);
        QVERIFY(Installed({"Data/empty.MPQ", "Data/whole.MPQ", "Data/c.MPQ"}, {{"Data/whole.MPQ", m_Build.Files[1].Bytes}}));
        QVERIFY(Run());
        QCOMPARE(Wrong() + Listed(), QStringList());
        QCOMPARE(m_Run.App->Cdn().Failed(), QStringList());
    }

    /// At every file start and completion, each file not yet in place is still named by its list (or
    /// its list was never written). A run stopped between two base files, before the streamed list
    /// exists, waits with nothing in flight, and the next run fetches the rest.
    void listsNameEveryUnfinishedFile()
    {
        for (int l_I = 0; l_I < 7; ++l_I) // four tracked base files, then three streamed ones
            m_Build.Add(QString("Data/%1%2.MPQ").arg(l_I < 4 ? 't' : 's').arg(l_I), Bytes(3000, l_I),
                        l_I < 4 ? 0x20 : 0, QString(), l_I >= 4);
        m_Build.Publish(*m_Server);
        int l_Checks = 0;
        QStringList l_Lost;
        auto l_Check = [&] {
            ++l_Checks;
            for (const TestBuild::File& l_File : m_Build.Files)
                if (ReadFile(m_Folder + l_File.Path) != l_File.Bytes &&
                    Listed(l_File.Streamed) != QStringList("<no list>") &&
                    !Listed(l_File.Streamed).contains(l_File.Path))
                    l_Lost.append(l_File.Path);
        };
        WarningLog l_Log;
        bool l_Stopped = false;
        l_Log.OnLine = [&](const QString& p_Line) { // logged after a completion, before the next file is posted
            if (!p_Line.startsWith("Selected CDN ") || !m_Run.App)
                return;
            l_Check();
            if (m_Run.App->Queue().BasePhase() && m_Run.App->Queue().CurrentIndex() == 2 && !l_Stopped)
                l_Stopped = true, m_Run.App->StopDownload();
        };
        QVERIFY(Launch());
        connect(m_Run.App.get(), &Application::OnHTTPDownloadProgressComplete, this, l_Check);
        QVERIFY(m_Run.Host->WaitFor([&] { return l_Stopped; }) && WaitMainQueueEmpty());
        QVERIFY(m_Run.App->m_Status.DownloadStatus == 4 && !m_Run.App->Queue().Transferring() && Balanced());
        m_Run.Close();
        QCOMPARE(Listed(true) + Listed(), QStringList({"<no list>", "Data/t2.MPQ", "Data/t3.MPQ"}));
        QVERIFY(Launch());
        connect(m_Run.App.get(), &Application::OnHTTPDownloadProgressComplete, this, l_Check);
        QVERIFY(WaitIdle() && l_Checks >= 7);
        QCOMPARE(Wrong() + l_Lost, QStringList());
    }
};

QTEST_MAIN(tst_downloadqueue)
#include "tst_downloadqueue.moc"
