// casc-tool's read side: tables, configuration and archive indices of a forged store, as text
// and JSON, the offline scan and the decoder's refusals, and the exit status for each kind of bad input.
#include "support/CascStore.h"
#include "support/CdnPath.h"
#include "support/TestBuild.h"
#include "support/ToolRun.h"
#include "casc/BLTEWriter.h"

#include <QJsonDocument>
#include <QProcess>
#include <QtTest>

class CascToolTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void commands_data();
    void commands();

private:
    CascStore m_Store;
    CascStore m_Damaged;
    QString m_BlobKey;
};

void CascToolTest::initTestCase()
{
    QVERIFY2(m_Store.Forge({"--files", "30", "--max-size", "2K"}), qPrintable(m_Store.Error()));
    QVERIFY2(m_Damaged.Forge({"--files", "12", "--max-size", "2K", "--zero-slot", "3"}),
             qPrintable(m_Damaged.Error()));
    QVERIFY(WriteFile(m_Store.Root() + "/empty.index", QByteArray(12, '\0')));
    QVERIFY(WriteFile(m_Store.Root() + "/short.index", QByteArray(11, '\0')));
    QVERIFY(WriteFile(m_Store.Root() + "/wide", "Name|Path|Hosts|More\neu|p|h|x\n"));
    // A patch configuration as it comes without its title line, with the entries the forge does not write.
    QVERIFY(WriteFile(m_Store.Root() + "/patch-untitled",
                      "patch = 0123456789abcdef0123456789abcdef\npatch-entry = install a 1 b 2\n"
                      "patch-entry = download c 3 d 4\npatch-size = 77\n"));
    QVERIFY(WriteFile(m_Store.Root() + "/cdn-no-patch",
                      "# CDN Configuration\n\narchives = aa bb\narchive-group = cc\nbuilds = dd\n"));
    QByteArray l_Blob;
    QVERIFY(Orvane::CASC::BLTEWriter::Encode(TestBuild::Pattern(9000, 7), Orvane::CASC::BLTEWriter::Options(), l_Blob));
    m_BlobKey = Orvane::CASC::BLTEWriter::EncodingKey(l_Blob).toHex();
    QByteArray l_Damaged = l_Blob;
    l_Damaged[l_Damaged.size() - 1] = char(l_Damaged.at(l_Damaged.size() - 1) ^ 1);
    QVERIFY(WriteFile(m_Store.Root() + "/blob", l_Blob) && WriteFile(m_Store.Root() + "/damaged", l_Damaged) &&
            WriteFile(m_Store.Root() + "/plain", "not a blob"));
}

void CascToolTest::commands_data()
{
    // CDN, BUILD, PATCH, INDEX, ROOT, STORE and DAMAGED stand for the store's files and folders (in the
    // expected text ROOT only); BLOBKEY for the key of ROOT/blob.
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    // In the output (stdout, else stderr); "err:" on stderr whatever the status; "json:key=value" of the
    // JSON document.
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("unwanted"); // in neither stream
    QTest::newRow("cdns") << QStringList{"tables", "ROOT/cdn/wow/cdns"} << 0 << "region 2 (eu): path tpr/wow host "
                          << "";
    QTest::newRow("versions as JSON") << QStringList{"tables", "ROOT/cdn/wow/versions", "--json"} << 0
                                      << "json:table=versions" << "";
    QTest::newRow("no row of a table's width") << QStringList{"tables", "ROOT/wide"} << 65 << "no row" << "";
    QTest::newRow("CDN configuration") << QStringList{"config", "CDN"} << 0 << "CDN configuration: 5 fields\n"
                                       << "";
    QTest::newRow("CDN configuration without patch archives")
        << QStringList{"config", "ROOT/cdn-no-patch"} << 0
        << "CDN configuration: 3 fields\narchives = aa bb\narchive-group = cc\nbuilds = dd\n" << "patch";
    QTest::newRow("build configuration as JSON") << QStringList{"config", "BUILD", "--json"} << 0 << "json:kind=build"
                                                 << "";
    QTest::newRow("build configuration, only its fields") << QStringList{"config", "BUILD", "--json"} << 0
                                                          << "json:keys=11" << "build-playbuild-installer";
    QTest::newRow("patch configuration") << QStringList{"config", "PATCH"} << 0
                                         << "patch configuration: 2 fields\npatch = " << "root";
    QTest::newRow("patch configuration without its title")
        << QStringList{"config", "ROOT/patch-untitled"} << 0
        << "patch configuration: 3 fields\npatch = 0123456789abcdef0123456789abcdef\npatch-size = 77\n"
           "patch-entry = install a 1 b 2\npatch-entry = download c 3 d 4\n"
        << "build configuration";
    QTest::newRow("patch configuration as JSON") << QStringList{"config", "PATCH", "--json"} << 0 << "json:kind=patch"
                                                 << "encoding";
    QTest::newRow("not a configuration") << QStringList{"config", "ROOT/wide"} << 65 << "no known configuration key"
                                         << "";
    QTest::newRow("index, first entry") << QStringList{"index", "INDEX", "--limit", "1"} << 0 << "LINES=2" << "";
    QTest::newRow("index as JSON") << QStringList{"index", "INDEX", "--json"} << 0 << "json:count=ENTRIES" << "";
    QTest::newRow("empty index") << QStringList{"index", "ROOT/empty.index"} << 0 << "0 entries" << "";
    QTest::newRow("index shorter than its tail") << QStringList{"index", "ROOT/short.index"} << 65 << "shorter" << "";
    QTest::newRow("count beyond the entries") << QStringList{"index", "CDN"} << 65 << "needs more entries" << "";
    QTest::newRow("missing file") << QStringList{"index", "ROOT/none"} << 66 << "cannot read" << "";
    QTest::newRow("bad limit") << QStringList{"index", "INDEX", "--limit", "x"} << 64 << "--limit needs a count"
                               << "";
    QTest::newRow("limit on tables") << QStringList{"tables", "CDN", "--limit", "1"} << 64 << "unknown option --limit"
                                     << "";
    QTest::newRow("whole store") << QStringList{"scan", "STORE"} << 0 << "err:30 slots checked: the store is whole\n"
                                 << "";
    QTest::newRow("whole store as JSON") << QStringList{"scan", "STORE", "--json"} << 0 << "json:checked=30" << "";
    QTest::newRow("damaged store") << QStringList{"scan", "DAMAGED"} << 1
                                   << "err:12 slots checked: 1 to fetch (1 size-mismatch)\n" << "";
    QTest::newRow("decode, wrong key") << QStringList{"blte", "decode", "ROOT/blob", "--key", QString(32, 'a')} << 2
                                       << "ROOT/blob is not the blob of that key " + QString(32, 'a')
                                              + ": its encoding key is BLOBKEY\n"
                                       << "BLTEHandler";
    QTest::newRow("decode, damaged chunk") << QStringList{"blte", "decode", "ROOT/damaged"} << 9
                                           << "a chunk of ROOT/damaged is damaged" << "BLTEHandler";
    QTest::newRow("decode, not a blob") << QStringList{"blte", "decode", "ROOT/plain"} << 1
                                        << "ROOT/plain is not a BLTE blob" << "BLTEHandler";
}

void CascToolTest::commands()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, expected);
    QFETCH(QString, unwanted);
    const QJsonObject l_Archive = m_Store.Summary()["archives"].toArray()[0].toObject();
    const QString l_Index = m_Store.Install() + "data/indices/" + l_Archive["name"].toString() + ".index";
    const auto l_Replace = [&](QString p_Text) {
        return p_Text.replace("ROOT", m_Store.Root())
            .replace("INDEX", l_Index)
            .replace("CDN", m_Store.Install() + "data/config/" + KeyedPath(m_Store.Config("cdn")))
            .replace("BUILD", m_Store.Install() + "data/config/" + KeyedPath(m_Store.Config("build")))
            .replace("PATCH", m_Store.Install() + "data/config/" + KeyedPath(m_Store.Config("patch")))
            .replace("STORE", m_Store.Install())
            .replace("DAMAGED", m_Damaged.Install())
            .replace("BLOBKEY", m_BlobKey);
    };
    for (QString& l_Arg : args)
        l_Arg = l_Replace(l_Arg);
    expected.replace("ROOT", m_Store.Root()).replace("BLOBKEY", m_BlobKey);
    const ToolRun l_Tool = ToolRun::Run(KESTRUN_BIN_DIR "/casc-tool", args, 30000);
    const QString l_Out = l_Tool.OutText(), l_Err = l_Tool.ErrText();
    QVERIFY2(l_Tool.Code == status, l_Tool.Describe());
    // A run that succeeds says nothing on the error stream (scan: its verdict only).
    if (status == 0 && args.first() != "scan")
        QVERIFY2(l_Err.isEmpty(), qPrintable(l_Err));
    if (!unwanted.isEmpty())
        QVERIFY2(!l_Out.contains(unwanted) && !l_Err.contains(unwanted), l_Tool.Describe());
    expected.replace("ENTRIES", QString::number(l_Archive["entries"].toInt()));
    if (expected.startsWith("LINES="))
    {
        QCOMPARE(l_Out.count('\n'), expected.mid(6).toInt());
        QVERIFY(l_Out.endsWith(QString("%1 entries\n").arg(l_Archive["entries"].toInt())));
    }
    else if (expected.startsWith("json:"))
    {
        const QJsonObject l_Json = QJsonDocument::fromJson(l_Out.toUtf8()).object();
        const QString l_Key = expected.mid(5).section(QChar(61), 0, 0);
        QCOMPARE(l_Json[l_Key].toVariant().toString(), expected.section('=', 1));
        if (l_Key == "count")
            QCOMPARE(l_Json["entries"].toArray().size(), l_Archive["entries"].toInt());
        if (l_Key == "keys")
            QCOMPARE(l_Json["fields"].toObject().size(), expected.section('=', 1).toInt());
    }
    else if (expected.startsWith("err:"))
        QVERIFY2(l_Err.contains(expected.mid(4)), l_Tool.Describe());
    else
        QVERIFY2((status == 0 ? l_Out : l_Err).contains(expected), l_Tool.Describe());
}

QTEST_GUILESS_MAIN(CascToolTest)
#include "tst_casctool.moc"
