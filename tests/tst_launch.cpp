// Starting the client, the first-start notice, and the edits of the client's Config.wtf.
#include "app/Kestrun.h"
#include "support/FakeHost.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace Orvane::Launcher;

namespace {

bool g_Fake64 = false;
bool Fake64BitSystem() { return g_Fake64; }

QByteArray ReadAll(const QString& p_Path)
{
    QFile l_File(p_Path);
    if (!l_File.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return l_File.readAll();
}

bool WriteAll(const QString& p_Path, const QByteArray& p_Data)
{
    QDir().mkpath(QFileInfo(p_Path).absolutePath());
    QFile l_File(p_Path);
    return l_File.open(QIODevice::WriteOnly | QIODevice::Truncate) && l_File.write(p_Data) == p_Data.size();
}

/// An installed game in a temporary folder, driven by a test host.
struct Game
{
    QTemporaryDir Temp;
    Kestrun App;
    FakeHost Host; // after App: detaches before the application goes
    QString Folder;

    explicit Game(bool p_Installed = true)
    {
        Host.Attach(&App);
        Folder = Temp.path() + "/Battle for Azeroth/";
        QDir().mkpath(Folder);
        if (p_Installed)
        {
            Host.Settings["wow_bfa.Installed"] = true;
            Host.Settings["wow_bfa.InstallFolder"] = Folder;
        }
        App.GetInstallationPath();
    }

    QString Config() const { return Folder + "WTF/Config.wtf"; }
    QString Marker() const { return Temp.path() + "/started"; }

    /// A client stand-in that records its name, arguments and working folder.
    bool AddClient(const QString& p_RelativePath)
    {
        QString l_Script = "#!/bin/sh\n"
                           "{ basename \"$0\"; for a in \"$@\"; do echo \"$a\"; done; pwd; } > '"
                           + Marker() + ".tmp' && mv '" + Marker() + ".tmp' '" + Marker() + "'\n";
        QString l_Path = Folder + p_RelativePath;
        return WriteAll(l_Path, l_Script.toUtf8())
               && QFile::setPermissions(l_Path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    void AddEntry(int32_t p_Flags, const QString& p_Path)
    {
        ManifestFile l_File;
        l_File.Flags = p_Flags;
        l_File.Path = p_Path;
        App.m_Manifest.BaseFiles.push_back(l_File);
    }

    /// The lines the client stand-in wrote, once it has written them.
    QStringList Started()
    {
        if (!QTest::qWaitFor([this] { return QFile::exists(Marker()); }, 10000))
            return {};
        QStringList l_Lines = QString::fromUtf8(ReadAll(Marker())).split('\n');
        if (!l_Lines.isEmpty() && l_Lines.last().isEmpty())
            l_Lines.removeLast();
        QFile::remove(Marker());
        return l_Lines;
    }
};

const char* const g_English = "Downloading game initial content,\n you might experience lags until the complete "
                              "download of the game.";
const char* const g_French = "Téléchargement des données initiales du jeu,\n votre expérience de jeu peut être "
                             "dégradée jusqu'au téléchargement complet du jeu.";
const char* const g_Spanish = "Descargando el contenido inicial del juego.\n Tu experiencia de juego puede verse "
                              "afectada hasta que finalice la descarga completa del juego";

} // namespace

class tst_launch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { StandartApplication::s_Is64BitSystem = &Fake64BitSystem; }

    void startChoosesClient_data()
    {
        QTest::addColumn<bool>("is64");
        QTest::addColumn<QStringList>("entries"); // "flags:path"
        QTest::addColumn<QString>("expected");    // empty: nothing to start

        const QStringList l_Both{"0:Data/base.bin", "8:Wow.exe", "16:Wow-64.exe"};
        QTest::newRow("64-bit system, both clients") << true << l_Both << "Wow-64.exe";
        QTest::newRow("32-bit system, both clients") << false << l_Both << "Wow.exe";
        QTest::newRow("64-bit system, 32-bit client only") << true << QStringList{"8:Wow.exe"} << "Wow.exe";
        QTest::newRow("32-bit system, 64-bit client only") << false << QStringList{"16:Wow-64.exe"} << "";
        QTest::newRow("entry with both bits on 64-bit")
            << true << QStringList{"0:Data/base.bin", "24:WowAny.exe", "16:Wow-64.exe"} << "WowAny.exe";
        QTest::newRow("entry with both bits on 32-bit")
            << false << QStringList{"16:Wow-64.exe", "24:WowAny.exe", "8:Wow.exe"} << "WowAny.exe";
        QTest::newRow("first entry in list order") << false << QStringList{"8:Wow.exe", "8:Bin/WowOld.exe"}
                                                   << "Wow.exe";
        QTest::newRow("no manifest") << true << QStringList{} << "";
    }

    void startChoosesClient()
    {
        QFETCH(bool, is64);
        QFETCH(QStringList, entries);
        QFETCH(QString, expected);

        g_Fake64 = is64;
        Game l_Game;
        l_Game.Host.Settings["wow_bfa.FirstStart"] = false;
        QString l_ExpectedPath;
        for (const QString& l_Entry : entries)
        {
            QString l_Path = l_Entry.section(':', 1);
            l_Game.AddEntry(l_Entry.section(':', 0, 0).toInt(), l_Path);
            QVERIFY(l_Game.AddClient(l_Path));
            if (l_Path == expected)
                l_ExpectedPath = l_Game.Folder + l_Path;
        }

        if (!expected.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, qPrintable("Start " + l_ExpectedPath));
        QCOMPARE(l_Game.App.Start("login", "password"), !expected.isEmpty());
        if (expected.isEmpty())
        {
            QVERIFY(!QFile::exists(l_Game.Marker()));
            return;
        }
        QStringList l_Started = l_Game.Started();
        QCOMPARE(l_Started, QStringList({QFileInfo(l_ExpectedPath).fileName(), "-noautolaunch64bit",
                                         QDir::currentPath()}));
    }

    void startRefusedBySystem()
    {
        g_Fake64 = false;
        Game l_Game;
        l_Game.AddEntry(FlagClient32, "Missing.exe");
        l_Game.Host.Settings["wow_bfa.FirstStart"] = false;
        QTest::ignoreMessage(QtWarningMsg, qPrintable("Start " + l_Game.Folder + "Missing.exe"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^StandartApplication::Start the system refused"));
        QVERIFY(!l_Game.App.Start("", ""));
    }

    void firstStartNotice_data()
    {
        QTest::addColumn<int>("locale");
        QTest::addColumn<QString>("notice");
        QTest::newRow("English") << int(English) << QString::fromUtf8(g_English);
        QTest::newRow("French") << int(French) << QString::fromUtf8(g_French);
        QTest::newRow("Spanish") << int(Spanish) << QString::fromUtf8(g_Spanish);
        QTest::newRow("Russian gets English") << int(Russian) << QString::fromUtf8(g_English);
        QTest::newRow("Portuguese gets English") << int(Portuguese) << QString::fromUtf8(g_English);
    }

    void firstStartNotice()
    {
        QFETCH(int, locale);
        QFETCH(QString, notice);

        g_Fake64 = true;
        Game l_Game;
        l_Game.Host.Locale = g_LauncherLocales[locale];
        l_Game.AddEntry(FlagClient64, "Wow-64.exe");
        QVERIFY(l_Game.AddClient("Wow-64.exe"));
        QVERIFY(WriteAll(l_Game.Folder + "Cache/WDB/enUS/creaturecache.wdb", "x"));
        l_Game.App.m_Status.Busy = true;

        // First start: the notice, the client starts, and the host is told it did not.
        QTest::ignoreMessage(QtWarningMsg, qPrintable("Start " + l_Game.Folder + "Wow-64.exe"));
        QVERIFY(!l_Game.App.Start("", ""));
        QCOMPARE(l_Game.Host.Notices, QStringList{notice});
        QVERIFY(l_Game.Host.Errors.isEmpty());
        QCOMPARE(l_Game.Host.Settings.value("wow_bfa.FirstStart"), QVariant(false));
        QVERIFY(!QFileInfo::exists(l_Game.Folder + "Cache"));
        QCOMPARE(l_Game.Started().value(0), QString("Wow-64.exe"));
        QVERIFY(!l_Game.App.m_Status.Busy); // the transfer is stopped first

        // Second start: no notice, the start's own result.
        QVERIFY(WriteAll(l_Game.Folder + "Cache/x/y.wdb", "y"));
        QTest::ignoreMessage(QtWarningMsg, qPrintable("Start " + l_Game.Folder + "Wow-64.exe"));
        QVERIFY(l_Game.App.Start("", ""));
        QCOMPARE(l_Game.Host.Notices.size(), 1);
        QVERIFY(!QFileInfo::exists(l_Game.Folder + "Cache"));
        QCOMPARE(l_Game.Started().value(0), QString("Wow-64.exe"));
    }

    void startWithoutManifest()
    {
        Game l_Game;
        QVERIFY(!l_Game.App.Start("", ""));
        QCOMPARE(l_Game.Host.Notices.size(), 1);
        QVERIFY(!l_Game.App.Start("", ""));
        QCOMPARE(l_Game.Host.Notices.size(), 1);
    }

    void cacheOfLauncherFolderKept()
    {
        // Never installed: "Cache/" must not resolve to the launcher's own folder.
        Game l_Game(false);
        QString l_Previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(l_Game.Temp.path()));
        QVERIFY(WriteAll(l_Game.Temp.path() + "/Cache/keep.txt", "launcher data"));
        l_Game.App.Start("", "");
        bool l_Kept = QFile::exists(l_Game.Temp.path() + "/Cache/keep.txt");
        QDir::setCurrent(l_Previous);
        QVERIFY(l_Kept);
    }

    void cacheSymlinkTargetKept()
    {
        Game l_Game;
        l_Game.Host.Settings["wow_bfa.FirstStart"] = false;
        QVERIFY(WriteAll(l_Game.Temp.path() + "/elsewhere/keep.txt", "user data"));
        QVERIFY(QFile::link(l_Game.Temp.path() + "/elsewhere", l_Game.Folder + "Cache"));
        l_Game.App.Start("", "");
        QVERIFY(QFile::exists(l_Game.Temp.path() + "/elsewhere/keep.txt"));
        QVERIFY(!QFileInfo(l_Game.Folder + "Cache").isSymLink());
    }

    void onInstallEditsConfig_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");

        QTest::newRow("window lines replaced, CRLF becomes LF")
            << QByteArray("SET gxWindow \"0\"\r\nSET gxWindowSize \"1024x768\"\r\nSET textLocale \"enUS\"\r\n"
                          "SET gxMaximize \"1\"")
            << QByteArray("SET textLocale \"enUS\"\nSET gxWindow \"1\"\nSET gxMaximize \"0\"\n");
        QTest::newRow("keys in any letter case and in comments")
            << QByteArray("set GXWINDOW \"0\"\n# gxmaximize was 1\nSET realmName \"Kestrun\"\n")
            << QByteArray("SET realmName \"Kestrun\"\nSET gxWindow \"1\"\nSET gxMaximize \"0\"\n");
        QTest::newRow("empty file") << QByteArray("")
                                    << QByteArray("SET gxWindow \"1\"\nSET gxMaximize \"0\"\n");
        QTest::newRow("blank lines kept")
            << QByteArray("\n\nSET a \"1\"\n") << QByteArray("\n\nSET a \"1\"\nSET gxWindow \"1\"\nSET gxMaximize \"0\"\n");
        QTest::newRow("text beyond ASCII kept")
            << QByteArray("SET accountName \"J\xc3\xa9r\xc3\xb4me\"\n")
            << QByteArray("SET accountName \"J\xc3\xa9r\xc3\xb4me\"\nSET gxWindow \"1\"\nSET gxMaximize \"0\"\n");
    }

    void onInstallEditsConfig()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        Game l_Game;
        QVERIFY(WriteAll(l_Game.Config(), before));
        QFile::setPermissions(l_Game.Config(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);
        l_Game.App.OnInstall();
        QCOMPARE(ReadAll(l_Game.Config()), after);
        // The replacement keeps the file's mode.
        const QFileDevice::Permissions l_Mode(0x7077);
        QCOMPARE(QFile::permissions(l_Game.Config()) & l_Mode,
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);
    }

    void configCreatedWhenMissing()
    {
        Game l_Game;
        QVERIFY(!QFileInfo::exists(l_Game.Folder + "WTF"));
        l_Game.App.PatchWoWTextFile(l_Game.Config(), "gxWindow", "SET gxWindow \"1\"", true);
        QCOMPARE(ReadAll(l_Game.Config()), QByteArray("SET gxWindow \"1\""));

        QVERIFY(QDir(l_Game.Folder + "WTF").removeRecursively());
        l_Game.App.OnInstall();
        QCOMPARE(ReadAll(l_Game.Config()), QByteArray("SET gxWindow \"1\"\nSET gxMaximize \"0\"\n"));

        // Without p_Create a missing file stays missing.
        QString l_Other = l_Game.Folder + "Other/Config.wtf";
        l_Game.App.PatchWoWTextFile(l_Other, "gxWindow", "SET gxWindow \"1\"", false);
        QVERIFY(!QFileInfo::exists(l_Game.Folder + "Other"));
    }

    void setAppLocale()
    {
        Game l_Game;
        QVERIFY(WriteAll(l_Game.Config(), "SET textLocale \"enUS\"\nSET TEXTLOCALE \"deDE\"\nSET textLocaleOverride \"1\"\n"
                                          "-- textlocale was here\nSET audioLocale \"enUS\"\nSET playIntroMovie \"1\"\n"
                                          "SET gxWindow \"1\"\n"));
        l_Game.App.SetAppLocale("frFR");
        QCOMPARE(l_Game.Host.Settings.value("wow_bfa.InstallLocale"), QVariant("frFR"));
        QCOMPARE(ReadAll(l_Game.Config()), QByteArray("SET gxWindow \"1\"\nSET textLocale \"frFR\"\n"
                                                      "SET audioLocale \"frFR\"\nSET playIntroMovie \"7\"\n"));
        QCOMPARE(l_Game.App.GetAppLocale(), QString("frFR"));
    }

    void setAppLocaleRefused_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QString>("tag");
        QTest::newRow("not installed") << false << "frFR";
        QTest::newRow("tag breaking the line") << true << "frFR\nSET gxWindow \"0\"";
        QTest::newRow("tag with a quote") << true << "fr\"FR";
        QTest::newRow("empty tag") << true << "";
    }

    void setAppLocaleRefused()
    {
        QFETCH(bool, installed);
        QFETCH(QString, tag);
        Game l_Game(installed);
        l_Game.Host.Settings["wow_bfa.InstallFolder"] = l_Game.Folder;
        QByteArray l_Before("SET textLocale \"enUS\"\n");
        QVERIFY(WriteAll(l_Game.Config(), l_Before));
        if (installed)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Kestrun::SetAppLocale refusing"));
        l_Game.App.SetAppLocale(tag);
        QVERIFY(!l_Game.Host.Settings.contains("wow_bfa.InstallLocale"));
        QCOMPARE(ReadAll(l_Game.Config()), l_Before);
    }

    void unreadableConfigLeftAlone()
    {
        Game l_Game;
        QByteArray l_Before("SET gxWindow \"0\"\nSET accountName \"someone\"\n");
        QVERIFY(WriteAll(l_Game.Config(), l_Before));
        QVERIFY(QFile::setPermissions(l_Game.Config(), QFileDevice::Permissions()));
        QFile l_Probe(l_Game.Config());
        if (l_Probe.open(QIODevice::ReadOnly))
        {
            QFile::setPermissions(l_Game.Config(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            QSKIP("this user reads a file without read permission (root)");
        }
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^StandartApplication::PatchWoWTextFile cannot read"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^StandartApplication::PatchWoWTextFile cannot read"));
        l_Game.App.OnInstall();
        QFile::setPermissions(l_Game.Config(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QCOMPARE(ReadAll(l_Game.Config()), l_Before);
    }

    void readOnlyConfigLeftAlone()
    {
        Game l_Game;
        QByteArray l_Before("SET gxWindow \"0\"\n");
        QVERIFY(WriteAll(l_Game.Config(), l_Before));
        QVERIFY(QFile::setPermissions(l_Game.Config(), QFileDevice::ReadOwner | QFileDevice::ReadUser));
        if (QFileInfo(l_Game.Config()).isWritable())
            QSKIP("this user writes a read-only file (root)");
        l_Game.App.OnInstall();
        QCOMPARE(ReadAll(l_Game.Config()), l_Before);
    }

    void configThatIsAFolderLeftAlone()
    {
        // Exists but cannot be read as a file, whoever runs the test.
        Game l_Game;
        QVERIFY(WriteAll(l_Game.Config() + "/inner.txt", "kept"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^StandartApplication::PatchWoWTextFile cannot read"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^StandartApplication::PatchWoWTextFile cannot read"));
        l_Game.App.OnInstall();
        QVERIFY(QFileInfo(l_Game.Config()).isDir());
        QCOMPARE(ReadAll(l_Game.Config() + "/inner.txt"), QByteArray("kept"));
    }
};

QTEST_MAIN(tst_launch)
#include "tst_launch.moc"
