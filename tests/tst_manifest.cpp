// The download manifest, the list files and the building of the download lists.
#include "support/FakeHost.h"
#include "support/TestApplication.h"
#include "support/TestBuild.h"
#include "support/WarningLog.h"
#include "launcher/DownloadListFile.h"
#include "launcher/FileHasher.h"
#include "launcher/Manifest.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

using namespace Orvane::Launcher;

namespace {
void WriteFile(const QString& p_Path, const QByteArray& p_Bytes)
{
    QDir().mkpath(QFileInfo(p_Path).absolutePath());
    QFile l_File(p_Path);
    QVERIFY(l_File.open(QIODevice::WriteOnly));
    l_File.write(p_Bytes);
}

QByteArray ReadFile(const QString& p_Path)
{
    QFile l_File(p_Path);
    return l_File.open(QIODevice::ReadOnly) ? l_File.readAll() : QByteArray();
}

QStringList Paths(const std::vector<ManifestFile>& p_List)
{
    QStringList l_Paths;
    for (const ManifestFile& l_File : p_List)
        l_Paths.append(l_File.Path);
    return l_Paths;
}
} // namespace

class tst_manifest : public QObject
{
    Q_OBJECT

    /// An application with host callbacks whose queues nobody drains, so a
    /// list pass can be run and inspected on the test thread.
    struct Pass
    {
        TestApplication App;
        FakeHost Host;
        Pass(const QString& p_Folder, const TestBuild& p_Build, const QString& p_Locale)
        {
            Host.Attach(&App);
            Host.Detach();
            Host.Settings["wow_bfa.Installed"] = true;
            Host.Settings["wow_bfa.InstallFolder"] = p_Folder;
            Host.Settings["wow_bfa.InstallLocale"] = p_Locale;
            bool l_Ok = false;
            App.m_Manifest = ParseManifest(p_Build.ManifestJson(), &l_Ok);
            App.GetInstallationPath();
        }
    };

private slots:
    void parseManifest()
    {
        TestBuild l_Build;
        l_Build.Locales.append(qMakePair(QString("frFR"), QString("French again")));
        l_Build.Add("Wow.exe", "exe", 0x08 | 0x40);
        l_Build.Add("Data/frFR/a.MPQ", "fr", 0, "frFR");
        l_Build.Add("Data/deDE/a.MPQ", "de", 0, "deDE"); // tag not offered
        l_Build.Add("Data/s.MPQ", "s", 0x80, QString(), true);
        bool l_Ok = false;
        Manifest l_Manifest = ParseManifest(l_Build.ManifestJson(), &l_Ok);
        QVERIFY(l_Ok);
        QCOMPARE(l_Manifest.BuildId, QString("b1"));
        QCOMPARE(l_Manifest.BuildStr, QString("8.3.7 b1"));
        QCOMPARE(int(l_Manifest.BuildNumber), 30993);
        QCOMPARE(int(l_Manifest.AvailableLocales.size()), 2);
        QCOMPARE(l_Manifest.AvailableLocales.begin()->first, QString("enUS"));
        QCOMPARE(l_Manifest.AvailableLocales["frFR"].second, QString("French again"));
        QCOMPARE(Paths(l_Manifest.BaseFiles), QStringList({"Wow.exe", "Data/frFR/a.MPQ"}));
        QCOMPARE(Paths(l_Manifest.StreamedFiles), QStringList({"Data/s.MPQ"}));
        QCOMPARE(l_Manifest.BaseFiles[0].Flags, 0x48);
        QCOMPARE(l_Manifest.BaseFiles[0].Md5, TestBuild::Md5Of("exe"));
        QCOMPARE(l_Manifest.BaseFiles[1].Locale, QString("frFR"));
        QCOMPARE(l_Manifest.StreamedFiles[0].Location, QString("files/Data/s.MPQ"));
    }

    void rejectsWhatIsNotAManifest_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("not json") << QByteArray("<html>502 Bad Gateway</html>");
        QTest::newRow("array") << QByteArray("[{\"build_id\":\"x\"}]");
        QTest::newRow("truncated") << QByteArray("{\"build_id\":\"x\",\"content\":{");
    }
    void rejectsWhatIsNotAManifest()
    {
        QFETCH(QByteArray, data);
        bool l_Ok = true;
        Manifest l_Manifest = ParseManifest(data, &l_Ok);
        QVERIFY(!l_Ok);
        QVERIFY(l_Manifest.BaseFiles.empty() && l_Manifest.AvailableLocales.empty());
    }

    void dropsPathsLeavingTheFolder_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("kept");
        QTest::newRow("plain") << "Data/a.MPQ" << true;
        QTest::newRow("dots in a name") << "Data/..a..MPQ" << true;
        QTest::newRow("parent") << "../outside.exe" << false;
        QTest::newRow("deep parent") << "Data/../../outside.exe" << false;
        QTest::newRow("backslash parent") << "Data\\..\\..\\outside.exe" << false;
        QTest::newRow("absolute") << "/etc/passwd" << false;
        QTest::newRow("absolute backslash") << "\\Windows\\x.dll" << false;
        QTest::newRow("drive") << "C:\\Windows\\x.dll" << false;
        QTest::newRow("drive relative") << "C:x.dll" << false;
        QTest::newRow("empty") << "" << false;
    }
    void dropsPathsLeavingTheFolder()
    {
        QFETCH(QString, path);
        QFETCH(bool, kept);
        TestBuild l_Build;
        l_Build.Add(path, "x");
        l_Build.Add(path, "y", 0, QString(), true);
        WarningLog l_Log;
        bool l_Ok = false;
        Manifest l_Manifest = ParseManifest(l_Build.ManifestJson(), &l_Ok);
        QVERIFY(l_Ok);
        QCOMPARE(int(l_Manifest.BaseFiles.size()), kept ? 1 : 0);
        QCOMPARE(int(l_Manifest.StreamedFiles.size()), kept ? 1 : 0);
        QCOMPARE(l_Log.Starting("ParseManifest").size(), kept ? 0 : 2);
    }

    void listFileFormat()
    {
        QTemporaryDir l_Dir;
        const QString l_Path = l_Dir.path() + "/ToDownload.db";
        DownloadListFile l_List(l_Path);
        QVERIFY(!l_List.Exists());
        QVERIFY(l_List.Read().isEmpty());
        QVERIFY(l_List.Write({"Data/a.MPQ", QString::fromUtf8("Data/été.MPQ"), "Data/b.MPQ"}));
        QVERIFY(l_List.Exists());
        QCOMPARE(ReadFile(l_Path), QString::fromUtf8("Data/a.MPQ\nData/été.MPQ\nData/b.MPQ\n").toUtf8());
        QVERIFY(l_List.Update("Data/a.MPQ", "Data/c.MPQ"));
        QCOMPARE(ReadFile(l_Path), QString::fromUtf8("Data/été.MPQ\nData/b.MPQ\nData/c.MPQ\n").toUtf8());
        QVERIFY(l_List.Write({}));
        QVERIFY(l_List.Exists());
        QCOMPARE(ReadFile(l_Path), QByteArray());
        // No temporary file is left beside the list.
        QCOMPARE(QDir(l_Dir.path()).entryList(QDir::Files), QStringList({"ToDownload.db"}));
    }

    void listFileLineEnds_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("LF") << QByteArray("a/x.MPQ\nb.MPQ\n");
        QTest::newRow("CR LF") << QByteArray("a/x.MPQ\r\nb.MPQ\r\n");
        QTest::newRow("no final end") << QByteArray("a/x.MPQ\r\nb.MPQ");
        QTest::newRow("blank lines") << QByteArray("\na/x.MPQ\n\n\r\nb.MPQ\n");
    }
    void listFileLineEnds()
    {
        QFETCH(QByteArray, bytes);
        QTemporaryDir l_Dir;
        WriteFile(l_Dir.path() + "/l.db", bytes);
        QCOMPARE(DownloadListFile(l_Dir.path() + "/l.db").Read(), QStringList({"a/x.MPQ", "b.MPQ"}));
    }

    void hashesInBlocks_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("empty") << 0;
        QTest::newRow("one block") << 8192;
        QTest::newRow("blocks and a tail") << 3 * 8192 + 17;
    }
    void hashesInBlocks()
    {
        QFETCH(int, size);
        QTemporaryDir l_Dir;
        QByteArray l_Bytes(size, '\0');
        for (int l_I = 0; l_I < size; ++l_I)
            l_Bytes[l_I] = char(l_I * 7 + l_I / 300);
        WriteFile(l_Dir.path() + "/f", l_Bytes);
        int l_Asked = 0;
        FileHasher::Result l_Result;
        QString l_Md5 = FileHasher::Md5(l_Dir.path() + "/f", [&] { return ++l_Asked > 0; }, &l_Result);
        QCOMPARE(int(l_Result), int(FileHasher::Done));
        QCOMPARE(l_Md5, TestBuild::Md5Of(l_Bytes));
        QCOMPARE(l_Asked, size / 8192 + (size % 8192 ? 1 : 0) + 1);
    }

    void hashStopsWhenTheLauncherCloses()
    {
        QTemporaryDir l_Dir;
        WriteFile(l_Dir.path() + "/f", QByteArray(10 * 8192, 'x'));
        int l_Asked = 0;
        FileHasher::Result l_Result;
        QString l_Md5 = FileHasher::Md5(l_Dir.path() + "/f", [&] { return ++l_Asked < 3; }, &l_Result);
        QCOMPARE(int(l_Result), int(FileHasher::Interrupted));
        QVERIFY(l_Md5.isEmpty());
        QCOMPARE(l_Asked, 3);
        FileHasher::Md5(l_Dir.path() + "/missing", {}, &l_Result);
        QCOMPARE(int(l_Result), int(FileHasher::OpenFailed));
        FileHasher::Md5(l_Dir.path(), {}, &l_Result);
        QCOMPARE(int(l_Result), int(FileHasher::OpenFailed));
    }

    /// A fresh folder (no list files) is checked against the disk whatever the
    /// full-scan flag says, and both lists are written.
    void freshFolderFetchesEverything()
    {
        QTemporaryDir l_Dir;
        const QString l_Folder = l_Dir.path() + "/game/";
        TestBuild l_Build;
        l_Build.Add("Wow.exe", "exe", 0x08);
        l_Build.Add("Data/tracked.MPQ", "t", 0x20);
        l_Build.Add("Data/present.MPQ", "p");
        l_Build.Add("Data/enUS/e.MPQ", "e", 0x20, "enUS");
        l_Build.Add("Data/frFR/f.MPQ", "f", 0x20, "frFR");
        l_Build.Add("Data/s1.MPQ", "s1", 0, QString(), true);
        l_Build.Add("Data/s2.MPQ", "s2", 0, QString(), true);
        l_Build.Add("Data/frFR/s.MPQ", "sf", 0, "frFR", true);
        WriteFile(l_Folder + "Data/present.MPQ", "p");
        WriteFile(l_Folder + "Data/s2.MPQ", "s2");

        Pass l_Pass(l_Folder, l_Build, "frFR");
        QVERIFY(!l_Pass.App.m_FullScan);
        l_Pass.App.BuildBaseList();
        QCOMPARE(Paths(l_Pass.App.m_DownloadList), QStringList({"Wow.exe", "Data/tracked.MPQ", "Data/frFR/f.MPQ"}));
        QCOMPARE(ReadFile(l_Folder + "ToDownloadBase.db"), QByteArray("Data/tracked.MPQ\nData/frFR/f.MPQ\n"));
        QCOMPARE(l_Pass.App.m_Status.Message, QString("Requesting files size..."));
        QCOMPARE(l_Pass.Host.LockCount.load(), 1);

        l_Pass.App.m_DownloadList.clear();
        l_Pass.App.BuildStreamedList(false);
        QCOMPARE(Paths(l_Pass.App.m_DownloadList), QStringList({"Data/s1.MPQ", "Data/frFR/s.MPQ"}));
        QCOMPARE(ReadFile(l_Folder + "ToDownload.db"), QByteArray("Data/s1.MPQ\nData/frFR/s.MPQ\n"));
    }

    /// Existing lists are trusted: tracked and streamed files are fetched only when named.
    void existingListsAreTrusted()
    {
        QTemporaryDir l_Dir;
        const QString l_Folder = l_Dir.path() + "/";
        TestBuild l_Build;
        l_Build.Add("Data/plain.MPQ", "plain");
        l_Build.Add("Data/t1.MPQ", "t1", 0x20);
        l_Build.Add("Data/t2.MPQ", "t2", 0x20);
        l_Build.Add("Data/presence.MPQ", "presence", 0x20 | 0x80);
        l_Build.Add("Data/presence2.MPQ", "presence2", 0x20 | 0x80);
        l_Build.Add("Data/enUS/t.MPQ", "enUS", 0x20, "enUS");
        l_Build.Add("Data/s1.MPQ", "s1", 0, QString(), true);
        l_Build.Add("Data/s2.MPQ", "s2", 0, QString(), true);
        WriteFile(l_Folder + "Data/plain.MPQ", "damaged");
        WriteFile(l_Folder + "Data/presence.MPQ", "other bytes: presence suffices");
        WriteFile(l_Folder + "ToDownloadBase.db",
                  "Data/t2.MPQ\r\nData/presence.MPQ\r\nData/presence2.MPQ\r\nData/enUS/t.MPQ\r\n"
                  "Data/t2.MPQ\r\nnot/in/manifest\r\n");
        WriteFile(l_Folder + "ToDownload.db", "Data/s2.MPQ\r\nData/s2.MPQ\r\n");

        Pass l_Pass(l_Folder, l_Build, "frFR");
        l_Pass.App.BuildBaseList();
        // t1 is missing but not listed; the language filter applies to listed lines too.
        QCOMPARE(Paths(l_Pass.App.m_DownloadList),
                 QStringList({"Data/plain.MPQ", "Data/t2.MPQ", "Data/presence2.MPQ"}));
        l_Pass.App.m_DownloadList.clear();
        l_Pass.App.BuildStreamedList(false);
        QCOMPARE(Paths(l_Pass.App.m_DownloadList), QStringList({"Data/s2.MPQ"}));
        // Reading never rewrites.
        QCOMPARE(ReadFile(l_Folder + "ToDownload.db"), QByteArray("Data/s2.MPQ\r\nData/s2.MPQ\r\n"));
    }

    /// A full scan checks every file, including 0x80 ones only for presence, and rewrites both lists.
    void fullScanRewritesLists()
    {
        QTemporaryDir l_Dir;
        const QString l_Folder = l_Dir.path() + "/";
        TestBuild l_Build;
        l_Build.Add("Data/good.MPQ", "good", 0x20);
        l_Build.Add("Data/bad.MPQ", "bad", 0x20);
        l_Build.Add("Data/presence.MPQ", "presence", 0x20 | 0x80);
        TestBuild::File& l_Lower = l_Build.Add("Data/lower.MPQ", "lower", 0x20);
        l_Lower.Md5 = TestBuild::Md5Of("lower").toLower(); // never matches
        l_Build.Add("Data/s.MPQ", "s", 0, QString(), true);
        WriteFile(l_Folder + "Data/good.MPQ", "good");
        WriteFile(l_Folder + "Data/bad.MPQ", "BAD");
        WriteFile(l_Folder + "Data/presence.MPQ", "anything");
        WriteFile(l_Folder + "Data/lower.MPQ", "lower");
        WriteFile(l_Folder + "Data/s.MPQ", "s");
        WriteFile(l_Folder + "ToDownloadBase.db", "Data/good.MPQ\n");
        WriteFile(l_Folder + "ToDownload.db", "Data/s.MPQ\n");

        Pass l_Pass(l_Folder, l_Build, "enUS");
        l_Pass.App.m_FullScan = true;
        l_Pass.App.BuildBaseList();
        QCOMPARE(Paths(l_Pass.App.m_DownloadList), QStringList({"Data/bad.MPQ", "Data/lower.MPQ"}));
        QCOMPARE(ReadFile(l_Folder + "ToDownloadBase.db"), QByteArray("Data/bad.MPQ\nData/lower.MPQ\n"));
        l_Pass.App.m_DownloadList.clear();
        l_Pass.App.BuildStreamedList(true);
        QVERIFY(l_Pass.App.m_DownloadList.empty());
        QCOMPARE(ReadFile(l_Folder + "ToDownload.db"), QByteArray());
        QCOMPARE(l_Pass.App.m_Status.ApplicationState, 2);
        QVERIFY(!l_Pass.App.m_Status.Busy);
    }

    /// An empty streamed list releases the download turn only when it was held.
    void emptyStreamedListReleasesTheTurn_data()
    {
        QTest::addColumn<bool>("waitForTurn");
        QTest::newRow("turn held") << false;
        QTest::newRow("turn not taken") << true;
    }
    void emptyStreamedListReleasesTheTurn()
    {
        QFETCH(bool, waitForTurn);
        QTemporaryDir l_Dir;
        TestBuild l_Build;
        l_Build.Add("Data/base.MPQ", "b");
        WriteFile(l_Dir.path() + "/Data/base.MPQ", "x");
        Pass l_Pass(l_Dir.path() + "/", l_Build, "enUS");
        l_Pass.App.BuildBaseList(); // takes the turn for the base phase
        QCOMPARE(l_Pass.Host.LockCount.load(), 1);
        if (waitForTurn)
        {
            l_Pass.App.ReleaseDownloadTurn();
            l_Pass.Host.UnlockCount = 0;
        }
        l_Pass.App.m_DownloadList.clear();
        l_Pass.App.BuildStreamedList(waitForTurn);
        QCOMPARE(l_Pass.Host.UnlockCount.load(), waitForTurn ? 0 : 1);
    }

    /// Interrupted by the launcher closing, a scan writes no partial list.
    void closingLauncherKeepsTheList()
    {
        QTemporaryDir l_Dir;
        const QString l_Folder = l_Dir.path() + "/";
        TestBuild l_Build;
        for (int l_I = 0; l_I < 3; ++l_I)
            l_Build.Add(QString("Data/s%1.MPQ").arg(l_I), "s", 0, QString(), true);
        WriteFile(l_Folder + "ToDownload.db", "Data/s0.MPQ\nData/s1.MPQ\nData/s2.MPQ\n");
        Pass l_Pass(l_Folder, l_Build, "enUS");
        l_Pass.App.m_FullScan = true;
        l_Pass.Host.LauncherRunning = false;
        l_Pass.App.BuildStreamedList(false);
        QCOMPARE(ReadFile(l_Folder + "ToDownload.db"), QByteArray("Data/s0.MPQ\nData/s1.MPQ\nData/s2.MPQ\n"));
    }
};

QTEST_MAIN(tst_manifest)
#include "tst_manifest.moc"
