// Install, repair, rebuild, uninstall, stop and the locale queries, as the host drives them.
#include "support/GameFixture.h"

#include <QtTest>

#include <algorithm>
#include <thread>

using namespace Orvane::Launcher;

namespace {

const char* const g_ListFiles[] = {"ToDownloadBase.db", "ToDownload.db", "ToDownloadCASC.db"};
const QByteArray g_LocaleLines("SET textLocale \"enUS\"\nSET audioLocale \"enUS\"\nSET playIntroMovie \"7\"\n");

struct Game : GameFixture
{
    explicit Game(bool p_Installed = false) : GameFixture(p_Installed)
    {
        Manifest l_Build;
        l_Build.BuildStr = "8.3.0.34769";
        App.UseBuild(l_Build);
        Add(FlagClient32, "Wow.exe");
        Add(0, "Data/a.bin");
        Add(0, "Data/sub/b.bin");
        Add(0, "Data/c.bin", true);
        for (const char* l_Name : g_ListFiles)
            WriteFile(Folder + l_Name, "Data/a.bin\n");
    }

    int ListFilesLeft() const
    {
        return int(std::count_if(std::begin(g_ListFiles), std::end(g_ListFiles),
                                 [this](const char* p_Name) { return QFile::exists(Folder + p_Name); }));
    }
};

} // namespace

class tst_lifecycle : public QObject
{
    Q_OBJECT

private slots:
    // Every operation that ends in a manifest pass over an installed game.
    void refresh_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("listFilesLeft");
        QTest::addColumn<bool>("fullScan");
        QTest::addColumn<QByteArray>("config"); // empty: only the locale lines are checked
        const QByteArray l_Installed = "SET gxWindow \"1\"\nSET gxMaximize \"0\"\n" + g_LocaleLines;
        // A full scan rewrites the two download lists: until it ends none is left to be trusted.
        QTest::newRow("install, new folder") << "new" << 0 << false << l_Installed;
        // Every path is the folder followed by a relative one: stored with its "/", nothing lands beside it.
        QTest::newRow("install, new folder given without /") << "bare" << 0 << false << l_Installed;
        QTest::newRow("install, existing folder") << "existing" << 1 << true << l_Installed;
        QTest::newRow("install, launcher's folder without /") << "launcher" << 1 << true << QByteArray();
        QTest::newRow("repair") << "repair" << 1 << true << g_LocaleLines;
        QTest::newRow("rebuild") << "rebuild" << 0 << false << g_LocaleLines;
    }

    void refresh()
    {
        QFETCH(QString, action);
        QFETCH(int, listFilesLeft);
        QFETCH(bool, fullScan);
        QFETCH(QByteArray, config);
        Game l_Game(action == "repair" || action == "rebuild");
        QVERIFY(WriteFile(l_Game.Folder + "Screenshots/shot.jpg", "keep"));
        l_Game.App.SetQueueForTest({ManifestFile()}, 0, nullptr);
        l_Game.App.SetFullScan(!fullScan);
        const QString l_Previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(l_Game.Temp.path())); // the launcher's folder
        const QString l_Expected = action == "launcher" ? QDir::currentPath() + "/Battle for Azeroth/" : l_Game.Folder;
        if (action == "repair")
            l_Game.App.Repair();
        else if (action == "rebuild")
            l_Game.App.RebuildManifests();
        else
            l_Game.App.Install(action == "launcher" ? QDir::currentPath()
                               : action == "bare" ? l_Game.Folder.left(l_Game.Folder.size() - 1)
                                                  : l_Game.Folder,
                               action == "new" || action == "bare");
        QDir::setCurrent(l_Previous);

        QCOMPARE(l_Game.Host.Settings.value("wow_bfa.InstallFolder").toString(), l_Expected);
        QCOMPARE(l_Game.App.m_InstallationPath, l_Expected);
        if (action != "repair")
            QCOMPARE(l_Game.Host.Settings.value("wow_bfa.ManifestBuilt"), QVariant(true));
        QCOMPARE(l_Game.App.FullScan(), fullScan);
        QCOMPARE(l_Game.ListFilesLeft(), listFilesLeft);
        QVERIFY(QFile::exists(l_Game.Folder + "Screenshots/shot.jpg") && l_Game.App.Queue().Empty());
        const ApplicationStatus& l_Status = l_Game.App.m_Status;
        QVERIFY(l_Status.ApplicationState == 2 && l_Status.DownloadStatus == 5 && l_Status.Busy);
        QCOMPARE(l_Game.WorkerTasks(), size_t(1)); // the manifest pass
        // The client follows the stored (here the launcher's) locale after every refresh.
        const QByteArray l_Config = ReadFile(l_Expected + "WTF/Config.wtf");
        QVERIFY2(config.isEmpty() ? l_Config.endsWith(g_LocaleLines) : l_Config == config, l_Config.constData());
    }

    void notInstalled()
    {
        // Repair of a game not installed does nothing.
        Game l_Game;
        l_Game.Host.Settings["other.Installed"] = true;
        const auto l_Settings = l_Game.Host.Settings;
        l_Game.App.m_Status.ApplicationState = 1;
        l_Game.App.Repair();
        QCOMPARE(l_Game.Host.Settings, l_Settings);
        QVERIFY(l_Game.App.m_Status.ApplicationState == 1 && !l_Game.App.m_StateChanged && !l_Game.App.FullScan());
        QCOMPARE(l_Game.WorkerTasks(), size_t(0));

        // Installed, the folder never read: entries must not resolve against the launcher's folder.
        l_Game.Host.Settings["wow_bfa.Installed"] = true;
        const QString l_Previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(l_Game.Temp.path()));
        QVERIFY(WriteFile("Wow.exe", "launcher's own") && WriteFile("ToDownload.db", "launcher's own"));
        l_Game.App.Uninstall(true);
        const bool l_Kept = QFile::exists("Wow.exe") && QFile::exists("ToDownload.db");
        QDir::setCurrent(l_Previous);
        QVERIFY(l_Kept && !l_Game.App.IsInstalled());
    }

    void uninstall_data()
    {
        QTest::addColumn<bool>("deleteFiles");
        QTest::addColumn<bool>("extras"); // entries leaving the folder, a folder of the user's, the list files
        QTest::newRow("keeping files") << false << true;
        QTest::newRow("deleting files") << true << true;
        QTest::newRow("deleting files, only the game's") << true << false;
    }

    void uninstall()
    {
        QFETCH(bool, deleteFiles);
        QFETCH(bool, extras);
        Game l_Game(true);
        const QString l_Parent = l_Game.Temp.path() + "/";
        const QStringList l_Outside{"outside.txt", "outside2.txt", "outside3.txt", "absolute.txt"};
        for (const char* l_Path : {"Wow.exe", "Data/a.bin", "Data/sub/b.bin", "Data/c.bin.part"})
            QVERIFY(WriteFile(l_Game.Folder + l_Path, "x"));
        if (extras)
        {
            // Entries that leave the folder: the manifest parser drops them, the uninstall must hold anyway.
            for (const QString& l_Path : {QString("../outside.txt"), QString("Data/../../outside2.txt"),
                                          QString("Data\\..\\..\\outside3.txt"), l_Parent + "absolute.txt"})
                l_Game.Add(0, l_Path);
            for (const QString& l_Name : l_Outside)
                QVERIFY(WriteFile(l_Parent + l_Name, "not the game's"));
            // An entry naming a folder of the user's: it cannot go, and is reported.
            l_Game.Add(0, "Data/AddOns");
            QVERIFY(WriteFile(l_Game.Folder + "Data/AddOns/mine.lua", "mine"));
        }
        else // the last deletion empties the install folder, whose parent holds nothing else
            for (const char* l_Name : g_ListFiles)
                QFile::remove(l_Game.Folder + l_Name);
        l_Game.Host.Settings["WOW_BFA.InstallLocale"] = "frFR";
        l_Game.Host.Settings["profile/Wow_Bfa.FirstStart"] = false;
        const QStringList l_Others{"wow_bfa", "wow_bfaX.Installed", "wow_bfa_Installed", "wow_legion.Installed"};
        for (const QString& l_Key : l_Others)
            l_Game.Host.Settings[l_Key] = 1;

        // A transfer in flight, acknowledging a stop a little later, as the downloader thread does at its next event.
        HTTP_DownloadFileRequest l_Request;
        l_Game.App.SetQueueForTest(std::vector<ManifestFile>(2), 1, &l_Request); // the turn held too
        std::thread l_Transfer([&l_Request] {
            while (!l_Request.StopRequested)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            l_Request.Stopped = true;
        });
        l_Game.App.Uninstall(deleteFiles);
        const bool l_Acknowledged = l_Request.Stopped; // the uninstall waited for it
        l_Request.StopRequested = true;
        l_Transfer.join();
        QVERIFY(l_Acknowledged && l_Game.Host.UnlockCount == 1);
        QVERIFY(!l_Game.App.Queue().Transferring() && l_Game.App.Queue().Empty());
        QCOMPARE(l_Game.Host.Settings.keys(), l_Others);
        QVERIFY(l_Game.App.m_Status.ApplicationState == 1 && l_Game.WorkerTasks() == 0);
        for (const QString& l_Name : extras ? l_Outside : QStringList())
            QCOMPARE(ReadFile(l_Parent + l_Name), QByteArray("not the game's"));
        QCOMPARE(l_Game.Host.Errors.size(), deleteFiles && extras ? 1 : 0);
        QVERIFY(l_Game.Host.Errors.isEmpty()
                || l_Game.Host.Errors[0].startsWith("File " + l_Game.Folder + "Data/AddOns error : "));
        // The uninstall goes on after a failure: later entries and the list files go too.
        QCOMPARE(QFile::exists(l_Game.Folder + "Data/c.bin.part"), !deleteFiles);
        QCOMPARE(l_Game.ListFilesLeft(), deleteFiles ? 0 : 3);
        if (!deleteFiles)
            return;
        // Folders the deletions emptied go; the install folder stays, emptied or not.
        QVERIFY(!QFileInfo::exists(l_Game.Folder + "Data/sub") && QFileInfo(l_Game.Folder).isDir());
        QCOMPARE(QDir(l_Game.Folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 extras ? QStringList{"Data"} : QStringList());
    }

    void stopWithNothingLeft()
    {
        Game l_Game;
        l_Game.App.SetQueueForTest(std::vector<ManifestFile>(2), 2, nullptr);
        ApplicationStatus& l_Status = l_Game.App.m_Status;
        l_Status.ApplicationState = 1;
        l_Status.Busy = l_Status.DetailVisible = true;
        l_Game.App.StopDownload();
        QVERIFY(l_Status.ApplicationState == 2 && !l_Status.Busy && !l_Status.DetailVisible);
        QCOMPARE(int(l_Game.Host.UnlockCount), 0);
    }
};

QTEST_MAIN(tst_lifecycle)
#include "tst_lifecycle.moc"
