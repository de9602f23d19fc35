// orvane-launcher as a user runs it: a separate process that loads the real
// plugin, talks to a loopback server and reports through its exit status.
#include "support/TestBuild.h"
#include "support/TestHttpServer.h"
#include "launcher/QtCompat.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace {

struct Outcome
{
    int Code = -1;
    QString Out;
    QString Err;
    QString Describe() const { return QString("exit %1\nstdout:\n%2\nstderr:\n%3").arg(Code).arg(Out, Err); }
};

void Launch(QProcess& p_Process, const QStringList& p_Arguments)
{
    QProcessEnvironment l_Env = QProcessEnvironment::systemEnvironment();
    l_Env.remove("KESTRUN_SERVER_URL");
    l_Env.remove("KESTRUN_CDN_HOST");
    p_Process.setProcessEnvironment(l_Env);
    p_Process.start(QStringLiteral(KESTRUN_BIN_DIR "/orvane-launcher"), p_Arguments);
}

/// Waits for the end of the run; a run that hangs is killed and reported as exit -1.
Outcome Finished(QProcess& p_Process)
{
    Outcome l_Outcome;
    if (p_Process.waitForFinished(60000) && p_Process.exitStatus() == QProcess::NormalExit)
        l_Outcome.Code = p_Process.exitCode();
    p_Process.kill();
    p_Process.waitForFinished(5000);
    l_Outcome.Out = QString::fromUtf8(p_Process.readAllStandardOutput());
    l_Outcome.Err = QString::fromUtf8(p_Process.readAllStandardError());
    return l_Outcome;
}

Outcome Run(const QStringList& p_Arguments)
{
    QProcess l_Process;
    Launch(l_Process, p_Arguments);
    return Finished(l_Process);
}

/// The stdout lines of one event; *p_Ok turns false on a line that is not a JSON object.
QList<QJsonObject> Events(const QString& p_Out, const QString& p_Event, bool* p_Ok)
{
    QList<QJsonObject> l_Found;
    for (const QString& l_Line : p_Out.split('\n', Orvane::Compat::SkipEmptyParts))
    {
        QJsonParseError l_Error;
        QJsonObject l_Object = QJsonDocument::fromJson(l_Line.toUtf8(), &l_Error).object();
        *p_Ok = *p_Ok && l_Error.error == QJsonParseError::NoError && !l_Object.isEmpty();
        if (l_Object.value("event").toString() == p_Event)
            l_Found.append(l_Object);
    }
    return l_Found;
}

QString Url(quint16 p_Port)
{
    return QString("http://127.0.0.1:%1/").arg(p_Port);
}

/// A published build on a loopback server, and a settings file and install folder of one user.
struct Published
{
    TestHttpServer Server;
    TestBuild Build;
    QTemporaryDir Temp;
    QString Settings = Temp.path() + "/conf/launcher.ini";
    QString Folder = Temp.path() + "/Games/BfA";

    Published()
    {
        Build.Add("Wow.exe", TestBuild::Pattern(70000, 1), 0x08);
        Build.Add("Data/base.bin", TestBuild::Pattern(300000, 2));
        Build.Add("Data/enUS/speech.bin", TestBuild::Pattern(5000, 3), 0, "enUS");
        Build.Add("Data/frFR/speech.bin", TestBuild::Pattern(5000, 4), 0, "frFR");
        Build.Add("Data/stream/a.bin", TestBuild::Pattern(120000, 5), 0, QString(), true);
    }

    bool Start()
    {
        const bool l_Started = Server.Start();
        Build.Publish(Server);
        return l_Started;
    }

    /// Global options given later override these (the last value counts).
    QStringList Args(const QStringList& p_Command, const QStringList& p_Global = {}) const
    {
        return QStringList{"--settings", Settings, "--server", TestBuild::ServerUrl(Server), "--idle-timeout", "20"} +
               p_Global + p_Command;
    }

    QVariant Setting(const QString& p_Key) const { return QSettings(Settings, QSettings::IniFormat).value(p_Key); }

    /// Files of the build that are not on disk byte for byte (enUS install).
    QStringList Wrong() const
    {
        QStringList l_Wrong;
        for (const TestBuild::File& l_File : Build.Files)
            if (l_File.Locale != "frFR" && TestBuild::Read(Folder + "/" + l_File.Path) != l_File.Bytes)
                l_Wrong.append(l_File.Path);
        return l_Wrong;
    }
};

} // namespace

class tst_host : public QObject
{
    Q_OBJECT

private slots:
    void infoReadsIdentityThroughTheLoader()
    {
        // The plugin beside the executable is the default one; reading the identity touches nothing of the user's.
        QTemporaryDir l_Temp;
        Outcome l_Text = Run({"--settings", l_Temp.path() + "/launcher.ini", "info"});
        QVERIFY2(l_Text.Code == 0 && l_Text.Out.contains(QRegularExpression("IID:\\s+Orvane.Application\n")),
                 qPrintable(l_Text.Describe()));
        QVERIFY(QDir(l_Temp.path()).isEmpty());

        Outcome l_Json = Run({"--json", "--plugin", KESTRUN_PLUGIN_PATH, "info"});
        bool l_Ok = true;
        const QJsonObject l_Info = Events(l_Json.Out, "info", &l_Ok).value(0);
        QVERIFY2(l_Json.Code == 0 && l_Ok, qPrintable(l_Json.Describe()));
        QCOMPARE(l_Info.value("name").toString() + "/" + l_Info.value("folder").toString(),
                 QString("Battle for Azeroth/wow_bfa"));
        QCOMPARE(l_Info.value("IsCASCApp").toBool(true), false);
        const QJsonArray l_Resources = l_Info.value("resources").toArray();
        QCOMPARE(l_Resources.size(), 9);
        for (int l_I = 0; l_I < 9; ++l_I)
        {
            // Only the reserved kind has no value (null, not empty); the embedded images are there once loaded.
            const QJsonObject l_Resource = l_Resources.at(l_I).toObject();
            QCOMPARE(l_Resource.value("value").isNull(), l_I == 7);
            QCOMPARE(l_Resource.value("value").toString().isEmpty(), l_I == 7);
            QCOMPARE(l_Resource.value("embeddedBytes").toDouble() > 0, l_I == 0 || l_I == 3 || l_I == 4);
        }
    }

    void exitStatus_data()
    {
        // %closed: a port nobody listens on; %silent: a server that accepts and never answers.
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("expected");
        QTest::newRow("help") << QStringList{"--help"} << 0 << "130 interrupted";
        QTest::newRow("no command") << QStringList{} << 2 << "no command";
        QTest::newRow("unknown command") << QStringList{"instal", "/tmp/x"} << 2 << "unknown command";
        QTest::newRow("global option late") << QStringList{"status", "--json"} << 2 << "before the command";
        QTest::newRow("option without value") << QStringList{"--settings"} << 2 << "needs a value";
        QTest::newRow("unknown option") << QStringList{"--fast", "status"} << 2 << "unknown option";
        QTest::newRow("bad idle time") << QStringList{"--idle-timeout=-1", "status"} << 2 << "--idle-timeout";
        QTest::newRow("unknown locale") << QStringList{"--locale", "xxYY", "status"} << 2 << "unknown locale";
        QTest::newRow("server not a URL") << QStringList{"--server", "127.0.0.1:80", "status"} << 2 << "--server";
        QTest::newRow("install without folder") << QStringList{"install"} << 2 << "needs a FOLDER";
        QTest::newRow("argument too many") << QStringList{"update", "now"} << 2 << "unexpected argument";
        QTest::newRow("option of another command") << QStringList{"update", "--delete-files"} << 2 << "unknown option";
        // A refused file is never run, whatever the command.
        QTest::newRow("plugin of another interface")
            << QStringList{"--plugin", KESTRUN_OTHER_PLUGIN_PATH, "--server", "%closed", "status"} << 2
            << "\"Orvane.OtherInterface\"";
        QTest::newRow("not a plugin") << QStringList{"--plugin", KESTRUN_SOURCE_DIR "/README.md", "status"} << 2
                                      << "not a Qt plugin";
        QTest::newRow("missing plugin") << QStringList{"--plugin", KESTRUN_BIN_DIR "/none.so", "status"} << 2
                                        << "plugin not found";
        QTest::newRow("running") << QStringList{"running"} << 1 << "not running";
        QTest::newRow("unreachable server") << QStringList{"--server", "%closed", "status"} << 1
                                            << "could not read the game's build information";
        QTest::newRow("idle limit") << QStringList{"--server", "%silent", "--idle-timeout", "1", "status"} << 1
                                    << "no answer from the application server";
    }

    void exitStatus()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, code);
        QFETCH(QString, expected);
        QTcpServer l_Silent, l_Closed; // the kernel accepts connections; nobody answers
        QVERIFY(l_Silent.listen(QHostAddress::LocalHost) && l_Closed.listen(QHostAddress::LocalHost));
        const QString l_ClosedUrl = Url(l_Closed.serverPort());
        l_Closed.close();
        arguments.replaceInStrings("%silent", Url(l_Silent.serverPort())).replaceInStrings("%closed", l_ClosedUrl);
        QTemporaryDir l_Temp;
        const QString l_Settings = l_Temp.path() + "/launcher.ini";
        Outcome l_Outcome = Run(QStringList{"--settings", l_Settings} + arguments);
        QVERIFY2(l_Outcome.Code == code, qPrintable(l_Outcome.Describe()));
        QVERIFY2((l_Outcome.Out + l_Outcome.Err).contains(expected), qPrintable(l_Outcome.Describe()));
        if (code == 2)
            QVERIFY(l_Outcome.Out.isEmpty() && !QFile::exists(l_Settings));
    }

#ifdef Q_OS_UNIX
    void installRepairUninstall()
    {
        Published l_Game;
        l_Game.Build.Locales = {{"frFR", "Francais"}, {"deDE", "Deutsch"}, {"enUS", "English"}};
        l_Game.Build.Add("Data/big.bin", TestBuild::Pattern(4 * 1024 * 1024, 9));
        QVERIFY(l_Game.Start());
        TestHttpServer::Fault l_Slow;
        l_Slow.BytesPerSecond = 512 * 1024;
        l_Game.Server.SetFault("/wow_bfa/files/Data/big.bin", l_Slow);
        QSettings(l_Game.Settings, QSettings::IniFormat).setValue("other_game.Installed", true);

        // Not installed yet; the game's default locale is the launcher's; the development
        // channel reads its own version document; every stdout line is a JSON object.
        Outcome l_Run = Run(l_Game.Args({"status"}, {"--json", "--locale", "frFR", "--dev-channel"}));
        QVERIFY2(l_Run.Code == 0, qPrintable(l_Run.Describe()));
        bool l_Ok = true;
        const QList<QJsonObject> l_Status = Events(l_Run.Out, "status", &l_Ok);
        QVERIFY(!l_Status.isEmpty() && l_Status.last().value("ApplicationState").toInt() == 1);
        const QJsonObject l_Result = Events(l_Run.Out, "result", &l_Ok).value(0);
        QVERIFY(!l_Result.value("installed").toBool(true) && l_Result.value("locale").toString() == "frFR");
        QCOMPARE(Events(l_Run.Out, "exit", &l_Ok).value(0).value("code").toInt(-1), 0);
        QVERIFY2(l_Ok, qPrintable(l_Run.Out));
        QCOMPARE(l_Game.Server.Requests("/srv/wow_bfa/version_dev.json").size(), 1);
        QVERIFY(l_Game.Server.Requests("/srv/wow_bfa/version.json").isEmpty());
        QCOMPARE(l_Game.Setting("wow_bfa.ManifestBuilt").toString(), QString("false")); // the module writes to the file

        // Ctrl-C during a transfer: exit 130, the ".part" file kept; the next run continues from it.
        QProcess l_Process;
        Launch(l_Process, l_Game.Args({"install", l_Game.Folder}, {"--json"}));
        const QString l_Part = l_Game.Folder + "/Data/big.bin.part";
        QVERIFY(QTest::qWaitFor([&] { return QFileInfo(l_Part).size() > 256 * 1024; }, 30000));
        ::kill(pid_t(l_Process.processId()), SIGINT);
        l_Run = Finished(l_Process);
        QVERIFY2(l_Run.Code == 130 && l_Run.Err.contains("interrupted"), qPrintable(l_Run.Describe()));
        QCOMPARE(Events(l_Run.Out, "exit", &l_Ok).value(0).value("code").toInt(), 130);
        QVERIFY2(l_Ok, qPrintable(l_Run.Out));
        const qint64 l_Kept = QFileInfo(l_Part).size();
        QVERIFY(l_Kept > 256 * 1024 && l_Kept < 4 * 1024 * 1024 && !QFile::exists(l_Game.Folder + "/Data/big.bin"));
        l_Game.Server.ClearFaults();
        l_Game.Server.ClearRequests();
        l_Run = Run(l_Game.Args({"update"}));
        QVERIFY2(l_Run.Code == 0, qPrintable(l_Run.Describe()));
        QCOMPARE(l_Game.Wrong(), QStringList());
        QVERIFY(!QFile::exists(l_Game.Folder + "/Data/frFR/speech.bin"));
        const QList<TestHttpServer::Request> l_Requests = l_Game.Server.Requests("/wow_bfa/files/Data/big.bin");
        QVERIFY(std::any_of(l_Requests.begin(), l_Requests.end(), [](const TestHttpServer::Request& p_Request) {
            return p_Request.Range.startsWith("bytes=") && p_Request.Range != "bytes=0-";
        }));
        // The host hands the module a folder that ends with "/".
        QCOMPARE(l_Game.Setting("wow_bfa.InstallFolder").toString(), QDir(l_Game.Folder).absolutePath() + "/");

        // A damaged and a deleted file come back with repair.
        QFile l_Damaged(l_Game.Folder + "/Data/base.bin");
        QVERIFY(l_Damaged.open(QIODevice::ReadWrite) && l_Damaged.seek(1000) && l_Damaged.write("damage") == 6);
        l_Damaged.close();
        QVERIFY(QFile::remove(l_Game.Folder + "/Data/stream/a.bin"));
        l_Run = Run(l_Game.Args({"repair"}));
        QVERIFY2(l_Run.Code == 0, qPrintable(l_Run.Describe()));
        QCOMPARE(l_Game.Wrong(), QStringList());

        l_Run = Run(l_Game.Args({"status"}));
        QVERIFY2(l_Run.Code == 0 && l_Run.Out.contains(QRegularExpression("Installed:\\s+yes")) &&
                     l_Run.Out.contains(l_Game.Build.BuildStr),
                 qPrintable(l_Run.Describe()));
        // The build's locales in tag order, the current one marked; an unknown one is refused.
        l_Run = Run(l_Game.Args({"set-locale", "itIT"}));
        QVERIFY2(l_Run.Code == 1 && l_Run.Err.contains("deDE, enUS, frFR"), qPrintable(l_Run.Describe()));
        l_Run = Run(l_Game.Args({"set-locale", "frFR"}));
        QVERIFY2(l_Run.Code == 0, qPrintable(l_Run.Describe()));
        QCOMPARE(l_Game.Setting("wow_bfa.InstallLocale").toString(), QString("frFR"));
        l_Run = Run(l_Game.Args({"locales"}));
        QVERIFY2(l_Run.Out.contains("  deDE  Deutsch\n  enUS  English\n* frFR  Francais\n"), qPrintable(l_Run.Out));

        // A second install elsewhere is refused; the game stays where it is.
        l_Run = Run(l_Game.Args({"install", l_Game.Temp.path() + "/Other"}));
        QVERIFY2(l_Run.Code == 1 && l_Run.Err.contains("already installed"), qPrintable(l_Run.Describe()));

        l_Run = Run(l_Game.Args({"uninstall", "--delete-files"}));
        QVERIFY2(l_Run.Code == 0, qPrintable(l_Run.Describe()));
        for (const TestBuild::File& l_File : l_Game.Build.Files)
            QVERIFY2(!QFile::exists(l_Game.Folder + "/" + l_File.Path), qPrintable(l_File.Path));
        QSettings l_After(l_Game.Settings, QSettings::IniFormat);
        QCOMPARE(l_After.allKeys(), QStringList{"other_game.Installed"});
        l_Run = Run(l_Game.Args({"update"}));
        QVERIFY2(l_Run.Code == 1 && l_Run.Err.contains("not installed"), qPrintable(l_Run.Describe()));
    }
#endif

    void installOutcome_data()
    {
        QTest::addColumn<QString>("trouble");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("expected");
        // The size request and the first transfer get a server error; the restart gets the file.
        QTest::newRow("errors recovered") << "server errors" << 0 << "checking every file";
        QTest::newRow("file never verifies") << "wrong checksum" << 1 << "Data/base.bin";
#ifdef Q_OS_UNIX
        // Another launcher process holds the turn: nothing is fetched, and the run does not hang.
        QTest::newRow("download turn held") << "turn held" << 1 << "another launcher process holds the download turn";
#endif
    }

    void installOutcome()
    {
        QFETCH(QString, trouble);
        QFETCH(int, code);
        QFETCH(QString, expected);
        Published l_Game;
        if (trouble == "wrong checksum")
            l_Game.Build.Files[1].Md5 = QString(32, 'A');
        QVERIFY(l_Game.Start());
        TestHttpServer::Fault l_Fault;
        l_Fault.Status = 500;
        l_Fault.Times = 2;
        if (trouble == "server errors")
            l_Game.Server.SetFault("/wow_bfa/files/Data/base.bin", l_Fault);
        int l_Turn = -1;
#ifdef Q_OS_UNIX
        if (trouble == "turn held")
        {
            QVERIFY(QDir().mkpath(l_Game.Temp.path() + "/conf"));
            l_Turn = ::open(QFile::encodeName(l_Game.Temp.path() + "/conf/launcher.download.lock").constData(),
                            O_RDWR | O_CREAT, 0644);
            QVERIFY(l_Turn >= 0 && ::flock(l_Turn, LOCK_EX | LOCK_NB) == 0);
        }
#endif
        Outcome l_Outcome = Run(l_Game.Args({"install", l_Game.Folder}, {"--idle-timeout", l_Turn >= 0 ? "2" : "20"}));
        if (l_Turn >= 0)
            ::close(l_Turn);
        QVERIFY2(l_Outcome.Code == code, qPrintable(l_Outcome.Describe()));
        QVERIFY2((l_Outcome.Out + l_Outcome.Err).contains(expected), qPrintable(l_Outcome.Describe()));
        // Whatever fails, the files that could be fetched are in place.
        QCOMPARE(l_Game.Wrong().contains("Wow.exe"), trouble == "turn held");
        QCOMPARE(l_Game.Wrong().isEmpty(), code == 0);
    }

};

QTEST_GUILESS_MAIN(tst_host)
#include "tst_host.moc"
