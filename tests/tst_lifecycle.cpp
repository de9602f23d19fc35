// Install, repair, rebuild, uninstall, stop and the locale queries, as the host drives them.
#include "app/Kestrun.h"
#include "support/FakeHost.h"

#include <QTemporaryDir>
#include <QtTest>

#include <thread>

using namespace Orvane::Launcher;

namespace {

bool WriteAll(const QString& p_Path, const QByteArray& p_Data)
{
    QDir().mkpath(QFileInfo(p_Path).absolutePath());
    QFile l_File(p_Path);
    return l_File.open(QIODevice::WriteOnly | QIODevice::Truncate) && l_File.write(p_Data) == p_Data.size();
}

QByteArray ReadAll(const QString& p_Path)
{
    QFile l_File(p_Path);
    return l_File.open(QIODevice::ReadOnly) ? l_File.readAll() : QByteArray("<unreadable>");
}

ManifestFile Entry(const QString& p_Path, int32_t p_Flags = 0)
{
    ManifestFile l_File;
    l_File.Path = p_Path;
    l_File.Location = p_Path;
    l_File.Flags = p_Flags;
    return l_File;
}

const char* const g_ListFiles[] = {"ToDownloadBase.db", "ToDownload.db", "ToDownloadCASC.db"};

/// A game with a host whose callbacks answer but whose queues are not drained:
/// the actions the lifecycle posts (the manifest pass) stay queued for the test
/// to count, and never race with its assertions.
struct Game
{
    QTemporaryDir Temp;
    Kestrun App;
    FakeHost Host; // after App: detaches before the application goes
    QString Folder;

    Game()
    {
        Host.Attach(&App);
        Host.Detach(); // the callback table stays filled
        Folder = Temp.path() + "/Battle for Azeroth/";
        QDir().mkpath(Folder);
        App.m_Manifest.BuildStr = "8.3.0.34769";
        App.m_Manifest.BaseFiles = {Entry("Wow.exe", FlagClient32), Entry("Data/a.bin"), Entry("Data/sub/b.bin")};
        App.m_Manifest.StreamedFiles = {Entry("Data/c.bin")};
    }

    void MarkInstalled()
    {
        Host.Settings["wow_bfa.Installed"] = true;
        Host.Settings["wow_bfa.InstallFolder"] = Folder;
        App.GetInstallationPath();
    }

    size_t MainTasks()
    {
        QMutexLocker l_Lock(&App.m_MainTasksMutex);
        return App.m_MainTasks.size();
    }

    size_t WorkerTasks()
    {
        QMutexLocker l_Lock(&App.m_WorkerTasksMutex);
        return App.m_WorkerTasks.size();
    }

    void WriteListFiles()
    {
        for (const char* l_Name : g_ListFiles)
            WriteAll(Folder + l_Name, "Data/a.bin\n");
    }

    int ListFilesLeft() const
    {
        int l_Count = 0;
        for (const char* l_Name : g_ListFiles)
            l_Count += QFile::exists(Folder + l_Name) ? 1 : 0;
        return l_Count;
    }
};

/// Acknowledges a stop request the way the downloader thread does.
struct FakeTransfer
{
    HTTP_DownloadFileRequest Request;
    std::thread Thread;

    FakeTransfer()
    {
        Thread = std::thread([this] {
            while (!Request.StopRequested)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            Request.Stopped = true;
        });
    }
    ~FakeTransfer()
    {
        Request.StopRequested = true;
        Thread.join();
    }
};

} // namespace

class tst_lifecycle : public QObject
{
    Q_OBJECT

private slots:
    void initStates_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::newRow("not installed") << false;
        QTest::newRow("installed") << true;
    }

    void initStates()
    {
        QFETCH(bool, installed);
        Game l_Game;
        if (installed)
            l_Game.MarkInstalled();
        l_Game.Host.Settings["wow_bfa.IsCASCEnabled"] = true;
        l_Game.App.m_Status.ApplicationState = 2;
        l_Game.App.Init();
        QCOMPARE(l_Game.App.m_Status.ApplicationState, 0);
        QVERIFY(l_Game.App.m_StateChanged);
        QCOMPARE(l_Game.MainTasks(), size_t(1)); // the remote information request
        QCOMPARE(l_Game.Host.Settings.value("wow_bfa.IsCASCEnabled").toBool(), !installed);
    }

    void installNewFolder()
    {
        Game l_Game;
        l_Game.WriteListFiles();
        QVERIFY(WriteAll(l_Game.Folder + "Screenshots/shot.jpg", "keep"));
        l_Game.App.m_DownloadList.push_back(Entry("Data/stale.bin"));
        l_Game.App.m_FullScan = true;

        l_Game.App.Install(l_Game.Folder, true);

        QCOMPARE(l_Game.Host.Settings.value("wow_bfa.Installed"), QVariant(true));
        QCOMPARE(l_Game.Host.Settings.value("wow_bfa.InstallFolder"), QVariant(l_Game.Folder));
        QCOMPARE(l_Game.Host.Settings.value("wow_bfa.ManifestBuilt"), QVariant(true));
        QCOMPARE(l_Game.ListFilesLeft(), 0);
        QVERIFY(QFile::exists(l_Game.Folder + "Screenshots/shot.jpg"));
        QVERIFY(!l_Game.App.m_FullScan);
        QVERIFY(l_Game.App.m_DownloadList.empty());

        const ApplicationStatus& l_Status = l_Game.App.m_Status;
        QCOMPARE(l_Status.ApplicationState, 2);
        QCOMPARE(l_Status.DownloadStatus, 5);
        QVERIFY(l_Status.Busy);
        QCOMPARE(l_Status.Total, qint64(3));
        QCOMPARE(l_Status.Done, qint64(0));
        QCOMPARE(l_Status.Percent, 0);
        QCOMPARE(l_Status.Detail, QString("8.3.0.34769"));
        QVERIFY(l_Status.DetailVisible);
        QVERIFY(l_Game.App.m_StateChanged);
        QCOMPARE(l_Game.WorkerTasks(), size_t(1)); // the manifest pass

        // OnInstall, then the stored (here the launcher's) locale.
        QCOMPARE(ReadAll(l_Game.Folder + "WTF/Config.wtf"),
                 QByteArray("SET gxWindow \"1\"\nSET gxMaximize \"0\"\nSET textLocale \"enUS\"\n"
                            "SET audioLocale \"enUS\"\nSET playIntroMovie \"7\"\n"));
        QCOMPARE(l_Game.Host.Settings.value("wow_bfa.InstallLocale"), QVariant("enUS"));
    }

    void installExistingFolder()
    {
        Game l_Game;
        l_Game.WriteListFiles();
        l_Game.App.Install(l_Game.Folder, false);
        QCOMPARE(l_Game.ListFilesLeft(), 3);
        QVERIFY(l_Game.App.m_FullScan);
        QCOMPARE(l_Game.App.m_Status.ApplicationState, 2);
        QCOMPARE(l_Game.App.m_Status.DownloadStatus, 5);
    }

    void installLauncherFolder_data()
    {
        QTest::addColumn<bool>("trailingSlash");
        QTest::newRow("folder ending with /") << true;
        QTest::newRow("folder without /") << false;
    }

    void installLauncherFolder()
    {
        QFETCH(bool, trailingSlash);
        Game l_Game;
        QString l_Previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(l_Game.Temp.path()));
        QString l_Launcher = QDir::currentPath() + (trailingSlash ? "/" : "");

        l_Game.App.Install(l_Launcher, false);
        QDir::setCurrent(l_Previous);

        QString l_Expected = QDir(l_Game.Temp.path()).absolutePath() + "/Battle for Azeroth/";
        QCOMPARE(l_Game.Host.Settings.value("wow_bfa.InstallFolder").toString(), l_Expected);
        QCOMPARE(l_Game.App.m_InstallationPath, l_Expected);
        QVERIFY(l_Game.App.m_FullScan);
        QCOMPARE(l_Game.App.m_Status.ApplicationState, 2);
    }

    void repairNotInstalled()
    {
        Game l_Game;
        l_Game.Host.Settings["other.Installed"] = true;
        auto l_Settings = l_Game.Host.Settings;
        l_Game.App.m_Status.ApplicationState = 1;
        l_Game.App.Repair();
        QCOMPARE(l_Game.Host.Settings, l_Settings);
        QCOMPARE(l_Game.App.m_Status.ApplicationState, 1);
        QVERIFY(!l_Game.App.m_StateChanged);
        QVERIFY(!l_Game.App.m_FullScan);
        QCOMPARE(l_Game.WorkerTasks(), size_t(0));
    }

    void repairInstalled()
    {
        Game l_Game;
        l_Game.MarkInstalled();
        l_Game.Host.Settings["wow_bfa.InstallLocale"] = "frFR";
        QVERIFY(WriteAll(l_Game.Folder + "WTF/Config.wtf", "SET textLocale \"enUS\"\nSET gxWindow \"1\"\n"));
        l_Game.WriteListFiles();

        l_Game.App.Repair();

        QVERIFY(l_Game.App.m_FullScan);
        QCOMPARE(l_Game.ListFilesLeft(), 3);
        QCOMPARE(l_Game.App.m_Status.ApplicationState, 2);
        QCOMPARE(l_Game.App.m_Status.DownloadStatus, 5);
        QCOMPARE(l_Game.WorkerTasks(), size_t(1));
        // The client follows the stored locale after every refresh.
        QCOMPARE(ReadAll(l_Game.Folder + "WTF/Config.wtf"),
                 QByteArray("SET gxWindow \"1\"\nSET textLocale \"frFR\"\nSET audioLocale \"frFR\"\n"
                            "SET playIntroMovie \"7\"\n"));
    }

    void rebuildManifests()
    {
        Game l_Game;
        l_Game.MarkInstalled();
        l_Game.WriteListFiles();
        QVERIFY(WriteAll(l_Game.Folder + "Data/a.bin", "game data"));
        l_Game.App.m_FullScan = true;

        l_Game.App.RebuildManifests();

        QCOMPARE(l_Game.ListFilesLeft(), 0);
        QVERIFY(QFile::exists(l_Game.Folder + "Data/a.bin"));
        QVERIFY(!l_Game.App.m_FullScan);
        QCOMPARE(l_Game.Host.Settings.value("wow_bfa.ManifestBuilt"), QVariant(true));
        QCOMPARE(l_Game.App.m_Status.ApplicationState, 2);
        QCOMPARE(l_Game.WorkerTasks(), size_t(1));
    }

    void uninstallKeepsFiles()
    {
        Game l_Game;
        l_Game.MarkInstalled();
        QVERIFY(WriteAll(l_Game.Folder + "Wow.exe", "client"));
        QVERIFY(WriteAll(l_Game.Folder + "ToDownload.db", "Data/a.bin\n"));
        QMap<QString, QVariant>& l_Settings = l_Game.Host.Settings;
        l_Settings["wow_bfa.ManifestBuilt"] = true;
        l_Settings["WOW_BFA.InstallLocale"] = "frFR";
        l_Settings["Wow_Bfa.FirstStart"] = false;
        l_Settings["profile/wow_bfa.window"] = 3;
        const QStringList l_Others{"wow_legion.Installed", "wow_bfa", "wow_bfaX.Installed", "launcher.language",
                                   "wow_bfa_Installed"};
        for (const QString& l_Key : l_Others)
            l_Settings[l_Key] = 1;

        l_Game.App.Uninstall(false);

        QStringList l_Left = l_Settings.keys();
        QStringList l_Expected = l_Others;
        l_Expected.sort();
        l_Left.sort();
        QCOMPARE(l_Left, l_Expected);
        QVERIFY(!l_Game.App.IsInstalled());
        QCOMPARE(l_Game.App.m_Status.ApplicationState, 1);
        QVERIFY(QFile::exists(l_Game.Folder + "Wow.exe"));
        QVERIFY(QFile::exists(l_Game.Folder + "ToDownload.db"));
        QCOMPARE(l_Game.WorkerTasks(), size_t(0));
        QVERIFY(l_Game.Host.Errors.isEmpty());
    }

    void uninstallDeletesOnlyInsideFolder()
    {
        Game l_Game;
        l_Game.MarkInstalled();
        const QString l_Parent = l_Game.Temp.path() + "/";
        // Entries that would leave the install folder (the parser drops them; the guard must hold anyway).
        l_Game.App.m_Manifest.BaseFiles.push_back(Entry("../outside.txt"));
        l_Game.App.m_Manifest.BaseFiles.push_back(Entry("Data/../../outside2.txt"));
        l_Game.App.m_Manifest.BaseFiles.push_back(Entry("Data\\..\\..\\outside3.txt"));
        l_Game.App.m_Manifest.BaseFiles.push_back(Entry(l_Parent + "absolute.txt"));
        l_Game.App.m_Manifest.StreamedFiles.push_back(Entry("Interface/c.lua"));

        for (const QString& l_Path : {QString("Wow.exe"), QString("Data/a.bin"), QString("Data/sub/b.bin"),
                                      QString("Data/c.bin.part"), QString("Interface/c.lua"),
                                      QString("Interface/AddOns/mine.lua"), QString("Screenshots/shot.jpg")})
            QVERIFY(WriteAll(l_Game.Folder + l_Path, "x"));
        l_Game.WriteListFiles();
        for (const char* l_Outside : {"outside.txt", "outside2.txt", "outside3.txt", "absolute.txt"})
            QVERIFY(WriteAll(l_Parent + l_Outside, "not the game's"));
        QVERIFY(QFile::setPermissions(l_Game.Folder + "Wow.exe", QFileDevice::ReadOwner | QFileDevice::ReadUser));

        l_Game.App.Uninstall(true);

        QVERIFY2(l_Game.Host.Errors.isEmpty(), qPrintable(l_Game.Host.Errors.join('\n')));
        for (const char* l_Gone : {"Wow.exe", "Data/a.bin", "Data/sub/b.bin", "Data/c.bin.part", "Interface/c.lua"})
            QVERIFY2(!QFile::exists(l_Game.Folder + l_Gone), l_Gone);
        QCOMPARE(l_Game.ListFilesLeft(), 0);
        // Folders the deletions emptied are gone; the others stay.
        QVERIFY(!QFileInfo::exists(l_Game.Folder + "Data"));
        QVERIFY(QFile::exists(l_Game.Folder + "Interface/AddOns/mine.lua"));
        QVERIFY(QFile::exists(l_Game.Folder + "Screenshots/shot.jpg"));
        for (const char* l_Outside : {"outside.txt", "outside2.txt", "outside3.txt", "absolute.txt"})
            QCOMPARE(ReadAll(l_Parent + l_Outside), QByteArray("not the game's"));
        QCOMPARE(l_Game.App.m_Status.ApplicationState, 1);
        QVERIFY(!l_Game.App.IsInstalled());
    }

    void uninstallKeepsEmptiedInstallFolder()
    {
        Game l_Game;
        l_Game.MarkInstalled();
        for (const ManifestFile& l_File : l_Game.App.m_Manifest.BaseFiles)
            QVERIFY(WriteAll(l_Game.Folder + l_File.Path, "x"));
        QVERIFY(WriteAll(l_Game.Folder + "Data/c.bin", "x"));

        l_Game.App.Uninstall(true);

        QVERIFY(QFileInfo(l_Game.Folder).isDir());
        QVERIFY(QDir(l_Game.Folder).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
        QVERIFY(QFileInfo(l_Game.Temp.path()).isDir());
    }

    void uninstallReportsUndeletable()
    {
        Game l_Game;
        l_Game.MarkInstalled();
        l_Game.App.m_Manifest.BaseFiles.insert(l_Game.App.m_Manifest.BaseFiles.begin(), Entry("Data/locked.bin"));
        // A non-empty folder where the file should be: no user can delete it as a file.
        QVERIFY(WriteAll(l_Game.Folder + "Data/locked.bin/inner", "x"));
        QVERIFY(WriteAll(l_Game.Folder + "Wow.exe", "x"));

        l_Game.App.Uninstall(true);

        QCOMPARE(l_Game.Host.Errors.size(), 1);
        QVERIFY2(l_Game.Host.Errors[0].startsWith("File " + l_Game.Folder + "Data/locked.bin error : "),
                 qPrintable(l_Game.Host.Errors[0]));
        QVERIFY(l_Game.Host.Notices.isEmpty());
        QVERIFY(!QFile::exists(l_Game.Folder + "Wow.exe")); // the uninstall went on
        QVERIFY(!l_Game.App.IsInstalled());
        QCOMPARE(l_Game.App.m_Status.ApplicationState, 1);
    }

    void uninstallWithoutInstallFolder()
    {
        // The folder was never read: entries must not resolve against the launcher's folder.
        Game l_Game;
        l_Game.Host.Settings["wow_bfa.Installed"] = true;
        QString l_Previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(l_Game.Temp.path()));
        QVERIFY(WriteAll(l_Game.Temp.path() + "/Wow.exe", "launcher's own"));
        QVERIFY(WriteAll(l_Game.Temp.path() + "/ToDownload.db", "launcher's own"));
        l_Game.App.Uninstall(true);
        QDir::setCurrent(l_Previous);
        QVERIFY(QFile::exists(l_Game.Temp.path() + "/Wow.exe"));
        QVERIFY(QFile::exists(l_Game.Temp.path() + "/ToDownload.db"));
        QVERIFY(!l_Game.App.IsInstalled());
    }

    void uninstallStopsTransfer()
    {
        Game l_Game;
        l_Game.MarkInstalled();
        FakeTransfer l_Transfer;
        l_Game.App.m_DownloadList = {Entry("Data/a.bin")};
        l_Game.App.m_CurrentIndex = 0;
        l_Game.App.m_CurrentRequest = &l_Transfer.Request;
        l_Game.App.m_HoldsTurn = true;

        l_Game.App.Uninstall(true);

        QVERIFY(l_Transfer.Request.StopRequested);
        QVERIFY(l_Transfer.Request.Stopped);
        QCOMPARE(int(l_Game.Host.UnlockCount), 1);
        QVERIFY(l_Game.App.m_CurrentRequest == nullptr);
        QVERIFY(l_Game.App.m_DownloadList.empty());
        QCOMPARE(l_Game.App.m_Status.ApplicationState, 1);
    }

    void onManifestReceivedNotInstalled()
    {
        Game l_Game;
        l_Game.Host.Settings["wow_bfa.ManifestBuilt"] = true;
        l_Game.App.OnManifestReceived();
        QCOMPARE(l_Game.Host.Settings.value("wow_bfa.ManifestBuilt"), QVariant(false));
        QCOMPARE(l_Game.App.m_Status.ApplicationState, 1);
        QCOMPARE(l_Game.WorkerTasks(), size_t(0));
        QVERIFY(!QFileInfo::exists(l_Game.Folder + "WTF"));
    }

    void stopDownloadNothingLeft_data()
    {
        QTest::addColumn<int>("entries");
        QTest::addColumn<int>("index");
        QTest::newRow("empty list") << 0 << 0;
        QTest::newRow("index past the last entry") << 2 << 2;
    }

    void stopDownloadNothingLeft()
    {
        QFETCH(int, entries);
        QFETCH(int, index);
        Game l_Game;
        for (int l_I = 0; l_I < entries; ++l_I)
            l_Game.App.m_DownloadList.push_back(Entry("Data/a.bin"));
        l_Game.App.m_CurrentIndex = unsigned(index);
        ApplicationStatus& l_Status = l_Game.App.m_Status;
        l_Status.ApplicationState = 1;
        l_Status.Busy = true;
        l_Status.DetailVisible = true;
        l_Status.DetailValue = 7;

        l_Game.App.StopDownload();

        QCOMPARE(l_Status.ApplicationState, 2);
        QVERIFY(!l_Status.Busy);
        QVERIFY(!l_Status.DetailVisible);
        QCOMPARE(l_Status.DetailValue, 0);
        QVERIFY(l_Game.App.m_StateChanged);
        QCOMPARE(int(l_Game.Host.UnlockCount), 0);
    }

    void stopDownloadWaitsForTransfer()
    {
        Game l_Game;
        FakeTransfer l_Transfer;
        l_Game.App.m_DownloadList = {Entry("Data/a.bin"), Entry("Data/sub/b.bin")};
        l_Game.App.m_CurrentIndex = 1;
        l_Game.App.m_CurrentRequest = &l_Transfer.Request;
        l_Game.App.m_HoldsTurn = true;
        l_Game.App.m_Status.DownloadStatus = 3;

        l_Game.App.StopDownload();

        QVERIFY(l_Transfer.Request.Stopped);
        QCOMPARE(l_Game.App.m_Status.DownloadStatus, 4);
        QCOMPARE(int(l_Game.Host.UnlockCount), 1);
        QCOMPARE(l_Game.App.m_CurrentIndex, 1u); // ResumeDownload carries on from here
    }

    void appLocale_data()
    {
        QTest::addColumn<int>("launcher");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("expected");
        QTest::newRow("Spanish launcher, nothing stored") << int(Spanish) << "" << "esES";
        QTest::newRow("French launcher, nothing stored") << int(French) << "" << "frFR";
        QTest::newRow("stored locale wins") << int(Spanish) << "ptBR" << "ptBR";
    }

    void appLocale()
    {
        QFETCH(int, launcher);
        QFETCH(QString, stored);
        QFETCH(QString, expected);
        Game l_Game;
        l_Game.Host.Locale = g_LauncherLocales[launcher];
        if (!stored.isEmpty())
            l_Game.Host.Settings["wow_bfa.InstallLocale"] = stored;
        QCOMPARE(l_Game.App.GetAppLocale(), expected);
    }

    void availableLocales()
    {
        Game l_Game;
        QVERIFY(l_Game.App.GetAvailableLocales().empty());
        l_Game.App.m_Manifest.AvailableLocales["frFR"] = {"frFR", "Fran\u00e7ais"};
        l_Game.App.m_Manifest.AvailableLocales["enUS"] = {"enUS", "English"};
        l_Game.App.m_Manifest.AvailableLocales["deDE"] = {"deDE", "Deutsch"};
        auto l_Locales = l_Game.App.GetAvailableLocales();
        QCOMPARE(int(l_Locales.size()), 3);
        QCOMPARE(l_Locales[0].first, QString("deDE"));
        QCOMPARE(l_Locales[1].first, QString("enUS"));
        QCOMPARE(l_Locales[2].first, QString("frFR"));
        QCOMPARE(l_Locales[2].second, QString::fromUtf8("Fran\xc3\xa7" "ais"));
    }
};

QTEST_MAIN(tst_lifecycle)
#include "tst_lifecycle.moc"
