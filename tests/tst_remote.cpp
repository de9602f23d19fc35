// Remote build information: the version, build information and CDN documents, and the CDN choice.
#include "net/Deployment.h"
#include "support/LauncherRun.h"
#include "support/TestBuild.h"
#include "support/TestHttpServer.h"
#include "support/WarningLog.h"
#include "net/UrlText.h"
#include "platform/QtCompat.h"

#include <QRegularExpression>
#include <QtTest>

using namespace Orvane::Launcher;

class tst_remote : public QObject
{
    Q_OBJECT
    std::unique_ptr<TestHttpServer> m_Server;
    LauncherRun m_Run;
    /// Runs the chain of a fresh application until it ended (state 1 or 2) or reported an error.
    bool RunChain(const std::function<void()>& p_Prepare = [] {})
    {
        m_Run.Start(p_Prepare);
        const bool l_Ended = m_Run.Host->WaitFor([&] {
            std::lock_guard<std::recursive_mutex> l_Lock(m_Run.Host->Mutex);
            return m_Run.App->m_Status.ApplicationState != 0 || !m_Run.Host->Errors.isEmpty();
        });
        m_Run.Host->Detach();
        return l_Ended;
    }

private slots:
    void init()
    {
        m_Server.reset(new TestHttpServer());
        QVERIFY(m_Server->Start());
        qputenv("KESTRUN_SERVER_URL", TestBuild::ServerUrl(*m_Server).toUtf8());
        TestBuild l_Build;
        l_Build.Build = "b42";
        l_Build.Add("Wow.exe", "exe");
        l_Build.Publish(*m_Server);
    }

    void chain_data()
    {
        QTest::addColumn<QString>("path"); ///< the version document asked for names the channel
        QTest::addColumn<QByteArray>("body"); ///< served instead; a failure unless empty
        QTest::addColumn<int>("status"); ///< answered instead; -1: the connection closes before the body
        const QString l_Version = "/srv/wow_bfa/version.json";
        QTest::newRow("release") << l_Version << QByteArray() << 0;
        QTest::newRow("development") << "/srv/wow_bfa/version_dev.json" << QByteArray() << 0;
        QTest::newRow("version not JSON") << l_Version << QByteArray("build=b42") << 0;
        QTest::newRow("version missing") << l_Version << QByteArray() << 404;
        QTest::newRow("version cut") << l_Version << QByteArray() << -1;
        QTest::newRow("info not JSON") << "/srv/wow_bfa/builds/b42/info.json" << QByteArray("<html>") << 0;
    }
    /// The chain asks only for its channel's version document, then the build information and the
    /// CDN list; a failure stops it with its message.
    void chain()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        const QString l_Error = status || !body.isEmpty() ? "Failed to get Battle for Azeroth remote " +
                                  QString(path.contains("info") ? "build infos." : "configuration.") : QString();
        TestHttpServer::Fault l_Fault;
        l_Fault.Status = qMax(status, 0);
        l_Fault.CloseAfterBytes = status < 0 ? 0 : -1;
        m_Server->SetFault(path, l_Fault);
        if (!body.isEmpty())
            m_Server->SetResource(path, body);
        QVERIFY(RunChain([&] { m_Run.Host->DevChannel = path.contains("_dev"); }));
        QCOMPARE(m_Run.Host->Errors, l_Error.isEmpty() ? QStringList() : QStringList({l_Error}));
        QCOMPARE(m_Server->Requests().size(), l_Error.isEmpty() ? 3 : path.contains("info") ? 2 : 1);
        QCOMPARE(m_Run.App->m_Status.ApplicationState, l_Error.isEmpty() ? 1 : 0);
        QVERIFY(!l_Error.isEmpty() || m_Server->Requests()[0].Path + " " + m_Run.App->Build().BuildId == path + " b42");
    }

    void cdnList_data()
    {
        QTest::addColumn<QByteArray>("text");
        for (const QByteArray l_Text : {"a.example b.example", "a.example  b.example", "a.example b.example\r\n",
                                        " a.example\nb.example\n", "", " \r\n", // empty or blank: none
                                        "alice:pw@a.example alice:pw@b.example"})  // never logged with the password
            QTest::newRow(("[" + l_Text.toPercentEncoding() + "]").constData()) << l_Text;
    }
    /// Host names are trimmed; every file start picks one anew, and with none at all the application
    /// server serves the files. 0x40 files always come from the application server.
    void cdnList()
    {
        QFETCH(QByteArray, text);
        const QStringList l_Hosts =
            QString::fromLatin1(text).split(QRegularExpression("\\s+"), Orvane::Compat::SkipEmptyParts);
        m_Server->SetResource("/srv/cdns.info", text);
        WarningLog l_Log;
        QVERIFY(RunChain());
        QCOMPARE(m_Run.App->Cdn().Hosts(), l_Hosts);
        QCOMPARE(l_Log.Starting("Selected CDN "),
                 QStringList({"Selected CDN Battle for Azeroth " + UrlText::Safe(m_Run.App->Cdn().BaseUrl())}));
        for (const QString& l_Line : l_Log.Lines())
            QVERIFY2(!l_Line.contains(":pw@"), qPrintable(l_Line));
        ManifestFile l_Cdn, l_Server;
        l_Server.Flags = 0x40;
        QCOMPARE((m_Run.App->SelectBaseUrl(l_Server, false), m_Run.App->Cdn().BaseUrl()), Deployment::ServerBaseUrl());
        QSet<QString> l_Seen;
        for (int l_I = 0; l_I < 100; ++l_I)
            l_Seen << (m_Run.App->SelectBaseUrl(l_Cdn, false), m_Run.App->Cdn().BaseUrl());
        QSet<QString> l_Expected;
        for (const QString& l_Host : l_Hosts)
            l_Expected << "http://" + l_Host + "/";
        QCOMPARE(l_Seen, l_Hosts.isEmpty() ? QSet<QString>({Deployment::ServerBaseUrl()}) : l_Expected);
    }

    /// A CDN list served as an error page names no host: the application server serves the files.
    void cdnListAsErrorPage()
    {
        m_Server->SetFault("/srv/cdns.info", With(&TestHttpServer::Fault::Status, 404));
        QVERIFY(RunChain());
        QVERIFY(m_Run.App->Cdn().Hosts().isEmpty() && m_Run.App->Cdn().BaseUrl() == Deployment::ServerBaseUrl());
    }

    /// A folder whose manifest was never built gets a full scan, and the setting is then stored.
    void manifestBuiltSetting()
    {
        QTemporaryDir l_Dir;
        QVERIFY(RunChain([&] {
            m_Run.Host->Settings["wow_bfa.Installed"] = true;
            m_Run.Host->Settings["wow_bfa.InstallFolder"] = l_Dir.path() + "/game/";
            m_Run.Host->LauncherRunning = false; // the manifest pass stops at once
        }));
        QVERIFY(m_Run.App->FullScan() && m_Run.Host->Settings.value("wow_bfa.ManifestBuilt").toBool());
    }
};

QTEST_MAIN(tst_remote)
#include "tst_remote.moc"
