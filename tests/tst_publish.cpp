// orvane-publish: what it writes, its rules and refusals, and a published build installed through the module.
#include "support/LauncherRun.h"
#include "support/TestBuild.h"
#include "support/TestHttpServer.h"
#include "support/ToolRun.h"
#include "launcher/Manifest.h"

#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>


using namespace Orvane::Launcher;

namespace {
/// Runs orvane-publish: its exit code and what it wrote on stderr.
int Publish(const QStringList& p_Arguments, QString* p_Err = nullptr)
{
    const ToolRun l_Run = ToolRun::Run(QStringLiteral(KESTRUN_BIN_DIR "/orvane-publish"), p_Arguments);
    if (p_Err)
        *p_Err = l_Run.ErrText();
    return l_Run.Code;
}

/// Every file under p_Root (relative path -> bytes).
QMap<QString, QByteArray> Snapshot(const QString& p_Root)
{
    QMap<QString, QByteArray> l_Files;
    for (QDirIterator l_It(p_Root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
         l_It.hasNext() && !l_It.next().isEmpty();)
        l_Files.insert(QDir(p_Root).relativeFilePath(l_It.filePath()), ReadFile(l_It.filePath()));
    return l_Files;
}

/// The web root's top level: nothing else than what clients fetch (no staging folder left).
QStringList TopLevel(const QString& p_Out)
{
    return QDir(p_Out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

/// The builds the release and development channels point at, "release/dev".
QString Channels(const QString& p_Out)
{
    QStringList l_Builds;
    for (const char* l_Doc : {"/wow_bfa/version.json", "/wow_bfa/version_dev.json"})
        l_Builds << QJsonDocument::fromJson(ReadFile(p_Out + l_Doc)).object()["build"].toString();
    return l_Builds.join('/');
}

Manifest ManifestOf(const QString& p_Out, const QString& p_Build)
{
    bool l_Ok = false;
    return ParseManifest(ReadFile(p_Out + "/wow_bfa/builds/" + p_Build + "/info.json"), &l_Ok);
}

/// The manifest's files by path; streamed files carry a "*" before their path.
QMap<QString, ManifestFile> ManifestFiles(const QString& p_Out, const QString& p_Build)
{
    const Manifest l_Manifest = ManifestOf(p_Out, p_Build);
    QMap<QString, ManifestFile> l_Files;
    for (const ManifestFile& l_File : l_Manifest.BaseFiles)
        l_Files.insert(l_File.Path, l_File);
    for (const ManifestFile& l_File : l_Manifest.StreamedFiles)
        l_Files.insert("*" + l_File.Path, l_File);
    return l_Files;
}
} // namespace

class tst_publish : public QObject
{
    Q_OBJECT

    QTemporaryDir m_Temp;
    QString m_Input;

    /// Clients, data in two languages, an empty, a non-ASCII, a hidden, a large file and two equal ones.
    void MakeGame(const QString& p_Root)
    {
        const QList<QPair<QString, QByteArray>> l_Files{{"Wow.exe", TestBuild::Pattern(5000, 1)},
            {"Wow-64.exe", TestBuild::Pattern(6000, 2)}, {"Data/common.bin", TestBuild::Pattern(3 << 20 | 17, 3)},
            {"Data/frFR/speech.bin", TestBuild::Pattern(20000, 4)},
            {"Data/enUS/speech.bin", TestBuild::Pattern(20001, 5)},
            {"Interface/empty.txt", QByteArray()}, {QString::fromUtf8("Interface/Données é.txt"), "accents"},
            {"Interface/copy1.txt", "same bytes"}, {"Interface/copy2.txt", "same bytes"}, {".hidden", "dot file"}};
        for (const auto& l_File : l_Files)
            QVERIFY(WriteFile(p_Root + "/" + l_File.first, l_File.second));
    }

    QStringList Options(const QString& p_Build) const
    {
        return {"--build", p_Build, "--build-str", "Battle " + p_Build, "--build-number", "31478",
                "--locale-offer", QString::fromUtf8("frFR=Français"), "--locale-offer", "enUS=English",
                "--streamed", "Data/*", "--locale", "Data/frFR/*=frFR", "--locale", "Data/enUS/*=enUS"};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(QFileInfo(KESTRUN_BIN_DIR "/orvane-publish").isExecutable());
        m_Input = m_Temp.path() + "/game";
        MakeGame(m_Input);
    }

    /// The published layout and manifest, then an install through the module from it, byte for byte.
    void publishedBuildInstalls()
    {
        const QString l_Out = m_Temp.path() + "/served";
        TestHttpServer l_Server;
        QVERIFY(l_Server.Start());
        const QString l_Cdn = "127.0.0.1:" + QString::number(l_Server.Port());
        QString l_Err;
        const QStringList l_Rules{"--dev", "--cdn", l_Cdn, "--flag", "Wow.exe=0x08", "--flag", "Wow-64.exe=0x50",
            "--flag", "Interface/copy*=0x01", "--flag", ".hidden=0x20", "--flag", "Interface/empty.txt=0x80"};
        QVERIFY2(Publish(Options("rt") + l_Rules + QStringList{m_Input, l_Out}, &l_Err) == 0, qPrintable(l_Err));
        QCOMPARE(ReadFile(l_Out + "/cdns.info"), l_Cdn.toUtf8());
        QCOMPARE(Channels(l_Out), QString("rt/rt"));
        QCOMPARE(TopLevel(l_Out), QStringList({"cdns.info", "wow_bfa"}));
        const Manifest l_Manifest = ManifestOf(l_Out, "rt");
        QCOMPARE(l_Manifest.BuildStr + " " + QString::number(l_Manifest.BuildNumber) + " "
                     + l_Manifest.AvailableLocales.at("frFR").second, QString::fromUtf8("Battle rt 31478 Français"));

        l_Server.SetFileRoot(l_Out);
        qputenv("KESTRUN_SERVER_URL", l_Server.BaseUrl().toUtf8());
        QTemporaryDir l_Install;
        const QString l_Folder = l_Install.path() + "/";
        LauncherRun l_Run;
        l_Run.Start([&] { l_Run.Host->Locale = LauncherLocaleByTag("enUS"); });
        TestApplication& l_App = *l_Run.App;
        FakeHost& l_Host = *l_Run.Host;
        const bool l_Done = l_Host.WaitFor([&] { return l_App.m_Status.ApplicationState == 1; })
            && (l_App.Install(l_Folder, true), l_Run.WaitIdle(60000));
        l_Host.Detach();
        QVERIFY(l_Done);
        QVERIFY2(l_Host.Errors.isEmpty(), qPrintable(l_Host.Errors.join("; ")));

        // Every input file once, with its digest, its bytes served at its location; installed byte for byte
        // when of the installed language, the other language left out.
        const QMap<QString, ManifestFile> l_Files = ManifestFiles(l_Out, "rt");
        const QMap<QString, QByteArray> l_Input = Snapshot(m_Input);
        QCOMPARE(l_Files.size(), l_Input.size());
        for (auto l_It = l_Input.cbegin(); l_It != l_Input.cend(); ++l_It)
        {
            const ManifestFile l_File = l_Files.value((l_It.key().startsWith("Data/") ? "*" : "") + l_It.key());
            const QString l_Path = l_Folder + l_It.key();
            QVERIFY2(l_File.Md5 == TestBuild::Md5Of(l_It.value())
                         && ReadFile(l_Out + "/wow_bfa/" + l_File.Location) == l_It.value()
                         && (l_It.key().startsWith("Data/frFR/") ? !QFileInfo::exists(l_Path)
                                 : QFileInfo(l_Path).isFile() && ReadFile(l_Path) == l_It.value()),
                     qPrintable(l_It.key()));
        }
    }

    /// The same folder published twice gives the same output. A later build leaves the earlier
    /// one's files served for clients still installing it; --dev-only moves only the development channel.
    void republishing()
    {
        const QString l_Out = m_Temp.path() + "/again";
        QCOMPARE(Publish(Options("b1") << m_Input << l_Out), 0);
        const QMap<QString, QByteArray> l_First = Snapshot(l_Out);
        QVERIFY(Publish(Options("b1") << m_Input << l_Out) == 0
                && Publish(Options("b1") << m_Input << l_Out + "2") == 0);
        QVERIFY(Snapshot(l_Out) == l_First && Snapshot(l_Out + "2") == l_First);

        QTemporaryDir l_Next;
        MakeGame(l_Next.path());
        QVERIFY(WriteFile(l_Next.path() + "/Wow.exe", "patched"));
        QVERIFY(Publish(Options("b2") << l_Next.path() << l_Out) == 0
                && Publish(Options("b3") << "--dev-only" << l_Next.path() << l_Out) == 0);
        QCOMPARE(Channels(l_Out), QString("b2/b3"));
        const QMap<QString, QByteArray> l_Now = Snapshot(l_Out);
        for (auto l_It = l_First.cbegin(); l_It != l_First.cend(); ++l_It)
            if (l_It.key() != "wow_bfa/version.json")
                QVERIFY2(l_Now.value(l_It.key()) == l_It.value(), qPrintable(l_It.key()));
        QVERIFY(ManifestFiles(l_Out, "b1")["Wow.exe"].Md5 != ManifestFiles(l_Out, "b2")["Wow.exe"].Md5);
    }

    /// Flags of several rules OR'ed, exact names, "*" across folders, "?", classes, case, locales, exclusions.
    void rules()
    {
        QTemporaryDir l_Out;
        QString l_Err;
        QVERIFY2(Publish({"--build", "r", "--flag", "Wow.exe=0x08", "--flag", "*.exe=0x01", "--flag", "Wow*=64",
                          "--flag", "wow-64.exe=0x04", "--flag", "Wow-?4.exe=0x10", "--flag", "[VW]ow-[0-9]*=0x02",
                          "--flag", "Interface/[!cD]*=0x20", "--flag", "Data/*=0x80", "--streamed", "Data/*",
                          "--locale-offer", "enUS=English", "--locale", "Data/enUS/*=enUS", "--exclude",
                          "Interface/copy2*", m_Input, l_Out.path()}, &l_Err) == 0, qPrintable(l_Err));
        QStringList l_Seen;
        const QMap<QString, ManifestFile> l_Files = ManifestFiles(l_Out.path(), "r");
        for (auto l_It = l_Files.cbegin(); l_It != l_Files.cend(); ++l_It)
            if (l_It.value().Flags || !l_It.value().Locale.isEmpty())
                l_Seen << QString("%1 %2 %3").arg(l_It.key()).arg(l_It.value().Flags, 0, 16).arg(l_It.value().Locale);
        QCOMPARE(l_Seen, QStringList({"*Data/common.bin 80 ", "*Data/enUS/speech.bin 80 enUS",
            "*Data/frFR/speech.bin 80 ", "Interface/empty.txt 20 ", "Wow-64.exe 53 ", "Wow.exe 49 "}));
        QVERIFY(l_Files.contains("Interface/copy1.txt") && !l_Files.contains("Interface/copy2.txt"));
    }

    /// What the manual page promises to refuse: a bad command line (exit 2), and (exit 1, the file
    /// named) an unreadable file, a broken symbolic link, a FIFO, a device, a name a Windows client
    /// cannot create. Each leaves the build already served as it was, and nothing staged behind.
    void refusalsPublishNothing_data()
    {
        // %in: the input folder, %out: the web root.
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        const QStringList l_Plain{"%in", "%out"};
        QTest::newRow("unknown option") << "" << "" << QStringList{"--bild", "x", "%in", "%out"} << 2
                                        << "unknown option --bild";
        QTest::newRow("build outside its folder") << "" << "" << QStringList{"--build", "..", "%in", "%out"} << 2
                                                  << "plain folder name";
        QTest::newRow("unreadable") << "link:/proc/self/mem" << "Data/mem.bin" << l_Plain << 1 << "cannot read";
        QTest::newRow("broken link") << "link:/nonexistent/kestrun" << "Data/gone.bin" << l_Plain << 1
                                     << "broken symbolic link";
        QTest::newRow("FIFO") << "fifo" << "Data/pipe.bin" << l_Plain << 1 << "not a regular file";
        QTest::newRow("device") << "link:/dev/zero" << "Data/zero.bin" << l_Plain << 1 << "not a regular file";
        QTest::newRow("colon") << "file" << "Data/a:b.bin" << l_Plain << 1 << "holds ':'";
        QTest::newRow("backslash") << "file" << "Data/a\\b.bin" << l_Plain << 1 << "holds '\\'";
        QTest::newRow("question mark") << "file" << "Data/why?.bin" << l_Plain << 1 << "holds '?'";
        QTest::newRow("case of a file") << "file" << "Interface/COPY1.txt" << l_Plain << 1
                                        << "differ only in letter case";
        QTest::newRow("case of a folder") << "file" << "data/other.bin" << l_Plain << 1
                                          << "differ only in letter case";
    }

    void refusalsPublishNothing()
    {
        QFETCH(QString, kind);
        QFETCH(QString, name);
        QFETCH(QStringList, arguments);
        QFETCH(int, code);
        QFETCH(QString, message);
        QTemporaryDir l_Game;
        MakeGame(l_Game.path());
        const QString l_Path = l_Game.path() + "/" + name;
        if (kind == "file")
            QVERIFY(WriteFile(l_Path, "refused"));
        else if (kind.startsWith("link:"))
            QVERIFY(QFile::link(kind.mid(5), l_Path));
        else if (kind == "fifo")
            QCOMPARE(ToolRun::Run("mkfifo", {l_Path}).Code, 0);
        const QString l_Out = m_Temp.path() + "/refused";
        if (!QFileInfo::exists(l_Out))
            QCOMPARE(Publish(Options("good") << m_Input << l_Out), 0);
        const QMap<QString, QByteArray> l_Before = Snapshot(l_Out);
        QString l_Err;
        arguments.replaceInStrings("%in", l_Game.path()).replaceInStrings("%out", l_Out);
        QCOMPARE(Publish((kind.isEmpty() ? QStringList() : Options("bad")) + arguments, &l_Err), code);
        QVERIFY2(l_Err.contains(message) && l_Err.contains(name), qPrintable(l_Err));
        if (code == 1)
            QVERIFY2(l_Err.contains("nothing was published"), qPrintable(l_Err));
        QVERIFY(Snapshot(l_Out) == l_Before);
        QCOMPARE(TopLevel(l_Out), QStringList({"cdns.info", "wow_bfa"}));
    }
};

QTEST_MAIN(tst_publish)
#include "tst_publish.moc"
