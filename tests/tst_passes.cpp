// Manifest passes that supersede each other, and large downloads checked while they arrive.
#include "launcher/ApplicationAsyncHttpDownloader.h"
#include "launcher/ReadBackHasher.h"
#include "support/BareApplication.h"
#include "support/FakeHost.h"
#include "support/TestApplication.h"
#include "support/TestBuild.h"
#include "support/TestHttpServer.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <thread>

using namespace Orvane::Launcher;
using Fault = TestHttpServer::Fault;

class tst_passes : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        qputenv("KESTRUN_SIZE_TIMEOUT_MS", "30000");
        qunsetenv("KESTRUN_READ_BUFFER_BYTES");
    }

    /// A step of a pass that a newer one superseded (queued before, run after) touches nothing.
    void supersededStepChangesNothing_data()
    {
        QTest::addColumn<int>("step");
        QTest::newRow("base list") << 0;
        QTest::newRow("streamed list") << 1;
        QTest::newRow("size requests") << 2;
        QTest::newRow("turn wait") << 3;
    }
    void supersededStepChangesNothing()
    {
        QFETCH(int, step);
        QTemporaryDir l_Dir;
        TestBuild l_Build;
        l_Build.Add("Data/base.MPQ", "base");
        l_Build.Add("Data/s.MPQ", "streamed", 0, QString(), true);
        TestApplication l_App;
        FakeHost l_Host;
        l_Host.Attach(&l_App);
        l_Host.Detach(); // nothing drains the queues: what a step posts stays visible
        l_Host.Settings["wow_bfa.Installed"] = true;
        l_Host.Settings["wow_bfa.InstallFolder"] = l_Dir.path() + "/";
        bool l_Ok = false;
        l_App.m_Manifest = ParseManifest(l_Build.ManifestJson(), &l_Ok);
        l_App.GetInstallationPath();

        const quint64 l_Old = l_App.m_Pass;
        l_App.BeginPass();
        l_App.m_DownloadList.push_back(l_App.m_Manifest.BaseFiles[0]); // the newer pass's
        l_App.m_Status.Message = "newer pass";
        const ApplicationStatus l_Before = l_App.m_Status;
        if (step == 0)
            l_App.BuildBaseList(l_Old);
        else if (step == 1)
            l_App.BuildStreamedList(false, l_Old);
        else if (step == 2)
            l_App.RequestFileSizes(l_Old);
        else
            l_App.WaitForStreamedTurn(l_Old);

        QCOMPARE(l_App.m_DownloadList.size(), size_t(1));
        QVERIFY(QDir(l_Dir.path()).entryList(QDir::Files).isEmpty()); // no list file written
        QCOMPARE(l_App.m_Status.Message, l_Before.Message);
        QCOMPARE(l_App.m_Status.Done, l_Before.Done);
        QCOMPARE(l_App.m_Status.DownloadStatus, l_Before.DownloadStatus);
        QCOMPARE(l_Host.LockCount.load(), 0);
        QVERIFY(l_App.m_MainTasks.empty() && l_App.m_WorkerTasks.empty());
    }

    /// A repair asked while the pass of the launcher start waits for the download turn: that pass
    /// ends, the repair fetches every damaged file once, and the game ends whole.
    void repairWhileTheStartPassWaits()
    {
        TestHttpServer l_Server;
        QVERIFY(l_Server.Start());
        qputenv("KESTRUN_SERVER_URL", TestBuild::ServerUrl(l_Server).toUtf8());
        QTemporaryDir l_Dir;
        const QString l_Folder = l_Dir.path() + "/game/";
        TestBuild l_Build;
        for (int l_I = 0; l_I < 24; ++l_I)
            l_Build.Add(QString("Data/%1.MPQ").arg(l_I), TestBuild::Pattern(400000, l_I), l_I == 5 ? 0x20 : 0,
                        QString(), l_I == 7);
        l_Build.Publish(l_Server);
        QMap<QString, QVariant> l_Settings;
        for (int l_Run = 0; l_Run < 2; ++l_Run)
        {
            TestApplication l_App;
            FakeHost l_Host;
            l_Host.Settings = l_Settings;
            l_Host.DownloadLocked = l_Run == 1; // another launcher downloads
            l_Host.Attach(&l_App);
            l_App.Init();
            QVERIFY(l_Host.WaitFor([&] { return l_App.m_Status.ApplicationState != 0; }));
            if (l_Run == 0)
                l_App.Install(l_Folder, true);
            else
            {
                // Checked, found two files to fetch, waiting for the turn.
                QVERIFY(l_Host.WaitFor([&] { return l_App.m_Status.DownloadStatus == 0; }));
                l_App.Repair();
                l_Host.DownloadLocked = false;
            }
            QVERIFY(l_Host.WaitFor(
                [&] { return l_App.m_Status.ApplicationState == 2 && !l_App.m_Status.Busy && !l_App.m_CurrentRequest; },
                30000));
            QVERIFY(l_Host.WaitFor([&] { return ApplicationAsyncHttpDownloader::LiveCount() == 0; }));
            l_Host.Detach();
            l_Settings = l_Host.Settings;
            if (l_Run == 0)
            {
                // Damaged: a plain, a tracked and a streamed file; one plain file gone.
                for (int l_I : {3, 5, 7})
                {
                    QFile l_File(l_Folder + l_Build.Files[l_I].Path);
                    QVERIFY(l_File.open(QIODevice::ReadWrite) && l_File.seek(1000) && l_File.write("damage") == 6);
                }
                QVERIFY(QFile::remove(l_Folder + l_Build.Files[20].Path));
                l_Server.ClearRequests();
            }
        }
        for (int l_I = 0; l_I < l_Build.Files.size(); ++l_I)
        {
            const TestBuild::File& l_File = l_Build.Files[l_I];
            QCOMPARE(TestBuild::Read(l_Folder + l_File.Path), l_File.Bytes);
            // A size request and one transfer for each file to fetch; nothing for the others.
            const int l_Gets = l_Server.Requests(TestBuild::ServedPath(l_File)).size();
            QVERIFY2(l_Gets == (QList<int>{3, 5, 7, 20}.contains(l_I) ? 2 : 0), qPrintable(l_File.Path));
        }
    }

    /// Reading back a file while another thread appends to it gives the digest of the whole file.
    void readBackFollowsTheWriter_data()
    {
        QTest::addColumn<int>("chunk");
        QTest::addColumn<int>("end"); // 0 finish, 1 finish told to stop, 2 abandoned
        QTest::newRow("small uneven chunks") << 3001 << 0;
        QTest::newRow("chunks larger than a block") << 100003 << 0;
        QTest::newRow("stopped at the finish") << 65536 << 1;
        QTest::newRow("abandoned") << 65536 << 2;
    }
    void readBackFollowsTheWriter()
    {
        QFETCH(int, chunk);
        QFETCH(int, end);
        QTemporaryDir l_Dir;
        const QString l_Path = l_Dir.path() + "/f.part";
        const QByteArray l_Bytes = TestBuild::Pattern(3 * 1024 * 1024 + 17, chunk);
        QFile l_File(l_Path);
        QVERIFY(l_File.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        std::unique_ptr<ReadBackHasher> l_Hasher;
        for (int l_At = 0; l_At < l_Bytes.size(); l_At += chunk)
        {
            const QByteArray l_Part = l_Bytes.mid(l_At, chunk);
            QCOMPARE(l_File.write(l_Part), qint64(l_Part.size()));
            if (!l_Hasher)
                l_Hasher.reset(new ReadBackHasher(l_Path));
            l_Hasher->Written(l_At + l_Part.size());
        }
        l_File.close();
        QString l_Md5;
        qint64 l_Read = -1;
        if (end == 2)
        {
            l_Hasher.reset();
            return;
        }
        const bool l_Done = l_Hasher->Finish([end] { return end == 0; }, &l_Md5, &l_Read);
        QCOMPARE(l_Done, end == 0);
        if (l_Done)
        {
            QCOMPARE(l_Md5, TestBuild::Md5Of(l_Bytes));
            QCOMPARE(l_Read, qint64(l_Bytes.size()));
        }
    }

    /// A large download carries the digest of the file as it ends on disk, also when the transfer
    /// restarted the file on the way.
    void downloadReadBack_data()
    {
        QTest::addColumn<int>("onDisk"); // bytes of the body already in the ".part"; negative: of other bytes
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<Fault>("then"); // from the second request on
        QTest::newRow("fresh") << 0 << Fault() << Fault();
        Fault l_Closed;
        l_Closed.CloseAfterBytes = 2000000;
        l_Closed.Times = 1;
        QTest::newRow("connection closed, resumed") << 0 << l_Closed << Fault();
        Fault l_Whole;
        l_Whole.IgnoreRange = true;
        l_Whole.Times = 1;
        QTest::newRow("range ignored: started over") << 1500000 << l_Whole << Fault();
        QTest::newRow("resumed from a large part") << 1500000 << Fault() << Fault();
        // The resume after a closed connection is answered from byte 0, over a part whose first
        // bytes were wrong and had been read back already.
        Fault l_Slow = l_Closed;
        l_Slow.BytesPerSecond = 8 * 1024 * 1024;
        QTest::newRow("wrong part, closed, then range ignored") << -1500000 << l_Slow << l_Whole;
    }
    void downloadReadBack()
    {
        QFETCH(int, onDisk);
        QFETCH(Fault, fault);
        QFETCH(Fault, then);
        TestHttpServer l_Server;
        QVERIFY(l_Server.Start());
        const QByteArray l_Body = TestHttpServer::Pattern(5 * 1024 * 1024 + 3, 11);
        l_Server.SetResource("/f", l_Body);
        l_Server.SetFault("/f", fault);
        QTemporaryDir l_Dir;
        const QString l_Path = l_Dir.path() + "/f.part";
        if (onDisk != 0)
            QVERIFY(TestBuild::Write(l_Path, onDisk > 0 ? l_Body.left(onDisk) : TestBuild::Pattern(-onDisk, 99)));
        qputenv("KESTRUN_READ_BUFFER_BYTES", "65536");
        BareApplication l_App;
        FakeHost l_Host;
        l_Host.Attach(&l_App);
        QString l_Md5 = "none";
        qint64 l_Bytes = -1;
        connect(&l_App, &Application::OnHTTPDownloadProgressComplete, this, [&](HTTP_DownloadFileRequest* p_Request) {
            l_Md5 = p_Request->ReadBackMd5;
            l_Bytes = p_Request->ReadBackBytes;
        });
        l_App.HTTP_DownloadFile(l_Server.Url("f"), l_Path, true);
        QVERIFY(l_Host.WaitFor([&] { return !l_Server.Requests("/f").isEmpty(); }));
        l_Server.SetFault("/f", then);
        QVERIFY(l_Host.WaitFor([&] { return l_Bytes >= 0 && ApplicationAsyncHttpDownloader::LiveCount() == 0; }));
        QCOMPARE(TestBuild::Read(l_Path), l_Body);
        QCOMPARE(l_Md5, TestBuild::Md5Of(l_Body));
        QCOMPARE(l_Bytes, qint64(l_Body.size()));
        l_Host.Detach();
    }
};

QTEST_MAIN(tst_passes)
#include "tst_passes.moc"
