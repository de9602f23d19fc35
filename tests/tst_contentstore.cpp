// The module's content-store phases against a forged store on the loopback server:
// the hand-off, a whole install, stop and resume in each phase, errors ending the run.
#include "support/BlobRanges.h"
#include "support/CascRig.h"
#include "support/CdnPath.h"
#include "support/GameFixture.h"
#include "support/StopCheck.h"
#include "support/TestHttpServer.h"
#include "support/WarningLog.h"
#include "casc/CASCApplication.h"
#include "casc/CASCArchivesManager.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QDeadlineTimer>
#include <QThread>
#include <QtTest>

#include <algorithm>
#include <atomic>

using namespace Orvane;

namespace {

/// The shared store rig's forged store and test server, and the game installed as the plain
/// path leaves it: the local ".idx" files in place, the content store still to fill.
struct StoreGame
{
    QTemporaryDir Temp;
    CascRig Rig;
    CascStore& Store = Rig.m_Store;
    TestHttpServer& Server = Rig.m_Server;
    Launcher::Kestrun App;
    FakeHost Host; // after App: detaches before the application goes
    QString Folder = Temp.path() + "/game/";
    QJsonObject Summary;

    explicit StoreGame(const QStringList& p_ForgeOptions = {})
    {
        if (Rig.External() || !Rig.Forge(QStringList{"--files", "40", "--max-size", "20000", "--chunk", "4096",
                                                      "--local-archives", "3", "--seed", "4"} +
                                          p_ForgeOptions))
            qFatal("forge: %s", qPrintable(Store.Error()));
        Summary = Store.Summary();
        const QString l_Host = QString("127.0.0.1:%1").arg(Server.Port());
        const QString l_Idx = Store.Install() + "data/data/";
        for (const QString& l_Name : QDir(l_Idx).entryList({"*.idx"}, QDir::Files))
            WriteFile(Folder + "data/data/" + l_Name, ReadFile(l_Idx + l_Name));
        qputenv("KESTRUN_CDN_HOST", l_Host.toUtf8());
        Host.Settings["wow_bfa.Installed"] = true;
        Host.Settings["wow_bfa.InstallFolder"] = Folder;
        Host.Settings["wow_bfa.IsCASCEnabled"] = true;
        Host.Attach(&App);
        App.GetInstallationPath();
    }

    bool Ended() { return !App.ContentStore().Active() && !App.m_Status.Busy; }
    bool RunToEnd() { return Host.WaitFor([this] { return Ended(); }, 60000); }

    /// Every local archive equals the forged one.
    bool Whole()
    {
        const QString l_Forged = Store.Install() + "data/data/";
        for (const QString& l_Name : QDir(l_Forged).entryList({"data.*"}, QDir::Files))
            if (ReadFile(l_Forged + l_Name) != ReadFile(Folder + "data/data/" + l_Name))
                return false;
        return true;
    }

    /// "archive Range" of every slot that does not hold its forged bytes: what a run has left to ask.
    QStringList MissingRanges()
    {
        QStringList l_Ranges;
        for (const QJsonValue& l_Blob : Summary["blobs"].toArray())
            if (!SlotWhole(Folder, Store.Install(), l_Blob.toObject()))
                l_Ranges << BlobRange(l_Blob.toObject());
        l_Ranges.sort();
        return l_Ranges;
    }
    /// "archive Range" of the archives' ranged requests since the last ClearRequests.
    QStringList AskedRanges()
    {
        QList<TestHttpServer::Request> l_Asked = Server.Requests();
        const QStringList l_Archives = ArchivePaths();
        l_Asked.erase(std::remove_if(l_Asked.begin(), l_Asked.end(), [&](const TestHttpServer::Request& p_R) {
                          return !l_Archives.contains(p_R.Path);
                      }), l_Asked.end());
        return RangesAsked(l_Asked);
    }
    /// Bytes under the install folder's "data/": what a transfer would add to.
    qint64 DataBytes() const
    {
        qint64 l_Bytes = 0;
        QDirIterator l_It(Folder + "data", QDir::Files, QDirIterator::Subdirectories);
        while (l_It.hasNext())
        {
            l_It.next();
            l_Bytes += l_It.fileInfo().size();
        }
        return l_Bytes;
    }

    QString CdnPath(const QString& p_Kind, const QString& p_Key) const { return Store.CdnPath(p_Kind, p_Key); }
    QStringList ArchivePaths() const
    {
        QStringList l_Paths;
        for (const QJsonValue& l_Archive : Summary["archives"].toArray())
            l_Paths << CdnPath(l_Archive["patch"].toBool() ? "patch" : "data", l_Archive["name"].toString());
        return l_Paths;
    }
    /// Requests since the last ClearRequests whose path contains p_Part (ranged ones only when asked).
    int Requests(const QString& p_Part, bool p_Ranged = false)
    {
        int l_Count = 0;
        const QList<TestHttpServer::Request> l_Requests = Server.Requests();
        for (const TestHttpServer::Request& l_Request : l_Requests)
            if (l_Request.Path.contains(p_Part) && (!p_Ranged || !l_Request.Range.isEmpty()))
                ++l_Count;
        return l_Count;
    }
};

/// An action that holds the worker queue until released, so that the next worker step waits.
struct WorkerGate
{
    std::atomic<bool> Open{false};
    void Close(Launcher::Application& p_App)
    {
        Open = false;
        // Bounded, so that a failed test cannot hold the worker queue for ever.
        p_App.PostWorkerTask([this] {
            for (QDeadlineTimer l_Deadline(60000); !Open && !l_Deadline.hasExpired();)
                QThread::msleep(1);
        });
    }
};

} // namespace

class tst_contentstore : public QObject
{
    Q_OBJECT

    static constexpr int StallMs = 2000;

private slots:
    void handOffFollowsTheSetting_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("currentPass");
        QTest::addColumn<bool>("started");
        QTest::newRow("enabled") << true << true << true;
        QTest::newRow("disabled") << false << true << false;
        QTest::newRow("an older pass") << true << false << false;
    }
    void handOffFollowsTheSetting()
    {
        QFETCH(bool, enabled);
        QFETCH(bool, currentPass);
        QFETCH(bool, started);
        StoreGame l_Game;
        l_Game.Host.Settings["wow_bfa.IsCASCEnabled"] = enabled;
        const quint64 l_Pass = l_Game.App.CurrentPass();
        if (!currentPass)
            l_Game.App.BeginPass();
        l_Game.App.CheckContentStore(l_Pass);
        QCOMPARE(l_Game.App.ContentStore().Active(), started);
        QCOMPARE(l_Game.App.ContentStore().Store() != nullptr, started);
        if (started)
        {
            QCOMPARE(l_Game.App.m_Status.Message, QString("Getting CDN configuration..."));
            QCOMPARE(l_Game.App.m_Status.DownloadStatus, 2);
            QVERIFY(l_Game.App.m_Status.Busy);
        }
    }

    void installsTheStore()
    {
        StoreGame l_Game;
        l_Game.App.CheckContentStore(l_Game.App.CurrentPass());
        QVERIFY(l_Game.RunToEnd());
        QVERIFY(l_Game.Host.Errors.isEmpty());
        QVERIFY(l_Game.Whole());
        // The end marks the game installed, clears the text and leaves no slot listed.
        QCOMPARE(l_Game.App.m_Status.ApplicationState, 2);
        QCOMPARE(l_Game.App.m_Status.Message, QString());
        QVERIFY(QFileInfo::exists(l_Game.Folder + "ToDownloadCASC.db"));
        QCOMPARE(QFileInfo(l_Game.Folder + "ToDownloadCASC.db").size(), 0);

        // A second run scans, finds the store whole and fetches nothing.
        l_Game.Server.ClearRequests();
        l_Game.App.CheckContentStore(l_Game.App.CurrentPass());
        QVERIFY(l_Game.RunToEnd());
        QCOMPARE(l_Game.Requests("/data/", true) + l_Game.Requests("/patch/", true), 0);
        QVERIFY(l_Game.Host.Errors.isEmpty());
    }

    void stopAndResume_data()
    {
        QTest::addColumn<int>("phase");
        QTest::addColumn<QString>("nextRequest"); // what the phase after a held one asks for first
        QTest::newRow("CDN configuration") << 1 << ".index";
        QTest::newRow("base files transfer") << 2 << "";
        QTest::newRow("archive indices") << 3 << "ENCODING";
        QTest::newRow("encoding file parse") << 4 << "";
        QTest::newRow("install scan") << 5 << "";
        QTest::newRow("streaming") << 7 << "";
    }
    void stopAndResume()
    {
        QFETCH(int, phase);
        QFETCH(QString, nextRequest);
        qputenv("KESTRUN_STALL_TIMEOUT_MS", QByteArray::number(StallMs));
        struct Unset
        {
            ~Unset() { qunsetenv("KESTRUN_STALL_TIMEOUT_MS"); }
        } l_Unset;
        QList<quint64> l_Completed; // the stream's last "done, total"
        // Base files missing, so that the verifier transfers them in phase 2.
        StoreGame l_Game(phase == 2 ? QStringList{"--missing-config", "all"} : QStringList{});
        Launcher::Kestrun& l_App = l_Game.App;
        WorkerGate l_First, l_Second;
        const TestHttpServer::Fault l_Slow = With(&TestHttpServer::Fault::BytesPerSecond, 100);
        if (phase == 1)
            l_Game.Server.SetFault("/wow/versions", l_Slow);
        if (phase == 2)
            l_Game.Server.SetFault(l_Game.CdnPath("config", l_Game.Summary["configs"].toObject()["cdn"].toString()),
                                   l_Slow);
        if (phase == 3 || phase == 5)
            l_First.Close(l_App);
        if (phase == 7)
            for (const QString& l_Path : l_Game.ArchivePaths())
                l_Game.Server.SetFault(l_Path, With(&TestHttpServer::Fault::BytesPerSecond, 20000));
        // The parse's first line: the parse waits there for the stop, off the host's thread.
        WarningLog l_Log;
        std::atomic<QThread*> l_Parser{nullptr};
        std::atomic<bool> l_Release{false};
        if (phase == 4)
            l_Log.OnLine = [&](const QString& p_Line) {
                if (!p_Line.startsWith("CASCArchivesManager::ParseEncodingFile() Encoding file header"))
                    return;
                l_Parser = QThread::currentThread();
                for (QDeadlineTimer l_Deadline(60000); !l_Release && l_Parser != thread() && !l_Deadline.hasExpired();)
                    QThread::msleep(1);
            };

        l_App.CheckContentStore(l_App.CurrentPass());
        if (phase == 5)
        {
            // The index load waits behind the first gate; the scan will wait behind the second.
            QVERIFY(l_Game.Host.WaitFor([&] { return int(l_App.ContentStore().CurrentPhase()) == 3; }));
            l_Second.Close(l_App);
            l_First.Open = true;
        }
        const bool l_Transfer = phase == 2 || phase == 7;
        QVERIFY(l_Game.Host.WaitFor([&] {
            return int(l_App.ContentStore().CurrentPhase()) == phase && (!l_Transfer || (l_App.m_Status.DownloadStatus == 3 && l_App.m_Status.Done > 0)) &&
                   (phase != 4 || l_Parser) && (phase != 1 || !l_Game.Server.Requests("/wow/versions").isEmpty());
        }));
        QVERIFY(l_Parser != thread());
        if (phase == 7)
        {
            CASC::CASCArchivesManager* l_Manager = l_App.ContentStore().Store()->GetArchivesManager();
            const CASC::CASCArchivesManager::DownloadProgress l_Shown = l_Manager->m_OnDownloadCompleted;
            l_Manager->m_OnDownloadCompleted = [&l_Completed, l_Shown](int p_File, int p_Files, int p_Percent,
                                                                      quint64 p_Done, quint64 p_Total, quint64 p_Speed) {
                l_Completed = {p_Done, p_Total};
                l_Shown(p_File, p_Files, p_Percent, p_Done, p_Total, p_Speed);
            };
        }
        const int l_Closed = l_Game.Server.ClosedConnections();
        l_App.StopDownload();
        QCOMPARE(l_App.m_Status.DownloadStatus, 4);
        l_Game.Server.ClearRequests();
        l_First.Open = true;
        l_Second.Open = true;
        l_Release = true;
        if (l_Transfer)
        {
            // The connection goes; past the stall time-out nothing is asked and nothing grows.
            const QString l_Broken = QuietAfterStop(l_Game.Server, l_Closed, StallMs + 500, [&] { return l_Game.DataBytes(); });
            QVERIFY2(l_Broken.isEmpty(), qPrintable(l_Broken));
        }
        else
        {
            // The step that ran returns; the next phase is held, nothing is fetched for it.
            QVERIFY(l_Game.Host.WaitFor([&] { return l_App.ContentStore().Holding(); }));
            QCOMPARE(int(l_App.ContentStore().CurrentPhase()), phase);
            if (nextRequest == "ENCODING")
                nextRequest = l_Game.Summary["encoding"].toObject()["encodingKey"].toString();
            if (!nextRequest.isEmpty())
                QCOMPARE(l_Game.Requests(nextRequest), 0);
            const QString l_Broken = QuietAfterStop(l_Game.Server, -1, StallMs + 500, [&] { return l_Game.DataBytes(); });
            QVERIFY2(l_Broken.isEmpty(), qPrintable(l_Broken));
        }
        QCOMPARE(l_Game.Requests("/data/", true) + l_Game.Requests("/patch/", true), 0);
        QCOMPARE(l_App.m_Status.DownloadStatus, 4);
        // The stop raised nothing and ended nothing.
        QVERIFY(l_App.ContentStore().Active() && l_Game.Host.Errors.isEmpty());

        // The resumed run asks for each slot not yet whole, once, and for nothing else (neighbours may
        // share a request).
        const QStringList l_Missing = l_Game.MissingRanges();
        l_Game.Server.ClearFaults();
        l_Game.Server.ClearRequests();
        l_App.ResumeDownload();
        QVERIFY(l_Game.RunToEnd());
        QVERIFY2(l_Game.Host.Errors.isEmpty(), qPrintable(l_Game.Host.Errors.join('\n')));
        QVERIFY(l_Game.Whole());
        QCOMPARE(BlobsAsked(l_Game.AskedRanges(), l_Missing), l_Missing);
        // The stopped attempt's bytes are not counted twice.
        if (phase == 7)
            QVERIFY(l_Completed.size() == 2 && l_Completed[0] == l_Completed[1]);
    }

    void errorEndsTheRunAndTheNextOneCarriesOn()
    {
        StoreGame l_Game;
        WarningLog l_Log;
        l_Log.Silence = [](const QString&) { return true; };
        const QString l_Broken = l_Game.ArchivePaths().first();
        l_Game.Server.SetFault(l_Broken, With(&TestHttpServer::Fault::Status, 404));
        l_Game.App.CheckContentStore(l_Game.App.CurrentPass());
        QVERIFY(l_Game.RunToEnd());
        QVERIFY(!l_Game.Host.Errors.isEmpty());
        QVERIFY2(l_Game.Host.Errors.first().startsWith("Error 2 "), qPrintable(l_Game.Host.Errors.first()));
        // The next run scans again and fetches only what is still missing, once.
        const QStringList l_Missing = l_Game.MissingRanges();
        QVERIFY(!l_Missing.isEmpty());
        l_Game.Server.ClearFaults();
        l_Game.Server.ClearRequests();
        l_Game.Host.Errors.clear();
        l_Game.App.CheckContentStore(l_Game.App.CurrentPass());
        QVERIFY(l_Game.RunToEnd());
        QVERIFY2(l_Game.Host.Errors.isEmpty(), qPrintable(l_Game.Host.Errors.join('\n')));
        QVERIFY(l_Game.Whole());
        QCOMPARE(BlobsAsked(l_Game.AskedRanges(), l_Missing), l_Missing);
    }

    void faultSchedule();
    void newPassEndsTheRun_data();
    void newPassEndsTheRun();
    void uninitCancelsTheScan();
};

void tst_contentstore::faultSchedule()
{
    // Seeded runs against a CDN with random faults (errors, cuts, stalls, wrong bodies for the
    // configuration and the indices), random stops and kills. After every run: nothing outside
    // the install folder changed, no slot holds another blob, a run that ended without an error
    // left the store whole, and every run ended within its bound.
    const quint32 l_Seed = qEnvironmentVariableIsSet("KESTRUN_FAULT_SEED") ? qEnvironmentVariableIntValue("KESTRUN_FAULT_SEED") : 1;
    const int l_Runs = qEnvironmentVariableIsSet("KESTRUN_FAULT_RUNS") ? qEnvironmentVariableIntValue("KESTRUN_FAULT_RUNS") : 12;
    qInfo("fault schedule: seed %u, %d runs", l_Seed, l_Runs);
    qputenv("KESTRUN_STALL_TIMEOUT_MS", "1000");
    QRandomGenerator l_Random(l_Seed);
    StoreGame l_Game;
    Launcher::Kestrun& l_App = l_Game.App;
    WarningLog l_Log;
    l_Log.Silence = [](const QString&) { return true; };
    const QStringList l_Outside = Listing(l_Game.Store.Root());
    const QJsonObject l_Configs = l_Game.Summary["configs"].toObject();
    QStringList l_Paths = l_Game.ArchivePaths();
    QStringList l_BasePaths;
    for (const char* l_Which : {"cdn", "build"})
        l_BasePaths << l_Game.CdnPath("config", l_Configs[l_Which].toString());
    for (const QString& l_Archive : l_Game.ArchivePaths())
        l_BasePaths << l_Archive + ".index";
    int l_Whole = 0, l_Failed = 0, l_Stopped = 0, l_Killed = 0;
    for (int l_Run = 0; l_Run < l_Runs; ++l_Run)
    {
        l_Game.Server.ClearFaults();
        l_Game.Server.ClearResources();
        l_Game.Host.Errors.clear();
        // The base files go now and then, so that wrong bodies for them are met.
        if (l_Random.bounded(2) == 0)
        {
            QDir(l_Game.Folder + "data/config").removeRecursively();
            QDir(l_Game.Folder + "data/indices").removeRecursively();
        }
        using F = TestHttpServer::Fault;
        for (int l_Fault = int(l_Random.bounded(4)); l_Fault > 0; --l_Fault)
        {
            const bool l_Base = l_Random.bounded(2) == 0;
            const QString l_Path = l_Base ? l_BasePaths.at(int(l_Random.bounded(l_BasePaths.size())))
                                          : l_Paths.at(int(l_Random.bounded(l_Paths.size())));
            const int l_Times = l_Random.bounded(2) == 0 ? 1 : -1;
            switch (l_Random.bounded(5))
            {
            case 0: l_Game.Server.SetFault(l_Path, With(&F::Status, l_Random.bounded(2) ? 500 : 404, l_Times)); break;
            case 1: l_Game.Server.SetFault(l_Path, With(&F::CloseAfterBytes, 50, l_Times)); break;
            case 2: l_Game.Server.SetFault(l_Path, With(&F::StallAfterBytes, 50, l_Times)); break;
            case 3: l_Game.Server.SetFault(l_Path, With(&F::IgnoreRange, true, l_Times)); break;
            default: l_Game.Server.SetResource(l_Path, "<html>captive portal</html>"); break;
            }
        }
        const int l_Action = int(l_Random.bounded(3)); // 0 none, 1 stop and resume, 2 kill
        QElapsedTimer l_Clock;
        l_Clock.start();
        l_App.CheckContentStore(l_App.CurrentPass());
        if (l_Action > 0)
        {
            QTest::qWait(int(l_Random.bounded(600))); // a random moment, not a wait for something
            if (l_Action == 1)
            {
                l_App.StopDownload();
                QTest::qWait(int(l_Random.bounded(300)));
                l_App.ResumeDownload();
                ++l_Stopped;
            }
            else
            {
                l_App.Uninit();
                ++l_Killed;
            }
        }
        if (l_Action != 2)
        {
            QVERIFY2(l_Game.Host.WaitFor([&] { return l_Game.Ended(); }, 60000),
                     qPrintable(QString("run %1 did not end within 60 s").arg(l_Run)));
            if (l_Game.Host.Errors.isEmpty())
            {
                QVERIFY2(l_Game.Whole(), qPrintable(QString("run %1 ended without an error, the store not whole").arg(l_Run)));
                ++l_Whole;
            }
            else
                ++l_Failed;
        }
        QCOMPARE(Listing(l_Game.Store.Root()), l_Outside);
        // A slot holds its own blob or none: a header naming another key would be taken by a scan.
        for (const QJsonValue& l_Blob : l_Game.Summary["blobs"].toArray())
        {
            const QString l_Key = SlotKey(SlotBytes(l_Game.Folder, l_Blob.toObject()));
            QVERIFY(l_Key.isEmpty() || l_Key == l_Blob["indexKey"].toString());
        }
    }
    // Against a healed CDN the next run completes the store.
    l_Game.Server.ClearFaults();
    l_Game.Server.ClearResources();
    l_Game.Host.Errors.clear();
    l_App.CheckContentStore(l_App.CurrentPass());
    QVERIFY(l_Game.RunToEnd());
    QVERIFY2(l_Game.Host.Errors.isEmpty(), qPrintable(l_Game.Host.Errors.join('\n')));
    QVERIFY(l_Game.Whole());
    qInfo("fault schedule: %d whole, %d failed, %d stopped and resumed, %d killed", l_Whole, l_Failed, l_Stopped, l_Killed);
    qunsetenv("KESTRUN_STALL_TIMEOUT_MS");
}

void tst_contentstore::newPassEndsTheRun_data()
{
    QTest::addColumn<QString>("pass");
    QTest::newRow("repair") << "repair";
    QTest::newRow("rebuild") << "rebuild";
    QTest::newRow("install elsewhere") << "install";
    QTest::newRow("uninstall") << "uninstall";
}

void tst_contentstore::newPassEndsTheRun()
{
    // A new pass ends the content-store run at once: a later resume never restarts the old one
    // (after an uninstall, in the forgotten folder, marking it installed), and its step held on
    // the worker queue (the index load) stops at once and hands over to nothing.
    QFETCH(QString, pass);
    WarningLog l_Log;
    StoreGame l_Game;
    Launcher::Kestrun& l_App = l_Game.App;
    WorkerGate l_Gate;
    l_Gate.Close(l_App);
    l_App.CheckContentStore(l_App.CurrentPass());
    QVERIFY(l_Game.Host.WaitFor([&] { return int(l_App.ContentStore().CurrentPhase()) == 3; }));
    const quint64 l_Run = l_App.ContentStore().Run();
    const auto* l_Old = l_App.ContentStore().Store();
    if (pass == "repair")
        l_App.Repair();
    else if (pass == "rebuild")
        l_App.RebuildManifests();
    else if (pass == "install")
        l_App.Install(l_Game.Temp.path() + "/other/", true);
    else
        l_App.Uninstall(false);
    QVERIFY(l_App.ContentStore().Run() > l_Run);
    QVERIFY(l_App.ContentStore().Store() != l_Old || !l_Old);
    QVERIFY(!l_App.ContentStore().Active());
    l_Game.Server.ClearRequests();
    l_Gate.Open = true;
    l_App.StopDownload();
    l_App.ResumeDownload();
    // The queues run past the held step and what it posted; the new pass reaches no index load
    // before that (its own run starts with the CDN tables).
    std::atomic<bool> l_WorkerPast{false}, l_MainPast{false};
    l_App.PostWorkerTask([&] { l_WorkerPast = true; });
    QVERIFY(l_Game.Host.WaitFor([&] { return bool(l_WorkerPast); }, 20000));
    l_App.PostMainTask([&] { l_MainPast = true; });
    QVERIFY(l_Game.Host.WaitFor([&] { return bool(l_MainPast); }, 20000));
    QCOMPARE(l_Log.Starting("CASCIndexManager::Load() cancelled").size(), 1);
    QVERIFY2(l_Log.Lines().filter("entries loaded").isEmpty(), qPrintable(l_Log.Lines().filter("entries loaded").join('\n')));
    QCOMPARE(l_Game.Requests(l_Game.Summary["encoding"].toObject()["encodingKey"].toString()), 0);
    QVERIFY(int(l_App.ContentStore().CurrentPhase()) < 3);
    if (pass == "uninstall")
    {
        QVERIFY(l_Game.Host.WaitFor([&] { return !l_App.m_Status.Busy; }, 20000));
        QVERIFY(!l_App.ContentStore().Active());
        QVERIFY(!l_Game.Host.Settings.value("wow_bfa.Installed").toBool());
        QCOMPARE(l_Game.Requests("/data/") + l_Game.Requests("/patch/"), 0);
    }
}

void tst_contentstore::uninitCancelsTheScan()
{
    // Uninit during the scan: the scan stops at its next slot and leaves the list as it was.
    StoreGame l_Game;
    Launcher::Kestrun& l_App = l_Game.App;
    WorkerGate l_First, l_Second;
    l_First.Close(l_App);
    l_App.CheckContentStore(l_App.CurrentPass());
    QVERIFY(l_Game.Host.WaitFor([&] { return int(l_App.ContentStore().CurrentPhase()) == 3; }));
    l_Second.Close(l_App);
    l_First.Open = true;
    QVERIFY(l_Game.Host.WaitFor([&] { return int(l_App.ContentStore().CurrentPhase()) == 5; }));
    WriteFile(l_Game.Folder + "ToDownloadCASC.db", "listed\n");
    WarningLog l_Log;
    l_App.Uninit();
    l_Second.Open = true;
    QVERIFY(l_Game.Host.WaitFor([&] { return !l_Log.Starting("CASCArchivesManager::ScanInstall() cancelled").isEmpty(); }, 20000));
    QCOMPARE(ReadFile(l_Game.Folder + "ToDownloadCASC.db"), QByteArray("listed\n"));
}

QTEST_GUILESS_MAIN(tst_contentstore)
#include "tst_contentstore.moc"
