// Whether the game client runs from the install folder: line matching and the real process list.
#include "app/Kestrun.h"
#include "support/FakeHost.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace Orvane::Launcher;

namespace {
const QStringList g_ClientNames{"wow.exe", "wow-64.exe", "macos/world of warcraft"};
}

class tst_gamedetection : public QObject
{
    Q_OBJECT

    /// Starts a copy of sleep named p_Name in p_Folder (a stand-in for the client).
    bool StartFake(QProcess& p_Process, const QString& p_Folder, const QString& p_Name)
    {
        QDir().mkpath(p_Folder);
        QString l_Path = p_Folder + "/" + p_Name;
        if (!QFile::copy("/bin/sleep", l_Path))
            return false;
        QFile::setPermissions(l_Path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        p_Process.start(l_Path, {"30"});
        return p_Process.waitForStarted(10000);
    }

    void Stop(QProcess& p_Process)
    {
        p_Process.kill();
        p_Process.waitForFinished(10000);
    }

private slots:
    void matchLines_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QString>("candidate");

        const QString l_Folder = "c:/games/battle for azeroth/";
        QTest::newRow("windows path of the 64-bit client")
            << QStringList{"C:\\Games\\Battle for Azeroth\\Wow-64.exe"} << l_Folder << true
            << "c:/games/battle for azeroth/wow-64.exe";
        QTest::newRow("wmic output: header, blank lines, quotes, padding")
            << QStringList{"ExecutablePath                                   \r",
                           "",
                           "   \r",
                           "C:\\Windows\\system32\\svchost.exe                \r",
                           "\"C:\\Games\\Battle for Azeroth\\Wow.exe\"       \r",
                           ""}
            << l_Folder << true << "c:/games/battle for azeroth/wow.exe";
        QTest::newRow("earlier launcher in the game folder is not the game")
            << QStringList{"C:\\Games\\Battle for Azeroth\\CorvellaLauncher.exe"} << l_Folder << false << "";
        QTest::newRow("earlier launcher in a folder whose name holds a client name")
            << QStringList{"C:\\Games\\Battle for Azeroth\\Wow.exe tools\\CorvellaLauncher.exe",
                           "C:\\Games\\Battle for Azeroth\\Wow-64.exe tools\\MirrowLauncher.exe"}
            << l_Folder << false << "";
        QTest::newRow("both earlier launchers skipped, the client after them found")
            << QStringList{"C:\\Games\\Battle for Azeroth\\MIRROWLAUNCHER.EXE",
                           "C:\\Games\\Battle for Azeroth\\corvellalauncher.exe",
                           "C:\\Games\\Battle for Azeroth\\Wow.exe"}
            << l_Folder << true << "c:/games/battle for azeroth/wow.exe";
        QTest::newRow("client running from another folder")
            << QStringList{"D:\\Other\\Wow.exe", "C:\\Games\\Battle for Azeroth\\Launcher.exe"} << l_Folder << false
            << "";
        QTest::newRow("folder compared without regard to case")
            << QStringList{"C:\\GAMES\\Battle For Azeroth\\WOW.EXE"} << "C:/Games/Battle for Azeroth/" << true
            << "c:/games/battle for azeroth/wow.exe";
        QTest::newRow("folder stored with backslashes")
            << QStringList{"C:\\Games\\Battle for Azeroth\\Wow.exe"} << "C:\\Games\\Battle for Azeroth\\" << true
            << "c:/games/battle for azeroth/wow.exe";
        QTest::newRow("macOS client bundle")
            << QStringList{"/Applications/Battle for Azeroth/World of Warcraft.app/Contents/MacOS/World of Warcraft"}
            << "/Applications/Battle for Azeroth/" << true
            << "/applications/battle for azeroth/world of warcraft.app/contents/macos/world of warcraft";
        QTest::newRow("linux path") << QStringList{"/home/u/games/bfa/Wow.exe"} << "/home/u/games/bfa/" << true
                                    << "/home/u/games/bfa/wow.exe";
        QTest::newRow("lines too short to hold a path") << QStringList{"a", "ab\\", "\"\"\"", "  x  "} << "a" << false << "";
        QTest::newRow("no output") << QStringList{} << l_Folder << false << "";
        QTest::newRow("blank folder never matches")
            << QStringList{"C:\\Games\\Battle for Azeroth\\Wow.exe"} << "   " << false << "";
    }

    void matchLines()
    {
        QFETCH(QStringList, lines);
        QFETCH(QString, folder);
        QFETCH(bool, found);
        QFETCH(QString, candidate);

        QString l_Candidate = "untouched";
        QCOMPARE(StandartApplication::MatchGameProcess(lines, folder, g_ClientNames, &l_Candidate), found);
        QCOMPARE(l_Candidate, found ? candidate : QString("untouched"));
        // The candidate is optional.
        QCOMPARE(StandartApplication::MatchGameProcess(lines, folder, g_ClientNames, nullptr), found);
    }

    void blankFolderAnswersFalse()
    {
        QString l_Candidate = "untouched";
        QVERIFY(!StandartApplication::FindGameProcess("", g_ClientNames, &l_Candidate));
        QVERIFY(!StandartApplication::FindGameProcess(" \t ", g_ClientNames, &l_Candidate));
        QCOMPARE(l_Candidate, QString("untouched"));
    }

    void runningClientIsFound()
    {
        QTemporaryDir l_Temp;
        QVERIFY(l_Temp.isValid());
        QString l_Folder = l_Temp.path() + "/Battle for Azeroth/";

        FakeHost l_Host;
        Kestrun l_App;
        l_Host.Attach(&l_App);
        l_Host.Settings["wow_bfa.Installed"] = true;
        l_Host.Settings["wow_bfa.InstallFolder"] = l_Folder;
        l_App.GetInstallationPath();

        QVERIFY(!l_App.IsGameRunning());

        QProcess l_Client;
        QVERIFY(StartFake(l_Client, l_Folder, "Wow.exe"));
        QTest::ignoreMessage(QtWarningMsg, "Battle for Azeroth IsGameRunning : true");
        QTest::ignoreMessage(QtWarningMsg, qPrintable("Candidate is : " + (l_Folder + "Wow.exe").toLower()));
        QVERIFY(l_App.IsGameRunning());
        QString l_Candidate;
        QVERIFY(StandartApplication::FindGameProcess(l_Folder, g_ClientNames, &l_Candidate));
        QCOMPARE(l_Candidate, (l_Folder + "Wow.exe").toLower());

        Stop(l_Client);
        QTRY_VERIFY_WITH_TIMEOUT(!l_App.IsGameRunning(), 10000);
        l_Host.Detach();
    }

    void otherProcessesAreNotTheGame()
    {
        QTemporaryDir l_Temp;
        QVERIFY(l_Temp.isValid());
        QString l_Folder = l_Temp.path() + "/game/";

        // An earlier launcher inside the game folder, and a client of another installation.
        QProcess l_OldLauncher;
        QVERIFY(StartFake(l_OldLauncher, l_Folder + "Wow.exe tools", "CorvellaLauncher.exe"));
        QProcess l_OtherClient;
        QVERIFY(StartFake(l_OtherClient, l_Temp.path() + "/elsewhere", "Wow.exe"));

        QVERIFY(!StandartApplication::FindGameProcess(l_Folder, g_ClientNames, nullptr));
        QVERIFY(StandartApplication::FindGameProcess(l_Temp.path() + "/elsewhere/", g_ClientNames, nullptr));

        Stop(l_OldLauncher);
        Stop(l_OtherClient);
    }
};

QTEST_MAIN(tst_gamedetection)
#include "tst_gamedetection.moc"
