// Remote build information: the version, build information and CDN documents, and the CDN choice.
#include "support/FakeHost.h"
#include "support/TestApplication.h"
#include "support/TestBuild.h"
#include "support/TestHttpServer.h"
#include "support/WarningLog.h"
#include "launcher/Deployment.h"

#include <QtTest>

using namespace Orvane::Launcher;

class tst_remote : public QObject
{
    Q_OBJECT

    TestHttpServer m_Server;

    /// Runs the chain of a fresh application; true once it ended (state 1) or reported an error.
    bool RunChain(TestApplication& p_App, FakeHost& p_Host)
    {
        p_Host.Attach(&p_App);
        p_App.Init();
        bool l_Ended = p_Host.WaitFor([&] {
            std::lock_guard<std::recursive_mutex> l_Lock(p_Host.Mutex);
            return p_App.m_Status.ApplicationState != 0 || !p_Host.Errors.isEmpty();
        });
        p_Host.Detach();
        return l_Ended;
    }

    QStringList RequestedPaths()
    {
        QStringList l_Paths;
        for (const TestHttpServer::Request& l_Request : m_Server.Requests())
            l_Paths.append(l_Request.Path);
        return l_Paths;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_Server.Start());
        qputenv("KESTRUN_SERVER_URL", TestBuild::ServerUrl(m_Server).toUtf8());
    }

    void init()
    {
        m_Server.ClearFaults();
        m_Server.ClearRequests();
        TestBuild l_Build;
        l_Build.Build = "b42";
        l_Build.Add("Wow.exe", "exe");
        l_Build.Publish(m_Server);
    }

    void chainAsksTheChannelsDocuments_data()
    {
        QTest::addColumn<bool>("dev");
        QTest::addColumn<QString>("version");
        QTest::newRow("release") << false << "/srv/wow_bfa/version.json";
        QTest::newRow("development") << true << "/srv/wow_bfa/version_dev.json";
    }
    void chainAsksTheChannelsDocuments()
    {
        QFETCH(bool, dev);
        QFETCH(QString, version);
        TestApplication l_App;
        FakeHost l_Host;
        l_Host.DevChannel = dev;
        QVERIFY(RunChain(l_App, l_Host));
        QVERIFY(l_Host.Errors.isEmpty());
        QCOMPARE(l_App.m_Status.ApplicationState, 1);
        QCOMPARE(RequestedPaths(), QStringList({version, "/srv/wow_bfa/builds/b42/info.json", "/srv/cdns.info"}));
        QCOMPARE(l_App.m_BuildName, QString("b42"));
        QCOMPARE(l_App.m_Manifest.BuildStr, QString("8.3.7 b1"));
        QCOMPARE(l_Host.Settings.value("wow_bfa.ManifestBuilt").toBool(), false);
    }

    void failuresStopTheChain_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("requests");
        const QString l_Config = "Failed to get Battle for Azeroth remote configuration.";
        const QString l_Infos = "Failed to get Battle for Azeroth remote build infos.";
        QTest::newRow("version not JSON") << "/srv/wow_bfa/version.json" << QByteArray("build=b42") << 0 << l_Config << 1;
        QTest::newRow("version an array") << "/srv/wow_bfa/version.json" << QByteArray("[\"b42\"]") << 0 << l_Config << 1;
        QTest::newRow("version missing") << "/srv/wow_bfa/version.json" << QByteArray() << 404 << l_Config << 1;
        QTest::newRow("info not JSON") << "/srv/wow_bfa/builds/b42/info.json" << QByteArray("<html>") << 0 << l_Infos
                                       << 2;
        QTest::newRow("info server error") << "/srv/wow_bfa/builds/b42/info.json" << QByteArray() << 500 << l_Infos
                                           << 2;
    }
    void failuresStopTheChain()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QString, message);
        QFETCH(int, requests);
        if (status)
        {
            TestHttpServer::Fault l_Fault;
            l_Fault.Status = status;
            m_Server.SetFault(path, l_Fault);
        }
        else
            m_Server.SetResource(path, body);
        TestApplication l_App;
        FakeHost l_Host;
        QVERIFY(RunChain(l_App, l_Host));
        QCOMPARE(l_Host.Errors, QStringList({message}));
        QCOMPARE(l_App.m_Status.ApplicationState, 0);
        QCOMPARE(m_Server.Requests().size(), requests);
    }

    void unreachableServer()
    {
        QByteArray l_Saved = qgetenv("KESTRUN_SERVER_URL");
        TestHttpServer l_Closed;
        QVERIFY(l_Closed.Start());
        const QString l_Url = l_Closed.BaseUrl();
        l_Closed.Stop();
        qputenv("KESTRUN_SERVER_URL", l_Url.toUtf8());
        TestApplication l_App;
        FakeHost l_Host;
        bool l_Ended = RunChain(l_App, l_Host);
        qputenv("KESTRUN_SERVER_URL", l_Saved);
        QVERIFY(l_Ended);
        QCOMPARE(l_Host.Errors, QStringList({"Failed to get Battle for Azeroth remote configuration."}));
    }

    void cdnList_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("hosts");
        QTest::newRow("one space") << QByteArray("a.example b.example") << QStringList({"a.example", "b.example"});
        QTest::newRow("two spaces") << QByteArray("a.example  b.example") << QStringList({"a.example", "b.example"});
        QTest::newRow("line end") << QByteArray("a.example b.example\r\n") << QStringList({"a.example", "b.example"});
        QTest::newRow("one per line") << QByteArray(" a.example\nb.example\n") << QStringList({"a.example", "b.example"});
        QTest::newRow("empty") << QByteArray() << QStringList();
        QTest::newRow("blank") << QByteArray(" \r\n") << QStringList();
    }
    void cdnList()
    {
        QFETCH(QByteArray, text);
        QFETCH(QStringList, hosts);
        m_Server.SetResource("/srv/cdns.info", text);
        TestApplication l_App;
        FakeHost l_Host;
        WarningLog l_Log;
        QVERIFY(RunChain(l_App, l_Host));
        QCOMPARE(l_App.m_CdnList, hosts);
        // No host at all: the application server serves the files rather than "http:///".
        const QString l_Expected = hosts.isEmpty() ? Deployment::ServerBaseUrl() : QString();
        if (hosts.isEmpty())
            QCOMPARE(l_App.m_BaseUrl, l_Expected);
        else
            QVERIFY(hosts.contains(l_App.m_BaseUrl.mid(7).chopped(1)));
        QCOMPARE(l_Log.Starting("Selected CDN ").size(), 1);
        QCOMPARE(l_Log.Starting("Selected CDN ").first(), "Selected CDN Battle for Azeroth " + l_App.m_BaseUrl);
    }

    void manifestBuiltSetting_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("fullScan");
        QTest::newRow("never built") << QVariant() << true;
        QTest::newRow("built false") << QVariant(false) << true;
        QTest::newRow("built") << QVariant(true) << false;
    }
    void manifestBuiltSetting()
    {
        QFETCH(QVariant, stored);
        QFETCH(bool, fullScan);
        TestApplication l_App;
        FakeHost l_Host;
        if (stored.isValid())
            l_Host.Settings["wow_bfa.ManifestBuilt"] = stored;
        // Installed in a folder that does not exist: the pass finds every file missing.
        QTemporaryDir l_Dir;
        l_Host.Settings["wow_bfa.Installed"] = true;
        l_Host.Settings["wow_bfa.InstallFolder"] = l_Dir.path() + "/game/";
        l_Host.LauncherRunning = false; // the manifest pass stops at once
        l_App.m_FullScan = !fullScan;
        QVERIFY(RunChain(l_App, l_Host));
        QCOMPARE(l_App.m_FullScan, fullScan);
        QCOMPARE(l_Host.Settings.value("wow_bfa.ManifestBuilt").toBool(), true);
        QCOMPARE(l_App.m_Status.ApplicationState, 2);
    }

    /// Every file start picks its host anew; 0x40 files always come from the application server.
    void baseUrlPerFile()
    {
        TestApplication l_App;
        l_App.m_Name = "Battle for Azeroth";
        l_App.m_CdnList = QStringList({"a.example", "b.example", "c.example"});
        ManifestFile l_Cdn, l_Server;
        l_Server.Flags = 0x40 | 0x01;
        QSet<QString> l_Seen;
        for (int l_I = 0; l_I < 300; ++l_I)
        {
            l_App.SelectBaseUrl(l_Server, false);
            QCOMPARE(l_App.m_BaseUrl, Deployment::ServerBaseUrl());
            l_App.SelectBaseUrl(l_Cdn, false);
            l_Seen.insert(l_App.m_BaseUrl);
        }
        QCOMPARE(l_Seen, QSet<QString>({"http://a.example/", "http://b.example/", "http://c.example/"}));
    }
};

QTEST_MAIN(tst_remote)
#include "tst_remote.moc"
