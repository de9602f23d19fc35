// The download manifest, the list files and the building of the download lists.
#include "support/GameFixture.h"
#include "support/TestBuild.h"
#include "support/WarningLog.h"
#include "launcher/DownloadListFile.h"
#include "launcher/PendingListFile.h"
#include "launcher/Manifest.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace Orvane::Launcher;

namespace {
QStringList Paths(const std::vector<ManifestFile>& p_List)
{
    QStringList l_Paths;
    for (const ManifestFile& l_File : p_List)
        l_Paths.append(l_File.Path);
    return l_Paths;
}

/// One list pass: what is on disk before, what the lists then hold.
struct ListCase
{
    QStringList Disk; ///< "path=bytes"
    QByteArray BaseList, StreamedList; ///< "<none>": no list file
    bool FullScan;
    QString Locale;
    QStringList Base, Streamed;
    QByteArray BaseAfter, StreamedAfter;
};
} // namespace
Q_DECLARE_METATYPE(ListCase)

class tst_manifest : public QObject
{
    Q_OBJECT

private slots:
    /// Documents that are not a manifest are refused; paths that could leave the install folder are
    /// dropped with a warning.
    void parseManifest_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("kept");
        QTest::newRow("empty") << QByteArray() << false << 0;
        QTest::newRow("not json") << QByteArray("<html>502 Bad Gateway</html>") << false << 0;
        QTest::newRow("array") << QByteArray("[{\"build_id\":\"x\"}]") << false << 0;
        QTest::newRow("truncated") << QByteArray("{\"build_id\":\"x\",\"content\":{") << false << 0;
        const QStringList l_Kept{"Data/a.MPQ", "Data/..a..MPQ"};
        for (const QString& l_Path : l_Kept + QStringList{"../out.exe", "Data/../../out.exe", "Data\\..\\..\\out.exe",
                                                          "/etc/passwd", "\\Windows\\x.dll", "C:\\Windows\\x.dll",
                                                          "C:x.dll", ""})
        {
            TestBuild l_Build;
            l_Build.Add(l_Path, "x");
            l_Build.Add(l_Path, "y", 0, QString(), true);
            QTest::newRow(qPrintable("path " + l_Path))
                << l_Build.ManifestJson() << true << (l_Kept.contains(l_Path) ? 2 : 0);
        }
    }
    void parseManifest()
    {
        QFETCH(QByteArray, data);
        QFETCH(bool, ok);
        QFETCH(int, kept);
        WarningLog l_Log;
        bool l_Ok = !ok;
        Manifest l_Manifest = ParseManifest(data, &l_Ok);
        QCOMPARE(l_Ok, ok);
        QCOMPARE(int(l_Manifest.BaseFiles.size() + l_Manifest.StreamedFiles.size()), kept);
        QCOMPARE(l_Log.Starting("ParseManifest").size(), ok ? 2 - kept : 0);
        QVERIFY(ok || l_Manifest.AvailableLocales.empty());
    }

    /// Any line end, blank lines and a missing final end read the same; a rewrite is UTF-8 with LF
    /// and leaves no temporary file. Completions are written later (here: at the flush); a line the
    /// file lacks at once, so that the file on disk always names every file still to fetch.
    void listFile()
    {
        QTemporaryDir l_Dir;
        const QString l_Path = l_Dir.path() + "/ToDownload.db";
        QVERIFY(WriteFile(l_Path, "\na/x.MPQ\r\n\r\n\nb.MPQ\nc.MPQ"));
        QCOMPARE(DownloadListFile(l_Path).Read(), QStringList({"a/x.MPQ", "b.MPQ", "c.MPQ"}));
        PendingListFile l_List(3600 * 1000);
        l_List.Open(l_Path);
        const QString l_New = QString::fromUtf8("Data/été.MPQ");
        const std::pair<QString, QString> l_Steps[] = {{"a/x.MPQ", ""}, {"b.MPQ", l_New}, {l_New, l_New}, {"c.MPQ", ""}};
        const char* const l_OnDisk[] = {"\na/x.MPQ\r\n\r\n\nb.MPQ\nc.MPQ", "c.MPQ\nData/été.MPQ\n",
                                        "c.MPQ\nData/été.MPQ\n", "c.MPQ\nData/été.MPQ\n"};
        for (int l_Step = 0; l_Step < 4; ++l_Step)
        {
            QVERIFY(l_List.Update(l_Steps[l_Step].first, l_Steps[l_Step].second));
            QCOMPARE(ReadFile(l_Path), QByteArray(l_OnDisk[l_Step]));
        }
        l_List.Close();
        QCOMPARE(ReadFile(l_Path), l_New.toUtf8() + "\n");
        QCOMPARE(QDir(l_Dir.path()).entryList(QDir::Files), QStringList({"ToDownload.db"}));
    }

    /// A list file that does not exist is built from the disk whatever the full-scan flag says, and names
    /// every file to fetch (the untracked base files too, so that it tells what is left);
    /// one that exists is trusted (0x80 files only need to be present); a full scan checks
    /// everything and rewrites both. The download turn is kept for a streamed phase, released when
    /// there is none.
    void buildsTheLists_data()
    {
        QTest::addColumn<ListCase>("row");
        QTest::newRow("fresh folder") << ListCase{
            {"Data/plain.MPQ=plain", "Data/s2.MPQ=s2"}, "<none>", "<none>", false, "frFR",
            {"Wow.exe", "Data/t1.MPQ", "Data/t2.MPQ", "Data/presence.MPQ", "Data/frFR/f.MPQ"},
            {"Data/s1.MPQ", "Data/frFR/s.MPQ"},
            "Wow.exe\nData/t1.MPQ\nData/t2.MPQ\nData/presence.MPQ\nData/frFR/f.MPQ\n", "Data/s1.MPQ\nData/frFR/s.MPQ\n"};
        const QByteArray l_Base("Data/t2.MPQ\r\nData/presence.MPQ\r\nData/enUS/e.MPQ\r\nData/t2.MPQ\r\nnot/listed\r\n");
        const QByteArray l_Streamed("Data/s2.MPQ\r\nData/s2.MPQ\r\n");
        QTest::newRow("lists trusted") << ListCase{
            {"Wow.exe=exe", "Data/plain.MPQ=damaged", "Data/presence.MPQ=other bytes"}, l_Base, l_Streamed, false,
            "frFR", {"Data/plain.MPQ", "Data/t2.MPQ"}, {"Data/s2.MPQ"}, l_Base, l_Streamed};
        QTest::newRow("full scan") << ListCase{
            {"Wow.exe=exe", "Data/plain.MPQ=plain", "Data/t1.MPQ=t1", "Data/t2.MPQ=BAD", "Data/presence.MPQ=anything",
             "Data/enUS/e.MPQ=e", "Data/s1.MPQ=s1", "Data/s2.MPQ=s2"},
            "Data/t1.MPQ\n", "Data/s1.MPQ\n", true, "enUS", {"Data/t2.MPQ"}, {}, "Data/t2.MPQ\n", ""};
    }
    void buildsTheLists()
    {
        QFETCH(ListCase, row);
        TestBuild l_Build;
        l_Build.Add("Wow.exe", "exe", 0x08);
        l_Build.Add("Data/plain.MPQ", "plain");
        l_Build.Add("Data/t1.MPQ", "t1", 0x20);
        l_Build.Add("Data/t2.MPQ", "t2", 0x20);
        l_Build.Add("Data/presence.MPQ", "presence", 0x20 | 0x80);
        l_Build.Add("Data/enUS/e.MPQ", "e", 0x20, "enUS");
        l_Build.Add("Data/frFR/f.MPQ", "f", 0x20, "frFR");
        l_Build.Add("Data/s1.MPQ", "s1", 0, QString(), true);
        l_Build.Add("Data/s2.MPQ", "s2", 0, QString(), true);
        l_Build.Add("Data/frFR/s.MPQ", "sf", 0, "frFR", true);
        GameFixture l_Game(true); // queues nobody drains: the pass runs on the test thread
        const QString l_Folder = l_Game.Folder;
        for (const QString& l_File : row.Disk)
            QVERIFY(WriteFile(l_Folder + l_File.section('=', 0, 0), l_File.section('=', 1).toUtf8()));
        for (const auto& l_List : {qMakePair(QString("ToDownloadBase.db"), row.BaseList),
                                   qMakePair(QString("ToDownload.db"), row.StreamedList)})
            QVERIFY(l_List.second == "<none>" || WriteFile(l_Folder + l_List.first, l_List.second));
        l_Game.Host.Settings["wow_bfa.InstallLocale"] = row.Locale;
        Kestrun& l_App = l_Game.App;
        bool l_Ok = false;
        l_App.UseBuild(ParseManifest(l_Build.ManifestJson(), &l_Ok));
        l_App.SetFullScan(row.FullScan);
        l_App.BuildBaseList();
        l_Game.RunMainTasks(); // the results are applied on the application's thread
        QCOMPARE(Paths(l_App.Queue().List()), row.Base);
        QCOMPARE(ReadFile(l_Folder + "ToDownloadBase.db"), row.BaseAfter);
        l_App.SetQueueForTest({}, 0, nullptr);
        l_App.BuildStreamedList(false);
        l_Game.RunMainTasks();
        QCOMPARE(Paths(l_App.Queue().List()), row.Streamed);
        QCOMPARE(ReadFile(l_Folder + "ToDownload.db"), row.StreamedAfter);
        QCOMPARE(l_Game.Host.LockCount.load(), 1);
        QCOMPARE(l_Game.Host.UnlockCount.load(), row.Streamed.isEmpty() ? 1 : 0);
    }
};

QTEST_MAIN(tst_manifest)
#include "tst_manifest.moc"
