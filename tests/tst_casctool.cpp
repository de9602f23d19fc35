// casc-tool's read side: tables, configuration and archive indices of a forged store, as text
// and JSON, and the exit status for each kind of bad input.
#include "support/CascStore.h"
#include "support/CdnPath.h"
#include "support/TestBuild.h"
#include "support/ToolRun.h"

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
};

void CascToolTest::initTestCase()
{
    QVERIFY2(m_Store.Forge({"--files", "30", "--max-size", "2K"}), qPrintable(m_Store.Error()));
    QVERIFY(WriteFile(m_Store.Root() + "/empty.index", QByteArray(12, '\0')));
    QVERIFY(WriteFile(m_Store.Root() + "/short.index", QByteArray(11, '\0')));
    QVERIFY(WriteFile(m_Store.Root() + "/wide", "Name|Path|Hosts|More\neu|p|h|x\n"));
}

void CascToolTest::commands_data()
{
    QTest::addColumn<QStringList>("args"); // CDN, BUILD, INDEX and ROOT stand for the store's files
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("expected"); // in the output (stdout, else stderr); "json:key=value" of the JSON document
    QTest::newRow("cdns") << QStringList{"tables", "ROOT/cdn/wow/cdns"} << 0 << "region 2 (eu): path tpr/wow host ";
    QTest::newRow("versions as JSON") << QStringList{"tables", "ROOT/cdn/wow/versions", "--json"} << 0 << "json:table=versions";
    QTest::newRow("no row of a table's width") << QStringList{"tables", "ROOT/wide"} << 65 << "no row";
    QTest::newRow("CDN configuration") << QStringList{"config", "CDN"} << 0 << "archives = ";
    QTest::newRow("build configuration as JSON") << QStringList{"config", "BUILD", "--json"} << 0 << "json:kind=build";
    QTest::newRow("not a configuration") << QStringList{"config", "ROOT/wide"} << 65 << "no known configuration key";
    QTest::newRow("index, first entry") << QStringList{"index", "INDEX", "--limit", "1"} << 0 << "LINES=2";
    QTest::newRow("index as JSON") << QStringList{"index", "INDEX", "--json"} << 0 << "json:count=ENTRIES";
    QTest::newRow("empty index") << QStringList{"index", "ROOT/empty.index"} << 0 << "0 entries";
    QTest::newRow("index shorter than its tail") << QStringList{"index", "ROOT/short.index"} << 65 << "shorter";
    QTest::newRow("count beyond the entries") << QStringList{"index", "CDN"} << 65 << "needs more entries";
    QTest::newRow("missing file") << QStringList{"index", "ROOT/none"} << 66 << "cannot read";
    QTest::newRow("bad limit") << QStringList{"index", "INDEX", "--limit", "x"} << 64 << "--limit needs a count";
    QTest::newRow("limit on tables") << QStringList{"tables", "CDN", "--limit", "1"} << 64 << "unknown option --limit";
}

void CascToolTest::commands()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, expected);
    const QJsonObject l_Archive = m_Store.Summary()["archives"].toArray()[0].toObject();
    const QString l_Index = m_Store.Install() + "data/indices/" + l_Archive["name"].toString() + ".index";
    const QString l_Cdn = m_Store.Config("cdn"), l_Build = m_Store.Config("build");
    for (QString& l_Arg : args)
        l_Arg.replace("ROOT", m_Store.Root())
            .replace("INDEX", l_Index)
            .replace("CDN", m_Store.Install() + "data/config/" + KeyedPath(l_Cdn))
            .replace("BUILD", m_Store.Install() + "data/config/" + KeyedPath(l_Build));
    const ToolRun l_Tool = ToolRun::Run(KESTRUN_BIN_DIR "/casc-tool", args, 30000);
    const QString l_Out = l_Tool.OutText(), l_Err = l_Tool.ErrText();
    QCOMPARE(l_Tool.Code, status);
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
    }
    else
        QVERIFY2((status == 0 ? l_Out : l_Err).contains(expected), qPrintable(l_Out + l_Err));
}

QTEST_GUILESS_MAIN(CascToolTest)
#include "tst_casctool.moc"
