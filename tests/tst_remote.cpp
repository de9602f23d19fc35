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
    std::unique_ptr<TestApplication> m_App;
    std::unique_ptr<FakeHost> m_Host; ///< deleted before the application

    /// Runs the chain of a fresh application until it ended (state 1 or 2) or reported an error.
    bool RunChain(const std::function<void()>& p_Prepare = {})
    {
        m_Host.reset();
        m_App.reset(new TestApplication());
        m_Host.reset(new FakeHost());
        if (p_Prepare)
            p_Prepare();
        m_Host->Attach(m_App.get());
        m_App->Init();
        const bool l_Ended = m_Host->WaitFor([&] {
            std::lock_guard<std::recursive_mutex> l_Lock(m_Host->Mutex);
            return m_App->m_Status.ApplicationState != 0 || !m_Host->Errors.isEmpty();
        });
        m_Host->Detach();
        return l_Ended;
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

    void chain_data()
    {
        QTest::addColumn<QString>("path"); ///< the version document asked for names the channel
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status"); ///< -1: the connection closes before the body
        QTest::addColumn<QString>("error");
        const QString l_Version = "/srv/wow_bfa/version.json", l_Info = "/srv/wow_bfa/builds/b42/info.json";
        const QString l_Config = "Failed to get Battle for Azeroth remote configuration.";
        const QString l_Infos = "Failed to get Battle for Azeroth remote build infos.";
        QTest::newRow("release") << l_Version << QByteArray() << 0 << QString();
        QTest::newRow("development") << "/srv/wow_bfa/version_dev.json" << QByteArray() << 0 << QString();
        QTest::newRow("version not JSON") << l_Version << QByteArray("build=b42") << 0 << l_Config;
        QTest::newRow("version missing") << l_Version << QByteArray() << 404 << l_Config;
        QTest::newRow("version cut") << l_Version << QByteArray() << -1 << l_Config;
        QTest::newRow("info not JSON") << l_Info << QByteArray("<html>") << 0 << l_Infos;
    }
    /// The chain asks only for its channel's version document, then the build information and the
    /// CDN list; a failure stops it with its message.
    void chain()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QString, error);
        TestHttpServer::Fault l_Fault;
        l_Fault.Status = qMax(status, 0);
        l_Fault.CloseAfterBytes = status < 0 ? 0 : -1;
        if (status)
            m_Server.SetFault(path, l_Fault);
        else if (!body.isEmpty())
            m_Server.SetResource(path, body);
        QVERIFY(RunChain([&] { m_Host->DevChannel = path.contains("_dev"); }));
        QCOMPARE(m_Host->Errors, error.isEmpty() ? QStringList() : QStringList({error}));
        // A failure stops the chain at the document that failed.
        QCOMPARE(m_Server.Requests().size(), error.isEmpty() ? 3 : path.contains("info") ? 2 : 1);
        QCOMPARE(m_App->m_Status.ApplicationState, error.isEmpty() ? 1 : 0);
        if (error.isEmpty())
            QCOMPARE(m_Server.Requests()[0].Path + " " + m_App->m_Manifest.BuildId, path + " b42");
    }

    void cdnList_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("hosts");
        const QStringList l_Two{"a.example", "b.example"};
        QTest::newRow("one space") << QByteArray("a.example b.example") << l_Two;
        QTest::newRow("two spaces") << QByteArray("a.example  b.example") << l_Two;
        QTest::newRow("line end") << QByteArray("a.example b.example\r\n") << l_Two;
        QTest::newRow("one per line") << QByteArray(" a.example\nb.example\n") << l_Two;
        QTest::newRow("empty") << QByteArray() << QStringList();
        QTest::newRow("blank") << QByteArray(" \r\n") << QStringList();
    }
    /// Host names are trimmed; every file start picks one anew, and with none at all the application
    /// server serves the files. 0x40 files always come from the application server.
    void cdnList()
    {
        QFETCH(QByteArray, text);
        QFETCH(QStringList, hosts);
        m_Server.SetResource("/srv/cdns.info", text);
        WarningLog l_Log;
        QVERIFY(RunChain());
        QCOMPARE(m_App->m_CdnList, hosts);
        QCOMPARE(l_Log.Starting("Selected CDN "), QStringList({"Selected CDN Battle for Azeroth " + m_App->m_BaseUrl}));
        ManifestFile l_Cdn, l_Server;
        l_Server.Flags = 0x40;
        m_App->SelectBaseUrl(l_Server, false);
        QCOMPARE(m_App->m_BaseUrl, Deployment::ServerBaseUrl());
        QStringList l_Seen;
        for (int l_I = 0; l_I < 100; ++l_I)
        {
            m_App->SelectBaseUrl(l_Cdn, false);
            l_Seen << m_App->m_BaseUrl;
        }
        l_Seen.removeDuplicates();
        l_Seen.sort();
        QCOMPARE(l_Seen, hosts.isEmpty() ? QStringList({Deployment::ServerBaseUrl()})
                                         : QStringList({"http://a.example/", "http://b.example/"}));
    }

    /// A folder whose manifest was never built gets a full scan, and the setting is then stored.
    void manifestBuiltSetting()
    {
        QTemporaryDir l_Dir;
        QVERIFY(RunChain([&] {
            m_Host->Settings["wow_bfa.Installed"] = true;
            m_Host->Settings["wow_bfa.InstallFolder"] = l_Dir.path() + "/game/";
            m_Host->LauncherRunning = false; // the manifest pass stops at once
        }));
        QVERIFY(m_App->m_FullScan);
        QCOMPARE(m_Host->Settings.value("wow_bfa.ManifestBuilt").toBool(), true);
    }
};

QTEST_MAIN(tst_remote)
#include "tst_remote.moc"
