// The download queue driven end to end: the module against the loopback server through a test host.
#include "support/FakeHost.h"
#include "support/TestApplication.h"
#include "support/TestBuild.h"
#include "support/TestHttpServer.h"
#include "support/WarningLog.h"
#include "launcher/DownloadListFile.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

#include <memory>

using namespace Orvane::Launcher;

namespace {
QByteArray Bytes(int p_Size, int p_Seed)
{
    QByteArray l_Bytes(p_Size, '\0');
    quint32 l_State = quint32(p_Seed) * 2654435761u + 1;
    for (int l_I = 0; l_I < p_Size; ++l_I)
    {
        l_State = l_State * 1103515245u + 12345u;
        l_Bytes[l_I] = char(l_State >> 16);
    }
    return l_Bytes;
}

QByteArray ReadFile(const QString& p_Path)
{
    QFile l_File(p_Path);
    return l_File.open(QIODevice::ReadOnly) ? l_File.readAll() : QByteArray();
}

int Mode(const QString& p_Path)
{
    struct stat l_Stat;
    return ::stat(QFile::encodeName(p_Path).constData(), &l_Stat) == 0 ? int(l_Stat.st_mode & 0777) : -1;
}

/// A CDN that never answers the requests made before p_Serve turns true, and
/// then answers every request with p_Body: size requests without an answer.
class SilentCdn : public QObject
{
public:
    std::function<bool()> Serve;
    QByteArray Body;
    int Held = 0;
    QTcpServer Server;
    QList<QTcpSocket*> Sockets;

    bool Start()
    {
        connect(&Server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* l_Socket = Server.nextPendingConnection())
            {
                Sockets.append(l_Socket);
                auto l_Buffer = std::make_shared<QByteArray>();
                connect(l_Socket, &QTcpSocket::readyRead, this, [this, l_Socket, l_Buffer] {
                    l_Buffer->append(l_Socket->readAll());
                    if (!l_Buffer->contains("\r\n\r\n"))
                        return;
                    l_Buffer->clear();
                    if (!Serve())
                    {
                        ++Held;
                        return;
                    }
                    l_Socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(Body.size()) +
                                    "\r\nConnection: close\r\n\r\n" + Body);
                    l_Socket->disconnectFromHost();
                });
            }
        });
        return Server.listen(QHostAddress::LocalHost);
    }
};
} // namespace

class tst_downloadqueue : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestHttpServer> m_Server;
    std::unique_ptr<QTemporaryDir> m_Dir;
    QString m_Folder;
    TestBuild m_Build;
    QMap<QString, QVariant> m_Settings; ///< the host's stored settings, kept between runs
    std::unique_ptr<TestApplication> m_App;
    std::unique_ptr<FakeHost> m_Host;

    /// Starts one launcher run: a new application and host with the stored settings.
    void Launch(const QString& p_Locale = "frFR")
    {
        m_App.reset(new TestApplication());
        m_Host.reset(new FakeHost());
        m_Host->Settings = m_Settings;
        m_Host->Settings["wow_bfa.InstallLocale"] = p_Locale;
        m_Host->Attach(m_App.get());
        m_App->Init();
    }

    /// Ends the run (the application is discarded as at a launcher exit).
    void Close()
    {
        if (!m_Host)
            return;
        m_Host->Detach();
        m_Settings = m_Host->Settings;
        m_Host.reset();
        m_App.reset();
    }

    bool WaitIdle(int p_TimeoutMs = 30000)
    {
        return m_Host->WaitFor(
            [&] {
                return m_App->m_Status.ApplicationState == 2 && !m_App->m_Status.Busy &&
                       m_App->m_CurrentRequest == nullptr;
            },
            p_TimeoutMs);
    }

    /// Launch and install into the test folder as a new folder, until the run is idle.
    bool FreshInstall()
    {
        Launch();
        if (!m_Host->WaitFor([&] { return m_App->m_Status.ApplicationState == 1; }))
            return false;
        m_App->Install(m_Folder, true);
        return WaitIdle();
    }

    QStringList Errors()
    {
        std::lock_guard<std::recursive_mutex> l_Lock(m_Host->Mutex);
        return m_Host->Errors;
    }

    /// Files of the build that the locale selects, compared with the disk.
    void VerifyInstalled(const QString& p_Locale = "frFR")
    {
        for (const TestBuild::File& l_File : m_Build.Files)
        {
            const QString l_Path = m_Folder + l_File.Path;
            if (!l_File.Locale.isEmpty() && l_File.Locale != p_Locale)
            {
                QVERIFY2(!QFile::exists(l_Path), qPrintable(l_Path));
                continue;
            }
            QVERIFY2(ReadFile(l_Path) == l_File.Bytes, qPrintable(l_Path));
            QVERIFY2(!QFile::exists(l_Path + ".part"), qPrintable(l_Path));
        }
    }

    void Publish()
    {
        m_Build.Publish(*m_Server);
        qputenv("KESTRUN_SERVER_URL", TestBuild::ServerUrl(*m_Server).toUtf8());
    }

    int Gets(const TestBuild::File& p_File) { return m_Server->Requests(TestBuild::ServedPath(p_File)).size(); }

private slots:
    void init()
    {
        m_Server.reset(new TestHttpServer());
        QVERIFY(m_Server->Start());
        m_Dir.reset(new QTemporaryDir());
        m_Folder = m_Dir->path() + "/game/";
        m_Build = TestBuild();
        m_Settings.clear();
        qputenv("KESTRUN_SIZE_TIMEOUT_MS", "30000");
    }

    void cleanup()
    {
        Close();
        m_Server.reset();
        m_Dir.reset();
    }

    void freshInstallFetchesTheWholeBuild()
    {
        m_Build.Add("Wow.exe", Bytes(70000, 1), 0x08 | 0x02);
        m_Build.Add("Wow-64.exe", Bytes(50000, 2), 0x10 | 0x01);
        m_Build.Add("Data/tracked.MPQ", Bytes(40000, 3), 0x20);
        m_Build.Add("Data/server.MPQ", Bytes(3000, 4), 0x40);
        m_Build.Add("Data/presence.MPQ", Bytes(2000, 5), 0x80);
        m_Build.Add("Data/empty.MPQ", QByteArray(), 0x20);
        m_Build.Add("Data/frFR/locale.MPQ", Bytes(5000, 6), 0x20, "frFR");
        m_Build.Add("Data/enUS/locale.MPQ", Bytes(5000, 7), 0x20, "enUS");
        m_Build.Add("Data/s1.MPQ", Bytes(300000, 8), 0, QString(), true);
        m_Build.Add("Data/frFR/s.MPQ", Bytes(9000, 9), 0, "frFR", true);
        m_Build.Add("Data/enUS/s.MPQ", Bytes(9000, 10), 0, "enUS", true);
        Publish();

        QVERIFY(FreshInstall());
        VerifyInstalled();
        QCOMPARE(Errors(), QStringList());
        QCOMPARE(Mode(m_Folder + "Wow.exe"), 0777);
        QCOMPARE(Mode(m_Folder + "Wow-64.exe") & 0222, 0);
        QVERIFY(Mode(m_Folder + "Data/tracked.MPQ") & 0200);
        // Both lists were built and every line left them with its file in place.
        QCOMPARE(ReadFile(m_Folder + "ToDownloadBase.db"), QByteArray());
        QCOMPARE(ReadFile(m_Folder + "ToDownload.db"), QByteArray());
        QVERIFY(QFile::exists(m_Folder + "ToDownloadBase.db") && QFile::exists(m_Folder + "ToDownload.db"));
        // 0x40 from the application server (the CDN has no copy), the others from the CDN.
        QCOMPARE(m_Server->Requests("/srv/wow_bfa/files/Data/server.MPQ").size(), 2);
        QCOMPARE(Gets(m_Build.Files[0]), 2); // size, then the file
        QCOMPARE(m_Host->LockCount.load(), m_Host->UnlockCount.load());
        QVERIFY(m_Host->LockCount.load() >= 1);
        QCOMPARE(m_App->m_Status.Message, QString());
        QCOMPARE(m_App->m_Status.Percent, 100);
        QCOMPARE(m_App->m_Status.Done, m_App->m_Status.Total);

        // The next run trusts the lists, checks the plain files and fetches nothing.
        Close();
        m_Server->ClearRequests();
        Launch();
        QVERIFY(m_Host->WaitFor([&] { return m_App->m_Status.ApplicationState == 2; }));
        QVERIFY(WaitIdle());
        QCOMPARE(m_Server->Requests().size(), 3); // version, build information, CDN list
    }

    void damagedFileIsFetchedAgain()
    {
        m_Build.Add("Data/plain.MPQ", Bytes(20000, 1));
        m_Build.Add("Data/tracked.MPQ", Bytes(20000, 2), 0x20);
        m_Build.Add("Data/s.MPQ", Bytes(20000, 3), 0, QString(), true);
        Publish();
        QVERIFY(FreshInstall());
        Close();

        for (const char* l_Name : {"Data/plain.MPQ", "Data/tracked.MPQ", "Data/s.MPQ"})
        {
            QFile l_File(m_Folder + QString::fromUtf8(l_Name));
            QVERIFY(l_File.open(QIODevice::ReadWrite));
            l_File.seek(100);
            l_File.write("damage");
        }
        // A plain file is checked at every run; tracked and streamed ones only by a repair.
        Launch();
        QVERIFY(m_Host->WaitFor([&] { return m_App->m_Status.ApplicationState == 2; }));
        QVERIFY(WaitIdle());
        QCOMPARE(ReadFile(m_Folder + "Data/plain.MPQ"), m_Build.Files[0].Bytes);
        QVERIFY(ReadFile(m_Folder + "Data/tracked.MPQ") != m_Build.Files[1].Bytes);
        m_App->Repair();
        QVERIFY(WaitIdle());
        VerifyInstalled();
    }

    /// Six bad downloads: five restarts, then the file is given up, reported and kept listed.
    void badFileIsGivenUpAfterFiveRestarts()
    {
        m_Build.Add("Data/good.MPQ", Bytes(1000, 1), 0x20);
        TestBuild::File& l_Bad = m_Build.Add("Data/bad.MPQ", Bytes(4000, 2), 0x20);
        l_Bad.Md5 = TestBuild::Md5Of("what the manifest promised");
        m_Build.Add("Data/s.MPQ", Bytes(1000, 3), 0, QString(), true);
        Publish();
        WarningLog l_Log;
        qint64 l_TotalAtGiveUp = -1;
        l_Log.OnLine = [&](const QString& p_Line) {
            if (p_Line.startsWith("(ToManyRetry)"))
                l_TotalAtGiveUp = m_App->m_Status.Total;
        };
        QVERIFY(FreshInstall());

        const QString l_Location = "files/Data/bad.MPQ";
        QStringList l_Lines;
        for (const QString& l_Line : l_Log.Lines())
            if (l_Line.startsWith("(MD5)") || l_Line.startsWith("(ToManyRetry)") || l_Line.startsWith("(IO)"))
                l_Lines.append(l_Line);
        QStringList l_Expected;
        for (int l_I = 0; l_I < 5; ++l_I)
            l_Expected.append("(MD5) Download restarted for " + l_Location);
        l_Expected.append("(ToManyRetry) Download aborded for " + l_Location);
        QCOMPARE(l_Lines, l_Expected);
        QCOMPARE(Gets(m_Build.Files[1]), 1 + 6);
        // Each restart raised Total by the file's length.
        QCOMPARE(l_TotalAtGiveUp, qint64(1000 + 4000 + 5 * 4000));

        // Told once, by name; not in place; still listed for the next run, which finishes the rest.
        const QStringList l_Errors = Errors();
        QCOMPARE(l_Errors.size(), 1);
        QVERIFY(l_Errors[0].contains(m_Folder + "Data/bad.MPQ"));
        QCOMPARE(m_App->m_GivenUp, QStringList({"Data/bad.MPQ"}));
        QVERIFY(!QFile::exists(m_Folder + "Data/bad.MPQ"));
        QVERIFY(!QFile::exists(m_Folder + "Data/bad.MPQ.part"));
        QCOMPARE(DownloadListFile(m_Folder + "ToDownloadBase.db").Read(), QStringList({"Data/bad.MPQ"}));
        QCOMPARE(ReadFile(m_Folder + "Data/s.MPQ"), m_Build.Files[2].Bytes);

        // Once the server has the right bytes, the next run fetches it.
        Close();
        m_Build.Files[1].Bytes = "what the manifest promised";
        m_Build.Files[1].Md5.clear();
        m_Server->SetResource(TestBuild::ServedPath(m_Build.Files[1]), m_Build.Files[1].Bytes);
        Launch();
        QVERIFY(m_Host->WaitFor([&] { return m_App->m_Status.ApplicationState == 2; }));
        QVERIFY(WaitIdle());
        QCOMPARE(ReadFile(m_Folder + "Data/bad.MPQ"), m_Build.Files[1].Bytes);
        QCOMPARE(DownloadListFile(m_Folder + "ToDownloadBase.db").Read(), QStringList());
        QCOMPARE(Errors(), QStringList());
    }

    /// One bad download: Total grows by its Content-Length and the progress falls back.
    void restartRaisesTotal()
    {
        const QByteArray l_Good = Bytes(6000, 1);
        m_Build.Add("Data/a.MPQ", l_Good);
        m_Build.Add("Data/b.MPQ", Bytes(2000, 2));
        Publish();
        m_Server->SetResource(TestBuild::ServedPath(m_Build.Files[0]), Bytes(6000, 99));
        WarningLog l_Log;
        qint64 l_Total = -1;
        int l_Percent = -1;
        l_Log.OnLine = [&](const QString& p_Line) {
            if (p_Line.startsWith("(MD5) Download restarted for "))
                m_Server->SetResource(TestBuild::ServedPath(m_Build.Files[0]), l_Good);
            else if (p_Line.startsWith("Selected CDN ") && l_Total < 0 && m_App && m_App->m_RetryCount == 1)
            {
                l_Total = m_App->m_Status.Total;
                l_Percent = m_App->m_Status.Percent;
            }
        };
        QVERIFY(FreshInstall());
        QCOMPARE(l_Total, qint64(6000 + 2000 + 6000));
        QCOMPARE(l_Percent, int(6000 * 100 / 14000));
        VerifyInstalled();
        QCOMPARE(Errors(), QStringList());
    }

    /// A stop keeps the file's line and ".part"; the resume asks only for the rest.
    void stopThenResume()
    {
        m_Build.Add("Data/big.MPQ", Bytes(3 * 1024 * 1024, 1), 0x20);
        m_Build.Add("Data/s.MPQ", Bytes(1000, 2), 0, QString(), true);
        Publish();
        TestHttpServer::Fault l_Slow;
        l_Slow.BytesPerSecond = 1024 * 1024;
        m_Server->SetFault(TestBuild::ServedPath(m_Build.Files[0]), l_Slow);
        const QString l_Part = m_Folder + "Data/big.MPQ.part";

        Launch();
        QVERIFY(m_Host->WaitFor([&] { return m_App->m_Status.ApplicationState == 1; }));
        m_App->Install(m_Folder, true);
        QVERIFY(m_Host->WaitFor([&] { return QFileInfo(l_Part).size() > 100000; }));
        m_App->StopDownload();
        QCOMPARE(m_App->m_Status.DownloadStatus, 4);
        const qint64 l_Size = QFileInfo(l_Part).size();
        QVERIFY(l_Size > 0 && l_Size < m_Build.Files[0].Bytes.size());
        QCOMPARE(m_Host->LockCount.load(), m_Host->UnlockCount.load());
        // The stop may be the last thing this run does: the file must still be listed.
        QCOMPARE(DownloadListFile(m_Folder + "ToDownloadBase.db").Read(), QStringList({"Data/big.MPQ"}));
        // Nothing moves on while stopped.
        QVERIFY(m_Host->WaitFor([&] {
            QMutexLocker l_Lock(&m_App->m_MainTasksMutex);
            return m_App->m_MainTasks.empty();
        }));
        QCOMPARE(QFileInfo(l_Part).size(), l_Size);

        m_Server->ClearFaults();
        m_Server->ClearRequests();
        // The bytes already on disk count once: progress never passes the total.
        qint64 l_MaxDone = 0;
        QObject::connect(m_App.get(), &Application::OnHTTPDownloadProgressUpdate, this, [&](HTTP_DownloadFileRequest*) {
            if (m_App->m_BasePhase)
                l_MaxDone = qMax(l_MaxDone, qint64(m_App->m_Status.Done));
        });
        m_App->ResumeDownload();
        QVERIFY(WaitIdle());
        QVERIFY(l_MaxDone > l_Size);
        QVERIFY2(l_MaxDone <= m_Build.Files[0].Bytes.size(), qPrintable(QString::number(l_MaxDone)));
        const QList<TestHttpServer::Request> l_Requests = m_Server->Requests(TestBuild::ServedPath(m_Build.Files[0]));
        QCOMPARE(l_Requests.size(), 1);
        QCOMPARE(l_Requests[0].Range, "bytes=" + QByteArray::number(l_Size) + "-");
        VerifyInstalled();
        QCOMPARE(m_App->m_RetryCount, 0u);
        QCOMPARE(Errors(), QStringList());
    }

    /// A repair asked while a file is being fetched still ends with the build in place.
    void repairDuringATransfer()
    {
        m_Build.Add("Data/small.MPQ", Bytes(1000, 2));
        m_Build.Add("Data/big.MPQ", Bytes(1024 * 1024, 1), 0x20);
        Publish();
        TestHttpServer::Fault l_Slow;
        l_Slow.BytesPerSecond = 512 * 1024;
        l_Slow.Times = 2; // its size request and its first transfer
        m_Server->SetFault(TestBuild::ServedPath(m_Build.Files[1]), l_Slow);
        WarningLog l_Log;
        Launch();
        QVERIFY(m_Host->WaitFor([&] { return m_App->m_Status.ApplicationState == 1; }));
        m_App->Install(m_Folder, true);
        QVERIFY(m_Host->WaitFor([&] { return QFileInfo(m_Folder + "Data/big.MPQ.part").size() > 50000; }));
        // The new pass starts with another file than the one still in flight.
        QVERIFY(QFile::remove(m_Folder + "Data/small.MPQ"));
        m_App->Repair();
        QVERIFY(WaitIdle());
        VerifyInstalled();
        QCOMPARE(DownloadListFile(m_Folder + "ToDownloadBase.db").Read(), QStringList());
        QCOMPARE(Errors(), QStringList());
        QCOMPARE(l_Log.Starting("(IO)").size() + l_Log.Starting("(MD5)").size(), 0);
    }

    /// A stop between two files: the next file is not started until ResumeDownload.
    void stopBetweenFiles()
    {
        m_Build.Add("Data/a.MPQ", Bytes(1000, 1), 0x20);
        m_Build.Add("Data/b.MPQ", Bytes(1000, 2), 0x20);
        Publish();
        WarningLog l_Log;
        bool l_Stopped = false;
        l_Log.OnLine = [&](const QString& p_Line) {
            // Logged after a completion, before the next file is posted.
            if (p_Line.startsWith("Selected CDN ") && m_App && m_App->m_CurrentIndex == 1 && !l_Stopped)
            {
                l_Stopped = true;
                m_App->StopDownload();
            }
        };
        Launch();
        QVERIFY(m_Host->WaitFor([&] { return m_App->m_Status.ApplicationState == 1; }));
        m_App->Install(m_Folder, true);
        QVERIFY(m_Host->WaitFor([&] { return l_Stopped; }));
        QVERIFY(m_Host->WaitFor([&] {
            QMutexLocker l_Lock(&m_App->m_MainTasksMutex);
            return m_App->m_MainTasks.empty();
        }));
        QCOMPARE(m_App->m_Status.DownloadStatus, 4);
        QVERIFY(m_App->m_CurrentRequest == nullptr);
        QCOMPARE(DownloadListFile(m_Folder + "ToDownloadBase.db").Read(), QStringList({"Data/b.MPQ"}));
        QCOMPARE(m_Host->LockCount.load(), m_Host->UnlockCount.load());
        m_App->ResumeDownload();
        QVERIFY(WaitIdle());
        VerifyInstalled();
    }

    /// Too little space: the user is told the figures, the phase waits stopped, and resumes once there is room.
    void fullDiskWaitsStopped()
    {
        m_Build.Add("Data/a.MPQ", Bytes(30000, 1), 0x20);
        m_Build.Add("Data/b.MPQ", Bytes(20000, 2));
        m_Build.Add("Data/s.MPQ", Bytes(1000, 3), 0, QString(), true);
        Publish();
        Launch();
        m_App->FreeSpace = 4096;
        QVERIFY(m_Host->WaitFor([&] { return m_App->m_Status.ApplicationState == 1; }));
        m_App->Install(m_Folder, true);
        QVERIFY(m_Host->WaitFor([&] { return !Errors().isEmpty(); }));
        QCOMPARE(m_App->m_Status.DownloadStatus, 4);
        QVERIFY2(Errors()[0].contains("50000 bytes needed") && Errors()[0].contains("4096 bytes free"),
                 qPrintable(Errors()[0]));
        QCOMPARE(Gets(m_Build.Files[0]), 1); // its size only
        QCOMPARE(Gets(m_Build.Files[1]), 1);
        QCOMPARE(DownloadListFile(m_Folder + "ToDownloadBase.db").Read(), QStringList({"Data/a.MPQ"}));
        QCOMPARE(m_Host->LockCount.load(), m_Host->UnlockCount.load());

        // Still short: told again, still waiting; a stop meanwhile keeps it resumable.
        m_App->ResumeDownload();
        QCOMPARE(Errors().size(), 2);
        m_App->StopDownload();
        QCOMPARE(m_App->m_Status.DownloadStatus, 4);

        m_App->FreeSpace = -1;
        m_App->ResumeDownload();
        QVERIFY(WaitIdle());
        VerifyInstalled();
        QCOMPARE(Errors().size(), 2);
        QCOMPARE(m_Host->LockCount.load(), m_Host->UnlockCount.load());
    }

    /// Size requests that get no answer count as 0 once the time is up, and the phase starts.
    void sizeWithoutAnswerCountsZero()
    {
        m_Build.Add("Data/a.MPQ", Bytes(5000, 1));
        Publish();
        SilentCdn l_Cdn;
        l_Cdn.Body = m_Build.Files[0].Bytes;
        l_Cdn.Serve = [&] { return m_App && m_App->m_Status.DownloadStatus == 3; };
        QVERIFY(l_Cdn.Start());
        m_Server->SetResource("/srv/cdns.info", QString("127.0.0.1:%1").arg(l_Cdn.Server.serverPort()).toUtf8());
        qputenv("KESTRUN_SIZE_TIMEOUT_MS", "300");
        QVERIFY(FreshInstall());
        QCOMPARE(l_Cdn.Held, 1);
        VerifyInstalled();
    }

    /// With one of two CDN hosts down the install still completes: the dead host is avoided
    /// after its first failure instead of using up the restarts.
    void oneCdnHostDown()
    {
        for (int l_I = 0; l_I < 16; ++l_I)
            m_Build.Add(QString("Data/f%1.MPQ").arg(l_I), Bytes(2000, l_I), l_I % 2 ? 0x20 : 0, QString(), l_I > 11);
        Publish();
        TestHttpServer l_Dead;
        QVERIFY(l_Dead.Start());
        const quint16 l_DeadPort = l_Dead.Port();
        l_Dead.Stop();
        m_Server->SetResource("/srv/cdns.info",
                              QString("127.0.0.1:%1 127.0.0.1:%2").arg(l_DeadPort).arg(m_Server->Port()).toUtf8());
        WarningLog l_Log;
        QVERIFY(FreshInstall());
        VerifyInstalled();
        QVERIFY(m_App->m_GivenUp.isEmpty());
        QVERIFY(m_App->m_RetryCount <= 2); // one failure per phase at most
        QCOMPARE(l_Log.Starting("(ToManyRetry)").size(), 0);
    }

    /// A write that fails (the ".part" cannot be written) is never taken for a finished file.
    void writeFailureIsNotACompletion()
    {
        m_Build.Add("Data/a.MPQ", Bytes(5000, 1), 0x20);
        Publish();
        QVERIFY(QDir().mkpath(m_Folder + "Data/a.MPQ.part"));
        WarningLog l_Log;
        QVERIFY(FreshInstall());
        QCOMPARE(l_Log.Starting("(IO) Download restarted for ").size(), 5);
        QCOMPARE(l_Log.Starting("(ToManyRetry) Download aborded for ").size(), 1);
        QCOMPARE(l_Log.Starting("(RENAME)").size(), 0); // one restart per failure, not two
        QVERIFY(!QFileInfo(m_Folder + "Data/a.MPQ").isFile());
        QCOMPARE(DownloadListFile(m_Folder + "ToDownloadBase.db").Read(), QStringList({"Data/a.MPQ"}));
        QStringList l_Named;
        for (const QString& l_Error : Errors())
            if (l_Error.contains(m_Folder + "Data/a.MPQ"))
                l_Named.append(l_Error);
        QCOMPARE(l_Named.size(), 1);
    }

    /// Manifest paths that leave the install folder never touch anything outside it.
    void pathsLeavingTheFolder()
    {
        const QString l_Victim = m_Dir->path() + "/victim.bin";
        {
            QFile l_File(l_Victim);
            QVERIFY(l_File.open(QIODevice::WriteOnly));
            l_File.write("keep me");
        }
        QFile::setPermissions(l_Victim, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        m_Build.Add("Data/a.MPQ", Bytes(1000, 1));
        m_Build.Add("../victim.bin", "evil", 0x01 | 0x02);
        m_Build.Add("Data/../../victim.bin", "evil", 0x20);
        m_Build.Add("../victim.bin", "evil", 0, QString(), true);
        m_Build.Add(m_Dir->path() + "/victim.bin", "evil", 0x02);
        Publish();
        QVERIFY(FreshInstall());
        m_App->ApplyFileAttributes();
        m_App->Uninstall(true);
        QCOMPARE(ReadFile(l_Victim), QByteArray("keep me"));
        QCOMPARE(Mode(l_Victim), 0600);
        QVERIFY(!QFile::exists(l_Victim + ".part"));
        QCOMPARE(QDir(m_Dir->path()).entryList(QDir::Files), QStringList({"victim.bin"}));
    }

    /// At every completion, each file not yet in place is still named by its list (or its list
    /// was never written); and a run that ends in the base phase is finished by the next one.
    void listsSurviveAKill()
    {
        for (int l_I = 0; l_I < 4; ++l_I)
            m_Build.Add(QString("Data/t%1.MPQ").arg(l_I), Bytes(3000, l_I), 0x20);
        for (int l_I = 0; l_I < 3; ++l_I)
            m_Build.Add(QString("Data/s%1.MPQ").arg(l_I), Bytes(3000, 10 + l_I), 0, QString(), true);
        Publish();

        int l_Checks = 0;
        QStringList l_Violations;
        auto l_Check = [&] {
            ++l_Checks;
            for (const TestBuild::File& l_File : m_Build.Files)
            {
                if (ReadFile(m_Folder + l_File.Path) == l_File.Bytes)
                    continue;
                DownloadListFile l_List(m_Folder + (l_File.Streamed ? "ToDownload.db" : "ToDownloadBase.db"));
                if (l_List.Exists() && !l_List.Read().contains(l_File.Path))
                    l_Violations.append(l_File.Path);
            }
        };
        WarningLog l_Log;
        bool l_Stopped = false;
        l_Log.OnLine = [&](const QString& p_Line) {
            if (!p_Line.startsWith("Selected CDN ") || !m_App)
                return;
            l_Check();
            // The run ends after two base files, before the streamed list exists.
            if (m_App->m_BasePhase && m_App->m_CurrentIndex == 2 && !l_Stopped)
            {
                l_Stopped = true;
                m_App->StopDownload();
            }
        };
        Launch();
        QVERIFY(m_Host->WaitFor([&] { return m_App->m_Status.ApplicationState == 1; }));
        QObject::connect(m_App.get(), &Application::OnHTTPDownloadProgressComplete, this,
                         [&](HTTP_DownloadFileRequest*) { l_Check(); });
        m_App->Install(m_Folder, true);
        QVERIFY(m_Host->WaitFor([&] { return l_Stopped; }));
        Close();
        QVERIFY(!QFile::exists(m_Folder + "ToDownload.db"));
        QCOMPARE(DownloadListFile(m_Folder + "ToDownloadBase.db").Read(), QStringList({"Data/t2.MPQ", "Data/t3.MPQ"}));

        Launch();
        QVERIFY(m_Host->WaitFor([&] { return m_App->m_Status.ApplicationState == 2; }));
        QObject::connect(m_App.get(), &Application::OnHTTPDownloadProgressComplete, this,
                         [&](HTTP_DownloadFileRequest*) { l_Check(); });
        QVERIFY(WaitIdle());
        VerifyInstalled();
        QVERIFY(l_Checks >= 7);
        QCOMPARE(l_Violations, QStringList());
    }
};

QTEST_MAIN(tst_downloadqueue)
#include "tst_downloadqueue.moc"
