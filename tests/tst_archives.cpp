// The archive manager against forged installations: the encoding file, the install scan, the
// download database and the streamed repair from a CDN, with the faults a real server and disk have.
#include "support/BlobRanges.h"
#include "support/CdnPath.h"
#include "support/Files.h"
#include "support/StopCheck.h"
#include "support/StoreRepair.h"
#include "support/TestBuild.h"
#include "support/TestHttpServer.h"
#include "support/ToolRun.h"
#include "support/WarningLog.h"
#include "casc/CASCArchivesManager.h"

#include <QJsonDocument>
#include <QtTest>

#include <atomic>
#include <set>

using namespace Orvane::CASC;
using Fault = TestHttpServer::Fault;

namespace {

QStringList Lines(const QByteArray& p_Text)
{
    return QString::fromLatin1(p_Text).replace("\r\n", "\n").split('\n', Orvane::Compat::SkipEmptyParts);
}

/// casc-tool's exit status and output lines.
QPair<int, QStringList> CascTool(const QStringList& p_Args)
{
    const ToolRun l_Run = ToolRun::Run(QStringLiteral(KESTRUN_BIN_DIR "/casc-tool"), p_Args, 120000);
    return {l_Run.Code, Lines(l_Run.Out)};
}

/// Where the entry of p_IndexKey (hex) begins in an index file: entries start with their key.
int FindKey(const QByteArray& p_File, const QString& p_IndexKey)
{
    return p_File.indexOf(QByteArray::fromHex(p_IndexKey.toLatin1()));
}

const QStringList s_Small = {"--files", "60", "--min-size", "500", "--max-size", "30K", "--chunk", "8K",
                             "--local-archives", "4"};

} // namespace

class ArchivesTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void scanAndRepair_data();
    void scanAndRepair();
    void scanCommand_data();
    void scanCommand();
    void encodingFile_data();
    void encodingFile();
    void badAnswers_data();
    void badAnswers();
    void unopenableArchive();
    void emptyList();
    void repairFromServer();
    void untrustedBuildConfig_data();
    void untrustedBuildConfig();
    void damagedLocalIndex_data();
    void damagedLocalIndex();
    void unwrittenSlots_data();
    void unwrittenSlots();
    void encodingTransferBound_data();
    void encodingTransferBound();
    void stopDuringEncodingSize_data();
    void stopDuringEncodingSize();
    void stoppedScan();
    void stopAndResumeMidScan();
    void noCdnHostLeft();

private:
    static constexpr int StallMs = 3000;
    WarningLog m_Log;
};

void ArchivesTest::initTestCase()
{
    qputenv("KESTRUN_STALL_TIMEOUT_MS", QByteArray::number(StallMs));
    // Damaged slots and refused answers are logged on purpose.
    m_Log.Silence = [](const QString& p_Line) {
        return p_Line.startsWith("BLTEHandler::") || p_Line.startsWith("CASCArchivesManager::") ||
               p_Line.contains(QRegularExpression("^\\d+/\\d+$"));
    };
}

void ArchivesTest::scanAndRepair_data()
{
    QTest::addColumn<QStringList>("damage");
    QTest::newRow("whole") << QStringList();
    QTest::newRow("no archives at all") << QStringList{"--no-local-archives"};
    QTest::newRow("one archive missing") << QStringList{"--drop-archive", "2"};
    QTest::newRow("zeroed, truncated and swapped slots")
        << QStringList{"--zero-slot", "3", "--truncate-slot", "10", "--swap-slot", "20", "--zero-slot", "41"};
    QTest::newRow("archives 254 and 255")
        << QStringList{"--first-archive", "254", "--local-archives", "2", "--zero-slot", "0", "--swap-slot", "5:6"};
}

void ArchivesTest::scanAndRepair()
{
    QFETCH(QStringList, damage);
    StoreRepair l_Run;
    QVERIFY(l_Run.Ready(s_Small + damage));
    l_Run.m_Server.ClearRequests();
    l_Run.ScanStreamRescan();
    // Exactly the damaged blobs were asked for, once each: 1000 bytes at 5000 are "bytes=5000-5999",
    // neighbours in one CDN archive may share a request.
    const QStringList l_Asked = RangesAsked(l_Run.m_Server.Requests());
    QStringList l_Expected;
    for (int l_I = 0; l_I < l_Run.m_Store.Blobs().size(); ++l_I)
        if (l_Run.Damaged().count(l_Run.Blob(l_I)["indexKey"].toString()))
            l_Expected << BlobRange(l_Run.Blob(l_I));
    l_Expected.sort();
    QCOMPARE(BlobsAsked(l_Asked, l_Expected), l_Expected);
    QVERIFY(l_Asked.size() <= l_Expected.size());
    const quint64 l_Total = l_Run.m_Completed.last()[4];
    QCOMPARE(l_Run.m_Started.first(), (QList<quint64>{1, quint64(l_Expected.size()), 0, 0, l_Total}));
    QCOMPARE(l_Run.m_Completed.last(), (QList<quint64>{quint64(l_Expected.size()), quint64(l_Expected.size()), 100, l_Total, l_Total}));
    QCOMPARE(CascTool({"scan", l_Run.Install()}), (QPair<int, QStringList>{0, {}}));
}

void ArchivesTest::scanCommand_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QStringList>("args"); // INSTALL stands for the install folder, BUILD for its build key
    QTest::addColumn<int>("status");
    const QStringList l_Plain{"scan", "INSTALL"};
    QTest::newRow("damaged: the scan's list") << "" << l_Plain << 1;
    QTest::newRow("damaged, as JSON") << "" << QStringList{"scan", "INSTALL", "--json"} << 1;
    QTest::newRow("no encoding copy") << "drop-encoding" << l_Plain << 66;
    QTest::newRow("encoding copy damaged") << "flip-encoding" << l_Plain << 65;
    QTest::newRow("no build configuration") << "drop-build" << l_Plain << 66;
    QTest::newRow("an archive index missing") << "drop-index" << l_Plain << 66;
    QTest::newRow("two build configurations") << "second-build" << l_Plain << 64;
    QTest::newRow("two build configurations, one picked") << "second-build" << QStringList{"scan", "INSTALL", "--build-config", "BUILD"} << 1;
    QTest::newRow("no such folder") << "" << QStringList{"scan", "INSTALL/nowhere"} << 66;
    QTest::newRow("two folders") << "" << QStringList{"scan", "INSTALL", "INSTALL"} << 64;
    QTest::newRow("bad key") << "" << QStringList{"scan", "INSTALL", "--build-config", "xyz"} << 64;
}

void ArchivesTest::scanCommand()
{
    QFETCH(QString, change);
    QFETCH(QStringList, args);
    QFETCH(int, status);
    StoreRepair l_Run;
    QVERIFY(l_Run.Ready(s_Small + QStringList{"--zero-slot", "3", "--swap-slot", "20", "--truncate-slot", "30", "--drop-archive", "1"},
                        false));
    const QString l_Install = l_Run.Install();
    const QString l_Build = l_Run.m_Store.Summary()["configs"].toObject()["build"].toString();
    const QString l_Encoding = l_Install + "data/orvane/" + l_Run.EncodingKey();
    if (change == "drop-encoding")
        QFile::remove(l_Encoding);
    if (change == "flip-encoding")
        TestBuild::Write(l_Encoding, TestBuild::Read(l_Encoding).replace(10, 1, "?"));
    if (change == "drop-build")
        QFile::remove(l_Install + "data/config/" + KeyedPath(l_Build));
    if (change == "drop-index")
        QFile::remove(l_Install + "data/indices/" + l_Run.m_Store.Archives(false).first() + ".index");
    if (change == "second-build")
        TestBuild::Write(l_Install + "data/config/00/11/00112233445566778899aabbccddeeff", "encoding = 00 11\n");
    args.replaceInStrings("INSTALL", l_Install).replaceInStrings("BUILD", l_Build);
    const QStringList l_Before = Listing(l_Run.m_Store.Root());
    const QPair<int, QStringList> l_Tool = CascTool(args);
    QCOMPARE(l_Tool.first, status);
    QCOMPARE(Listing(l_Run.m_Store.Root()), l_Before); // nothing written, nothing touched
    if (status != 1)
        return;
    // The same slots in the same order as the launcher's scan lists and writes them.
    QVERIFY(l_Run.LoadEncoding());
    const QStringList l_Listed = l_Run.Scan();
    if (!args.contains("--json"))
    {
        QCOMPARE(l_Tool.second, l_Listed);
        return;
    }
    const QJsonArray l_Slots = QJsonDocument::fromJson(l_Tool.second.join('\n').toLatin1()).object()["toFetch"].toArray();
    QCOMPARE(l_Slots.size(), l_Listed.size());
    QSet<QString> l_Why;
    for (int l_I = 0; l_I < l_Slots.size(); ++l_I)
    {
        QCOMPARE(l_Slots[l_I].toObject()["key"].toString(), l_Listed[l_I]);
        l_Why.insert(l_Slots[l_I].toObject()["why"].toString());
    }
    // A dropped archive, a truncated slot and a zeroed one each say why.
    for (const char* l_Reason : {"missing-archive", "beyond-end", "size-mismatch"})
        QVERIFY2(l_Why.contains(l_Reason), l_Reason);
}

void ArchivesTest::encodingFile_data()
{
    QTest::addColumn<QString>("change"); // what happens to the local copy first
    QTest::addColumn<int>("error");      // -1: loads
    QTest::addColumn<QString>("message");
    QTest::newRow("missing: downloaded") << "remove" << -1 << "";
    QTest::newRow("missing, server answers 404") << "remove-refuse" << 2 << "QtHttp error 203 when retrieving file http://";
    QTest::newRow("damaged blob") << "flip" << 3 << "CASCArchivesManager::Init() Encoding extracting error : 2 removing file";
}

void ArchivesTest::encodingFile()
{
    QFETCH(QString, change);
    QFETCH(int, error);
    QFETCH(QString, message);
    StoreRepair l_Run;
    QVERIFY(l_Run.Ready(s_Small, false));
    const QString l_Local = l_Run.Install() + "data/orvane/" + l_Run.EncodingKey();
    const QByteArray l_Bytes = TestBuild::Read(l_Local);
    if (change.startsWith("remove"))
        QFile::remove(l_Local);
    if (change == "remove-refuse")
        l_Run.m_Server.SetFault(l_Run.EncodingPath(), With(&Fault::Status, 404));
    if (change == "flip")
        QVERIFY(TestBuild::Write(l_Local, QByteArray(l_Bytes).replace(20, 1, "?")));
    const bool l_Loaded = l_Run.LoadEncoding();
    l_Run.m_Server.ClearFaults();
    QCOMPARE(l_Loaded, error < 0);
    if (error >= 0)
    {
        QCOMPARE(l_Run.m_Raised.first().first, error);
        QVERIFY2(l_Run.m_Raised.first().second.startsWith(message), qPrintable(l_Run.m_Raised.first().second));
        QVERIFY(!QFile::exists(l_Local));
        return;
    }
    QCOMPARE(TestBuild::Read(l_Local), l_Bytes);
    QVERIFY(!QFile::exists(l_Local + ".part"));
    QCOMPARE(l_Run.m_Completed.size(), 1);
    // A second Init parses the local copy again, without a download.
    l_Run.m_Server.ClearRequests();
    const size_t l_Entries = l_Run.Manager()->GetEncodingMap().Size();
    QVERIFY(l_Run.LoadEncoding());
    QVERIFY(l_Run.m_Server.Requests().isEmpty());
    QCOMPARE(l_Run.Manager()->GetEncodingMap().Size(), l_Entries);
}

void ArchivesTest::badAnswers_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<bool>("repaired");
    QTest::addColumn<QString>("message"); // a pattern
    QTest::newRow("range always ignored") << With(&Fault::IgnoreRange, true) << false << "Status 200 instead of 206";
    QTest::newRow("range from another byte") << With(&Fault::WrongRangeStart, true) << false << "Range from 0 not the one asked";
    QTest::newRow("503 once") << With(&Fault::Status, 503, 1) << true << "";
    QTest::newRow("404 always") << With(&Fault::Status, 404) << false << "QtHttp error 203 when retrieving file ";
    QTest::newRow("stalled mid-blob once") << With(&Fault::StallAfterBytes, 100, 1) << true << "";
    QTest::newRow("stalled always") << With(&Fault::StallAfterBytes, 100) << false << "QtHttp error 4 when retrieving file ";
    QTest::newRow("closed mid-blob always") << With(&Fault::CloseAfterBytes, 100) << false
                                            << "Received 100 of |Error RemoteHostClosedError for file";
}

void ArchivesTest::badAnswers()
{
    QFETCH(Fault, fault);
    QFETCH(bool, repaired);
    QFETCH(QString, message);
    StoreRepair l_Run;
    QVERIFY(l_Run.Ready(s_Small + QStringList{"--zero-slot", "4"}));
    QCOMPARE(l_Run.Scan().size(), 1);
    const QString l_Archive = l_Run.ArchivePath(l_Run.Blob(4)["localArchive"].toInt());
    const QByteArray l_Before = TestBuild::Read(l_Archive);
    l_Run.m_Server.SetFault(l_Run.CdnPath(4), fault);
    l_Run.m_Server.ClearRequests();
    const bool l_Streamed = l_Run.Stream();
    l_Run.m_Server.ClearFaults();
    QCOMPARE(l_Streamed, repaired);
    if (!repaired)
    {
        QCOMPARE(l_Run.m_Raised.size(), 1);
        QCOMPARE(l_Run.m_Raised.first().first, 2);
        QVERIFY2(l_Run.m_Raised.first().second.contains(QRegularExpression(message)), qPrintable(l_Run.m_Raised.first().second));
        // Qt itself may ask once more when a kept-alive connection closes under it.
        QVERIFY(l_Run.m_Server.Requests().size() >= CASCArchivesManager::MaxAttempts);
        QVERIFY(l_Run.m_Server.Requests().size() <= 2 * CASCArchivesManager::MaxAttempts);
        // Nothing was written over the slot or its neighbours; resumed against a healed server, it completes.
        QCOMPARE(TestBuild::Read(l_Archive), l_Before);
        l_Run.m_Raised.clear();
        l_Run.Manager()->ResumeDownload();
        QVERIFY(l_Run.WaitFinished());
    }
    QVERIFY(l_Run.m_Raised.isEmpty());
    QVERIFY(l_Run.Scan().isEmpty());
}

void ArchivesTest::unopenableArchive()
{
    // A folder where the archive should be: it cannot be opened (the full disk is unwrittenSlots' "full" row).
    StoreRepair l_Run;
    QVERIFY(l_Run.Ready(s_Small + QStringList{"--drop-archive", "0"}));
    QVERIFY(!l_Run.Scan().isEmpty());
    QVERIFY(QDir().mkpath(l_Run.ArchivePath(0) + "/x"));
    QVERIFY(!l_Run.Stream(20000));
    QCOMPARE(l_Run.m_Raised.first().first, 1);
    QVERIFY2(l_Run.m_Raised.first().second.startsWith("Failed to open archive or download file"),
             qPrintable(l_Run.m_Raised.first().second));
}

void ArchivesTest::emptyList()
{
    StoreRepair l_Run;
    QVERIFY(l_Run.Ready(s_Small));
    // A database line for a key no local index holds is ignored.
    QVERIFY(TestBuild::Write(l_Run.Db(), "00112233445566778899\n0011223344556677aa\n"));
    l_Run.m_Server.ClearRequests();
    QVERIFY(l_Run.Stream(1));
    QCOMPARE(l_Run.m_Started, (QList<QList<quint64>>{{1, 0, 0, 0, 0}}));
    QCOMPARE(l_Run.m_Completed, (QList<QList<quint64>>{{0, 0, 100, 0, 0}}));
    QVERIFY(l_Run.m_Server.Requests().isEmpty());
}

void ArchivesTest::repairFromServer()
{
    // Run by tests/e2e/e2e_casc_repair.sh against nginx serving a store it forged.
    const QString l_Store = qEnvironmentVariable("KESTRUN_CASC_STORE");
    const QString l_Cdn = qEnvironmentVariable("KESTRUN_CASC_CDN_URL");
    if (l_Store.isEmpty() || l_Cdn.isEmpty())
        QSKIP("needs KESTRUN_CASC_STORE and KESTRUN_CASC_CDN_URL (tests/e2e/e2e_casc_repair.sh)");
    StoreRepair l_Run;
    QVERIFY(l_Run.External() && l_Run.Forge({}) && l_Run.Open() && l_Run.LoadEncoding());
    if (!qEnvironmentVariableIsSet("KESTRUN_CASC_AFTER_KILL"))
        return l_Run.ScanStreamRescan();
    // Killed mid-stream: the scan finds whatever was left, and one more stream completes it.
    QVERIFY(!l_Run.Scan().isEmpty());
    QVERIFY(l_Run.Stream(120000));
    QVERIFY(l_Run.Scan().isEmpty());
}

void ArchivesTest::untrustedBuildConfig_data()
{
    QTest::addColumn<QByteArray>("line"); // the build configuration's encoding line; CKEY: its content key
    QTest::newRow("key climbs out of the installation") << QByteArray("encoding = CKEY ../../../victim\n");
    QTest::newRow("no encoding line") << QByteArray();
    QTest::newRow("key of 3 digits") << QByteArray("encoding = CKEY abc\n");
}

void ArchivesTest::untrustedBuildConfig()
{
    // A key from the network names no file until it is 32 hex digits: a bad one is an error
    // of kind 3 and touches nothing, and a missing one does not leave the run waiting.
    QFETCH(QByteArray, line);
    StoreRepair l_Run;
    QVERIFY(l_Run.Forge(s_Small));
    const QString l_Key = l_Run.EncodingKey();
    const QString l_Content = l_Run.m_Store.Summary()["encoding"].toObject()["contentKey"].toString();
    QByteArray l_Text = l_Run.m_Store.Served("config", l_Run.m_Store.Config("build"));
    QVERIFY(l_Text.contains("encoding = "));
    QStringList l_Lines = QString::fromLatin1(l_Text).split('\n');
    for (QString& l_Line : l_Lines)
        if (l_Line.startsWith("encoding = "))
            l_Line = QString::fromLatin1(line).replace("CKEY", l_Content).trimmed();
    l_Text = l_Lines.join('\n').toLatin1();
    l_Run.ServeBuildConfig(l_Text);
    const QString l_Victim = l_Run.m_Store.Root() + "/victim";
    QVERIFY(TestBuild::Write(l_Victim, "not the encoding file"));
    QVERIFY(TestBuild::Write(l_Run.Install() + "data/orvane/keep", "x"));
    const bool l_Open = l_Run.Open();
    l_Run.m_Server.ClearResources();
    QVERIFY(l_Open);
    l_Run.m_Server.ClearRequests();
    l_Run.Manager()->Init(l_Run.Db());
    QTRY_VERIFY_WITH_TIMEOUT(!l_Run.m_Raised.isEmpty(), 10000);
    QCOMPARE(l_Run.m_Raised.first().first, 3);
    QVERIFY(!l_Run.m_Loaded);
    QCOMPARE(TestBuild::Read(l_Victim), QByteArray("not the encoding file"));
    QVERIFY(QFile::exists(l_Run.Install() + "data/orvane/" + l_Key)); // the real copy is left alone too
    QVERIFY(l_Run.m_Server.Requests().isEmpty());
}

void ArchivesTest::damagedLocalIndex_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("cut short") << "truncate";
    QTest::newRow("entry area beyond the end") << "area";
    QTest::newRow("missing") << "remove";
}

void ArchivesTest::damagedLocalIndex()
{
    // A local index that cannot be read is an error naming it: its slots were never checked.
    QFETCH(QString, change);
    StoreRepair l_Run;
    QVERIFY(l_Run.Ready(s_Small));
    const QString l_Idx = l_Run.Install() + "data/data/0500000001.idx";
    const QByteArray l_Bytes = TestBuild::Read(l_Idx);
    QVERIFY(!l_Bytes.isEmpty());
    if (change == "truncate")
        QVERIFY(TestBuild::Write(l_Idx, l_Bytes.left(6)));
    else if (change == "area")
        QVERIFY(TestBuild::Write(l_Idx, l_Bytes.left(l_Bytes.size() - 18)));
    else
        QVERIFY(QFile::remove(l_Idx));
    QVERIFY(TestBuild::Write(l_Run.Db(), "listed\n"));
    l_Run.Manager()->ScanInstall();
    QCOMPARE(l_Run.m_Raised.size(), 1);
    QCOMPARE(l_Run.m_Raised.first().first, 1);
    QVERIFY2(l_Run.m_Raised.first().second.contains(change == "remove" ? l_Run.Install() + "data/data/05" : l_Idx),
             qPrintable(l_Run.m_Raised.first().second));
    // The list the last whole scan wrote stays.
    QCOMPARE(TestBuild::Read(l_Run.Db()), QByteArray("listed\n"));
    l_Run.m_Raised.clear();
    QVERIFY(TestBuild::Write(l_Run.Db(), l_Run.Blob(0)["indexKey"].toString().toLatin1() + "\n"));
    QVERIFY(!l_Run.Manager()->LoadDownloadList());
    QCOMPARE(l_Run.m_Raised.size(), 1);
    QCOMPARE(l_Run.m_Raised.first().first, 1);
}

void ArchivesTest::unwrittenSlots_data()
{
    QTest::addColumn<QString>("failure");
    QTest::newRow("the first listed blob's CDN archive answers 404") << "404";
    QTest::newRow("the first listed slot is too small for its blob") << "small";
    QTest::newRow("the first listed record is shorter than a blob header") << "tiny";
    QTest::newRow("the archive cannot grow (full disk)") << "full";
}

void ArchivesTest::unwrittenSlots()
{
    // What can be fetched is, what cannot stays listed, the first failure is reported at the end,
    // and the run does not finish as whole.
    QFETCH(QString, failure);
    StoreRepair l_Run;
    QStringList l_Damage;
    for (int l_I = 0; l_I < 12; ++l_I)
        l_Damage << "--zero-slot" << QString::number(l_I * 5);
    if (failure == "full")
        l_Damage = QStringList{"--drop-archive", "0"};
    QVERIFY(l_Run.Ready(s_Small + l_Damage));
    const QStringList l_Listed = l_Run.Scan();
    QVERIFY(l_Listed.size() > 1);
    int l_First = -1;
    for (int l_I = 0; l_First < 0; ++l_I)
        if (l_Run.Blob(l_I)["indexKey"].toString() == l_Listed.first())
            l_First = l_I;
    // The blobs that cannot be written: the first listed, and for a 404 every blob of its CDN archive.
    std::set<QString> l_Failing{l_Listed.first()};
    if (failure == "404")
    {
        l_Run.m_Server.SetFault(l_Run.CdnPath(l_First), With(&Fault::Status, 404));
        for (const QString& l_Key : l_Listed)
            for (int l_I = 0; l_I < l_Run.m_Store.Blobs().size(); ++l_I)
                if (l_Run.Blob(l_I)["indexKey"].toString() == l_Key && l_Run.CdnPath(l_I) == l_Run.CdnPath(l_First))
                    l_Failing.insert(l_Key);
        QVERIFY2(l_Failing.size() < size_t(l_Listed.size()), "every listed blob shares one CDN archive");
    }
    if (failure == "small")
    {
        // The local index gives the slot less room than header and blob.
        const QString l_Idx = l_Run.Install() + QString::asprintf("data/data/%02x00000001.idx", l_Run.Blob(l_First)["bucket"].toInt());
        QByteArray l_Bytes = TestBuild::Read(l_Idx);
        const int l_At = FindKey(l_Bytes, l_Listed.first());
        QVERIFY(l_At > 0);
        const quint32 l_Size = quint32(l_Run.Blob(l_First)["blobSize"].toInt() + 29);
        l_Bytes.replace(l_At + 14, 4, QByteArray(reinterpret_cast<const char*>(&l_Size), 4));
        QVERIFY(TestBuild::Write(l_Idx, l_Bytes));
    }
    if (failure == "tiny")
    {
        // The CDN archive's index gives the blob 0 bytes.
        const QString l_Index = l_Run.Install() + "data/indices/" + l_Run.Blob(l_First)["cdnArchive"].toString() + ".index";
        QByteArray l_Bytes = TestBuild::Read(l_Index);
        const int l_At = FindKey(l_Bytes, l_Listed.first());
        QVERIFY(l_At >= 0);
        l_Bytes.replace(l_At + 16, 4, QByteArray(4, '\0'));
        QVERIFY(TestBuild::Write(l_Index, l_Bytes));
    }
    if (failure == "small" || failure == "tiny")
    {
        l_Run.m_App.reset();
        QVERIFY(l_Run.Open() && l_Run.LoadEncoding());
        QCOMPARE(l_Run.Scan(), l_Listed);
    }
    if (failure == "full")
    {
#ifdef Q_OS_WIN
        QSKIP("no /dev/full to stand for a full disk");
#endif
        if (!QFile::link("/dev/full", l_Run.ArchivePath(0)))
            QSKIP("no /dev/full to stand for a full disk");
        for (const QString& l_Key : l_Listed)
            l_Failing.insert(l_Key);
    }
    l_Run.m_Server.ClearRequests();
    l_Run.Manager()->LoadDownloadList();
    l_Run.Manager()->StartStreaming();
    QTRY_VERIFY_WITH_TIMEOUT(!l_Run.m_Raised.isEmpty(), 60000);
    QTest::qWait(200); // nothing follows the report
    l_Run.m_Server.ClearFaults();
    QCOMPARE(l_Run.m_Raised.size(), 1);
    QVERIFY2(l_Run.m_Raised.first().first == (failure == "404" ? 2 : 1) &&
                 (failure != "full" || l_Run.m_Raised.first().second.startsWith("Failed to write archive : ")),
             qPrintable(l_Run.m_Raised.first().second));
    QVERIFY(!l_Run.m_Finished);
    QStringList l_Kept = Lines(TestBuild::Read(l_Run.Db()));
    QCOMPARE(std::set<QString>(l_Kept.begin(), l_Kept.end()), l_Failing);
    if (failure == "small" || failure == "tiny")
    {
        // The local problem is not fetched; every other listed blob is, once.
        QStringList l_Others;
        for (int l_I = 0; l_I < l_Run.m_Store.Blobs().size(); ++l_I)
            if (l_I != l_First && l_Listed.contains(l_Run.Blob(l_I)["indexKey"].toString()))
                l_Others << BlobRange(l_Run.Blob(l_I));
        l_Others.sort();
        QCOMPARE(BlobsAsked(RangesAsked(l_Run.m_Server.Requests()), l_Others), l_Others);
    }
    if (failure != "full")
        QCOMPARE(l_Run.Scan().size(), int(l_Failing.size()));
}

void ArchivesTest::encodingTransferBound_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("loads");
    QTest::newRow("no Content-Length: encoding-size bounds it") << "no-length" << true;
    QTest::newRow("more bytes than the file") << "longer" << false;
}

void ArchivesTest::encodingTransferBound()
{
    // The encoding file is asked for with a closed range and taken only up to its known size.
    QFETCH(QString, answer);
    QFETCH(bool, loads);
    StoreRepair l_Run;
    QVERIFY(l_Run.Ready(s_Small, false));
    const QString l_Local = l_Run.Install() + "data/orvane/" + l_Run.EncodingKey();
    const QByteArray l_Bytes = TestBuild::Read(l_Local);
    QVERIFY(QFile::remove(l_Local));
    const QString l_Path = l_Run.EncodingPath();
    if (answer == "no-length")
        l_Run.m_Server.SetFault(l_Path, With(&Fault::OmitContentLength, true));
    if (answer == "longer")
    {
        // The whole of a longer body, range ignored: more than the file can hold.
        l_Run.m_Server.SetResource(l_Path, l_Bytes + QByteArray(100000, 'x'));
        l_Run.m_Server.SetFault(l_Path, With(&Fault::IgnoreRange, true));
    }
    l_Run.m_Server.ClearRequests();
    QCOMPARE(l_Run.LoadEncoding(), loads);
    l_Run.m_Server.ClearFaults();
    l_Run.m_Server.ClearResources();
    QStringList l_Ranges;
    for (const TestHttpServer::Request& l_Request : l_Run.m_Server.Requests(l_Path))
        if (!l_Request.Range.isEmpty())
            l_Ranges << QString::fromLatin1(l_Request.Range);
    QVERIFY(!l_Ranges.isEmpty());
    for (const QString& l_Range : l_Ranges)
        QCOMPARE(l_Range, QStringLiteral("bytes=0-%1").arg(l_Bytes.size() - 1));
    if (loads)
        QCOMPARE(TestBuild::Read(l_Local), l_Bytes);
    else
    {
        // Nothing past the file's size was taken.
        QVERIFY(!QFile::exists(l_Local));
        QVERIFY(QFileInfo(l_Local + ".part").size() <= l_Bytes.size());
        QVERIFY(!l_Run.m_Raised.isEmpty());
        QVERIFY2(l_Run.m_Raised.last().second.startsWith("More bytes than asked"), qPrintable(l_Run.m_Raised.last().second));
    }
}

void ArchivesTest::stopDuringEncodingSize_data()
{
    QTest::addColumn<bool>("asked"); // the stop comes once the size request reached the server
    QTest::newRow("before the size request goes out") << false;
    QTest::newRow("while the size is asked") << true;
}

void ArchivesTest::stopDuringEncodingSize()
{
    // A stop while the encoding file's size is asked for holds it and the transfer that would follow.
    QFETCH(bool, asked);
    StoreRepair l_Run;
    QVERIFY(l_Run.Ready(s_Small, false));
    QVERIFY(QFile::remove(l_Run.Install() + "data/orvane/" + l_Run.EncodingKey()));
    const QString l_Path = l_Run.EncodingPath();
    l_Run.m_Server.SetFault(l_Path, With(&Fault::DelayMs, 1000, 1));
    l_Run.m_Server.ClearRequests();
    l_Run.m_Loaded = false;
    const int l_Closed = l_Run.m_Server.ClosedConnections();
    l_Run.Manager()->Init(l_Run.Db());
    if (asked)
        QTRY_COMPARE_WITH_TIMEOUT(l_Run.m_Server.Requests(l_Path).size(), 1, 10000);
    l_Run.Manager()->StopDownload();
    const QString l_Broken = QuietAfterStop(l_Run.m_Server, asked ? l_Closed : -1, StallMs + 500, nullptr, l_Path);
    QVERIFY2(l_Broken.isEmpty(), qPrintable(l_Broken));
    QCOMPARE(l_Run.m_Server.Requests(l_Path).size(), asked ? 1 : 0);
    QVERIFY(l_Run.m_Started.isEmpty() && !l_Run.m_Loaded && l_Run.m_Raised.isEmpty());
    l_Run.Manager()->ResumeDownload();
    QTRY_VERIFY_WITH_TIMEOUT(l_Run.m_Loaded, 20000);
    QVERIFY(l_Run.m_Raised.isEmpty());
}

void ArchivesTest::stoppedScan()
{
    // A stop reaches the scan: it checks no more slots and leaves the list as it was; after a
    // resume the next scan runs whole.
    StoreRepair l_Run;
    QVERIFY(l_Run.Ready(s_Small + QStringList{"--zero-slot", "3"}));
    QVERIFY(TestBuild::Write(l_Run.Db(), "listed\n"));
    l_Run.Manager()->StopDownload();
    l_Run.Manager()->ScanInstall();
    QVERIFY(l_Run.Manager()->ScanCancelled());
    QCOMPARE(TestBuild::Read(l_Run.Db()), QByteArray("listed\n"));
    l_Run.Manager()->ResumeDownload();
    QCOMPARE(l_Run.Scan().size(), 1);
    QVERIFY(!l_Run.Manager()->ScanCancelled());
    QVERIFY(l_Run.m_Raised.isEmpty());
}

void ArchivesTest::stopAndResumeMidScan()
{
    // A stop and a resume while the scan's tasks run (the launcher allows both then): tasks that saw
    // the stop left slots unchecked, so that scan counts as cancelled whatever the flag says after
    // the resume, and the database stays as it was. The scan after it looks at every slot: what it
    // lists is every damaged slot, and the stream of that list leaves the store whole.
    StoreRepair l_Run;
    QStringList l_Damage;
    for (int l_I = 1; l_I < 60; l_I += 3)
        l_Damage << "--zero-slot" << QString::number(l_I);
    QVERIFY(l_Run.Ready(s_Small + l_Damage));
    // The slot where the stop comes: the first that archive 0's task reads (lowest bucket), one
    // byte of its last chunk changed, so that its check logs a failed chunk from the task's thread.
    int l_Cut = -1;
    for (int l_I = 0; l_I < l_Run.m_Store.Blobs().size(); ++l_I)
        if (l_Run.Blob(l_I)["localArchive"].toInt() == 0 && l_I % 3 != 1 &&
            (l_Cut < 0 || l_Run.Blob(l_I)["bucket"].toInt() < l_Run.Blob(l_Cut)["bucket"].toInt()))
            l_Cut = l_I;
    QVERIFY(l_Cut >= 0);
    const QJsonObject l_Blob = l_Run.Blob(l_Cut);
    QByteArray l_Archive = TestBuild::Read(l_Run.ArchivePath(0));
    const int l_Byte = l_Blob["localOffset"].toInt() + l_Blob["slotSize"].toInt() - 1;
    l_Archive[l_Byte] = char(l_Archive.at(l_Byte) ^ 0x5A);
    QVERIFY(TestBuild::Write(l_Run.ArchivePath(0), l_Archive));
    std::set<QString> l_Damaged = l_Run.Damaged();
    l_Damaged.insert(l_Blob["indexKey"].toString());

    std::atomic<bool> l_StopNow{true}, l_Stopped{false};
    bool l_Resumed = false;
    WarningLog l_Log;
    l_Log.Silence = [](const QString&) { return true; };
    l_Log.OnLine = [&](const QString& p_Line) {
        if (p_Line.contains("Chunk hash differ") && l_StopNow.exchange(false))
        {
            l_Run.Manager()->StopDownload();
            l_Stopped = true;
        }
    };
    // Reported by the polling thread, at the latest once every task has returned.
    l_Run.Manager()->m_OnCheckProgress = [&](quint32, quint32) {
        if (l_Stopped && !l_Resumed)
        {
            l_Run.Manager()->ResumeDownload();
            l_Resumed = true;
        }
    };
    QVERIFY(TestBuild::Write(l_Run.Db(), "listed\n"));
    QStringList l_Listed = l_Run.Scan();
    QVERIFY(l_Stopped && l_Resumed);
    if (l_Run.Manager()->ScanCancelled())
    {
        QCOMPARE(TestBuild::Read(l_Run.Db()), QByteArray("listed\n"));
        l_Listed = l_Run.Scan();
        QVERIFY(!l_Run.Manager()->ScanCancelled());
    }
    QCOMPARE(std::set<QString>(l_Listed.begin(), l_Listed.end()), l_Damaged);
    QVERIFY(l_Run.Stream());
    QVERIFY(l_Run.Scan().isEmpty());
    QVERIFY(l_Run.m_Raised.isEmpty());
}

void ArchivesTest::noCdnHostLeft()
{
    // The region of the stream has no CDN host: the stream ends at once, raising that once, keeps
    // every slot listed, and a resume with a host back fetches them all.
    StoreRepair l_Run;
    QVERIFY(l_Run.Ready(s_Small + QStringList{"--zero-slot", "3", "--zero-slot", "17", "--zero-slot", "40"}));
    const QStringList l_Listed = l_Run.Scan();
    QCOMPARE(l_Listed.size(), 3);
    // Region 5 is in neither table: the orchestrator moves to it and reports its configuration missing.
    l_Run.m_App->Init(5);
    QTRY_VERIFY_WITH_TIMEOUT(!l_Run.m_Raised.isEmpty(), 20000);
    l_Run.m_Raised.clear();
    l_Run.m_Errors->clear();
    QVERIFY(l_Run.Manager()->LoadDownloadList());
    l_Run.m_Finished = false;
    l_Run.Manager()->StartStreaming();
    QTRY_VERIFY_WITH_TIMEOUT(!l_Run.m_Raised.isEmpty(), 20000);
    QCOMPARE(l_Run.m_Raised.size(), 1);
    QCOMPARE(l_Run.m_Raised.first(), qMakePair(0, QString("No CDN for world region 5")));
    QVERIFY(!l_Run.m_Finished);
    const QStringList l_Kept = Lines(TestBuild::Read(l_Run.Db()));
    QCOMPARE(std::set<QString>(l_Kept.begin(), l_Kept.end()), std::set<QString>(l_Listed.begin(), l_Listed.end()));

    l_Run.m_Raised.clear();
    l_Run.m_Errors->clear();
    QVERIFY(l_Run.Init());
    l_Run.Manager()->ResumeDownload();
    QVERIFY2(l_Run.WaitFinished(), qPrintable(l_Run.m_Raised.value(0).second));
    QVERIFY(l_Run.Scan().isEmpty());
}

QTEST_GUILESS_MAIN(ArchivesTest)
#include "tst_archives.moc"
