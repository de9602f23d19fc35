// The download manifest, the list files and the building of the download lists.
#include "support/FakeHost.h"
#include "support/TestApplication.h"
#include "support/TestBuild.h"
#include "support/WarningLog.h"
#include "launcher/DownloadListFile.h"
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

/// An application with host callbacks whose queues nobody drains, so that a list pass runs
/// and can be inspected on the test thread.
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
} // namespace

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
        if (!ok)
            QVERIFY(l_Manifest.AvailableLocales.empty());
    }

    /// Any line end reads the same; a rewrite is UTF-8 with LF and leaves no temporary file.
    void listFile_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("LF") << QByteArray("a/x.MPQ\nb.MPQ\n");
        QTest::newRow("CR LF") << QByteArray("a/x.MPQ\r\nb.MPQ\r\n");
        QTest::newRow("no final end") << QByteArray("a/x.MPQ\r\nb.MPQ");
        QTest::newRow("blank lines") << QByteArray("\na/x.MPQ\n\n\r\nb.MPQ\n");
    }
    void listFile()
    {
        QFETCH(QByteArray, bytes);
        QTemporaryDir l_Dir;
        const QString l_Path = l_Dir.path() + "/ToDownload.db";
        QVERIFY(TestBuild::Write(l_Path, bytes));
        DownloadListFile l_List(l_Path);
        QCOMPARE(l_List.Read(), QStringList({"a/x.MPQ", "b.MPQ"}));
        QVERIFY(l_List.Update("a/x.MPQ", QString::fromUtf8("Data/été.MPQ")));
        QCOMPARE(TestBuild::Read(l_Path), QString::fromUtf8("b.MPQ\nData/été.MPQ\n").toUtf8());
        QCOMPARE(QDir(l_Dir.path()).entryList(QDir::Files), QStringList({"ToDownload.db"}));
    }

    /// A list file that does not exist is built from the disk whatever the full-scan flag says;
    /// one that exists is trusted (0x80 files only need to be present); a full scan checks
    /// everything and rewrites both. The download turn is kept for a streamed phase, released when
    /// there is none.
    void buildsTheLists_data()
    {
        QTest::addColumn<QStringList>("disk"); ///< "path=bytes"
        QTest::addColumn<QByteArray>("baseList");
        QTest::addColumn<QByteArray>("streamedList");
        QTest::addColumn<bool>("fullScan");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QStringList>("base");
        QTest::addColumn<QStringList>("streamed");
        QTest::addColumn<QByteArray>("baseAfter");
        QTest::addColumn<QByteArray>("streamedAfter");
        const QByteArray l_None("<none>");
        QTest::newRow("fresh folder")
            << QStringList{"Data/plain.MPQ=plain", "Data/s2.MPQ=s2"} << l_None << l_None << false << "frFR"
            << QStringList{"Wow.exe", "Data/t1.MPQ", "Data/t2.MPQ", "Data/presence.MPQ", "Data/frFR/f.MPQ"}
            << QStringList{"Data/s1.MPQ", "Data/frFR/s.MPQ"}
            << QByteArray("Data/t1.MPQ\nData/t2.MPQ\nData/presence.MPQ\nData/frFR/f.MPQ\n")
            << QByteArray("Data/s1.MPQ\nData/frFR/s.MPQ\n");
        const QByteArray l_Base("Data/t2.MPQ\r\nData/presence.MPQ\r\nData/enUS/e.MPQ\r\nData/t2.MPQ\r\nnot/listed\r\n");
        QTest::newRow("lists trusted")
            << QStringList{"Wow.exe=exe", "Data/plain.MPQ=damaged", "Data/presence.MPQ=other bytes"} << l_Base
            << QByteArray("Data/s2.MPQ\r\nData/s2.MPQ\r\n") << false << "frFR"
            << QStringList{"Data/plain.MPQ", "Data/t2.MPQ"} << QStringList{"Data/s2.MPQ"} << l_Base
            << QByteArray("Data/s2.MPQ\r\nData/s2.MPQ\r\n");
        QTest::newRow("full scan")
            << QStringList{"Wow.exe=exe", "Data/plain.MPQ=plain", "Data/t1.MPQ=t1", "Data/t2.MPQ=BAD",
                           "Data/presence.MPQ=anything", "Data/enUS/e.MPQ=e", "Data/s1.MPQ=s1", "Data/s2.MPQ=s2"}
            << QByteArray("Data/t1.MPQ\n") << QByteArray("Data/s1.MPQ\n") << true << "enUS"
            << QStringList{"Data/t2.MPQ"} << QStringList() << QByteArray("Data/t2.MPQ\n") << QByteArray("");
    }
    void buildsTheLists()
    {
        QFETCH(QStringList, disk);
        QFETCH(QByteArray, baseList);
        QFETCH(QByteArray, streamedList);
        QFETCH(bool, fullScan);
        QFETCH(QString, locale);
        QFETCH(QStringList, base);
        QFETCH(QStringList, streamed);
        QFETCH(QByteArray, baseAfter);
        QFETCH(QByteArray, streamedAfter);
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
        QTemporaryDir l_Dir;
        const QString l_Folder = l_Dir.path() + "/game/";
        for (const QString& l_File : disk)
            QVERIFY(TestBuild::Write(l_Folder + l_File.section('=', 0, 0), l_File.section('=', 1).toUtf8()));
        if (baseList != "<none>")
            QVERIFY(TestBuild::Write(l_Folder + "ToDownloadBase.db", baseList));
        if (streamedList != "<none>")
            QVERIFY(TestBuild::Write(l_Folder + "ToDownload.db", streamedList));

        Pass l_Pass(l_Folder, l_Build, locale);
        l_Pass.App.m_FullScan = fullScan;
        l_Pass.App.BuildBaseList();
        QCOMPARE(Paths(l_Pass.App.m_DownloadList), base);
        QCOMPARE(TestBuild::Read(l_Folder + "ToDownloadBase.db"), baseAfter);
        l_Pass.App.m_DownloadList.clear();
        l_Pass.App.BuildStreamedList(false);
        QCOMPARE(Paths(l_Pass.App.m_DownloadList), streamed);
        QCOMPARE(TestBuild::Read(l_Folder + "ToDownload.db"), streamedAfter);
        QCOMPARE(l_Pass.Host.LockCount.load(), 1);
        QCOMPARE(l_Pass.Host.UnlockCount.load(), streamed.isEmpty() ? 1 : 0);
    }

    /// Interrupted by the launcher closing, a scan writes no partial list.
    void closingLauncherKeepsTheList()
    {
        QTemporaryDir l_Dir;
        const QByteArray l_Listed("Data/s0.MPQ\nData/s1.MPQ\nData/s2.MPQ\n");
        TestBuild l_Build;
        for (int l_I = 0; l_I < 3; ++l_I)
            l_Build.Add(QString("Data/s%1.MPQ").arg(l_I), "s", 0, QString(), true);
        QVERIFY(TestBuild::Write(l_Dir.path() + "/ToDownload.db", l_Listed));
        Pass l_Pass(l_Dir.path() + "/", l_Build, "enUS");
        l_Pass.App.m_FullScan = true;
        l_Pass.Host.LauncherRunning = false;
        l_Pass.App.BuildStreamedList(false);
        QCOMPARE(TestBuild::Read(l_Dir.path() + "/ToDownload.db"), l_Listed);
    }
};

QTEST_MAIN(tst_manifest)
#include "tst_manifest.moc"
