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

/// Runs orvane-publish to its end: exit code, stdout and stderr.
ToolRun PublishRun(const QStringList& p_Arguments)
{
    return ToolRun::Run(QStringLiteral(KESTRUN_BIN_DIR "/orvane-publish"), p_Arguments);
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
        QVERIFY(QFileInfo(KESTRUN_BIN_DIR "/orvane-publish" KESTRUN_EXE_SUFFIX).isExecutable());
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
    /// named) a symbolic link of any kind, a FIFO, a name a Windows client cannot create. Each leaves
    /// the build already served as it was, and nothing staged behind.
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
        const QString l_Link = "is a symbolic link";
        QTest::newRow("link to a system file") << "link:/etc/passwd" << "Data/passwd" << l_Plain << 1 << l_Link;
        QTest::newRow("link to a folder") << "link:/etc" << "Data/etc" << l_Plain << 1 << l_Link;
        QTest::newRow("link within the game") << "link:%in/Wow.exe" << "Wow-copy.exe" << l_Plain << 1 << l_Link;
        QTest::newRow("link to an unreadable file") << "link:/proc/self/mem" << "Data/mem.bin" << l_Plain << 1
                                                    << l_Link;
        QTest::newRow("broken link") << "link:/nonexistent/kestrun" << "Data/gone.bin" << l_Plain << 1 << l_Link;
        QTest::newRow("link to a device") << "link:/dev/zero" << "Data/zero.bin" << l_Plain << 1 << l_Link;
        QTest::newRow("FIFO") << "fifo" << "Data/pipe.bin" << l_Plain << 1 << "not a regular file";
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
#ifdef Q_OS_WIN
        if (kind.startsWith("link:"))
            QSKIP("no symbolic link on Windows: QFile::link makes a shell shortcut, a plain file");
        if (kind == "fifo")
            QSKIP("no FIFO on Windows");
        if (name.contains('\\') || name.contains('?') || message.contains("letter case"))
            QSKIP("a Windows file system cannot hold this input: the refusal is of names it cannot create");
#endif
        QTemporaryDir l_Game;
        MakeGame(l_Game.path());
        const QString l_Path = l_Game.path() + "/" + name;
        if (kind == "file")
            QVERIFY(WriteFile(l_Path, "refused"));
        else if (kind.startsWith("link:"))
            QVERIFY(QFile::link(kind.mid(5).replace("%in", l_Game.path()), l_Path));
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
        // Left out on purpose, a link stops nothing and is not published.
        if (kind.startsWith("link:"))
        {
            QCOMPARE(Publish(Options("links") << "--exclude" << name << l_Game.path() << l_Out, &l_Err), 0);
            QVERIFY(!ManifestFiles(l_Out, "links").contains(name) && !ManifestFiles(l_Out, "links").contains("*" + name));
            QVERIFY(!Snapshot(l_Out).values().contains(ReadFile("/etc/passwd")));
        }
    }

    /// A build id is published once: publishing it again with other content is refused with what changed
    /// (the build clients know stays served as it was), unless --replace; the same content again is fine.
    void publishedBuildKept_data()
    {
        QTest::addColumn<QString>("change"); // a file written into the game, or "-PATH" for one removed
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message"); // on stderr when refused, on stdout when replaced
        QTest::newRow("same content") << "" << QStringList() << 0 << "Published wow_bfa build b1";
        QTest::newRow("other bytes") << "Wow.exe" << QStringList() << 1
                                     << "already published with other content: 1 file changed (Wow.exe: content)";
        QTest::newRow("file added") << "Interface/new.txt" << QStringList() << 1 << "1 file added (Interface/new.txt)";
        QTest::newRow("file removed") << "-.hidden" << QStringList() << 1 << "1 file removed (.hidden)";
        QTest::newRow("other flags") << "" << QStringList{"--flag", "Wow.exe=0x08"} << 1
                                     << "1 file changed (Wow.exe: flags)";
        QTest::newRow("other build text") << "" << QStringList{"--build-str", "Battle again"} << 1
                                          << "build text 'Battle b1' -> 'Battle again'";
        QTest::newRow("replaced") << "Wow.exe" << QStringList{"--replace"} << 0
                                  << "Replaced the build published before: 1 file changed (Wow.exe: content)";
    }

    void publishedBuildKept()
    {
        QFETCH(QString, change);
        QFETCH(QStringList, options);
        QFETCH(int, code);
        QFETCH(QString, message);
        QTemporaryDir l_Out;
        QTemporaryDir l_Game;
        MakeGame(l_Game.path());
        QCOMPARE(Publish(Options("b1") << l_Game.path() << l_Out.path()), 0);
        const QMap<QString, QByteArray> l_Before = Snapshot(l_Out.path());
        if (change.startsWith('-'))
            QVERIFY(QFile::remove(l_Game.path() + "/" + change.mid(1)));
        else if (!change.isEmpty())
            QVERIFY(WriteFile(l_Game.path() + "/" + change, "changed"));
        QStringList l_Arguments = Options("b1");
        const int l_Text = l_Arguments.indexOf("--build-str");
        if (options.contains("--build-str"))
            l_Arguments.erase(l_Arguments.begin() + l_Text, l_Arguments.begin() + l_Text + 2);
        const ToolRun l_Run = PublishRun(l_Arguments + options + QStringList{l_Game.path(), l_Out.path()});
        QVERIFY2(l_Run.Code == code, l_Run.Describe());
        QVERIFY2((code == 0 ? l_Run.OutText() : l_Run.ErrText()).contains(message), l_Run.Describe());
        if (code != 0)
        {
            QVERIFY2(l_Run.ErrText().contains("--replace") && l_Run.ErrText().contains("nothing was published"),
                     l_Run.Describe());
            QVERIFY(Snapshot(l_Out.path()) == l_Before);
        }
        else if (options.contains("--replace"))
            QCOMPARE(ManifestFiles(l_Out.path(), "b1")["Wow.exe"].Md5, TestBuild::Md5Of("changed"));
        QCOMPARE(TopLevel(l_Out.path()), QStringList({"cdns.info", "wow_bfa"}));
    }

    /// "cdns.info" serves every build: a run without --cdn keeps the hosts clients use, --cdn replaces them,
    /// --no-cdn empties the list on purpose.
    void cdnList_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("cdns");
        QTest::addColumn<QString>("printed");
        QTest::newRow("kept") << QStringList() << 0 << QByteArray("cdn1:80 cdn2:8080")
                              << "CDN hosts (cdns.info kept): cdn1:80 cdn2:8080";
        QTest::newRow("replaced") << QStringList{"--cdn", "cdn3"} << 0 << QByteArray("cdn3") << "CDN hosts: cdn3";
        QTest::newRow("emptied") << QStringList{"--no-cdn"} << 0 << QByteArray() << "CDN hosts: none";
        QTest::newRow("both") << QStringList{"--no-cdn", "--cdn", "cdn3"} << 2 << QByteArray("cdn1:80 cdn2:8080")
                              << "--no-cdn and --cdn contradict each other";
    }

    void cdnList()
    {
        QFETCH(QStringList, options);
        QFETCH(int, code);
        QFETCH(QByteArray, cdns);
        QFETCH(QString, printed);
        QTemporaryDir l_Out;
        QCOMPARE(Publish(Options("old") << "--cdn" << "cdn1:80" << "--cdn" << "cdn2:8080" << m_Input << l_Out.path()), 0);
        const ToolRun l_Run = PublishRun(Options("new") + options + QStringList{m_Input, l_Out.path()});
        QVERIFY2(l_Run.Code == code, l_Run.Describe());
        QCOMPARE(ReadFile(l_Out.path() + "/cdns.info"), cdns);
        QVERIFY2((code == 0 ? l_Run.OutText() : l_Run.ErrText()).contains(printed), l_Run.Describe());
        QCOMPARE(Channels(l_Out.path()), QString(code == 0 ? "new/" : "old/"));
    }

    /// What the run prints: --quiet nothing at all (warnings included), otherwise the summary and the warnings;
    /// the usage line names the one required option.
    void printed_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        const QStringList l_Warned{"--flag", "None*=0x01"};
        QTest::newRow("quiet") << (QStringList{"--quiet"} + l_Warned) << 0 << "" << "";
        QTest::newRow("summary and warnings") << l_Warned << 0 << "Published wow_bfa build p: 10 files"
                                              << "orvane-publish: warning: --flag 'None*=0x01' matches no file\n"
                                                 "orvane-publish: warning: no CDN host";
        QTest::newRow("help") << QStringList{"--help"} << 0
                              << "Usage: orvane-publish --build ID [options] INPUT_FOLDER OUTPUT_FOLDER\n" << "";
    }

    void printed()
    {
        QFETCH(QStringList, options);
        QFETCH(int, code);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QTemporaryDir l_Out;
        const QStringList l_Arguments = options.contains("--help") ? options
                                                                   : Options("p") + options + QStringList{m_Input, l_Out.path()};
        const ToolRun l_Run = PublishRun(l_Arguments);
        QVERIFY2(l_Run.Code == code, l_Run.Describe());
        QVERIFY2(out.isEmpty() ? l_Run.Out.isEmpty() : l_Run.OutText().contains(out), l_Run.Describe());
        QVERIFY2(err.isEmpty() ? l_Run.Err.isEmpty() : l_Run.ErrText().contains(err), l_Run.Describe());
    }
};

QTEST_MAIN(tst_publish)
#include "tst_publish.moc"
