// Starting the client, the first-start notice, and the edits of the client's Config.wtf.
#include "support/GameFixture.h"

#include <QtTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace Orvane::Launcher;

namespace {

bool g_Fake64 = false;
bool Fake64BitSystem() { return g_Fake64; }

struct Game : GameFixture
{
    explicit Game(bool p_Installed = true) : GameFixture(p_Installed) {}

    QString Marker() const { return Temp.path() + "/started"; }

    /// A client stand-in that records its name, arguments and working folder.
    void AddClient(int32_t p_Flags, const QString& p_Path)
    {
        Add(p_Flags, p_Path);
#ifdef KESTRUN_TEST_CLIENT_PATH
        // Windows starts no script: a program that writes the same lines where the variable says.
        qputenv("KESTRUN_TEST_CLIENT_MARKER", Marker().toUtf8());
        QDir().mkpath(QFileInfo(Folder + p_Path).absolutePath());
        QFile::copy(KESTRUN_TEST_CLIENT_PATH, Folder + p_Path);
        return;
#endif
        const QString l_Script("#!/bin/sh\n{ basename \"$0\"; for a in \"$@\"; do echo \"$a\"; done; pwd; } > '%1.tmp'"
                               " && mv '%1.tmp' '%1'\n");
        WriteFile(Folder + p_Path, l_Script.arg(Marker()).toUtf8());
        QFile::setPermissions(Folder + p_Path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    /// What the client stand-in wrote, once it has written it.
    QStringList Started()
    {
        // Whole once it ends with its newline: under Wine a renamed file can show before it reads.
        QByteArray l_Text;
        if (!QTest::qWaitFor([&] { return (l_Text = ReadFile(Marker())).endsWith('\n'); }, 10000))
            return {};
        const QStringList l_Lines = QString::fromUtf8(l_Text).trimmed().split('\n');
        QFile::remove(Marker());
        return l_Lines;
    }
};

const QByteArray g_Window("SET gxWindow \"1\"\nSET gxMaximize \"0\"\n");

} // namespace

class tst_launch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { StandartApplication::SetIs64BitSystem(&Fake64BitSystem); }

    void startChoosesClient_data()
    {
        QTest::addColumn<bool>("is64");
        QTest::addColumn<QStringList>("entries"); // "flags:path"
        QTest::addColumn<QString>("expected");    // empty: nothing to start
        const QStringList l_Both{"0:Data/base.bin", "8:Wow.exe", "16:Wow-64.exe"};
        QTest::newRow("64-bit, both clients") << true << l_Both << "Wow-64.exe";
        QTest::newRow("32-bit, both clients") << false << l_Both << "Wow.exe";
        QTest::newRow("64-bit, 32-bit client only") << true << QStringList{"8:Wow.exe"} << "Wow.exe";
        QTest::newRow("32-bit, 64-bit client only") << false << QStringList{"16:Wow-64.exe"} << "";
        QTest::newRow("both bits, 64-bit") << true << QStringList{"24:WowAny.exe", "16:Wow-64.exe"} << "WowAny.exe";
        // The host must not believe the game is starting.
        QTest::newRow("start refused by the system") << false << QStringList{"8:NotAFile/"} << "";
    }

    void startChoosesClient()
    {
        QFETCH(bool, is64);
        QFETCH(QStringList, entries);
        QFETCH(QString, expected);
        g_Fake64 = is64;
        Game l_Game;
        l_Game.Host.Settings["wow_bfa.FirstStart"] = false;
        for (const QString& l_Entry : entries)
            l_Game.AddClient(l_Entry.section(':', 0, 0).toInt(), l_Entry.section(':', 1));
        if (!expected.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, qPrintable("Start " + l_Game.Folder + expected));
        QCOMPARE(l_Game.App.Start("login", "password"), !expected.isEmpty());
        if (!expected.isEmpty()) // started detached, from the launcher's folder
            QCOMPARE(l_Game.Started(),
                     QStringList({QFileInfo(expected).fileName(), "-noautolaunch64bit", QDir::currentPath()}));
    }

    void firstStartNotice_data()
    {
        QTest::addColumn<int>("locale");
        QTest::addColumn<QString>("notice");
        const QString l_English = "Downloading game initial content,\n you might experience lags until the complete "
                                  "download of the game.";
        QTest::newRow("English") << int(English) << l_English;
        QTest::newRow("French") << int(French)
                                << QString::fromUtf8("Téléchargement des données initiales du jeu,\n votre expérience "
                                                     "de jeu peut être dégradée jusqu'au téléchargement complet du jeu.");
        QTest::newRow("Russian gets English") << int(Russian) << l_English;
    }

    void firstStartNotice()
    {
        QFETCH(int, locale);
        QFETCH(QString, notice);
        g_Fake64 = true;
        Game l_Game;
        l_Game.Host.Locale = g_LauncherLocales[locale];
        l_Game.AddClient(FlagClient64, "Wow-64.exe");
        QVERIFY(WriteFile(l_Game.Folder + "Cache/WDB/enUS/creaturecache.wdb", "x"));
        l_Game.App.m_Status.Busy = true;

        // First start: the notice, the client starts, and the host is told it did not.
        QVERIFY(!l_Game.App.Start("", ""));
        QCOMPARE(l_Game.Host.Notices, QStringList{notice});
        QCOMPARE(l_Game.Started().value(0), QString("Wow-64.exe"));
        QVERIFY(!QFileInfo::exists(l_Game.Folder + "Cache") && !l_Game.App.m_Status.Busy); // transfer stopped first

        // Second start: no notice, the start's own result.
        QVERIFY(l_Game.App.Start("", "") && l_Game.Host.Notices.size() == 1);
        QCOMPARE(l_Game.Started().value(0), QString("Wow-64.exe"));
    }

    void cacheLinkedElsewhereKept()
    {
        Game l_Game;
        l_Game.Host.Settings["wow_bfa.FirstStart"] = false;
        const QString l_Kept = l_Game.Temp.path() + "/Cache/keep.txt";
        QVERIFY(WriteFile(l_Kept, "user data") && QFile::link(l_Game.Temp.path() + "/Cache", l_Game.Folder + "Cache"));
        l_Game.App.Start("", "");
        QVERIFY(QFile::exists(l_Kept) && !QFileInfo(l_Game.Folder + "Cache").isSymLink());
    }

    // OnInstall, or SetAppLocale with a tag, on Config.wtf.
    void editsConfig_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QString>("call");
        // "full disk": the call runs in a child whose files may not grow, which stops root as well.
        QTest::addColumn<QString>("obstacle");
        QTest::addColumn<QByteArray>("before"); // null: no file
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("window lines replaced, CRLF becomes LF") << true << "OnInstall" << ""
            << QByteArray("SET gxWindow \"0\"\r\nSET gxWindowSize \"1024x768\"\r\nSET textLocale \"enUS\"")
            << "SET textLocale \"enUS\"\n" + g_Window;
        QTest::newRow("keys in any letter case and in comments") << true << "OnInstall" << ""
            << QByteArray("set GXWINDOW \"0\"\n# gxmaximize was 1\nSET accountName \"J\xc3\xa9r\xc3\xb4me\"\n")
            << "SET accountName \"J\xc3\xa9r\xc3\xb4me\"\n" + g_Window;
        // Bytes are kept as they are, whatever the local 8-bit encoding (a Chinese or a UTF-8 one spells
        // no lone 0xE9).
        QTest::newRow("bytes that are not UTF-8") << true << "OnInstall" << ""
            << QByteArray("SET accountName \"J\xe9r\xf4me\"\nSET accountList \"\xc3\xa9\xe4\xb8\x96\"\n")
            << "SET accountName \"J\xe9r\xf4me\"\nSET accountList \"\xc3\xa9\xe4\xb8\x96\"\n" + g_Window;
        QTest::newRow("no file") << true << "OnInstall" << "" << QByteArray() << g_Window;
        QTest::newRow("locale frFR") << true << "frFR" << ""
            << QByteArray("SET textLocale \"enUS\"\nSET TEXTLOCALE \"deDE\"\nSET textLocaleOverride \"1\"\n"
                          "-- textlocale was here\nSET audioLocale \"enUS\"\nSET playIntroMovie \"1\"\nSET gxWindow \"1\"\n")
            << QByteArray("SET gxWindow \"1\"\nSET textLocale \"frFR\"\nSET audioLocale \"frFR\"\nSET playIntroMovie \"7\"\n");
        // Left untouched: neither the setting nor the file changes.
        const QByteArray l_Line("SET textLocale \"enUS\"\n");
        QTest::newRow("locale of a game not installed") << false << "frFR" << "" << l_Line << l_Line;
        QTest::newRow("tag breaking the line") << true << "frFR\nSET gxWindow \"0\"" << "" << l_Line << l_Line;
        QTest::newRow("empty tag") << true << "" << "" << l_Line << l_Line;
        QTest::newRow("full disk keeps the old file") << true << "OnInstall" << "full disk" << l_Line << l_Line;
        QTest::newRow("full disk, locale") << true << "frFR" << "full disk" << l_Line << l_Line;
    }

    void editsConfig()
    {
        QFETCH(bool, installed);
        QFETCH(QString, call);
        QFETCH(QString, obstacle);
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        Game l_Game(installed);
        l_Game.Host.Settings["wow_bfa.InstallFolder"] = l_Game.Folder;
        const QString l_File = l_Game.Config();
        QVERIFY(before.isNull() || WriteFile(l_File, before));
        auto l_Call = [&] { call == "OnInstall" ? l_Game.App.OnInstall() : l_Game.App.SetAppLocale(call); };
#ifdef Q_OS_UNIX
        if (obstacle == "full disk")
        {
            const pid_t l_Child = ::fork();
            if (l_Child == 0)
            {
                // Any write past 4 bytes fails with EFBIG, as on a full disk.
                const struct rlimit l_Limit{4, 4};
                ::signal(SIGXFSZ, SIG_IGN);
                ::setrlimit(RLIMIT_FSIZE, &l_Limit);
                l_Call();
                ::_exit(0);
            }
            int l_Status = -1;
            QVERIFY(l_Child > 0 && ::waitpid(l_Child, &l_Status, 0) == l_Child);
            QVERIFY2(WIFEXITED(l_Status) && WEXITSTATUS(l_Status) == 0, "the child did not end normally");
            QCOMPARE(ReadFile(l_File), after);
            QCOMPARE(QDir(QFileInfo(l_File).absolutePath()).entryList(QDir::Files | QDir::Hidden),
                     QStringList{QFileInfo(l_File).fileName()});
            return;
        }
#endif
        if (obstacle == "full disk")
            QSKIP("needs a limit on the size of the process's files (RLIMIT_FSIZE)");
        l_Call();
        QCOMPARE(ReadFile(l_File), after);
        QCOMPARE(l_Game.Host.Settings.value("wow_bfa.InstallLocale").toString(),
                 call != "OnInstall" && after != before ? call : QString());
    }
};

QTEST_MAIN(tst_launch)
#include "tst_launch.moc"
