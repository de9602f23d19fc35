// casc-tool forge: the stores it writes, read back from the outside with the rules the
// launcher's readers follow (archive index, local .idx, slot headers, encoding file).
#include "support/CdnPath.h"
#include "support/Files.h"
#include "support/WarningLog.h"
#include "casc/BLTEHandler.h"
#include "casc/Bytes.h"
#include "platform/Md5.h"
#include "casc/CASCEncodingFile.h"
#include "casc/CASCIndexFile.h"
#include "casc/CASCLocalIndex.h"
#include "casc/CASCSlotCheck.h"
#include "platform/QtCompat.h"
#include "tools/forge/ForgeCommand.h"

#include <QDataStream>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <map>
#include <set>

using namespace Orvane::CASC;

namespace {

quint32 Be32(const QByteArray& p_Data, int p_At)
{
    return qFromBigEndian<quint32>(reinterpret_cast<const uchar*>(p_Data.constData() + p_At));
}

struct Run
{
    int m_Status = -1;
    QString m_Out;
    QString m_Err;
};

Run RunForge(const QStringList& p_Args)
{
    Run l_Run;
    QTextStream l_Out(&l_Run.m_Out);
    QTextStream l_Err(&l_Run.m_Err);
    l_Run.m_Status = Forge::ForgeCommand::Run(p_Args, l_Out, l_Err);
    return l_Run;
}

/// A forged store, read back with the launcher's own readers (tst_encoding and tst_cascindex pin
/// their formats with hand-built files): the summary and the tables they build.
struct Store
{
    QString m_Root;
    QJsonObject m_Summary;
    QString m_CdnRoot; ///< OUT/cdn/<path>/
    QString m_Install;
    std::map<QByteArray, int> m_BlobByIndexKey;

    explicit Store(const QString& p_Root) : m_Root(p_Root)
    {
        m_Summary = QJsonDocument::fromJson(ReadFile(p_Root + "/forge.json")).object();
        m_CdnRoot = p_Root + "/cdn/" + m_Summary["cdnPath"].toString() + '/';
        m_Install = p_Root + "/install/";
        const QJsonArray l_Blobs = Blobs();
        for (int l_I = 0; l_I < l_Blobs.size(); ++l_I)
            m_BlobByIndexKey[QByteArray::fromHex(l_Blobs[l_I].toObject()["indexKey"].toString().toLatin1())] = l_I;
    }

    QJsonArray Blobs() const { return m_Summary["blobs"].toArray(); }

    /// The entries of the 16 .idx files; each key must sit in its file's bucket.
    std::vector<CASCLocalIndexEntry> ReadIdx() const
    {
        std::vector<CASCLocalIndexEntry> l_All;
        const QStringList l_Files = CASCLocalIndex::List(m_Install);
        if (l_Files.size() != 16)
            qFatal("%d .idx files", int(l_Files.size()));
        for (const QString& l_File : l_Files)
        {
            std::vector<CASCLocalIndexEntry> l_Entries;
            QString l_Error;
            if (!CASCLocalIndex::Read(l_File, l_Entries, l_Error))
                qFatal("%s", qPrintable(l_Error));
            for (const CASCLocalIndexEntry& l_Entry : l_Entries)
            {
                quint8 l_Xor = 0;
                for (char l_Byte : l_Entry.Key)
                    l_Xor ^= quint8(l_Byte);
                if (((l_Xor & 15) ^ (l_Xor >> 4)) != QFileInfo(l_File).fileName().left(2).toInt(nullptr, 16))
                    qFatal("%s lists a key of another bucket", qPrintable(l_File));
            }
            l_All.insert(l_All.end(), l_Entries.begin(), l_Entries.end());
        }
        return l_All;
    }

    /// A CDN .index's entries (24 bytes each: key, size, offset) as the launcher reads them.
    static QList<QByteArray> ReadCdnIndex(const QByteArray& p_Data)
    {
        QList<QByteArray> l_Entries;
        const uchar* l_Base = reinterpret_cast<const uchar*>(p_Data.constData());
        if (CASCIndexFile::Parse(l_Base, p_Data.size(), [&](const uchar* p_Key, quint32, quint32) {
                l_Entries.append(p_Data.mid(int(p_Key - l_Base), 24));
            }) != CASCIndexFile::Ok)
            qFatal("a CDN index does not parse");
        return l_Entries;
    }

    /// The encoding file from the CDN, decoded and parsed.
    CASCEncodingMap ReadEncoding() const
    {
        const QString l_Key = m_Summary["encoding"].toObject()["encodingKey"].toString();
        QFile l_File(m_CdnRoot + "data/" + KeyedPath(l_Key));
        l_File.open(QIODevice::ReadOnly);
        QDataStream l_Stream(&l_File);
        QByteArray l_Data;
        CASCEncodingMap l_Map;
        if (BLTEHandler::ExtractData(l_Stream, quint64(l_File.size()), QByteArray::fromHex(l_Key.toLatin1()).constData(),
                                     l_Data) != 0 ||
            !CASCEncodingFile::Parse(l_Data, l_Map))
            qFatal("the encoding file does not decode");
        return l_Map;
    }

    /// The blobs whose slot the launcher's install scan would list for download.
    std::set<int> DamagedSlots() const
    {
        // Damaged slots are read on purpose: the decoder's complaints are expected.
        WarningLog l_Quiet;
        l_Quiet.Silence = [](const QString& p_Line) { return p_Line.contains("BLTEHandler::"); };
        const CASCEncodingMap l_Encoding = ReadEncoding();
        std::set<int> l_Damaged;
        for (const CASCLocalIndexEntry& l_Entry : ReadIdx())
        {
            const int l_Blob = m_BlobByIndexKey.at(QByteArray(l_Entry.Key, 9));
            QFile l_File(m_Install + QString::asprintf("data/data/data.%03d", l_Entry.Archive));
            const quint32 l_BlobSize = quint32(Blobs()[l_Blob].toObject()["blobSize"].toDouble());
            if (!l_File.open(QIODevice::ReadOnly) ||
                CASCSlotCheck::Check(l_File, l_File.size(), l_Entry.Offset, l_BlobSize, l_Entry.Key, l_Encoding) !=
                    CASCSlotCheck::Verdict::Whole)
                l_Damaged.insert(l_Blob);
        }
        return l_Damaged;
    }

    std::set<int> SummaryDamage() const
    {
        std::set<int> l_Out;
        for (const QJsonValue& l_Slot : m_Summary["damagedSlots"].toArray())
            l_Out.insert(l_Slot.toObject()["blob"].toInt());
        return l_Out;
    }
};

/// Every file below p_Root with its bytes, by relative path.
std::map<QString, QByteArray> Tree(const QString& p_Root)
{
    std::map<QString, QByteArray> l_Files;
    QDirIterator l_It(p_Root, QDir::Files, QDirIterator::Subdirectories);
    while (l_It.hasNext())
    {
        const QString l_Path = l_It.next();
        l_Files[QDir(p_Root).relativeFilePath(l_Path)] = ReadFile(l_Path);
    }
    return l_Files;
}

} // namespace

class ForgeTest : public QObject
{
    Q_OBJECT

private slots:
    void store_data();
    void store();
    void indexBlocks_data();
    void indexBlocks();
    void sameSeedSameBytes();
    void damage_data();
    void damage();
    void missingBaseFiles();
    void refusals_data();
    void refusals();
    void overwriteWithForce();
};

void ForgeTest::store_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("defaults") << QStringList();
    QTest::newRow("plain, one chunk, one host per region line") << QStringList{"--mode", "N", "--chunk", "0"};
    QTest::newRow("small chunks, several hosts, other path")
        << QStringList{"--chunk", "1K", "--hosts", "127.0.0.1:9001 127.0.0.1:9002", "--cdn-path", "x/y/z"};
    // Archive numbers above 3 use the high byte of the .idx location.
    QTest::newRow("archives 254 and 255") << QStringList{"--first-archive", "254", "--local-archives", "2"};
    QTest::newRow("many small files, several encoding pages")
        << QStringList{"--files", "400", "--min-size", "0", "--max-size", "300", "--local-archives", "5",
                       "--data-archives", "3", "--patch-archives", "2"};
    QTest::newRow("from a folder") << QStringList{"--from", "FOLDER"};
}

void ForgeTest::store()
{
    QFETCH(QStringList, args);
    QTemporaryDir l_Dir;
    if (args.contains("FOLDER"))
    {
        const QString l_Folder = l_Dir.filePath("content");
        QVERIFY(WriteFile(l_Folder + "/b.txt", "bravo") && WriteFile(l_Folder + "/a.txt", QByteArray(5000, 'a')) &&
                WriteFile(l_Folder + "/sub/empty", "") && WriteFile(l_Folder + "/sub/deeper/c.bin", "\x01\x02\x03") &&
                WriteFile(l_Folder + "/sub/same-as-b", "bravo"));
        args.replace(args.indexOf("FOLDER"), l_Folder);
    }
    const QString l_Out = l_Dir.filePath("out");
    const Run l_Run = RunForge(QStringList{l_Out} + args);
    QVERIFY2(l_Run.m_Status == 0, qPrintable(l_Run.m_Err));
    const Store l_Store(l_Out);
    const QJsonObject& l_Summary = l_Store.m_Summary;
    const QJsonArray l_Blobs = l_Store.Blobs();
    if (args.contains("--from"))
    {
        // Sorted paths, identical files share a blob, the empty file is a blob too.
        QCOMPARE(l_Blobs.size(), 4);
        QCOMPARE(l_Blobs[0].toObject()["paths"].toArray().first().toString(), QString("a.txt"));
        QCOMPARE(l_Blobs[1].toObject()["paths"].toArray().size(), 2);
        QCOMPARE(l_Blobs[3].toObject()["contentSize"].toInt(), 0);
    }

    // Tables: a header line, then 3 and 5 columns per region; they name the configurations.
    const QList<QByteArray> l_Cdns = ReadFile(l_Out + "/cdn/wow/cdns").split('\n');
    const QList<QByteArray> l_Versions = ReadFile(l_Out + "/cdn/wow/versions").split('\n');
    QVERIFY(l_Cdns.first().startsWith("Name!STRING:0|Path!STRING:0|Hosts!STRING:0"));
    QVERIFY(l_Versions.first().startsWith("Region!STRING:0|BuildConfig!HEX:16|CDNConfig!HEX:16|BuildId!DEC:4"));
    QStringList l_Regions;
    for (int l_I = 1; l_I < l_Cdns.size() - 1; ++l_I)
    {
        const QList<QByteArray> l_Columns = l_Cdns[l_I].split('|');
        QCOMPARE(l_Columns.size(), 3);
        QCOMPARE(QString(l_Columns[1]), l_Summary["cdnPath"].toString());
        QCOMPARE(QString(l_Columns[2]).split(' '), l_Summary["hosts"].toVariant().toStringList());
        l_Regions.append(l_Columns[0]);
        const QList<QByteArray> l_Version = l_Versions[l_I].split('|');
        QCOMPARE(l_Version.size(), 5);
        QCOMPARE(QString(l_Version[1]), l_Summary["configs"].toObject()["build"].toString());
        QCOMPARE(QString(l_Version[2]), l_Summary["configs"].toObject()["cdn"].toString());
    }
    QVERIFY(l_Regions.contains("us") && l_Regions.contains("eu"));

    // Configuration files are named by the MD5 of their text, on the CDN and in the installation.
    const QJsonObject l_Configs = l_Summary["configs"].toObject();
    QByteArray l_BuildConfig;
    for (const char* l_Which : {"cdn", "build", "patch"})
    {
        const QString l_Key = l_Configs[l_Which].toString();
        const QByteArray l_Text = ReadFile(l_Store.m_CdnRoot + "config/" + KeyedPath(l_Key));
        QCOMPARE(QString(Orvane::Md5::Hash(l_Text).toHex()), l_Key);
        QCOMPARE(ReadFile(l_Store.m_Install + "data/config/" + KeyedPath(l_Key)), l_Text);
        QVERIFY(!l_Text.contains('\r'));
        if (QByteArray(l_Which) == "build")
            l_BuildConfig = l_Text;
    }
    const QJsonObject l_Encoding = l_Summary["encoding"].toObject();
    QVERIFY(l_BuildConfig.contains("\nencoding = " + l_Encoding["contentKey"].toString().toLatin1() + ' ' +
                                   l_Encoding["encodingKey"].toString().toLatin1() + '\n'));
    QVERIFY(l_BuildConfig.contains("\npatch-config = " + l_Configs["patch"].toString().toLatin1() + '\n'));
    const QByteArray l_CdnConfig = ReadFile(l_Store.m_CdnRoot + "config/" + KeyedPath(l_Configs["cdn"].toString()));

    // The encoding file lists every blob, and nothing else.
    const CASCEncodingMap l_Map = l_Store.ReadEncoding();
    QCOMPARE(int(l_Map.Size()), l_Blobs.size());
    for (const QJsonValue& l_Value : l_Blobs)
    {
        const QJsonObject l_Blob = l_Value.toObject();
        const CASCEncodingRecord* l_Found = l_Map.Find(QByteArray::fromHex(l_Blob["indexKey"].toString().toLatin1()));
        QVERIFY(l_Found);
        QCOMPARE(QString(QByteArray(l_Found->ContentKey, 16).toHex()), l_Blob["contentKey"].toString());
        QCOMPARE(int(l_Found->FullSize()), l_Blob["contentSize"].toInt());
    }
    QCOMPARE(ReadFile(l_Store.m_Install + "data/orvane/" + l_Encoding["encodingKey"].toString()),
             ReadFile(l_Store.m_CdnRoot + "data/" + KeyedPath(l_Encoding["encodingKey"].toString())));

    // Every CDN index entry points at a range of its archive that decodes to the listed content.
    int l_Listed = 0;
    for (const QJsonValue& l_Value : l_Summary["archives"].toArray())
    {
        const QJsonObject l_Archive = l_Value.toObject();
        const QString l_Name = l_Archive["name"].toString();
        const bool l_Patch = l_Archive["patch"].toBool();
        QVERIFY(l_CdnConfig.contains((l_Patch ? "patch-archives = " : "archives = ")));
        QVERIFY(l_CdnConfig.contains(l_Name.toLatin1()));
        const QString l_Path = l_Store.m_CdnRoot + (l_Patch ? "patch/" : "data/") + KeyedPath(l_Name);
        const QByteArray l_Index = ReadFile(l_Path + ".index");
        QCOMPARE(ReadFile(l_Store.m_Install + "data/indices/" + l_Name + ".index"), l_Index);
        QFile l_Data(l_Path);
        QVERIFY(l_Data.open(QIODevice::ReadOnly));
        const QList<QByteArray> l_Entries = Store::ReadCdnIndex(l_Index);
        QCOMPARE(l_Entries.size(), l_Archive["entries"].toInt());
        for (const QByteArray& l_Entry : l_Entries)
        {
            const int l_Number = l_Store.m_BlobByIndexKey.at(l_Entry.left(9));
            const QJsonObject l_Blob = l_Blobs[l_Number].toObject();
            QCOMPARE(QString(l_Entry.left(16).toHex()), l_Blob["encodingKey"].toString());
            QCOMPARE(l_Blob["patch"].toBool(), l_Patch);
            QCOMPARE(int(Be32(l_Entry, 20)), l_Blob["cdnOffset"].toInt());
            QVERIFY(l_Data.seek(Be32(l_Entry, 20)));
            QDataStream l_Stream(&l_Data);
            QByteArray l_Content;
            QCOMPARE(BLTEHandler::ExtractData(l_Stream, Be32(l_Entry, 16), l_Entry.constData(), l_Content), 0);
            QCOMPARE(QString(Orvane::Md5::Hash(l_Content).toHex()), l_Blob["contentKey"].toString());
            ++l_Listed;
        }
    }
    QCOMPARE(l_Listed, l_Blobs.size());

    // Every slot the .idx files name decodes with its header's key and matches the encoding file.
    const auto l_Idx = l_Store.ReadIdx();
    QCOMPARE(int(l_Idx.size()), l_Blobs.size());
    for (const auto& l_Entry : l_Idx)
    {
        const QJsonObject l_Blob = l_Blobs[l_Store.m_BlobByIndexKey.at(QByteArray(l_Entry.Key, 9))].toObject();
        QCOMPARE(int(l_Entry.Archive), l_Blob["localArchive"].toInt());
        QCOMPARE(int(l_Entry.Offset), l_Blob["localOffset"].toInt());
        QCOMPARE(int(l_Entry.Size), l_Blob["blobSize"].toInt() + 30);
    }
    QCOMPARE(int(l_Store.DamagedSlots().size()), 0);
    QVERIFY(l_Summary["damagedSlots"].toArray().isEmpty());
    QVERIFY(l_Summary["missingFiles"].toArray().isEmpty());
}

void ForgeTest::indexBlocks_data()
{
    QTest::addColumn<int>("entries");
    for (int l_Count : {1, 169, 170, 171, 341})
        QTest::addRow("%d entries", l_Count) << l_Count;
}

void ForgeTest::indexBlocks()
{
    QFETCH(int, entries);
    QTemporaryDir l_Dir;
    const QString l_Out = l_Dir.filePath("out");
    QCOMPARE(RunForge({l_Out, "--files", QString::number(entries), "--min-size", "16", "--max-size", "40",
                    "--data-archives", "1", "--patch-archives", "0", "--local-archives", "1"})
                 .m_Status,
             0);
    const Store l_Store(l_Out);
    const QString l_Name = l_Store.m_Summary["archives"].toArray().first().toObject()["name"].toString();
    const QByteArray l_Index = ReadFile(l_Store.m_CdnRoot + "data/" + KeyedPath(l_Name) + ".index");
    const int l_Blocks = (entries + 169) / 170;
    // Blocks, the last key and 8-byte hash of each block, then the 28-byte footer.
    QCOMPARE(l_Index.size(), l_Blocks * 4096 + l_Blocks * 24 + 28);
    for (int l_Block = 0; l_Block < entries / 170; ++l_Block)
        QCOMPARE(l_Index.mid(l_Block * 4096 + 4080, 16), QByteArray(16, '\0'));

    const QList<QByteArray> l_Entries = Store::ReadCdnIndex(l_Index);
    QCOMPARE(l_Entries.size(), entries);
    std::set<QByteArray> l_Keys;
    QByteArray l_Previous;
    for (const QByteArray& l_Entry : l_Entries)
    {
        QVERIFY(l_Entry.left(16) > l_Previous);
        l_Previous = l_Entry.left(16);
        l_Keys.insert(l_Entry.left(9));
    }
    std::set<QByteArray> l_Expected;
    for (const auto& l_Pair : l_Store.m_BlobByIndexKey)
        l_Expected.insert(l_Pair.first);
    QVERIFY(l_Keys == l_Expected);
}

void ForgeTest::sameSeedSameBytes()
{
    QTemporaryDir l_Dir;
    const QStringList l_Args = {"--files", "20", "--seed", "77", "--zero-slot", "3"};
    QCOMPARE(RunForge(QStringList{l_Dir.filePath("a")} + l_Args).m_Status, 0);
    QCOMPARE(RunForge(QStringList{l_Dir.filePath("b")} + l_Args).m_Status, 0);
    QCOMPARE(RunForge({l_Dir.filePath("c"), "--files", "20", "--seed", "78", "--zero-slot", "3"}).m_Status, 0);
    const auto l_A = Tree(l_Dir.filePath("a"));
    QVERIFY(l_A.size() > 30);
    QVERIFY(l_A == Tree(l_Dir.filePath("b")));
    const auto l_C = Tree(l_Dir.filePath("c"));
    QVERIFY(Store(l_Dir.filePath("a")).m_BlobByIndexKey.begin()->first !=
            Store(l_Dir.filePath("c")).m_BlobByIndexKey.begin()->first);
    QVERIFY(l_A.at("cdn/wow/versions") != l_C.at("cdn/wow/versions"));
}

void ForgeTest::damage_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QList<int>>("damaged"); // -1: every slot
    QTest::addColumn<QString>("kind");
    // Blob n sits in local archive n % 2 with the defaults.
    QTest::newRow("zeroed first and last") << QStringList{"--zero-slot", "0", "--zero-slot", "63"} << QList<int>{0, 63}
                                           << "zeroed";
    QTest::newRow("truncated, one per archive") << QStringList{"--truncate-slot", "4", "--truncate-slot", "7"}
                                                << QList<int>{4, 7} << "truncated";
    QTest::newRow("holding the next blob") << QStringList{"--swap-slot", "2", "--swap-slot", "63"} << QList<int>{2, 63}
                                           << "other-blob";
    QTest::newRow("holding a chosen blob") << QStringList{"--swap-slot", "5:40"} << QList<int>{5} << "other-blob";
    QTest::newRow("missing archive") << QStringList{"--drop-archive", "1"} << QList<int>{-2} << "missing-archive";
    QTest::newRow("no archives") << QStringList{"--no-local-archives"} << QList<int>{-1} << "missing-archive";
    // Three local archives: blob n sits in n % 3.
    QTest::newRow("mixed") << QStringList{"--zero-slot", "1", "--truncate-slot", "4", "--swap-slot", "9",
                                          "--local-archives", "3", "--drop-archive", "2"}
                           << QList<int>{1, 4, 9, -3} << "";
}

void ForgeTest::damage()
{
    QFETCH(QStringList, args);
    QFETCH(QList<int>, damaged);
    QFETCH(QString, kind);
    QTemporaryDir l_Dir;
    const QString l_Out = l_Dir.filePath("out");
    const Run l_Run = RunForge(QStringList{l_Out} + args);
    QVERIFY2(l_Run.m_Status == 0, qPrintable(l_Run.m_Err));
    const Store l_Store(l_Out);
    const QJsonArray l_Blobs = l_Store.Blobs();

    std::set<int> l_Expected;
    for (int l_Item : damaged)
        for (int l_I = 0; l_I < l_Blobs.size(); ++l_I)
            if (l_Item == l_I || l_Item == -1 ||
                (l_Item < -1 && l_Blobs[l_I].toObject()["localArchive"].toInt() == -l_Item - 1))
                l_Expected.insert(l_I);
    QVERIFY(l_Store.SummaryDamage() == l_Expected);
    QVERIFY(l_Store.DamagedSlots() == l_Expected);
    for (int l_I = 0; l_I < l_Blobs.size(); ++l_I)
    {
        const QJsonValue l_Damage = l_Blobs[l_I].toObject()["damage"];
        QCOMPARE(l_Damage.isNull(), !l_Expected.count(l_I));
        if (!kind.isEmpty() && l_Expected.count(l_I))
            QCOMPARE(l_Damage.toString(), kind);
    }
    // The rest of the installation and the CDN side stay whole.
    for (const QJsonValue& l_Archive : l_Store.m_Summary["localArchives"].toArray())
    {
        const QJsonObject l_Local = l_Archive.toObject();
        QCOMPARE(QFile::exists(l_Store.m_Install + "data/data/" + l_Local["file"].toString()),
                 l_Local["present"].toBool());
    }
    QCOMPARE(int(l_Store.ReadIdx().size()), l_Blobs.size());
    QCOMPARE(int(l_Store.ReadEncoding().Size()), l_Blobs.size());
}

void ForgeTest::missingBaseFiles()
{
    QTemporaryDir l_Dir;
    const QString l_Out = l_Dir.filePath("out");
    QCOMPARE(RunForge({l_Out, "--missing-config", "build", "--missing-config", "patch", "--missing-index", "2",
                    "--missing-index", "0", "--missing-encoding"})
                 .m_Status,
             0);
    const Store l_Store(l_Out);
    const QJsonObject l_Configs = l_Store.m_Summary["configs"].toObject();
    const QJsonArray l_Archives = l_Store.m_Summary["archives"].toArray();
    const QStringList l_Missing = {
        "data/config/" + KeyedPath(l_Configs["build"].toString()),
        "data/config/" + KeyedPath(l_Configs["patch"].toString()),
        "data/indices/" + l_Archives[0].toObject()["name"].toString() + ".index",
        "data/indices/" + l_Archives[2].toObject()["name"].toString() + ".index",
        "data/orvane/" + l_Store.m_Summary["encoding"].toObject()["encodingKey"].toString()};
    const QStringList l_Present = {"data/config/" + KeyedPath(l_Configs["cdn"].toString()),
                                   "data/indices/" + l_Archives[1].toObject()["name"].toString() + ".index",
                                   "data/data/data.000", "data/data/data.001"};
    for (const QString& l_Path : l_Missing)
        QVERIFY2(!QFile::exists(l_Store.m_Install + l_Path), qPrintable(l_Path));
    for (const QString& l_Path : l_Present)
        QVERIFY2(QFile::exists(l_Store.m_Install + l_Path), qPrintable(l_Path));
    QCOMPARE(Orvane::Compat::ToSet(l_Store.m_Summary["missingFiles"].toVariant().toStringList()),
             Orvane::Compat::ToSet(l_Missing));
    // Base files are the launcher's to fetch again; the CDN keeps every one of them.
    QVERIFY(QFile::exists(l_Store.m_CdnRoot + "config/" + KeyedPath(l_Configs["build"].toString())));
    QVERIFY(l_Store.DamagedSlots().empty());
}

void ForgeTest::refusals_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::newRow("no OUT") << QStringList{"--files", "3"} << 64 << "OUT is missing";
    QTest::newRow("two OUTs") << QStringList{"OUT", "other"} << 64 << "one OUT folder expected";
    QTest::newRow("unknown option") << QStringList{"OUT", "--colour"} << 64 << "unknown option --colour";
    QTest::newRow("value missing") << QStringList{"OUT", "--files"} << 64 << "--files needs a value";
    QTest::newRow("bad mode") << QStringList{"OUT", "--mode", "E"} << 64 << "must be N or Z";
    QTest::newRow("zero files") << QStringList{"OUT", "--files", "0"} << 64 << "--files '0' must be a number";
    QTest::newRow("sizes crossed") << QStringList{"OUT", "--min-size", "10", "--max-size", "5"} << 64 << "is above";
    QTest::newRow("path climbs out") << QStringList{"OUT", "--cdn-path", "../etc"} << 64 << "plain folder names";
    QTest::newRow("bad host") << QStringList{"OUT", "--hosts", "a|b"} << 64 << "HOST[:PORT]";
    QTest::newRow("archive numbers past 255") << QStringList{"OUT", "--first-archive", "250", "--local-archives", "7"}
                                              << 64 << "do not fit";
    QTest::newRow("slot out of range") << QStringList{"OUT", "--files", "4", "--zero-slot", "4"} << 64
                                       << "blob 4 does not exist";
    QTest::newRow("slot damaged twice") << QStringList{"OUT", "--zero-slot", "1", "--swap-slot", "1"} << 64
                                        << "damaged twice";
    QTest::newRow("two truncated in one archive")
        << QStringList{"OUT", "--truncate-slot", "2", "--truncate-slot", "4"} << 64 << "only one slot per archive";
    QTest::newRow("swap with itself") << QStringList{"OUT", "--swap-slot", "3:3"} << 64 << "another existing blob";
    QTest::newRow("drop an archive that is not there") << QStringList{"OUT", "--drop-archive", "5"} << 64
                                                       << "not a local archive";
    QTest::newRow("damage inside a dropped archive") << QStringList{"OUT", "--drop-archive", "1", "--zero-slot", "1"}
                                                     << 64 << "not written";
    QTest::newRow("index of no archive") << QStringList{"OUT", "--missing-index", "3"} << 64 << "not a CDN archive";
    QTest::newRow("empty folder") << QStringList{"OUT", "--from", "EMPTY"} << 64 << "no regular file";
    QTest::newRow("folder missing") << QStringList{"OUT", "--from", "NOWHERE"} << 66 << "not a folder";
    QTest::newRow("OUT below a file") << QStringList{"FILE/out"} << 73 << "cannot create folder";
    QTest::newRow("OUT is a file") << QStringList{"FILE"} << 64 << "is not a folder";
    QTest::newRow("OUT not empty") << QStringList{"FULL"} << 64 << "holds files (--force writes into it)";
}

void ForgeTest::refusals()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, message);
    QTemporaryDir l_Dir;
    QVERIFY(QDir().mkpath(l_Dir.filePath("EMPTY")) && WriteFile(l_Dir.filePath("FULL/deep/keep"), "") &&
            WriteFile(l_Dir.filePath("FILE"), ""));
    for (QString& l_Arg : args)
        if (QStringList{"OUT", "EMPTY", "NOWHERE", "FULL", "FILE", "FILE/out"}.contains(l_Arg))
            l_Arg = l_Dir.filePath(l_Arg);
    const Run l_Run = RunForge(args);
    QCOMPARE(l_Run.m_Status, status);
    QVERIFY2(l_Run.m_Err.startsWith("casc-tool forge: ") && l_Run.m_Err.count('\n') == 1 &&
                 l_Run.m_Err.contains(message),
             qPrintable(l_Run.m_Err));
    QVERIFY(!QFile::exists(l_Dir.filePath("OUT")));
    QVERIFY(!QFile::exists(l_Dir.filePath("FULL/forge.json")));
    QVERIFY(QFile::exists(l_Dir.filePath("FULL/deep/keep")));
}

void ForgeTest::overwriteWithForce()
{
    QTemporaryDir l_Dir;
    const QString l_Out = l_Dir.filePath("out");
    // Empty folders are no reason to refuse: a web server may already serve out/cdn.
    QVERIFY(QDir().mkpath(l_Out + "/cdn/empty"));
    QCOMPARE(RunForge({l_Out, "--files", "30", "--cdn-path", "old/path"}).m_Status, 0);
    QVERIFY(WriteFile(l_Out + "/notes.txt", "mine"));
    QCOMPARE(RunForge({l_Out, "--files", "5"}).m_Status, 64);
    QCOMPARE(Store(l_Out).Blobs().size(), 30);
    QCOMPARE(RunForge({l_Out, "--files", "5", "--force"}).m_Status, 0);
    // The earlier store is gone whole, the folder's other files stay.
    QVERIFY(!QFile::exists(l_Out + "/cdn/old"));
    QCOMPARE(Store(l_Out).Blobs().size(), 5);
    QCOMPARE(int(Tree(l_Out + "/install/data/data").size()), 16 + 2);
    QCOMPARE(ReadFile(l_Out + "/notes.txt"), QByteArray("mine"));
}

QTEST_GUILESS_MAIN(ForgeTest)
#include "tst_forge.moc"
