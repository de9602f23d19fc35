// Manifest passes that supersede each other, and large downloads checked while they arrive.
#include "net/ApplicationAsyncHttpDownloader.h"
#include "support/BareApplication.h"
#include "support/FakeHost.h"
#include "support/LauncherRun.h"
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

    /// A step of a pass that a newer one superseded (queued before, run after) touches nothing:
    /// base list, streamed list, size requests, turn wait.
    void supersededStepChangesNothing()
    {
        QTemporaryDir l_Dir;
        TestBuild l_Build;
        l_Build.Add("Data/base.MPQ", "base");
        l_Build.Add("Data/s.MPQ", "streamed", 0, QString(), true);
        for (int l_Step = 0; l_Step < 4; ++l_Step)
        {
            TestApplication l_App;
            FakeHost l_Host;
            l_Host.Attach(&l_App);
            l_Host.Detach(); // nothing drains the queues: what a step posts stays visible
            l_Host.Settings["wow_bfa.Installed"] = true;
            l_Host.Settings["wow_bfa.InstallFolder"] = l_Dir.path() + "/";
            l_App.UseBuild(ParseManifest(l_Build.ManifestJson(), nullptr));
            l_App.GetInstallationPath();
            const quint64 l_Old = l_App.CurrentPass();
            l_App.BeginPass();
            l_App.SetQueueForTest({l_App.Build().BaseFiles[0]}, 0, nullptr); // the newer pass's
            l_App.m_Status.Message = "newer pass";
            const ApplicationStatus l_Was = l_App.m_Status, &l_Is = l_App.m_Status;
            const std::function<void()> l_Steps[] = {
                [&] { l_App.BuildBaseList(l_Old); }, [&] { l_App.BuildStreamedList(false, l_Old); },
                [&] { l_App.RequestFileSizes(l_Old); }, [&] { l_App.WaitForStreamedTurn(l_Old); }};
            l_Steps[l_Step]();
            // The newer pass's list, status and lock stay; no list file written, nothing posted.
            QVERIFY(l_App.Queue().List().size() == 1 && QDir(l_Dir.path()).entryList(QDir::Files).isEmpty());
            QVERIFY(l_Is.Message == l_Was.Message && l_Is.Done == l_Was.Done &&
                    l_Is.DownloadStatus == l_Was.DownloadStatus && l_Host.LockCount.load() == 0 &&
                    l_App.m_MainTasks.empty() && l_App.m_WorkerTasks.empty());
        }
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
        LauncherRun l_Launcher;
        auto l_Run = [&](bool p_Repair) {
            l_Launcher.Start([&] { l_Launcher.Host->DownloadLocked = p_Repair; }); // another launcher downloads
            TestApplication& l_App = *l_Launcher.App;
            const ApplicationStatus& l_S = l_App.m_Status;
            // The repair comes once the start pass checked, found the files to fetch and waits for the turn.
            bool l_Ok = l_Launcher.Host->WaitFor([&] { return l_S.ApplicationState && (!p_Repair || !l_S.DownloadStatus); });
            if (p_Repair)
                l_App.Repair(), l_Launcher.Host->DownloadLocked = false;
            else
                l_App.Install(l_Folder, true);
            l_Ok = l_Ok && l_Launcher.WaitIdle() &&
                   l_Launcher.Host->WaitFor([] { return ApplicationAsyncHttpDownloader::LiveCount() == 0; });
            l_Launcher.Close();
            return l_Ok;
        };
        QVERIFY(l_Run(false));
        for (int l_I : {3, 5, 7}) // damaged: a plain, a tracked and a streamed file; one plain file gone
            QVERIFY(WriteFile(l_Folder + l_Build.Files[l_I].Path,
                                     QByteArray(l_Build.Files[l_I].Bytes).replace(1000, 6, "damage")));
        QVERIFY(QFile::remove(l_Folder + l_Build.Files[20].Path));
        l_Server.ClearRequests();
        QVERIFY(l_Run(true));
        // In place, after a size request and one transfer for each file to fetch and nothing for the others.
        QStringList l_Wrong;
        for (int l_I = 0; l_I < l_Build.Files.size(); ++l_I)
            if (ReadFile(l_Folder + l_Build.Files[l_I].Path) != l_Build.Files[l_I].Bytes ||
                l_Server.Requests(TestBuild::ServedPath(l_Build.Files[l_I])).size() !=
                    (QList<int>{3, 5, 7, 20}.contains(l_I) ? 2 : 0))
                l_Wrong << l_Build.Files[l_I].Path;
        QCOMPARE(l_Wrong, QStringList());
    }

    /// A download carries the digest of the file as it ends on disk, hashed as it was written (a kept part
    /// read once): also when the transfer restarted the file on the way, when nothing was left to fetch
    /// (416), and for wrong bytes kept from before, which the digest must not hide.
    void downloadDigest()
    {
        Fault l_None, l_Closed, l_Whole, l_Slow;
        l_Closed.CloseAfterBytes = 2000000;
        l_Closed.Times = l_Whole.Times = 1;
        l_Whole.IgnoreRange = true;
        l_Whole.NoAcceptRanges = true; // a server that cannot do ranges: its body is read past the part's bytes
        l_Slow = l_Closed;
        l_Slow.BytesPerSecond = 8 * 1024 * 1024;
        const QByteArray l_Large = TestHttpServer::Pattern(5 * 1024 * 1024 + 3, 11);
        const QByteArray l_Small = TestHttpServer::Pattern(20011, 5);
        qputenv("KESTRUN_READ_BUFFER_BYTES", "65536");
        // OnDisk: bytes of the body already in the ".part" (negative: of other bytes); Then: from the 2nd request on;
        // Damaged: the file ends with wrong bytes kept from before
        struct Row { const QByteArray* Body; int OnDisk; Fault First, Then; bool Damaged; } const l_Rows[] = {
            {&l_Large, 0, l_None, l_None, false}, {&l_Large, 0, l_Closed, l_None, false}, // fresh; closed, resumed
            {&l_Large, 1500000, l_Whole, l_None, false}, {&l_Large, 1500000, l_None, l_None, false}, // read past; resumed
            // The resume after a closed connection is answered from byte 0 by a server without ranges, over a
            // part whose first bytes were wrong: the part is never emptied, its wrong bytes stay, and the digest
            // of the file as it is on disk shows them.
            {&l_Large, -1500000, l_Slow, l_Whole, true},
            {&l_Large, l_Large.size(), l_None, l_None, false}, // whole on disk: 416, the kept part hashed
            {&l_Large, -1500000, l_None, l_None, true},        // resumed after wrong bytes: caught
            {&l_Small, 0, l_None, l_None, false}, {&l_Small, 7000, l_None, l_None, false},
            {&l_Small, 7000, l_Whole, l_None, false}, {&l_Small, -7000, l_None, l_None, true}};
        TestHttpServer l_Server;
        QVERIFY(l_Server.Start());
        for (const Row& l_Row : l_Rows)
        {
            const QByteArray& l_Body = *l_Row.Body;
            l_Server.SetResource("/f", l_Body);
            l_Server.ClearRequests();
            l_Server.SetFault("/f", l_Row.First);
            QTemporaryDir l_Dir;
            const QString l_Path = l_Dir.path() + "/f.part";
            if (l_Row.OnDisk != 0)
                QVERIFY(WriteFile(l_Path, l_Row.OnDisk > 0 ? l_Body.left(l_Row.OnDisk)
                                                                  : TestBuild::Pattern(-l_Row.OnDisk, 99)));
            BareApplication l_App;
            FakeHost l_Host;
            l_Host.Attach(&l_App);
            QString l_Md5 = "none";
            qint64 l_Bytes = -1;
            connect(&l_App, &Application::OnHTTPDownloadProgressComplete, this,
                    [&](HTTP_DownloadFileRequest* p_R) { l_Md5 = p_R->WrittenMd5, l_Bytes = p_R->WrittenMd5Bytes; });
            l_App.HTTP_DownloadFile(l_Server.Url("f"), l_Path, true);
            QVERIFY(l_Host.WaitFor([&] { return !l_Server.Requests("/f").isEmpty(); }));
            l_Server.SetFault("/f", l_Row.Then);
            QVERIFY(l_Host.WaitFor([&] { return l_Bytes >= 0 && ApplicationAsyncHttpDownloader::LiveCount() == 0; }));
            const QByteArray l_OnDisk = ReadFile(l_Path);
            const QString l_Name = QString::number(l_Body.size()) + "/" + QString::number(l_Row.OnDisk);
            QVERIFY2(l_Md5 == TestBuild::Md5Of(l_OnDisk) && l_Bytes == l_OnDisk.size(), qPrintable(l_Name));
            QVERIFY2((l_OnDisk == l_Body) != l_Row.Damaged, qPrintable(l_Name));
            if (l_Row.Damaged)
                QVERIFY2(l_Md5 != TestBuild::Md5Of(l_Body), qPrintable(l_Name));
            // A part on disk is asked for from exactly its size; a fresh file with no range.
            const QByteArray l_Kept = l_Row.OnDisk ? "bytes=" + QByteArray::number(qAbs(l_Row.OnDisk)) + "-" : "";
            QCOMPARE(l_Server.Requests("/f").value(0).Range, l_Kept);
            l_Host.Detach();
        }
    }

    void cleanUpTakenByAWorker_data()
    {
        QTest::addColumn<bool>("whileItGoes");
        QTest::newRow("run after the application went") << false;
        QTest::newRow("run while the application goes") << true;
    }
    /// A host worker that took a finished transfer's clean-up action and the application going at the
    /// same time: the downloader is deleted once, by one of them, and nothing is left behind.
    void cleanUpTakenByAWorker()
    {
        QFETCH(bool, whileItGoes);
        TestHttpServer l_Server;
        QVERIFY(l_Server.Start());
        l_Server.SetResource("/f", TestHttpServer::Pattern(5000));
        QTemporaryDir l_Dir;
        std::unique_ptr<BareApplication> l_App(new BareApplication());
        FakeHost l_Host;
        l_Host.Attach(l_App.get());
        l_Host.Detach(); // the test plays the host's worker
        l_App->HTTP_DownloadFile(l_Server.Url("f"), l_Dir.path() + "/f.part", true);
        Task l_CleanUp;
        QVERIFY(l_Host.WaitFor([&] { return l_App->TakeWorkerTask(l_CleanUp); }));
        if (whileItGoes)
        {
            std::thread l_Worker(l_CleanUp);
            l_App.reset();
            l_Worker.join();
        }
        else
        {
            l_App.reset();
            l_CleanUp();
        }
        QCOMPARE(ApplicationAsyncHttpDownloader::LiveCount(), 0);
        QCOMPARE(ReadFile(l_Dir.path() + "/f.part"), TestHttpServer::Pattern(5000));
    }
};

QTEST_MAIN(tst_passes)
#include "tst_passes.moc"
