// The readers of the content store's own files: the encoding file, the local .idx files and
// the download database.
#include "support/CascRig.h"
#include "support/CdnPath.h"
#include "support/Files.h"
#include "support/WarningLog.h"
#include "casc/BLTEWriter.h"
#include "casc/Bytes.h"
#include "platform/Md5.h"
#include "casc/CASCArchivesManager.h"
#include "casc/CASCDownloadDatabase.h"
#include "casc/CASCEncodingFile.h"
#include "casc/CASCLocalIndex.h"
#include "tools/forge/LocalIndexWriter.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>
#include <QtTest>

#include <atomic>
#include <cstring>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace Orvane::CASC;

namespace {

QByteArray Key(int p_Seed, int p_Salt = 0)
{
    return Orvane::Md5::Hash(QByteArray::number(p_Seed) + ':' + QByteArray::number(p_Salt));
}

/// One table-A entry: count word (keys, top size byte), size, content key, encoding keys.
QByteArray EntryA(const QByteArray& p_Content, const QList<QByteArray>& p_Keys, quint32 p_Size = 100, quint8 p_Top = 0)
{
    QByteArray l_Out;
    l_Out.append(char(p_Keys.size())).append(char(p_Top));
    Bytes::AppendBigEndian32(l_Out, p_Size);
    l_Out.append(p_Content);
    for (const QByteArray& l_Key : p_Keys)
        l_Out.append(l_Key);
    return l_Out;
}

/// Entries of one and two keys that fill exactly p_Bytes of a page (seeds from p_Seed on).
QByteArray Filler(int p_Bytes, int p_Seed)
{
    int l_Two = 0;
    while ((p_Bytes - 54 * l_Two) % 38 != 0)
        ++l_Two;
    QByteArray l_Out;
    for (int l_I = 0; l_I < (p_Bytes - 54 * l_Two) / 38; ++l_I)
        l_Out.append(EntryA(Key(p_Seed + l_I, 1), {Key(p_Seed + l_I)}));
    for (int l_I = 0; l_I < l_Two; ++l_I)
        l_Out.append(EntryA(Key(p_Seed + 1000 + l_I, 1), {Key(p_Seed + 1000 + l_I), Key(p_Seed + 1000 + l_I, 2)}));
    return l_Out;
}

/// A decoded encoding file with the given table-A pages (each padded to 4096) and one B page.
QByteArray EncodingFile(const QList<QByteArray>& p_Pages, int p_PagesB = 1)
{
    QByteArray l_Out("EN\x01\x10\x10\x04\x00\x04\x00", 9);
    Bytes::AppendBigEndian32(l_Out, quint32(p_Pages.size()));
    Bytes::AppendBigEndian32(l_Out, quint32(p_PagesB));
    l_Out.append(char(0));
    Bytes::AppendBigEndian32(l_Out, 5);
    l_Out.append("b:{}", 5);
    l_Out.append(QByteArray(p_Pages.size() * 32, 'i'));
    for (const QByteArray& l_Page : p_Pages)
        l_Out.append(l_Page.leftJustified(4096, '\0', true));
    l_Out.append(QByteArray(p_PagesB * 32, 'i'));
    l_Out.append(QByteArray(p_PagesB * 4096, 'b'));
    return l_Out;
}

QByteArray ContentOf(const CASCEncodingMap& p_Map, const QByteArray& p_EncodingKey)
{
    const CASCEncodingRecord* l_Record = p_Map.Find(p_EncodingKey.left(9));
    return l_Record ? QByteArray(l_Record->ContentKey, 16) : QByteArray();
}

/// A decoded encoding file of p_Entries entries with distinct keys, 107 to a page: about 38 MiB
/// per million, which takes the parse a while.
QByteArray LargeEncodingFile(int p_Entries)
{
    QList<QByteArray> l_Pages;
    QByteArray l_Page;
    for (int l_I = 0; l_I < p_Entries; ++l_I)
    {
        QByteArray l_Key(16, '\x5a');
        std::memcpy(l_Key.data(), &l_I, sizeof l_I);
        l_Page.append(EntryA(QByteArray(l_Key).replace(15, 1, "c"), {l_Key}));
        if (l_Page.size() + 38 > 4094)
            l_Pages.append(l_Page), l_Page.clear();
    }
    if (!l_Page.isEmpty())
        l_Pages.append(l_Page);
    return EncodingFile(l_Pages);
}

} // namespace

class EncodingTest : public QObject
{
    Q_OBJECT

private slots:
    void pages_data();
    void pages();
    void rulesPickTheStoreLines_data();
    void rulesPickTheStoreLines();
    void refused_data();
    void refused();
    void laterParseAddsAndOverwrites();
    void localIndex_data();
    void localIndex();
    void newestIndexPerBucket();
    void downloadDatabase();
    void downloadDatabaseOnAFullDisk();
    void loadedOffTheOwnersThread_data();
    void loadedOffTheOwnersThread();
};

void EncodingTest::pages_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QList<QByteArray>>("keys");     // encoding keys that must be found
    QTest::addColumn<QList<QByteArray>>("contents"); // with these content keys
    QTest::addColumn<int>("warnings");               // "Multiple encoding keys" lines beyond the fillers'

    const QByteArray l_Next = EntryA(Key(9000, 1), {Key(9000)});
    QTest::newRow("entries end 2 bytes before the page's end")
        << EncodingFile({Filler(4094, 0), l_Next}) << QList<QByteArray>{Key(0), Key(9000)}
        << QList<QByteArray>{Key(0, 1), Key(9000, 1)} << 0;
    QTest::newRow("page filled to its last byte")
        << EncodingFile({Filler(4096, 0), l_Next}) << QList<QByteArray>{Key(0), Key(9000)}
        << QList<QByteArray>{Key(0, 1), Key(9000, 1)} << 0;
    QByteArray l_Twin = Key(9001);
    l_Twin.replace(0, 9, Key(9000).left(9));
    QTest::newRow("two entries share a 9-byte prefix: the later wins")
        << EncodingFile({EntryA(Key(1, 1), {Key(9000)}) + EntryA(Key(2, 1), {l_Twin})}) << QList<QByteArray>{Key(9000)}
        << QList<QByteArray>{Key(2, 1)} << 0;
    QTest::newRow("three keys: stored under the first, two warnings")
        << EncodingFile({EntryA(Key(3, 1), {Key(30), Key(31), Key(32)})}) << QList<QByteArray>{Key(30), Key(31)}
        << QList<QByteArray>{Key(3, 1), QByteArray()} << 2;
    QTest::newRow("40-bit size keeps the page aligned")
        << EncodingFile({EntryA(Key(4, 1), {Key(40)}, 7, 1) + EntryA(Key(5, 1), {Key(50)})})
        << QList<QByteArray>{Key(40), Key(50)} << QList<QByteArray>{Key(4, 1), Key(5, 1)} << 0;
}

void EncodingTest::pages()
{
    QFETCH(QByteArray, file);
    QFETCH(QList<QByteArray>, keys);
    QFETCH(QList<QByteArray>, contents);
    QFETCH(int, warnings);
    WarningLog l_Log;
    l_Log.Silence = [](const QString&) { return true; };
    CASCEncodingMap l_Map;
    QVERIFY(CASCEncodingFile::Parse(file, l_Map));
    for (int l_I = 0; l_I < keys.size(); ++l_I)
        QCOMPARE(ContentOf(l_Map, keys[l_I]), contents[l_I]);
    int l_Multiple = 0;
    for (const QString& l_Line : l_Log.Starting("Multiple encoding keys for MD5 "))
        l_Multiple += l_Line.contains(Bytes::Hex(Key(3, 1)) + ": ");
    QCOMPARE(l_Multiple, warnings);
    if (QTest::currentDataTag() == QByteArray("40-bit size keeps the page aligned"))
        QCOMPARE(l_Map.Find(Key(40).left(9))->FullSize(), (quint64(1) << 32) + 7);
}

/// The store's lines follow Qt's logging rules for "kestrun.casc" alone, and the parse is the same either way.
void EncodingTest::rulesPickTheStoreLines_data()
{
    QTest::addColumn<QString>("rules");
    QTest::addColumn<bool>("shown");
    QTest::newRow("no rule") << QString() << true;
    QTest::newRow("store off") << "kestrun.casc.warning=false" << false;
    QTest::newRow("transfers off") << "kestrun.net.warning=false" << true;
    QTest::newRow("all off, store back on") << "*.warning=false\nkestrun.casc.warning=true" << true;
}

void EncodingTest::rulesPickTheStoreLines()
{
    QFETCH(QString, rules);
    QFETCH(bool, shown);
    struct Rules
    {
        explicit Rules(const QString& p_Rules) { QLoggingCategory::setFilterRules(p_Rules); }
        ~Rules() { QLoggingCategory::setFilterRules(QString()); }
    } l_Rules(rules);
    WarningLog l_Log;
    l_Log.Silence = [](const QString&) { return true; };
    CASCEncodingMap l_Map;
    QVERIFY(CASCEncodingFile::Parse(EncodingFile({EntryA(Key(3, 1), {Key(30), Key(31)})}), l_Map));
    QCOMPARE(ContentOf(l_Map, Key(30)), Key(3, 1));
    QCOMPARE(!l_Log.Starting("CASCArchivesManager::ParseEncodingFile() Encoding file header").isEmpty(), shown);
    QCOMPARE(!l_Log.Starting("Multiple encoding keys for MD5 ").isEmpty(), shown);
}

void EncodingTest::refused_data()
{
    QTest::addColumn<QByteArray>("file");
    const QByteArray l_Good = EncodingFile({Filler(2000, 0)});
    QTest::newRow("shorter than its header") << l_Good.left(21);
    QTest::newRow("cut inside table A") << l_Good.left(22 + 5 + 32 + 3000);
    QTest::newRow("cut inside table B") << l_Good.left(l_Good.size() - 100);
    QByteArray l_Long = l_Good;
    l_Long.replace(18, 4, QByteArray("\x7f\xff\xff\xff", 4));
    QTest::newRow("string block past the end") << l_Long;
    QByteArray l_Pages = l_Good;
    l_Pages.replace(9, 4, QByteArray("\xff\xff\xff\xff", 4));
    QTest::newRow("page count past the end") << l_Pages;
    QTest::newRow("entry runs past its page")
        << EncodingFile({Filler(4094 - 38, 0) + EntryA(Key(7, 1), {Key(7), Key(8)})});
    QByteArray l_Small = l_Good;
    l_Small[3] = 4;
    QTest::newRow("keys shorter than an index key") << l_Small;
}

void EncodingTest::refused()
{
    QFETCH(QByteArray, file);
    WarningLog l_Log;
    l_Log.Silence = [](const QString&) { return true; };
    CASCEncodingMap l_Map;
    QVERIFY(CASCEncodingFile::Parse(EncodingFile({EntryA(Key(1, 1), {Key(1)})}), l_Map));
    QVERIFY(!CASCEncodingFile::Parse(file, l_Map));
    QCOMPARE(l_Map.Size(), size_t(1)); // left as it was
}

void EncodingTest::laterParseAddsAndOverwrites()
{
    WarningLog l_Log;
    l_Log.Silence = [](const QString&) { return true; };
    CASCEncodingMap l_Map;
    QVERIFY(CASCEncodingFile::Parse(EncodingFile({Filler(4094, 0)}), l_Map));
    const size_t l_First = l_Map.Size();
    QVERIFY(CASCEncodingFile::Parse(EncodingFile({EntryA(Key(77, 7), {Key(0)}) + EntryA(Key(78, 7), {Key(5000)})}), l_Map));
    QCOMPARE(l_Map.Size(), l_First + 1);
    QCOMPARE(ContentOf(l_Map, Key(0)), Key(77, 7));
    QCOMPARE(ContentOf(l_Map, Key(1)), Key(1, 1));
    QCOMPARE(ContentOf(l_Map, Key(5000)), Key(78, 7));
    QVERIFY(l_Map.Bytes() <= l_Map.Size() * 30 + 30);
}

void EncodingTest::localIndex_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("entries"); // -1: refused
    QTest::addColumn<int>("skipped");
    using Writer = Forge::LocalIndexWriter;
    const QByteArray l_Good = Writer::Build(3, {{Key(1).left(9), 5, 1000, 130}, {Key(2).left(9), 255, 0x3FFFFFF0, 30}});
    QTest::newRow("two entries, archives 5 and 255") << l_Good << 2 << 0;
    QTest::newRow("shorter than its header block") << l_Good.left(20) << -1 << 0;
    QByteArray l_Huge = l_Good;
    l_Huge.replace(0, 4, QByteArray("\xf0\xff\xff\xff", 4));
    QTest::newRow("header block size past the end") << l_Huge << -1 << 0;
    QTest::newRow("slot beyond 4 GiB skipped")
        << Writer::Build(3, {{Key(1).left(9), 1, 0x3FFFFFFF, 0xFFFFFFF0}, {Key(2).left(9), 1, 0, 100}}) << 1 << 1;
}

void EncodingTest::localIndex()
{
    QFETCH(QByteArray, file);
    QFETCH(int, entries);
    QFETCH(int, skipped);
    std::vector<CASCLocalIndexEntry> l_Entries;
    QString l_Error;
    int l_Skipped = 0;
    QCOMPARE(CASCLocalIndex::Parse(file, l_Entries, l_Error, &l_Skipped), entries >= 0);
    QCOMPARE(int(l_Entries.size()), qMax(entries, 0));
    QCOMPARE(l_Skipped, skipped);
    if (entries == 2)
    {
        const CASCLocalIndexEntry& l_Last = Key(1) < Key(2) ? l_Entries[1] : l_Entries[0];
        QCOMPARE(int(l_Last.Archive), 255);
        QCOMPARE(l_Last.Offset, quint32(0x3FFFFFF0));
        QCOMPARE(QByteArray(l_Last.Key, 9), Key(2).left(9));
    }
}

void EncodingTest::newestIndexPerBucket()
{
    QTemporaryDir l_Dir;
    const QString l_Folder = l_Dir.path() + "/";
    QDir().mkpath(l_Folder + "data/data/sub.idx");
    for (const char* l_Name : {"0000000001.idx", "0000000003.idx", "0000000002.idx", "0a00000001.idx", "0f0000000a.idx",
                               "1000000001.idx", "0b.txt"})
        QVERIFY(WriteFile(l_Folder + "data/data/" + l_Name, ""));
#ifndef Q_OS_WIN // QFile::link makes a shell shortcut there: a plain file, not a link to skip
    QVERIFY(QFile::link(l_Folder + "data/data/0000000001.idx", l_Folder + "data/data/0500000001.idx"));
#endif
    QStringList l_Names;
    for (const QString& l_Path : CASCLocalIndex::List(l_Folder))
        l_Names.append(QFileInfo(l_Path).fileName());
    QCOMPARE(l_Names, (QStringList{"0000000003.idx", "0a00000001.idx", "0f0000000a.idx"}));
}

void EncodingTest::downloadDatabase()
{
    QTemporaryDir l_Dir;
    const QString l_Path = l_Dir.filePath("ToDownloadCASC.db");
    QVERIFY(CASCDownloadDatabase::Read(l_Path).empty());
    QVERIFY(CASCDownloadDatabase::Write(l_Path, {Key(1).left(9), Key(2)}));
    const QByteArray l_Written = ReadFile(l_Path);
    QCOMPARE(QString::fromLatin1(l_Written), Bytes::Hex(Key(1).left(9)) + "\n" + Bytes::Hex(Key(2).left(9)) + "\n");
    QVERIFY(WriteFile(l_Path, l_Written + "not a key\n0123\n" + Key(3).left(9).toHex().toUpper() + "\n"));
    QCOMPARE(CASCDownloadDatabase::Read(l_Path), (std::set<QByteArray>{Key(1).left(9), Key(2).left(9), Key(3).left(9)}));
    QCOMPARE(QDir(l_Dir.path()).entryList(QDir::Files), QStringList{"ToDownloadCASC.db"}); // no temporary left beside it
}

void EncodingTest::downloadDatabaseOnAFullDisk()
{
#ifdef Q_OS_UNIX
    // A database that cannot be written whole leaves the one on disk as it was, and says so.
    QTemporaryDir l_Dir;
    const QString l_Path = l_Dir.filePath("ToDownloadCASC.db");
    QVERIFY(CASCDownloadDatabase::Write(l_Path, {Key(1)}));
    const QByteArray l_Before = Bytes::Hex(Key(1).left(9)).toLatin1() + "\n";
    std::vector<QByteArray> l_Keys;
    for (int l_I = 0; l_I < 100; ++l_I)
        l_Keys.push_back(Key(l_I));
    const pid_t l_Child = ::fork();
    if (l_Child == 0)
    {
        // Any write past 100 bytes fails with EFBIG, as on a full disk.
        const struct rlimit l_Limit{100, 100};
        ::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, &l_Limit);
        QString l_Error;
        const bool l_Written = CASCDownloadDatabase::Write(l_Path, l_Keys, &l_Error);
        ::_exit(l_Written ? 1 : l_Error.isEmpty() ? 2 : 0);
    }
    int l_Status = -1;
    QVERIFY(l_Child > 0 && ::waitpid(l_Child, &l_Status, 0) == l_Child);
    QVERIFY2(WIFEXITED(l_Status), "the child did not end normally");
    QCOMPARE(WEXITSTATUS(l_Status), 0);
    QCOMPARE(ReadFile(l_Path), l_Before);
    QCOMPARE(QDir(l_Dir.path()).entryList(QDir::Files), QStringList{"ToDownloadCASC.db"});
#else
    QSKIP("needs RLIMIT_FSIZE");
#endif
}

void EncodingTest::loadedOffTheOwnersThread_data()
{
    QTest::addColumn<QString>("during"); // what happens once the parse has begun
    QTest::newRow("nothing: loaded") << "";
    QTest::newRow("called off (a new pass, Uninit)") << "call-off";
    QTest::newRow("the store destroyed") << "destroy";
    QTest::newRow("Init again: the first parse called off") << "init";
}

void EncodingTest::loadedOffTheOwnersThread()
{
    // The manager's thread is the host's: it keeps serving while a large encoding file is
    // decoded and parsed, gets the progress and the outcome, and a call-off or its store's
    // destruction meanwhile is clean (a stop meanwhile: tst_contentstore's "encoding file parse").
    QFETCH(QString, during);
    const int l_Entries = qEnvironmentVariableIsSet("KESTRUN_ENCODING_ENTRIES")
                              ? qEnvironmentVariableIntValue("KESTRUN_ENCODING_ENTRIES")
                              : 1000000;
    static const QByteArray s_Decoded = LargeEncodingFile(l_Entries);
    static QByteArray s_Blob;
    BLTEWriter::Options l_Plain;
    l_Plain.ChunkMode = BLTEWriter::Mode::Plain;
    QVERIFY(!s_Blob.isEmpty() || BLTEWriter::Encode(s_Decoded, l_Plain, s_Blob));
    const QString l_Key = QString::fromLatin1(BLTEWriter::EncodingKey(s_Blob).toHex());

    CascRig l_Rig;
    if (l_Rig.External())
        QSKIP("forges its own store");
    QVERIFY(l_Rig.Forge({"--files", "4"}));
    // The build configuration names the large file, whose copy is already installed.
    QStringList l_Lines = QString::fromLatin1(l_Rig.m_Store.Served("config", l_Rig.m_Store.Config("build"))).split('\n');
    for (QString& l_Line : l_Lines)
        if (l_Line.startsWith("encoding = "))
            l_Line = "encoding = " + Md5Key(s_Decoded) + ' ' + l_Key;
        else if (l_Line.startsWith("encoding-size = "))
            l_Line = QStringLiteral("encoding-size = %1 %2").arg(s_Decoded.size()).arg(s_Blob.size());
    l_Rig.ServeBuildConfig(l_Lines.join('\n').toLatin1());
    const QString l_Local = l_Rig.m_StoreRoot + "/install/data/orvane/" + l_Key;
    QVERIFY(WriteFile(l_Local, s_Blob));
    l_Rig.NewApp();
    QVERIFY(l_Rig.Init());

    CASCArchivesManager* l_Manager = l_Rig.m_App->GetArchivesManager();
    QThread* const l_Owner = QThread::currentThread();
    std::atomic<QThread*> l_Parser{nullptr};
    std::atomic<bool> l_Go{false};
    int l_Loaded = 0, l_Elsewhere = 0;
    quint32 l_Progress = 0;
    l_Manager->m_OnEncodingLoaded = [&] { ++l_Loaded; };
    l_Manager->m_OnBusy = [&] { l_Elsewhere += QThread::currentThread() != l_Owner; };
    l_Manager->m_OnCheckProgress = [&](quint32 p_Done, quint32) {
        l_Elsewhere += QThread::currentThread() != l_Owner;
        l_Progress = p_Done;
    };
    WarningLog l_Log;
    l_Log.Silence = [](const QString&) { return true; };
    // The header line is the parse's first: the parse waits there for the action.
    l_Log.OnLine = [&](const QString& p_Line) {
        if (!p_Line.startsWith("CASCArchivesManager::ParseEncodingFile() Encoding file header"))
            return;
        l_Parser = QThread::currentThread();
        for (QDeadlineTimer l_Deadline(20000); !l_Go && !during.isEmpty() && !l_Deadline.hasExpired();)
            QThread::yieldCurrentThread();
    };
    const auto l_Hashes = [&] { return l_Log.Starting(QString::number(l_Entries) + " md5 hashs").size(); };

    QElapsedTimer l_Clock;
    l_Clock.start();
    l_Manager->Init(l_Rig.m_StoreRoot + "/install/ToDownloadCASC.db");
    QCOMPARE(l_Loaded, 0); // Init returned before the parse ended
    QVERIFY(QTest::qWaitFor([&] { return l_Parser != nullptr; }, 20000));
    QVERIFY(l_Parser != l_Owner);
    if (during.isEmpty())
    {
        QVERIFY(QTest::qWaitFor([&] { return l_Loaded > 0 || !l_Rig.m_Errors->isEmpty(); }, 60000));
        qInfo("%d entries decoded and parsed in %lld ms", l_Entries, l_Clock.elapsed());
        QCOMPARE(l_Loaded, 1);
        QCOMPARE(int(l_Manager->GetEncodingMap().Size()), l_Entries);
        QCOMPARE(l_Progress, CASCArchivesManager::CheckTotal);
        QCOMPARE(l_Hashes(), 1);
    }
    if (during == "call-off")
    {
        l_Go = true;
        l_Manager->CancelEncoding();
        QVERIFY(QThreadPool::globalInstance()->waitForDone(60000));
        QCoreApplication::processEvents();
        QCOMPARE(l_Hashes(), 0);
    }
    if (during == "init")
    {
        l_Go = true;
        l_Manager->Init(l_Rig.m_StoreRoot + "/install/ToDownloadCASC.db");
        QVERIFY(QTest::qWaitFor([&] { return l_Loaded > 0 || !l_Rig.m_Errors->isEmpty(); }, 60000));
        QVERIFY(QThreadPool::globalInstance()->waitForDone(60000));
        QCoreApplication::processEvents();
        QCOMPARE(l_Hashes(), 1);
        QCOMPARE(int(l_Manager->GetEncodingMap().Size()), l_Entries);
    }
    if (during == "destroy")
    {
        l_Go = true;
        l_Rig.m_App.reset();
        QCoreApplication::processEvents();
    }
    QVERIFY(l_Rig.m_Errors->isEmpty());
    QCOMPARE(l_Elsewhere, 0);
    QCOMPARE(l_Loaded, during == "" || during == "init" ? 1 : 0);
    // A parse called off is no damaged file: the copy stays for the next run.
    QVERIFY(QFile::exists(l_Local));
}

QTEST_GUILESS_MAIN(EncodingTest)
#include "tst_encoding.moc"
