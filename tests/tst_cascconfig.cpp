// The region tables and the build's configuration, parsed as the CDN serves them and fetched
// through the orchestrator.
#include "support/CascRig.h"
#include "support/CdnPath.h"
#include "casc/CASCConfigParser.h"
#include "casc/CASCTables.h"
#include "casc/CASCVersion.h"

#include <QtTest>

using namespace Orvane::CASC;

namespace {

QString Render(const CASCCdnTable& p_Cdns, const CASCVersionTable& p_Versions)
{
    QStringList l_Out;
    for (const auto& l_Region : p_Cdns)
        for (const CASCCdnEntry& l_Entry : l_Region.second)
            l_Out.append(QString("%1:%2:%3:%4").arg(l_Region.first).arg(l_Entry._Region).arg(l_Entry._Path, l_Entry._Host));
    for (const auto& l_Region : p_Versions)
        l_Out.append(QString("v%1:%2:%3:%4:%5:%6").arg(l_Region.first).arg(l_Region.second._Region)
                         .arg(l_Region.second._BuildConfig, l_Region.second._CdnConfig)
                         .arg(l_Region.second._BuildNumber).arg(l_Region.second._VersionName));
    return l_Out.join(' ');
}

QString Render(const CASCCDNConfig& p_Cdn, const CASCBuildConfig& p_Build)
{
    QStringList l_Sizes;
    for (qint64 l_Size : p_Build._EncodingSizes)
        l_Sizes.append(QString::number(l_Size));
    return QStringList{p_Cdn._Archives.join(','), p_Cdn._ArchiveGroup, p_Cdn._PatchArchives.join(','),
                       p_Build._Encoding.join(','), l_Sizes.join(','), p_Build._BuildName,
                       QString::number(p_Build._PatchSize), p_Build._PatchConfig}
        .join('|');
}

// Configuration files are named by the MD5 of their bodies.
const QByteArray c_CdnBody = "archives = a1 a2\npatch-archives = p1\n";
const QByteArray c_BuildBody = "encoding = ckey ekey\nbuild-name = B\n";
const QString c_Cdn = Md5Key(c_CdnBody), c_Build = Md5Key(c_BuildBody);

/// Serves the region tables (p_Cdns, HOST standing for the server) and both configurations.
void ServeChain(TestHttpServer& p_Server, QByteArray p_Cdns)
{
    p_Server.SetResource("/wow/cdns", p_Cdns.replace("HOST", QString("127.0.0.1:%1").arg(p_Server.Port()).toUtf8()));
    p_Server.SetResource("/wow/versions", ("H\neu|" + c_Build + "|" + c_Cdn + "|77|8.3\n").toUtf8());
    p_Server.SetResource(CdnPath("config", c_Cdn), c_CdnBody);
    p_Server.SetResource(CdnPath("config", c_Build), c_BuildBody);
}

} // namespace

class CascConfigTest : public QObject
{
    Q_OBJECT

private slots:
    void tables_data();
    void tables();
    void configuration_data();
    void configuration();
    void orchestrator();
    void initChain_data();
    void initChain();
    void secondInit();
};

void CascConfigTest::tables_data()
{
    QTest::addColumn<QByteArray>("cdns");
    QTest::addColumn<QByteArray>("versions");
    QTest::addColumn<QString>("parsed"); // region:entry region:path:host ... v region:...
    QTest::newRow("two hosts, carriage return")
        << QByteArray("Name|Path|Hosts\neu|tpr/wow|h1 h2\r\n") << QByteArray("Region|B|C|Id|Name\n")
        << "2:2:tpr/wow:h1 2:2:tpr/wow:h2";
    QTest::newRow("four columns give no table") << QByteArray("Name|Path|Hosts|X\neu|tpr/wow|h1|x\n")
                                                << QByteArray("H\neu|b|c|7\n") << "";
    QTest::newRow("unknown region skipped, names in any case")
        << QByteArray("H\nzz|p|h9\nUS|p|h1\nKr|p|h3\nCN|p|h5\nxx|p|h1x\n") << QByteArray("H\nqq|b|c|7|n\nus|b|c|7|n\n")
        << "0:0:p:h1 1:1:p:h1x 3:3:p:h3 5:5:p:h5 v0:0:b:c:7:n";
    QTest::newRow("an empty column does not count") << QByteArray("H\n") << QByteArray("H\neu|b||c|7|name\n")
                                                    << "v2:2:b:c:7:name";
    QTest::newRow("the header line is never data") << QByteArray("eu|p|h\n") << QByteArray("eu|b|c|7|n\n") << "";
    QTest::newRow("a later line replaces the region's version, hosts add up")
        << QByteArray("H\neu|p|h1\neu|q|h2\n") << QByteArray("H\neu|b|c|7|n\neu|b2|c2|8|m\n")
        << "2:2:p:h1 2:2:q:h2 v2:2:b2:c2:8:m";
}

void CascConfigTest::tables()
{
    QFETCH(QByteArray, cdns);
    QFETCH(QByteArray, versions);
    QFETCH(QString, parsed);
    CASCCdnTable l_Cdns;
    CASCVersionTable l_Versions;
    CASCTables::ParseCdns(cdns, l_Cdns);
    CASCTables::ParseVersions(versions, l_Versions);
    QCOMPARE(Render(l_Cdns, l_Versions), parsed);
}

void CascConfigTest::configuration_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("parsed"); // archives|group|patch archives|encoding|sizes|name|patch size|patch config
    QTest::newRow("two blanks between archives") << QByteArray("archives = a1  a2\n") << "a1,a2||||||0|";
    QTest::newRow("encoding and its sizes") << QByteArray("encoding = A B\nencoding-size = 10 20\n") << "|||A,B|10,20||0|";
    QTest::newRow("patch size in 32 bits") << QByteArray("patch-size = 12345\n") << "||||||12345|";
    QTest::newRow("patch size beyond 32 bits") << QByteArray("patch-size = 5000000000\n") << "||||||0|";
    QTest::newRow("negative and junk sizes") << QByteArray("patch-size = -5\nencoding-size = x 7\n") << "||||0,7||-5|";
    QTest::newRow("no blanks around the equals sign") << QByteArray("archive-group=g\nbuild-name=n\n") << "||||||0|";
    QTest::newRow("CRLF reads like LF")
        << QByteArray("archives = a1 a2\r\nbuild-name = n\r\n") << "a1,a2|||||n|0|";
    QTest::newRow("comments and unknown keys") << QByteArray("# archives = x\nfoo = bar\npatch-config = p\n")
                                               << "||||||0|p";
    QTest::newRow("last line wins, a key without value empties")
        << QByteArray("archives = a\narchives = b c\narchive-group = g\narchive-group = \nbuild-name = \n")
        << "b,c||||||0|";
    QTest::newRow("text ends at a NUL byte") << QByteArray("archives = a\0\narchives = b", 25) << "a||||||0|";
    QTest::newRow("a 404 page") << QByteArray("<html><body>404 Not Found</body></html>") << "||||||0|";
    QTest::newRow("patch archives are not archives")
        << QByteArray("patch-archives = p1 p2\npatch-archive-group = pg\narchive-group = g\n") << "|g|p1,p2||||0|";
}

void CascConfigTest::configuration()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, parsed);
    CASCCDNConfig l_Cdn;
    CASCBuildConfig l_Build;
    CASCConfigParser::ParseCDNConfig(CASCConfigParser::Text(text), l_Cdn);
    CASCConfigParser::ParseBuildConfig(CASCConfigParser::Text(text), l_Build);
    QCOMPARE(Render(l_Cdn, l_Build), parsed);
}

void CascConfigTest::orchestrator()
{
    // The folder and the URL each end in one '/', whatever the host gave.
    CASCApplication l_App(0, "C:\\Games\\BfA", "http://cdn.test:8081");
    QCOMPARE(l_App.GetInstallFolder(), QString("C:/Games/BfA/"));
    QCOMPARE(l_App.GetCdnUrl(), QString("http://cdn.test:8081/"));
    QCOMPARE(CASCApplication(0, "/games/", "x/").GetInstallFolder(), QString("/games/"));
    QCOMPARE(CASCVersion::ConfigUrl("h:1", "tpr/wow", "0123456789"), QString("http://h:1/tpr/wow/config/01/23/0123456789"));
}

void CascConfigTest::initChain_data()
{
    QTest::addColumn<int>("product");
    QTest::addColumn<QByteArray>("cdns");
    QTest::addColumn<QString>("faultPath"); // relative to the CDN base URL
    QTest::addColumn<TestHttpServer::Fault>("fault");
    QTest::addColumn<QByteArray>("body"); // served at faultPath instead of its own body
    QTest::addColumn<int>("kind"); // -1: InitComplete
    QTest::addColumn<QString>("message");
    using F = TestHttpServer::Fault;
    const QByteArray l_Cdns = "Name|Path|Hosts\neu|tpr/wow|HOST\n";
    const QString l_CdnConfig = CdnPath("config", c_Cdn).mid(1);
    const QString l_BuildConfig = CdnPath("config", c_Build).mid(1);
    const QByteArray l_None;
    QTest::newRow("complete") << 0 << l_Cdns << "" << F() << l_None << -1 << "";
    QTest::newRow("product folder in the base URL") << 1 << l_Cdns << "" << F() << l_None << -1 << "";
    QTest::newRow("four columns: no CDN") << 0 << QByteArray("H\neu|tpr/wow|HOST|x\n") << "" << F() << l_None << 0
                                          << "No CDN for world region 2";
    QTest::newRow("region table closed") << 0 << l_Cdns << "wow/cdns" << With(&F::CloseAfterBytes, 3) << l_None << 2
                                         << "QtHttp error 2 when retrieving file BASEwow/cdns";
    QTest::newRow("versions table stalls") << 0 << l_Cdns << "wow/versions" << With(&F::NoAnswer, true) << l_None << 2
                                           << "QtHttp error 4 when retrieving file BASEwow/versions";
    QTest::newRow("CDN configuration closed") << 0 << l_Cdns << l_CdnConfig << With(&F::CloseAfterBytes, 3) << l_None
                                              << 2 << "QtHttp error 2 when retrieving file BASE" + l_CdnConfig;
    // What does not hash to its key is not the configuration: an error page, a captive portal.
    const QString l_Mismatch = "CASCVersion::Init() configuration does not match its key : BASE";
    QTest::newRow("404 configuration refused") << 0 << l_Cdns << l_CdnConfig << With(&F::Status, 404) << l_None << 2
                                               << l_Mismatch + l_CdnConfig;
    QTest::newRow("CDN configuration with another body")
        << 0 << l_Cdns << l_CdnConfig << F() << QByteArray("archives = evil\n") << 2 << l_Mismatch + l_CdnConfig;
    QTest::newRow("build configuration with another body")
        << 0 << l_Cdns << l_BuildConfig << F() << QByteArray("<html>portal</html>") << 2 << l_Mismatch + l_BuildConfig;
    // Past the document bound (4096 bytes here) a document fails like a closed connection.
    const QByteArray l_Huge = "H\n" + QByteArray(1 << 20, 'x');
    QTest::newRow("versions table over the bound") << 0 << l_Cdns << "wow/versions" << F() << l_Huge << 2
                                                   << "QtHttp error 2 when retrieving file BASEwow/versions";
    QTest::newRow("build configuration over the bound, no Content-Length")
        << 0 << l_Cdns << l_BuildConfig << With(&F::OmitContentLength, true) << l_Huge << 2
        << "QtHttp error 2 when retrieving file BASE" + l_BuildConfig;
}

void CascConfigTest::initChain()
{
    QFETCH(int, product);
    QFETCH(QByteArray, cdns);
    QFETCH(QString, faultPath);
    QFETCH(TestHttpServer::Fault, fault);
    QFETCH(QByteArray, body);
    QFETCH(int, kind);
    QFETCH(QString, message);
    qputenv("KESTRUN_STALL_TIMEOUT_MS", "1000");
    qputenv("KESTRUN_MAX_DOCUMENT_BYTES", "4096");
    TestHttpServer l_Server;
    QVERIFY(l_Server.Start());
    const QString l_Base = l_Server.BaseUrl() + (product == 0 ? "" : "wow/");
    ServeChain(l_Server, cdns);
    if (!faultPath.isEmpty())
        l_Server.SetFault("/" + faultPath, fault);
    if (!body.isEmpty())
        l_Server.SetResource("/" + faultPath, body);
    CASCApplication l_App(product, "/tmp/none", l_Base);
    QSignalSpy l_Errors(&l_App, &CASCApplication::OnError);
    QSignalSpy l_Complete(&l_App, &CASCApplication::InitComplete);
    l_App.Init(2);
    QVERIFY(QTest::qWaitFor([&] { return l_Errors.count() + l_Complete.count() > 0; }, 20000));
    QTest::qWait(kind == 0 ? 0 : 50); // nothing else follows
    QCOMPARE(l_Complete.count(), kind < 0 ? 1 : 0);
    QCOMPARE(l_Errors.count(), kind < 0 ? 0 : 1);
    QCOMPARE(l_App.GetRegion(), kind == 2 && !faultPath.contains("config") ? 1 : 2);
    if (kind >= 0)
    {
        QCOMPARE(int(l_Errors[0][0].value<Errors::Type>()), kind);
        QCOMPARE(l_Errors[0][1].toString(), message.replace("BASE", l_Server.BaseUrl()));
        // Nothing of a refused configuration is taken.
        if (l_App.GetVersion() && faultPath.endsWith(c_Build))
            QCOMPARE(l_App.GetVersion()->GetEncodingKey(), QString());
        if (l_App.GetVersion())
            QVERIFY(!l_App.GetVersion()->GetCDNConfig()._Archives.contains("evil"));
    }
    else
    {
        QCOMPARE(l_App.GetVersion()->GetCDNConfig()._Archives, QStringList({"a1", "a2"}));
        QCOMPARE(l_App.GetVersion()->GetEncodingKey(), QString("ekey"));
        QCOMPARE(l_App.GetVersion()->GetBuildConfig()._BuildName, QString("B"));
        QCOMPARE(l_App.GetVersionInfo(2)._BuildNumber, 77u);
        QCOMPARE(l_App.GetRandomCDN(2)->_Path, QString("tpr/wow"));
    }
    qunsetenv("KESTRUN_STALL_TIMEOUT_MS");
    qunsetenv("KESTRUN_MAX_DOCUMENT_BYTES");
}

void CascConfigTest::secondInit()
{
    // A second Init while the first one's configuration fetch hangs: only the second one is
    // heard from, and the first one's stall never turns into an error.
    qputenv("KESTRUN_STALL_TIMEOUT_MS", "1000");
    TestHttpServer l_Server;
    QVERIFY(l_Server.Start());
    ServeChain(l_Server, "H\neu|tpr/wow|HOST\n");
    const QString l_BuildPath = CdnPath("config", c_Build);
    l_Server.SetFault(l_BuildPath, With(&TestHttpServer::Fault::NoAnswer, true, 1));
    CASCApplication l_App(0, "/tmp/none", l_Server.BaseUrl());
    QSignalSpy l_Errors(&l_App, &CASCApplication::OnError);
    QSignalSpy l_Complete(&l_App, &CASCApplication::InitComplete);
    l_App.Init(2);
    QTRY_COMPARE_WITH_TIMEOUT(l_Server.Requests(l_BuildPath).size(), 1, 20000);
    l_App.Init(2);
    QTRY_COMPARE_WITH_TIMEOUT(l_Complete.count(), 1, 20000);
    QTest::qWait(1500); // past the first fetch's stall time
    QCOMPARE(l_Complete.count(), 1);
    QCOMPARE(l_Errors.count(), 0);
    QCOMPARE(l_App.GetRandomCDN(2)->_Host, QString("127.0.0.1:%1").arg(l_Server.Port()));
    QCOMPARE(l_App.GetCdnTable().at(2).size(), 2); // the CDN table adds up across calls
    qunsetenv("KESTRUN_STALL_TIMEOUT_MS");
}

QTEST_GUILESS_MAIN(CascConfigTest)
#include "tst_cascconfig.moc"
