// orvane-launcher as a user runs it: a separate process that loads the real
// plugin, talks to a loopback server and reports through its exit status.
#include "support/TestBuild.h"
#include "support/TestHttpServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

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
};

QString Launcher()
{
    return QStringLiteral(KESTRUN_BIN_DIR "/orvane-launcher");
}

QProcessEnvironment CleanEnvironment()
{
    QProcessEnvironment l_Env = QProcessEnvironment::systemEnvironment();
    l_Env.remove("KESTRUN_SERVER_URL");
    l_Env.remove("KESTRUN_CDN_HOST");
    return l_Env;
}

Outcome Run(const QStringList& p_Arguments, int p_TimeoutMs = 60000)
{
    QProcess l_Process;
    l_Process.setProcessEnvironment(CleanEnvironment());
    l_Process.start(Launcher(), p_Arguments);
    Outcome l_Outcome;
    if (!l_Process.waitForStarted(10000))
        return l_Outcome;
    if (!l_Process.waitForFinished(p_TimeoutMs))
    {
        l_Process.kill();
        l_Process.waitForFinished(5000);
        l_Outcome.Err = "<timed out>";
        return l_Outcome;
    }
    l_Outcome.Code = l_Process.exitStatus() == QProcess::NormalExit ? l_Process.exitCode() : -2;
    l_Outcome.Out = QString::fromUtf8(l_Process.readAllStandardOutput());
    l_Outcome.Err += QString::fromUtf8(l_Process.readAllStandardError());
    return l_Outcome;
}

QString Describe(const Outcome& p_Outcome)
{
    return QString("exit %1\nstdout:\n%2\nstderr:\n%3").arg(p_Outcome.Code).arg(p_Outcome.Out, p_Outcome.Err);
}

/// Every stdout line as a JSON object; fails the test on a line that is not one.
QList<QJsonObject> JsonLines(const QString& p_Out, bool* p_Ok)
{
    QList<QJsonObject> l_Objects;
    *p_Ok = true;
    for (const QString& l_Line : p_Out.split('\n'))
    {
        if (l_Line.trimmed().isEmpty())
            continue;
        QJsonParseError l_Error;
        QJsonDocument l_Document = QJsonDocument::fromJson(l_Line.toUtf8(), &l_Error);
        if (l_Error.error != QJsonParseError::NoError || !l_Document.isObject())
            *p_Ok = false;
        l_Objects.append(l_Document.object());
    }
    return l_Objects;
}

QList<QJsonObject> Events(const QList<QJsonObject>& p_Objects, const QString& p_Event)
{
    QList<QJsonObject> l_Found;
    for (const QJsonObject& l_Object : p_Objects)
        if (l_Object.value("event").toString() == p_Event)
            l_Found.append(l_Object);
    return l_Found;
}

quint16 ClosedPort()
{
    QTcpServer l_Server;
    l_Server.listen(QHostAddress::LocalHost);
    quint16 l_Port = l_Server.serverPort();
    l_Server.close();
    return l_Port;
}

QByteArray Bytes(int p_Size, char p_Seed)
{
    QByteArray l_Bytes(p_Size, Qt::Uninitialized);
    for (int l_I = 0; l_I < p_Size; ++l_I)
        l_Bytes[l_I] = char((l_I * 31 + p_Seed) & 0xff);
    return l_Bytes;
}

QByteArray ReadFile(const QString& p_Path)
{
    QFile l_File(p_Path);
    return l_File.open(QIODevice::ReadOnly) ? l_File.readAll() : QByteArray("<missing>");
}

/// A published build on a loopback server, and a settings file and install folder of one user.
struct Published
{
    TestHttpServer Server;
    TestBuild Build;
    QTemporaryDir Temp;
    QString Settings;
    QString Folder;

    Published()
    {
        Settings = Temp.path() + "/conf/launcher.ini";
        Folder = Temp.path() + "/Games/BfA";
        Build.Add("Wow.exe", Bytes(70000, 1), 0x08);
        Build.Add("Data/base.bin", Bytes(300000, 2));
        Build.Add("Data/enUS/speech.bin", Bytes(5000, 3), 0, "enUS");
        Build.Add("Data/frFR/speech.bin", Bytes(5000, 4), 0, "frFR");
        Build.Add("Data/stream/a.bin", Bytes(120000, 5), 0, QString(), true);
    }

    bool Start()
    {
        if (!Server.Start())
            return false;
        Build.Publish(Server);
        return true;
    }

    QStringList Args(const QStringList& p_Command, const QStringList& p_Global = {}) const
    {
        return QStringList{"--settings", Settings, "--server", TestBuild::ServerUrl(Server), "--idle-timeout", "20"} +
               p_Global + p_Command;
    }

    QVariant Setting(const QString& p_Key) const
    {
        return QSettings(Settings, QSettings::IniFormat).value(p_Key);
    }

    /// Files of the build that are not on disk byte for byte (enUS install).
    QStringList Wrong() const
    {
        QStringList l_Wrong;
        for (const TestBuild::File& l_File : Build.Files)
        {
            if (l_File.Locale == "frFR")
                continue;
            if (ReadFile(Folder + "/" + l_File.Path) != l_File.Bytes)
                l_Wrong.append(l_File.Path);
        }
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
        QTemporaryDir l_Temp;
        const QString l_Settings = l_Temp.path() + "/launcher.ini";
        // The plugin beside the executable is the default one.
        Outcome l_Text = Run({"--settings", l_Settings, "info"});
        QVERIFY2(l_Text.Code == 0, qPrintable(Describe(l_Text)));
        QVERIFY(l_Text.Out.contains(QRegularExpression("IID:\\s+Orvane.Application")));
        QVERIFY(l_Text.Out.contains(QRegularExpression("Class name:\\s+Kestrun")));
        QVERIFY(l_Text.Out.contains(QRegularExpression("Name:\\s+Battle for Azeroth")));
        QVERIFY(l_Text.Out.contains(QRegularExpression("Folder:\\s+wow_bfa")));
        QVERIFY(l_Text.Out.contains(QRegularExpression("7 AppReserved\\s+\\(null\\)")));
        QVERIFY(l_Text.Out.contains(QRegularExpression("CASC app:\\s+no")));
        // Reading the module's identity touches nothing of the user's.
        QVERIFY(!QFile::exists(l_Settings));

        Outcome l_Json = Run({"--json", "--plugin", KESTRUN_PLUGIN_PATH, "info"});
        QVERIFY2(l_Json.Code == 0, qPrintable(Describe(l_Json)));
        bool l_Ok = false;
        QList<QJsonObject> l_Lines = JsonLines(l_Json.Out, &l_Ok);
        QVERIFY2(l_Ok && l_Lines.size() == 1, qPrintable(l_Json.Out));
        QJsonObject l_Info = l_Lines.first();
        QCOMPARE(l_Info.value("IID").toString(), QString("Orvane.Application"));
        QCOMPARE(l_Info.value("MetaData").toObject().value("version").toString(), QString("0.0.1"));
        QCOMPARE(l_Info.value("folder").toString(), QString("wow_bfa"));
        QCOMPARE(l_Info.value("IsCASCApp").toBool(true), false);
        QJsonArray l_Resources = l_Info.value("resources").toArray();
        QCOMPARE(l_Resources.size(), 9);
        for (int l_I = 0; l_I < 9; ++l_I)
        {
            QJsonValue l_Value = l_Resources.at(l_I).toObject().value("value");
            // Only the reserved kind has no value; a null string is not an empty one.
            QCOMPARE(l_Value.isNull(), l_I == 7);
            if (l_I != 7)
                QVERIFY(!l_Value.toString().isEmpty());
        }
        // The embedded images are there once the module is loaded.
        for (int l_I : {0, 3, 4})
            QVERIFY(l_Resources.at(l_I).toObject().value("embeddedBytes").toDouble() > 0);
    }

    void refusesWhatIsNotTheModule_data()
    {
        QTest::addColumn<QString>("plugin");
        QTest::addColumn<QString>("expected");
        QTest::newRow("another interface") << QString(KESTRUN_OTHER_PLUGIN_PATH) << "\"Orvane.OtherInterface\"";
        QTest::newRow("not a plugin") << QString(KESTRUN_SOURCE_DIR "/tests/tst_host.cpp") << "not a Qt plugin";
        QTest::newRow("missing") << QString(KESTRUN_BIN_DIR "/no-such-module.so") << "plugin not found";
    }

    void refusesWhatIsNotTheModule()
    {
        QFETCH(QString, plugin);
        QFETCH(QString, expected);
        QTemporaryDir l_Temp;
        const QString l_Settings = l_Temp.path() + "/launcher.ini";
        // A refused file is never run, whatever the command.
        for (const QString& l_Command : {QString("info"), QString("status")})
        {
            Outcome l_Outcome = Run({"--plugin", plugin, "--settings", l_Settings, "--server",
                                     QString("http://127.0.0.1:%1/").arg(ClosedPort()), l_Command});
            QVERIFY2(l_Outcome.Code == 2, qPrintable(Describe(l_Outcome)));
            QVERIFY2(l_Outcome.Err.contains(expected), qPrintable(l_Outcome.Err));
            QVERIFY(l_Outcome.Out.isEmpty());
        }
        QVERIFY(!QFile::exists(l_Settings));
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no command") << QStringList{} << "no command";
        QTest::newRow("unknown command") << QStringList{"instal", "/tmp/x"} << "unknown command";
        QTest::newRow("global option after the command") << QStringList{"status", "--json"} << "before the command";
        QTest::newRow("option without value") << QStringList{"--settings"} << "needs a value";
        QTest::newRow("unknown option") << QStringList{"--fast", "status"} << "unknown option";
        QTest::newRow("idle timeout not a number") << QStringList{"--idle-timeout", "soon", "status"} << "--idle-timeout";
        QTest::newRow("negative idle timeout") << QStringList{"--idle-timeout=-1", "status"} << "--idle-timeout";
        QTest::newRow("unknown launcher locale") << QStringList{"--locale", "xxYY", "status"} << "unknown locale";
        QTest::newRow("server not a URL") << QStringList{"--server", "127.0.0.1:80", "status"} << "--server";
        QTest::newRow("install without folder") << QStringList{"install"} << "needs a FOLDER";
        QTest::newRow("install with two folders") << QStringList{"install", "a", "b"} << "unexpected argument";
        QTest::newRow("set-locale without tag") << QStringList{"set-locale"} << "needs a locale TAG";
        QTest::newRow("argument to update") << QStringList{"update", "now"} << "unexpected argument";
        QTest::newRow("option of another command") << QStringList{"update", "--delete-files"} << "unknown option";
    }

    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, expected);
        Outcome l_Outcome = Run(arguments);
        QVERIFY2(l_Outcome.Code == 2, qPrintable(Describe(l_Outcome)));
        QVERIFY2(l_Outcome.Err.contains(expected), qPrintable(l_Outcome.Err));
        QVERIFY(l_Outcome.Err.contains("usage"));
    }

    void helpIsNotAnError()
    {
        Outcome l_Outcome = Run({"--help"});
        QVERIFY2(l_Outcome.Code == 0, qPrintable(Describe(l_Outcome)));
        for (const char* l_Word : {"install", "update", "repair", "rebuild", "uninstall", "--idle-timeout", "130"})
            QVERIFY2(l_Outcome.Out.contains(l_Word), l_Word);
    }

    void unreachableServerFailsClearly()
    {
        QTemporaryDir l_Temp;
        Outcome l_Outcome = Run({"--settings", l_Temp.path() + "/launcher.ini", "--server",
                                 QString("http://127.0.0.1:%1/").arg(ClosedPort()), "--idle-timeout", "20", "status"});
        QVERIFY2(l_Outcome.Code == 1, qPrintable(Describe(l_Outcome)));
        QVERIFY2(l_Outcome.Err.contains("could not read the game's build information"), qPrintable(l_Outcome.Err));
    }

    void silentServerEndsAfterTheIdleTime()
    {
        // Accepts connections (the kernel does) and never answers.
        QTcpServer l_Silent;
        QVERIFY(l_Silent.listen(QHostAddress::LocalHost));
        QTemporaryDir l_Temp;
        Outcome l_Outcome =
            Run({"--settings", l_Temp.path() + "/launcher.ini", "--server",
                 QString("http://127.0.0.1:%1/").arg(l_Silent.serverPort()), "--idle-timeout", "1", "status"});
        QVERIFY2(l_Outcome.Code == 1, qPrintable(Describe(l_Outcome)));
        QVERIFY2(l_Outcome.Err.contains("no answer from the application server"), qPrintable(l_Outcome.Err));
    }

#ifdef Q_OS_UNIX
    void ctrlCStopsWith130()
    {
        QTcpServer l_Silent;
        QVERIFY(l_Silent.listen(QHostAddress::LocalHost));
        QTemporaryDir l_Temp;
        QProcess l_Process;
        l_Process.setProcessEnvironment(CleanEnvironment());
        l_Process.start(Launcher(), {"--json", "--settings", l_Temp.path() + "/launcher.ini", "--server",
                                     QString("http://127.0.0.1:%1/").arg(l_Silent.serverPort()), "status"});
        QVERIFY(l_Process.waitForStarted(10000));
        // The first status line shows that Init ran and the loop turns.
        QVERIFY(QTest::qWaitFor([&] { return l_Process.canReadLine() || l_Process.waitForReadyRead(100); }, 20000));
        ::kill(pid_t(l_Process.processId()), SIGINT);
        QVERIFY(l_Process.waitForFinished(20000));
        QCOMPARE(l_Process.exitCode(), 130);
        QString l_Out = QString::fromUtf8(l_Process.readAllStandardOutput());
        bool l_Ok = false;
        QList<QJsonObject> l_Lines = JsonLines(l_Out, &l_Ok);
        QVERIFY2(l_Ok, qPrintable(l_Out));
        QList<QJsonObject> l_Exit = Events(l_Lines, "exit");
        QCOMPARE(l_Exit.size(), 1);
        QCOMPARE(l_Exit.first().value("code").toInt(), 130);
        QVERIFY(QString::fromUtf8(l_Process.readAllStandardError()).contains("interrupted"));
    }
#endif

    void statusReportsTheStateAsJson()
    {
        Published l_Game;
        QVERIFY(l_Game.Start());
        Outcome l_Outcome = Run(l_Game.Args({"status"}, {"--json"}));
        QVERIFY2(l_Outcome.Code == 0, qPrintable(Describe(l_Outcome)));
        bool l_Ok = false;
        QList<QJsonObject> l_Lines = JsonLines(l_Outcome.Out, &l_Ok);
        QVERIFY2(l_Ok, qPrintable(l_Outcome.Out));

        QList<QJsonObject> l_Status = Events(l_Lines, "status");
        QVERIFY(!l_Status.isEmpty());
        for (const char* l_Field : {"ApplicationState", "DownloadStatus", "Busy", "Percent", "Done", "Total", "Speed",
                                    "Detail", "DetailValue", "DetailVisible", "Message"})
            QVERIFY2(l_Status.last().contains(l_Field), l_Field);
        QCOMPARE(l_Status.last().value("ApplicationState").toInt(), 1);

        QList<QJsonObject> l_Result = Events(l_Lines, "result");
        QCOMPARE(l_Result.size(), 1);
        QCOMPARE(l_Result.first().value("installed").toBool(true), false);
        QCOMPARE(l_Result.first().value("locale").toString(), QString("enUS"));
        QCOMPARE(Events(l_Lines, "exit").value(0).value("code").toInt(-1), 0);

        // The module's settings land in the INI file.
        QCOMPARE(l_Game.Setting("wow_bfa.ManifestBuilt").toBool(), false);
        QVERIFY(l_Game.Setting("wow_bfa.Installed").isNull());

        // The launcher locale is the game's default locale.
        Outcome l_French = Run(l_Game.Args({"status"}, {"--json", "--locale", "frFR"}));
        QVERIFY2(l_French.Code == 0, qPrintable(Describe(l_French)));
        QCOMPARE(Events(JsonLines(l_French.Out, &l_Ok), "result").value(0).value("locale").toString(),
                 QString("frFR"));
    }

    void devChannelReadsItsOwnVersionDocument()
    {
        Published l_Game;
        QVERIFY(l_Game.Start());
        for (bool l_Dev : {false, true})
        {
            l_Game.Server.ClearRequests();
            Outcome l_Outcome = Run(l_Game.Args({"status"}, l_Dev ? QStringList{"--dev-channel"} : QStringList{}));
            QVERIFY2(l_Outcome.Code == 0, qPrintable(Describe(l_Outcome)));
            QCOMPARE(l_Game.Server.Requests("/srv/wow_bfa/version_dev.json").size(), l_Dev ? 1 : 0);
            QCOMPARE(l_Game.Server.Requests("/srv/wow_bfa/version.json").size(), l_Dev ? 0 : 1);
        }
    }

    void localesOfTheBuild()
    {
        Published l_Game;
        l_Game.Build.Locales = {{"frFR", "Francais"}, {"deDE", "Deutsch"}, {"enUS", "English"}};
        QVERIFY(l_Game.Start());
        Outcome l_Outcome = Run(l_Game.Args({"locales"}));
        QVERIFY2(l_Outcome.Code == 0, qPrintable(Describe(l_Outcome)));
        // Ascending tag order; the game's current locale is marked.
        QRegularExpression l_Rows("(?m)^[* ] (\\w{4})  ");
        QStringList l_Tags;
        auto l_It = l_Rows.globalMatch(l_Outcome.Out);
        while (l_It.hasNext())
            l_Tags.append(l_It.next().captured(1));
        QCOMPARE(l_Tags, QStringList({"deDE", "enUS", "frFR"}));
        QVERIFY(l_Outcome.Out.contains("* enUS"));

        Outcome l_Unknown = Run(l_Game.Args({"set-locale", "itIT"}));
        QVERIFY2(l_Unknown.Code == 1, qPrintable(Describe(l_Unknown)));
        QVERIFY(l_Unknown.Err.contains("deDE, enUS, frFR"));
    }

    void installRepairUninstall()
    {
        Published l_Game;
        QVERIFY(l_Game.Start());
        QSettings(l_Game.Settings, QSettings::IniFormat).setValue("other_game.Installed", true);

        Outcome l_Install = Run(l_Game.Args({"install", l_Game.Folder}, {"--json"}));
        QVERIFY2(l_Install.Code == 0, qPrintable(Describe(l_Install)));
        QCOMPARE(l_Game.Wrong(), QStringList());
        QVERIFY(!QFile::exists(l_Game.Folder + "/Data/frFR/speech.bin"));
        QCOMPARE(l_Game.Setting("wow_bfa.Installed").toBool(), true);
        // The host hands the module a folder that ends with "/".
        QCOMPARE(l_Game.Setting("wow_bfa.InstallFolder").toString(), QDir(l_Game.Folder).absolutePath() + "/");
        bool l_Ok = false;
        QList<QJsonObject> l_Lines = JsonLines(l_Install.Out, &l_Ok);
        QVERIFY2(l_Ok, qPrintable(l_Install.Out));
        bool l_Downloaded = false;
        for (const QJsonObject& l_Status : Events(l_Lines, "status"))
            l_Downloaded = l_Downloaded || l_Status.value("DownloadStatus").toInt() == 3;
        QVERIFY(l_Downloaded);
        QVERIFY(!l_Game.Server.Requests("/wow_bfa/files/Data/base.bin").isEmpty());

        // Nothing to do: an update ends at once, without fetching anything.
        l_Game.Server.ClearRequests();
        Outcome l_Update = Run(l_Game.Args({"update"}));
        QVERIFY2(l_Update.Code == 0, qPrintable(Describe(l_Update)));
        QVERIFY(l_Game.Server.Requests("/wow_bfa/files/Data/base.bin").isEmpty());

        // A damaged and a deleted file come back with repair.
        {
            QFile l_Damaged(l_Game.Folder + "/Data/base.bin");
            QVERIFY(l_Damaged.open(QIODevice::ReadWrite));
            l_Damaged.seek(1000);
            l_Damaged.write("damage");
        }
        QVERIFY(QFile::remove(l_Game.Folder + "/Data/stream/a.bin"));
        Outcome l_Repair = Run(l_Game.Args({"repair"}));
        QVERIFY2(l_Repair.Code == 0, qPrintable(Describe(l_Repair)));
        QCOMPARE(l_Game.Wrong(), QStringList());

        Outcome l_Status = Run(l_Game.Args({"status"}));
        QVERIFY2(l_Status.Code == 0, qPrintable(Describe(l_Status)));
        QVERIFY(l_Status.Out.contains(QRegularExpression("Installed:\\s+yes")));
        QVERIFY(l_Status.Out.contains(l_Game.Build.BuildStr));

        // The game's language: set through the module, kept in the settings, shown by locales.
        Outcome l_SetLocale = Run(l_Game.Args({"set-locale", "frFR"}));
        QVERIFY2(l_SetLocale.Code == 0, qPrintable(Describe(l_SetLocale)));
        QCOMPARE(l_Game.Setting("wow_bfa.InstallLocale").toString(), QString("frFR"));
        Outcome l_Locales = Run(l_Game.Args({"locales"}));
        QVERIFY2(l_Locales.Code == 0, qPrintable(Describe(l_Locales)));
        QVERIFY(l_Locales.Out.contains("* frFR"));

        // A second install elsewhere is refused; the game stays where it is.
        Outcome l_Elsewhere = Run(l_Game.Args({"install", l_Game.Temp.path() + "/Other"}));
        QVERIFY2(l_Elsewhere.Code == 1, qPrintable(Describe(l_Elsewhere)));
        QVERIFY(l_Elsewhere.Err.contains("already installed"));

        Outcome l_Uninstall = Run(l_Game.Args({"uninstall", "--delete-files"}));
        QVERIFY2(l_Uninstall.Code == 0, qPrintable(Describe(l_Uninstall)));
        for (const TestBuild::File& l_File : l_Game.Build.Files)
            QVERIFY2(!QFile::exists(l_Game.Folder + "/" + l_File.Path), qPrintable(l_File.Path));
        QSettings l_After(l_Game.Settings, QSettings::IniFormat);
        for (const QString& l_Key : l_After.allKeys())
            QVERIFY2(!l_Key.startsWith("wow_bfa."), qPrintable(l_Key));
        QCOMPARE(l_After.value("other_game.Installed").toBool(), true);

        Outcome l_Update2 = Run(l_Game.Args({"update"}));
        QVERIFY2(l_Update2.Code == 1, qPrintable(Describe(l_Update2)));
        QVERIFY(l_Update2.Err.contains("not installed"));
    }

    void fileThatNeverVerifiesFailsTheInstall()
    {
        Published l_Game;
        l_Game.Build.Files[1].Md5 = QString(32, 'A');
        QVERIFY(l_Game.Start());
        Outcome l_Outcome = Run(l_Game.Args({"install", l_Game.Folder}));
        QVERIFY2(l_Outcome.Code == 1, qPrintable(Describe(l_Outcome)));
        QVERIFY2(l_Outcome.Err.contains("Data/base.bin"), qPrintable(l_Outcome.Err));
        QVERIFY(l_Outcome.Err.contains("not fully up to date"));
        // The other files are in place.
        QCOMPARE(ReadFile(l_Game.Folder + "/Wow.exe"), l_Game.Build.Files[0].Bytes);
    }

    void recoveredErrorsDoNotFailTheInstall()
    {
        Published l_Game;
        QVERIFY(l_Game.Start());
        // The size request and the first transfer get a server error; the restart gets the file.
        TestHttpServer::Fault l_Fault;
        l_Fault.Status = 500;
        l_Fault.Times = 2;
        l_Game.Server.SetFault("/wow_bfa/files/Data/base.bin", l_Fault);
        Outcome l_Outcome = Run(l_Game.Args({"install", l_Game.Folder}));
        QVERIFY2(l_Outcome.Code == 0, qPrintable(Describe(l_Outcome)));
        QVERIFY2(l_Outcome.Err.contains("error: "), qPrintable(Describe(l_Outcome)));
        QVERIFY(l_Outcome.Out.contains("checking every file"));
        QCOMPARE(l_Game.Wrong(), QStringList());
    }

#ifdef Q_OS_UNIX
    void ctrlCDuringATransferLeavesItResumable()
    {
        Published l_Game;
        l_Game.Build.Add("Data/big.bin", Bytes(4 * 1024 * 1024, 9));
        QVERIFY(l_Game.Start());
        TestHttpServer::Fault l_Slow;
        l_Slow.BytesPerSecond = 512 * 1024;
        l_Game.Server.SetFault("/wow_bfa/files/Data/big.bin", l_Slow);

        QProcess l_Process;
        l_Process.setProcessEnvironment(CleanEnvironment());
        l_Process.start(Launcher(), l_Game.Args({"install", l_Game.Folder}));
        QVERIFY(l_Process.waitForStarted(10000));
        const QString l_Part = l_Game.Folder + "/Data/big.bin.part";
        QVERIFY(QTest::qWaitFor([&] { return QFileInfo(l_Part).size() > 256 * 1024; }, 30000));
        ::kill(pid_t(l_Process.processId()), SIGINT);
        QVERIFY(l_Process.waitForFinished(30000));
        QString l_Err = QString::fromUtf8(l_Process.readAllStandardError());
        QVERIFY2(l_Process.exitCode() == 130, qPrintable(l_Err));
        QVERIFY(l_Err.contains("interrupted"));
        const qint64 l_Kept = QFileInfo(l_Part).size();
        QVERIFY(l_Kept > 256 * 1024 && l_Kept < 4 * 1024 * 1024);
        QVERIFY(!QFile::exists(l_Game.Folder + "/Data/big.bin"));

        // The next run continues from the ".part" file.
        l_Game.Server.ClearFaults();
        l_Game.Server.ClearRequests();
        Outcome l_Update = Run(l_Game.Args({"update"}));
        QVERIFY2(l_Update.Code == 0, qPrintable(Describe(l_Update)));
        QCOMPARE(l_Game.Wrong(), QStringList());
        bool l_Resumed = false;
        for (const TestHttpServer::Request& l_Request : l_Game.Server.Requests("/wow_bfa/files/Data/big.bin"))
            l_Resumed = l_Resumed || (l_Request.Range.startsWith("bytes=") && l_Request.Range != "bytes=0-");
        QVERIFY(l_Resumed);
    }

    void downloadTurnOfAnotherLauncher()
    {
        Published l_Game;
        QVERIFY(l_Game.Start());
        QVERIFY(QDir().mkpath(QFileInfo(l_Game.Settings).absolutePath()));
        // Another launcher process holds the turn: nothing is fetched, and the run does not hang.
        int l_Fd = ::open(QFile::encodeName(QFileInfo(l_Game.Settings).absolutePath() + "/launcher.download.lock").constData(), O_RDWR | O_CREAT, 0644);
        QVERIFY(l_Fd >= 0);
        QCOMPARE(::flock(l_Fd, LOCK_EX | LOCK_NB), 0);
        QStringList l_Args = l_Game.Args({"install", l_Game.Folder});
        l_Args[l_Args.indexOf("--idle-timeout") + 1] = "2";
        Outcome l_Waiting = Run(l_Args);
        QVERIFY2(l_Waiting.Code == 1, qPrintable(Describe(l_Waiting)));
        QVERIFY2(l_Waiting.Err.contains("another launcher process holds the download turn"), qPrintable(l_Waiting.Err));
        QVERIFY(l_Game.Server.Requests("/wow_bfa/files/Data/base.bin").isEmpty());
        ::close(l_Fd);

        // Once it is free, the update takes it and completes.
        Outcome l_Update = Run(l_Game.Args({"update"}));
        QVERIFY2(l_Update.Code == 0, qPrintable(Describe(l_Update)));
        QCOMPARE(l_Game.Wrong(), QStringList());
    }
#endif

    void runningAnswersThroughTheExitStatus()
    {
        QTemporaryDir l_Temp;
        Outcome l_Outcome = Run({"--settings", l_Temp.path() + "/launcher.ini", "running"});
        QVERIFY2(l_Outcome.Code == 1, qPrintable(Describe(l_Outcome)));
        QVERIFY(l_Outcome.Out.contains("not running"));
    }
};

QTEST_GUILESS_MAIN(tst_host)
#include "tst_host.moc"
