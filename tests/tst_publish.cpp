#include "support/FakeHost.h"
#include "support/TestApplication.h"
#include "support/TestHttpServer.h"
#include "launcher/Manifest.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace Orvane::Launcher;

namespace {

struct RunResult
{
    int ExitCode = -1;
    QString Out;
    QString Err;
};

RunResult Publish(const QStringList& p_Arguments)
{
    QProcess l_Process;
    l_Process.start(QStringLiteral(KESTRUN_BIN_DIR "/orvane-publish"), p_Arguments);
    RunResult l_Result;
    if (!l_Process.waitForFinished(60000) || l_Process.exitStatus() != QProcess::NormalExit)
    {
        l_Process.kill();
        l_Process.waitForFinished();
        l_Result.Err = "orvane-publish did not finish: " + l_Process.errorString();
        return l_Result;
    }
    l_Result.ExitCode = l_Process.exitCode();
    l_Result.Out = QString::fromUtf8(l_Process.readAllStandardOutput());
    l_Result.Err = QString::fromUtf8(l_Process.readAllStandardError());
    return l_Result;
}

void WriteBytes(const QString& p_Path, const QByteArray& p_Data)
{
    QDir().mkpath(QFileInfo(p_Path).absolutePath());
    QFile l_File(p_Path);
    QVERIFY2(l_File.open(QIODevice::WriteOnly), qPrintable(p_Path));
    QCOMPARE(l_File.write(p_Data), qint64(p_Data.size()));
}

QByteArray ReadBytes(const QString& p_Path)
{
    QFile l_File(p_Path);
    return l_File.open(QIODevice::ReadOnly) ? l_File.readAll() : QByteArray();
}

QByteArray RandomBytes(int p_Size, quint32 p_Seed)
{
    QRandomGenerator l_Random(p_Seed);
    QByteArray l_Data(p_Size, Qt::Uninitialized);
    for (int l_I = 0; l_I < p_Size; ++l_I)
        l_Data[l_I] = char(l_Random.generate() & 0xff);
    return l_Data;
}

/// Every file under p_Root (relative path -> bytes).
QMap<QString, QByteArray> Snapshot(const QString& p_Root)
{
    QMap<QString, QByteArray> l_Files;
    QDirIterator l_It(p_Root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (l_It.hasNext())
    {
        const QString l_Path = l_It.next();
        l_Files.insert(QDir(p_Root).relativeFilePath(l_Path), ReadBytes(l_Path));
    }
    return l_Files;
}

Manifest ReadManifest(const QString& p_Out, const QString& p_Build, const QString& p_App = "wow_bfa")
{
    bool l_Ok = false;
    Manifest l_Manifest = ParseManifest(ReadBytes(p_Out + "/" + p_App + "/builds/" + p_Build + "/info.json"), &l_Ok);
    if (!l_Ok)
        qWarning() << "tst_publish::ReadManifest unreadable manifest of" << p_Build;
    return l_Manifest;
}

const ManifestFile* FindFile(const Manifest& p_Manifest, const QString& p_Path, bool* p_Streamed = nullptr)
{
    for (const ManifestFile& l_File : p_Manifest.BaseFiles)
        if (l_File.Path == p_Path)
        {
            if (p_Streamed)
                *p_Streamed = false;
            return &l_File;
        }
    for (const ManifestFile& l_File : p_Manifest.StreamedFiles)
        if (l_File.Path == p_Path)
        {
            if (p_Streamed)
                *p_Streamed = true;
            return &l_File;
        }
    return nullptr;
}

} // namespace

class tst_publish : public QObject
{
    Q_OBJECT

    QTemporaryDir m_Temp;
    QString m_Input;

    /// A small game folder: clients, data in two languages, an empty file, a
    /// non-ASCII name, two files with the same bytes and one larger than many read blocks.
    void MakeGame(const QString& p_Root)
    {
        WriteBytes(p_Root + "/Wow.exe", RandomBytes(5000, 1));
        WriteBytes(p_Root + "/Wow-64.exe", RandomBytes(6000, 2));
        WriteBytes(p_Root + "/Data/common.bin", RandomBytes(3 * 1024 * 1024 + 17, 3));
        WriteBytes(p_Root + "/Data/frFR/speech.bin", RandomBytes(20000, 4));
        WriteBytes(p_Root + "/Data/enUS/speech.bin", RandomBytes(20001, 5));
        WriteBytes(p_Root + "/Interface/empty.txt", QByteArray());
        WriteBytes(p_Root + QString::fromUtf8("/Interface/Données é.txt"), "accents");
        WriteBytes(p_Root + "/Interface/copy1.txt", "same bytes");
        WriteBytes(p_Root + "/Interface/copy2.txt", "same bytes");
        WriteBytes(p_Root + "/.hidden", "dot file");
    }

    QStringList StandardOptions(const QString& p_Build) const
    {
        return {"--build", p_Build, "--build-str", "Battle " + p_Build, "--build-number", "31478",
                "--locale-offer", QString::fromUtf8("frFR=Français"), "--locale-offer", "enUS=English",
                "--streamed", "Data/*", "--flag", "Wow.exe=0x08", "--flag", "Wow-64.exe=0x10",
                "--locale", "Data/frFR/*=frFR", "--locale", "Data/enUS/*=enUS",
                "--cdn", "127.0.0.1:9001", "--cdn", "127.0.0.1:9002"};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_Temp.isValid());
        QVERIFY(QFileInfo(KESTRUN_BIN_DIR "/orvane-publish").isExecutable());
        m_Input = m_Temp.path() + "/game";
        MakeGame(m_Input);
    }

    void layoutAndManifest()
    {
        const QString l_Out = m_Temp.path() + "/layout";
        RunResult l_Run = Publish(StandardOptions("8.3.0.31478") << "--dev" << m_Input << l_Out);
        QVERIFY2(l_Run.ExitCode == 0, qPrintable(l_Run.Err));

        QCOMPARE(ReadBytes(l_Out + "/cdns.info"), QByteArray("127.0.0.1:9001 127.0.0.1:9002"));
        for (const QString l_Version : {"version.json", "version_dev.json"})
        {
            QJsonDocument l_Doc = QJsonDocument::fromJson(ReadBytes(l_Out + "/wow_bfa/" + l_Version));
            QCOMPARE(l_Doc.object().value("build").toString(), QString("8.3.0.31478"));
        }

        Manifest l_Manifest = ReadManifest(l_Out, "8.3.0.31478");
        QCOMPARE(l_Manifest.BuildId, QString("8.3.0.31478"));
        QCOMPARE(l_Manifest.BuildStr, QString("Battle 8.3.0.31478"));
        QCOMPARE(int(l_Manifest.BuildNumber), 31478);
        QCOMPARE(int(l_Manifest.AvailableLocales.size()), 2);
        QCOMPARE(l_Manifest.AvailableLocales["frFR"].second, QString::fromUtf8("Français"));
        QCOMPARE(l_Manifest.AvailableLocales["enUS"].second, QString("English"));

        // Every input file is in the manifest once, with its digest, and its
        // bytes are served at its location.
        QMap<QString, QByteArray> l_Input = Snapshot(m_Input);
        QCOMPARE(int(l_Manifest.BaseFiles.size() + l_Manifest.StreamedFiles.size()), l_Input.size());
        for (auto l_It = l_Input.constBegin(); l_It != l_Input.constEnd(); ++l_It)
        {
            bool l_Streamed = false;
            const ManifestFile* l_File = FindFile(l_Manifest, l_It.key(), &l_Streamed);
            QVERIFY2(l_File, qPrintable(l_It.key()));
            const QString l_Md5 = QCryptographicHash::hash(l_It.value(), QCryptographicHash::Md5).toHex().toUpper();
            QCOMPARE(l_File->Md5, l_Md5);
            QCOMPARE(l_Streamed, l_It.key().startsWith("Data/"));
            QVERIFY(IsSafeRelativePath(l_File->Location));
            QCOMPARE(ReadBytes(l_Out + "/wow_bfa/" + l_File->Location), l_It.value());
        }
        // Same bytes, one stored copy.
        QCOMPARE(FindFile(l_Manifest, "Interface/copy1.txt")->Location,
                 FindFile(l_Manifest, "Interface/copy2.txt")->Location);

        // Manifest order is path order, whatever the disk listed first.
        QStringList l_BasePaths;
        for (const ManifestFile& l_File : l_Manifest.BaseFiles)
            l_BasePaths << l_File.Path;
        QStringList l_Sorted = l_BasePaths;
        std::sort(l_Sorted.begin(), l_Sorted.end());
        QCOMPARE(l_BasePaths, l_Sorted);

        // No staging folder is left behind in the web root.
        QCOMPARE(QDir(l_Out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList({"cdns.info", "wow_bfa"}));
        QVERIFY(l_Run.Out.contains("10 files"));
    }

    void republishingIsIdempotent()
    {
        const QString l_First = m_Temp.path() + "/idem1";
        const QString l_Second = m_Temp.path() + "/idem2";
        QCOMPARE(Publish(StandardOptions("b1") << m_Input << l_First).ExitCode, 0);
        QMap<QString, QByteArray> l_Before = Snapshot(l_First);
        // The same folder again, into the same place and into a new one.
        QCOMPARE(Publish(StandardOptions("b1") << m_Input << l_First).ExitCode, 0);
        QCOMPARE(Publish(StandardOptions("b1") << m_Input << l_Second).ExitCode, 0);
        QVERIFY(Snapshot(l_First) == l_Before);
        QVERIFY(Snapshot(l_Second) == l_Before);
    }

    void buildsShareTheWebRoot()
    {
        const QString l_Out = m_Temp.path() + "/shared";
        QTemporaryDir l_Next;
        MakeGame(l_Next.path());
        WriteBytes(l_Next.path() + "/Wow.exe", RandomBytes(5000, 99)); // a patched client

        QCOMPARE(Publish(StandardOptions("old") << m_Input << l_Out).ExitCode, 0);
        QCOMPARE(Publish(StandardOptions("new") << l_Next.path() << l_Out).ExitCode, 0);
        // A development build moves only the development channel.
        QCOMPARE(Publish(StandardOptions("dev") << "--dev-only" << l_Next.path() << l_Out).ExitCode, 0);

        auto l_Build = [&](const QString& p_File) {
            return QJsonDocument::fromJson(ReadBytes(l_Out + "/wow_bfa/" + p_File)).object().value("build").toString();
        };
        QCOMPARE(l_Build("version.json"), QString("new"));
        QCOMPARE(l_Build("version_dev.json"), QString("dev"));
        // Clients still installing the old build find all of its files.
        Manifest l_Old = ReadManifest(l_Out, "old");
        QVERIFY(!l_Old.BaseFiles.empty());
        for (const auto* l_List : {&l_Old.BaseFiles, &l_Old.StreamedFiles})
            for (const ManifestFile& l_File : *l_List)
                QCOMPARE(ReadBytes(l_Out + "/wow_bfa/" + l_File.Location), ReadBytes(m_Input + "/" + l_File.Path));
        QVERIFY(FindFile(l_Old, "Wow.exe")->Md5 != FindFile(ReadManifest(l_Out, "new"), "Wow.exe")->Md5);
    }

    void rules_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("flags");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<bool>("streamed");

        const QStringList l_Locales{"--locale-offer", "frFR=French", "--locale-offer", "enUS=English"};
        QTest::newRow("no rule") << QStringList() << "Wow.exe" << 0 << "" << false;
        QTest::newRow("flags of several patterns are OR'ed")
            << QStringList{"--flag", "Wow.exe=0x08", "--flag", "*.exe=0x01", "--flag", "Wow*=64"} << "Wow.exe"
            << (0x08 | 0x01 | 0x40) << "" << false;
        QTest::newRow("exact pattern does not match a longer name")
            << QStringList{"--flag", "Wow.exe=0x08"} << "Wow-64.exe" << 0 << "" << false;
        QTest::newRow("star crosses folders")
            << QStringList{"--flag", "Data/*=0x80", "--streamed", "Data/*"} << "Data/frFR/speech.bin" << 0x80 << ""
            << true;
        QTest::newRow("question mark and class")
            << QStringList{"--flag", "Wow-?4.exe=0x10", "--flag", "[VW]ow-[0-9]*=0x02"} << "Wow-64.exe"
            << (0x10 | 0x02) << "" << false;
        QTest::newRow("negated class")
            << QStringList{"--flag", "Data/[!f]*/*=0x20"} << "Data/frFR/speech.bin" << 0 << "" << false;
        QTest::newRow("locale by folder")
            << (l_Locales + QStringList{"--locale", "Data/frFR/*=frFR", "--locale", "Data/enUS/*=enUS"})
            << "Data/enUS/speech.bin" << 0 << "enUS" << false;
        QTest::newRow("same tag from two patterns")
            << (l_Locales + QStringList{"--locale", "Data/frFR/*=frFR", "--locale", "*speech*=frFR"})
            << "Data/frFR/speech.bin" << 0 << "frFR" << false;
        QTest::newRow("matching is case-sensitive")
            << QStringList{"--flag", "wow.exe=0x08", "--streamed", "data/*"} << "Wow.exe" << 0 << "" << false;
        QTest::newRow("excluded file absent")
            << QStringList{"--exclude", "Interface/*"} << "Interface/copy1.txt" << -1 << "" << false;
        QTest::newRow("escaped star is literal")
            << QStringList{"--flag", "Wow\\*=0x08", "--flag", "Wow.ex[e]=0x01"} << "Wow.exe" << 0x01 << "" << false;
    }

    void rules()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, path);
        QFETCH(int, flags);
        QFETCH(QString, locale);
        QFETCH(bool, streamed);

        QTemporaryDir l_Out;
        RunResult l_Run = Publish(QStringList{"--build", "r"} + options + QStringList{m_Input, l_Out.path()});
        QVERIFY2(l_Run.ExitCode == 0, qPrintable(l_Run.Err));
        Manifest l_Manifest = ReadManifest(l_Out.path(), "r");
        bool l_Streamed = false;
        const ManifestFile* l_File = FindFile(l_Manifest, path, &l_Streamed);
        if (flags < 0)
        {
            QVERIFY(!l_File);
            return;
        }
        QVERIFY2(l_File, qPrintable(path));
        QCOMPARE(l_File->Flags, flags);
        QCOMPARE(l_File->Locale, locale);
        QCOMPARE(l_Streamed, streamed);
    }

    void unmatchedRuleWarns()
    {
        QTemporaryDir l_Out;
        RunResult l_Run = Publish({"--build", "w", "--flag", "Wow32.exe=0x08", m_Input, l_Out.path()});
        QCOMPARE(l_Run.ExitCode, 0);
        QVERIFY2(l_Run.Err.contains("--flag 'Wow32.exe=0x08' matches no file"), qPrintable(l_Run.Err));
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("no folders") << QStringList{"--build", "x"} << "INPUT_FOLDER";
        QTest::newRow("no build") << QStringList{"IN", "OUT"} << "--build is required";
        QTest::newRow("unknown option") << QStringList{"--bild", "x", "IN", "OUT"} << "unknown option --bild";
        QTest::newRow("missing value") << QStringList{"IN", "OUT", "--build"} << "--build needs a value";
        QTest::newRow("bad flags") << QStringList{"--build", "x", "--flag", "Wow.exe=0xZZ", "IN", "OUT"} << "GLOB=FLAGS";
        QTest::newRow("flags without pattern") << QStringList{"--build", "x", "--flag", "0x08", "IN", "OUT"} << "GLOB=FLAGS";
        QTest::newRow("locale not offered")
            << QStringList{"--build", "x", "--locale", "Data/deDE/*=deDE", "IN", "OUT"} << "'deDE' is not offered";
        QTest::newRow("build number too large")
            << QStringList{"--build", "x", "--build-number", "70000", "IN", "OUT"} << "0 and 65535";
        QTest::newRow("build id climbs") << QStringList{"--build", "..", "IN", "OUT"} << "plain folder name";
        QTest::newRow("build id with a slash") << QStringList{"--build", "a/b", "IN", "OUT"} << "plain folder name";
        QTest::newRow("cdn host with a space") << QStringList{"--build", "x", "--cdn", "a b", "IN", "OUT"} << "CDN host";
        QTest::newRow("unclosed class") << QStringList{"--build", "x", "--streamed", "Data/[ab", "IN", "OUT"}
                                        << "invalid pattern";
        QTest::newRow("output inside input") << QStringList{"--build", "x", "IN", "IN/www"} << "contain one another";
        QTest::newRow("missing input") << QStringList{"--build", "x", "NOWHERE", "OUT"} << "input folder not found";
    }

    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        QTemporaryDir l_Out;
        for (QString& l_Argument : arguments)
        {
            l_Argument.replace("IN", m_Input);
            l_Argument.replace("OUT", l_Out.path() + "/www");
            l_Argument.replace("NOWHERE", m_Temp.path() + "/nowhere");
        }
        RunResult l_Run = Publish(arguments);
        QCOMPARE(l_Run.ExitCode, 2);
        QVERIFY2(l_Run.Err.contains(message), qPrintable(l_Run.Err));
        QVERIFY(!QFileInfo::exists(l_Out.path() + "/www"));
    }

    void help()
    {
        RunResult l_Run = Publish({"--help"});
        QCOMPARE(l_Run.ExitCode, 0);
        QVERIFY(l_Run.Out.startsWith("Usage: orvane-publish"));
    }

    void badInputNamedAndNothingPublished_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("named");
        QTest::newRow("unreadable file") << "chmod" << "Data/secret.bin";
        QTest::newRow("broken symbolic link") << "dangling" << "Data/gone.bin";
        QTest::newRow("FIFO") << "fifo" << "Data/pipe";
        QTest::newRow("read error after open") << "ioerror" << "Data/mem.bin";
        QTest::newRow("link loop") << "loop" << "Data/loop";
        QTest::newRow("Windows-invalid name") << "name" << "Data/what?.bin";
        QTest::newRow("names differ only in case") << "case" << "data/common.bin";
    }

    void badInputNamedAndNothingPublished()
    {
        QFETCH(QString, kind);
        QFETCH(QString, named);
        QTemporaryDir l_Game;
        MakeGame(l_Game.path());
        const QString l_Bad = l_Game.path() + "/" + named;
        if (kind == "chmod")
        {
            WriteBytes(l_Bad, "secret");
            QVERIFY(QFile::setPermissions(l_Bad, QFileDevice::Permissions()));
            QFile l_Probe(l_Bad);
            if (l_Probe.open(QIODevice::ReadOnly))
                QSKIP("this user reads files without read permission (root)");
        }
        else if (kind == "dangling")
            QVERIFY(QFile::link(l_Game.path() + "/nowhere.bin", l_Bad));
        else if (kind == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(l_Bad).constData(), 0644), 0);
        else if (kind == "ioerror")
        {
            // A file that opens but whose first read fails (even for root).
            if (!QFileInfo::exists("/proc/self/mem"))
                QSKIP("no /proc/self/mem here");
            QVERIFY(QFile::link("/proc/self/mem", l_Bad));
        }
        else if (kind == "loop")
            QVERIFY(QFile::link(l_Game.path() + "/Data", l_Bad));
        else if (kind == "name" || kind == "case")
            WriteBytes(l_Bad, "x");

        // A web root that serves a published build: a failed publish leaves it as it was.
        const QString l_Out = m_Temp.path() + "/bad-" + kind;
        QCOMPARE(Publish(StandardOptions("good") << m_Input << l_Out).ExitCode, 0);
        QMap<QString, QByteArray> l_Before = Snapshot(l_Out);

        RunResult l_Run = Publish(StandardOptions("bad") << l_Game.path() << l_Out);
        QCOMPARE(l_Run.ExitCode, 1);
        QVERIFY2(l_Run.Err.contains(named), qPrintable(l_Run.Err));
        QVERIFY(l_Run.Err.contains("nothing was published"));
        QVERIFY(Snapshot(l_Out) == l_Before);
        QCOMPARE(QDir(l_Out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList({"cdns.info", "wow_bfa"}));
    }

    void roundTripInstallsByteForByte()
    {
        // The web root orvane-publish made, served as the application server and the CDN.
        const QString l_Out = m_Temp.path() + "/served";
        TestHttpServer l_Server;
        QVERIFY(l_Server.Start());
        const QString l_Host = "127.0.0.1:" + QString::number(l_Server.Port());
        RunResult l_Run = Publish({"--build", "rt", "--locale-offer", "enUS=English", "--locale-offer", "frFR=French",
                                   "--streamed", "Data/*", "--locale", "Data/frFR/*=frFR", "--locale",
                                   "Data/enUS/*=enUS", "--flag", "Wow.exe=0x08", "--flag", "Wow-64.exe=0x50",
                                   "--flag", "Interface/copy1.txt=0x01", "--flag", "Interface/copy2.txt=0x02",
                                   "--flag", ".hidden=0x20", "--flag", "Interface/empty.txt=0x80", "--cdn", l_Host,
                                   m_Input, l_Out});
        QVERIFY2(l_Run.ExitCode == 0, qPrintable(l_Run.Err));
        l_Server.SetFileRoot(l_Out);
        qputenv("KESTRUN_SERVER_URL", l_Server.BaseUrl().toUtf8());

        QTemporaryDir l_Install;
        const QString l_Folder = l_Install.path() + "/";
        TestApplication l_App;
        FakeHost l_Host2;
        l_Host2.Locale = LauncherLocaleByTag("enUS");
        l_Host2.Attach(&l_App);
        l_App.Init();
        QVERIFY(l_Host2.WaitFor([&] { return l_App.m_Status.ApplicationState == 1; }));
        l_App.Install(l_Folder, true);
        const bool l_Done = l_Host2.WaitFor(
            [&] { return l_App.m_Status.ApplicationState == 2 && !l_App.m_Status.Busy; }, 60000);
        l_Host2.Detach();
        QVERIFY(l_Done);
        {
            std::lock_guard<std::recursive_mutex> l_Lock(l_Host2.Mutex);
            QVERIFY2(l_Host2.Errors.isEmpty(), qPrintable(l_Host2.Errors.join("; ")));
        }

        // Every file of the installed language, byte for byte; the other language stays out.
        QMap<QString, QByteArray> l_Input = Snapshot(m_Input);
        for (auto l_It = l_Input.constBegin(); l_It != l_Input.constEnd(); ++l_It)
        {
            if (l_It.key().startsWith("Data/frFR/"))
                QVERIFY2(!QFileInfo::exists(l_Folder + l_It.key()), qPrintable(l_It.key()));
            else
                QVERIFY2(ReadBytes(l_Folder + l_It.key()) == l_It.value() && QFileInfo::exists(l_Folder + l_It.key()),
                         qPrintable(l_It.key()));
        }
        QCOMPARE(QFileInfo(l_Folder + "Interface/copy1.txt").permissions() &
                     (QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther),
                 QFileDevice::Permissions());
        QVERIFY(QFileInfo(l_Folder + "Interface/copy2.txt").permissions() & QFileDevice::ExeOther);
        QDirIterator l_Parts(l_Folder, {"*.part"}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        QVERIFY(!l_Parts.hasNext());
    }
};

QTEST_MAIN(tst_publish)
#include "tst_publish.moc"
