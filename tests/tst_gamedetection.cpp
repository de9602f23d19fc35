// Whether the game client runs from the install folder: line matching and the real process list.
#include "support/GameFixture.h"

#include <QProcess>
#include <QtTest>

using namespace Orvane::Launcher;

namespace {
const QStringList g_ClientNames{"wow.exe", "wow-64.exe", "macos/world of warcraft"};
}

class tst_gamedetection : public QObject
{
    Q_OBJECT

private slots:
    void matchLines_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("candidate"); // empty: not found
        const QString l_Folder = "c:/games/battle for azeroth/";
        const QString l_Game = "C:\\Games\\Battle for Azeroth\\";
        QTest::newRow("wmic output: header, blank lines, quotes, padding")
            << QStringList{"ExecutablePath          \r", "", "   \r", "C:\\Windows\\system32\\svchost.exe   \r",
                           "\"" + l_Game + "Wow-64.exe\"       \r", ""}
            << l_Folder << "c:/games/battle for azeroth/wow-64.exe";
        QTest::newRow("earlier launchers are not the game")
            << QStringList{l_Game + "CorvellaLauncher.exe", l_Game + "Wow.exe tools\\CorvellaLauncher.exe",
                           l_Game + "Wow-64.exe tools\\MirrowLauncher.exe"}
            << l_Folder << "";
        QTest::newRow("client after earlier launchers")
            << QStringList{l_Game + "MIRROWLAUNCHER.EXE", l_Game + "Wow.exe"} << l_Folder
            << "c:/games/battle for azeroth/wow.exe";
        QTest::newRow("client of another folder") << QStringList{"D:\\Other\\Wow.exe", l_Game + "Launcher.exe"}
                                                  << l_Folder << "";
        QTest::newRow("folder with capitals") << QStringList{"C:\\GAMES\\Battle For Azeroth\\WOW.EXE"}
                                              << "C:/Games/Battle for Azeroth/" << "c:/games/battle for azeroth/wow.exe";
        QTest::newRow("folder with backslashes") << QStringList{l_Game + "Wow.exe"} << l_Game
                                                 << "c:/games/battle for azeroth/wow.exe";
        QTest::newRow("macOS client bundle")
            << QStringList{"/Applications/BfA/World of Warcraft.app/Contents/MacOS/World of Warcraft"}
            << "/Applications/BfA/" << "/applications/bfa/world of warcraft.app/contents/macos/world of warcraft";
        QTest::newRow("blank folder") << QStringList{l_Game + "Wow.exe"} << " " << "";
    }

    void matchLines()
    {
        QFETCH(QStringList, lines);
        QFETCH(QString, folder);
        QFETCH(QString, candidate);
        QString l_Candidate = "untouched";
        QCOMPARE(StandartApplication::MatchGameProcess(lines, folder, g_ClientNames, &l_Candidate), !candidate.isEmpty());
        QCOMPARE(l_Candidate, candidate.isEmpty() ? QString("untouched") : candidate);
        QCOMPARE(StandartApplication::MatchGameProcess(lines, folder, g_ClientNames, nullptr), !candidate.isEmpty());
    }

    void runningClientIsFound()
    {
        GameFixture l_Game(true);
        QString l_Candidate = "untouched";
        QVERIFY(!StandartApplication::FindGameProcess(" \t ", g_ClientNames, &l_Candidate));
        QCOMPARE(l_Candidate, QString("untouched"));
        QVERIFY(!l_Game.App.IsGameRunning());

        // A program named like the client, started from the install folder (a copy of sleep where
        // there is one).
#ifdef KESTRUN_TEST_CLIENT_PATH
        const QString l_Program = KESTRUN_TEST_CLIENT_PATH;
        const QString l_Client = l_Game.Folder + "Wow-64.exe";
#else
        const QString l_Program = "/bin/sleep";
        const QString l_Client = l_Game.Folder + "Wow.exe";
#endif
        // The same program in another folder is not the game.
        const QString l_Elsewhere = l_Game.Temp.path() + "/Other/" + QFileInfo(l_Client).fileName();
        QVERIFY(QDir().mkpath(QFileInfo(l_Elsewhere).absolutePath()));
        for (const QString& l_Copy : {l_Client, l_Elsewhere})
        {
            QVERIFY(QFile::copy(l_Program, l_Copy));
            QVERIFY(QFile::setPermissions(l_Copy, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        }
        QProcess l_Other;
        l_Other.start(l_Elsewhere, {"30"});
        QVERIFY(l_Other.waitForStarted(10000));
        QVERIFY(!l_Game.App.IsGameRunning());
        QProcess l_Process;
        l_Process.start(l_Client, {"30"});
        QVERIFY(l_Process.waitForStarted(10000));
        QTest::ignoreMessage(QtWarningMsg, "Battle for Azeroth IsGameRunning : true");
        QTest::ignoreMessage(QtWarningMsg, qPrintable("Candidate is : " + l_Client.toLower()));
        QVERIFY(l_Game.App.IsGameRunning());
        // A running client holds the downloads: the host shows status 1 and the turn is asked again later.
        QVERIFY(!l_Game.App.TakeTurnOrRetry(true, [] {}));
        QCOMPARE(l_Game.App.m_Status.DownloadStatus, 1);

        l_Process.kill();
        QVERIFY(l_Process.waitForFinished(10000));
        QVERIFY(!l_Game.App.IsGameRunning());
        l_Other.kill();
        QVERIFY(l_Other.waitForFinished(10000));
    }
};

QTEST_MAIN(tst_gamedetection)
#include "tst_gamedetection.moc"
