// The archive manager against forged installations: the encoding file, the install scan, the
// download database and the streamed repair from a CDN, with the faults a real server and disk have.
#include "support/CascStore.h"
#include "support/TestBuild.h"
#include "support/TestHttpServer.h"
#include "support/ToolRun.h"
#include "support/WarningLog.h"
#include "casc/CASCApplication.h"
#include "casc/CASCArchivesManager.h"
#include "casc/CASCIndexManager.h"

#include <QDirIterator>
#include <QJsonDocument>
#include <QProcess>
#include <QtTest>

#include <memory>
#include <set>

using namespace Orvane::CASC;
using Fault = TestHttpServer::Fault;

namespace {

QStringList Lines(const QByteArray& p_Text)
{
    return QString::fromLatin1(p_Text).split('\n', Orvane::Compat::SkipEmptyParts);
}

/// A forged store and an orchestrator over its installation, with every callable recorded.
struct Repair
{
    CascStore m_Store;
    std::unique_ptr<CASCApplication> m_App;
    QList<QPair<int, QString>> m_Errors;
    bool m_Loaded = false, m_Finished = false;
    QList<QList<quint64>> m_Started, m_Completed;

    /// Forged for p_Server, which then serves its CDN side; orchestrator and encoding file loaded.
    bool Ready(const QStringList& p_Args, TestHttpServer& p_Server, bool p_LoadEncoding = true)
    {
        if (!m_Store.Forge(p_Args + QStringList{"--hosts", QStringLiteral("127.0.0.1:%1").arg(p_Server.Port())}))
            return false;
        p_Server.SetFileRoot(m_Store.CdnDocRoot());
        return Open(p_Server.BaseUrl()) && (!p_LoadEncoding || LoadEncoding());
    }
    QString Install() const { return m_Store.Install(); }
    QJsonObject Blob(int p_Number) const { return m_Store.Summary()["blobs"].toArray().at(p_Number).toObject(); }
    CASCArchivesManager* Manager() const { return m_App->GetArchivesManager(); }
    QString Db() const { return Install() + "ToDownloadCASC.db"; }
    QString ArchivePath(int p_Number) const { return Install() + QString::asprintf("data/data/data.%03d", p_Number); }
    /// The served path of the CDN archive that holds blob p_Number.
    QString CdnPath(int p_Number) const
    {
        const QString l_Name = Blob(p_Number)["cdnArchive"].toString();
        return QString("/tpr/wow/") + (Blob(p_Number)["patch"].toBool() ? "patch/" : "data/") + l_Name.left(2) + "/" +
               l_Name.mid(2, 2) + "/" + l_Name;
    }

    /// Orchestrator initialised from p_CdnUrl, indices loaded, callables installed.
    bool Open(const QString& p_CdnUrl)
    {
        m_App.reset(new CASCApplication(0, Install(), p_CdnUrl));
        QObject::connect(m_App.get(), &CASCApplication::OnError,
                         [this](Errors::Type p_Type, QString p_Message) { m_Errors.append({int(p_Type), p_Message}); });
        bool l_Ready = false;
        QObject::connect(m_App.get(), &CASCApplication::InitComplete, [&l_Ready] { l_Ready = true; });
        m_App->Init(2);
        if (!QTest::qWaitFor([&] { return l_Ready || !m_Errors.isEmpty(); }, 20000) || !l_Ready)
            return false;
        m_App->GetIndexManager()->Load();
        const auto l_Record = [](QList<QList<quint64>>& p_List) {
            return [&p_List](int p_File, int p_Files, int p_Percent, quint64 p_Done, quint64 p_Total, quint64) {
                p_List.append({quint64(p_File), quint64(p_Files), quint64(p_Percent), p_Done, p_Total});
            };
        };
        Manager()->m_OnEncodingLoaded = [this] { m_Loaded = true; };
        Manager()->m_OnFinished = [this] { m_Finished = true; };
        Manager()->m_OnBusy = [] {};
        Manager()->m_OnCheckProgress = [](quint32, quint32) {};
        Manager()->m_OnDownloadStarted = l_Record(m_Started);
        Manager()->m_OnDownloadProgress = [](int, int, int, quint64, quint64, quint64) {};
        Manager()->m_OnDownloadCompleted = l_Record(m_Completed);
        return m_Errors.isEmpty();
    }
    bool LoadEncoding()
    {
        m_Loaded = false;
        Manager()->Init(Db());
        return QTest::qWaitFor([&] { return m_Loaded || !m_Errors.isEmpty(); }, 20000) && m_Loaded;
    }
    /// The index keys the scan lists, in list order.
    QStringList Scan()
    {
        Manager()->ScanInstall();
        QStringList l_Keys;
        for (const CASCArchiveFileEntry& l_Entry : Manager()->GetDownloadList())
            l_Keys.append(QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(l_Entry._IndexRecord->_Key.data()), 9).toHex()));
        return l_Keys;
    }
    /// Loads the list back from the database and streams it until finished or an error.
    bool Stream(int p_TimeoutMs = 60000)
    {
        Manager()->LoadDownloadList();
        m_Finished = false;
        Manager()->StartStreaming();
        return WaitFinished(p_TimeoutMs);
    }
    bool WaitFinished(int p_TimeoutMs = 20000)
    {
        return QTest::qWaitFor([&] { return m_Finished || !m_Errors.isEmpty(); }, p_TimeoutMs) && m_Finished;
    }
    std::set<QString> Damaged() const
    {
        std::set<QString> l_Keys;
        for (const QJsonValue& l_Slot : m_Store.Summary()["damagedSlots"].toArray())
            l_Keys.insert(l_Slot.toObject()["indexKey"].toString());
        return l_Keys;
    }
    /// Scan, stream and scan again: the second scan must list nothing.
    void ScanStreamRescan()
    {
        const QStringList l_Listed = Scan();
        QCOMPARE(std::set<QString>(l_Listed.begin(), l_Listed.end()), Damaged());
        QCOMPARE(Lines(TestBuild::Read(Db())), l_Listed);
        QVERIFY(Stream());
        QVERIFY2(m_Errors.isEmpty(), qPrintable(m_Errors.value(0).second));
        QVERIFY(Scan().isEmpty());
        QVERIFY(TestBuild::Read(Db()).isEmpty());
    }
};

/// casc-tool's exit status and output lines.
QPair<int, QStringList> CascTool(const QStringList& p_Args)
{
    const ToolRun l_Run = ToolRun::Run(QStringLiteral(KESTRUN_BIN_DIR "/casc-tool"), p_Args, 120000);
    return {l_Run.Code, Lines(l_Run.Out)};
}

/// Every file below p_Root with its size and modification time.
QStringList Listing(const QString& p_Root)
{
    QStringList l_Out;
    for (QDirIterator l_It(p_Root, QDir::Files, QDirIterator::Subdirectories); l_It.hasNext();)
    {
        const QFileInfo l_Info(l_It.next());
        l_Out.append(l_Info.filePath() + QStringLiteral(" %1 %2").arg(l_Info.size()).arg(l_Info.lastModified().toMSecsSinceEpoch()));
    }
    l_Out.sort();
    return l_Out;
}

/// Records the size of every write, to see how a file grows.
class WriteRecorder : public QFile
{
public:
    using QFile::QFile;
    QList<qint64> m_Writes;

protected:
    qint64 writeData(const char* p_Data, qint64 p_Size) override
    {
        m_Writes.append(p_Size);
        return QFile::writeData(p_Data, p_Size);
    }
};

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
    void diskFailures_data();
    void diskFailures();
    void stopAndResume();
    void emptyList();
    void expandInPieces();
    void repairFromServer();

private:
    TestHttpServer m_Server;
    WarningLog m_Log;
};

void ArchivesTest::initTestCase()
{
    QVERIFY(m_Server.Start());
    qputenv("KESTRUN_STALL_TIMEOUT_MS", "3000");
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
    Repair l_Run;
    QVERIFY(l_Run.Ready(s_Small + damage, m_Server));
    m_Server.ClearRequests();
    l_Run.ScanStreamRescan();
    // Exactly the damaged blobs were asked for, each by its own range: 1000 bytes at 5000 are "bytes=5000-5999".
    std::set<QByteArray> l_Ranges, l_Expected;
    for (const TestHttpServer::Request& l_Request : m_Server.Requests())
        l_Ranges.insert(l_Request.Range);
    for (int l_I = 0; l_I < l_Run.m_Store.Summary()["blobs"].toArray().size(); ++l_I)
        if (l_Run.Damaged().count(l_Run.Blob(l_I)["indexKey"].toString()))
        {
            const qint64 l_From = qint64(l_Run.Blob(l_I)["cdnOffset"].toDouble());
            l_Expected.insert(QStringLiteral("bytes=%1-%2").arg(l_From).arg(l_From + l_Run.Blob(l_I)["blobSize"].toInt() - 1).toLatin1());
        }
    QCOMPARE(l_Ranges, l_Expected);
    QCOMPARE(m_Server.Requests().size(), int(l_Expected.size()));
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
    Repair l_Run;
    QVERIFY(l_Run.Ready(s_Small + QStringList{"--zero-slot", "3", "--swap-slot", "20", "--truncate-slot", "30", "--drop-archive", "1"},
                        m_Server, false));
    const QString l_Install = l_Run.Install();
    const QString l_Build = l_Run.m_Store.Summary()["configs"].toObject()["build"].toString();
    const QString l_Encoding = l_Install + "data/orvane/" + l_Run.m_Store.Summary()["encoding"].toObject()["encodingKey"].toString();
    if (change == "drop-encoding")
        QFile::remove(l_Encoding);
    if (change == "flip-encoding")
        TestBuild::Write(l_Encoding, TestBuild::Read(l_Encoding).replace(10, 1, "?"));
    if (change == "drop-build")
        QFile::remove(l_Install + "data/config/" + l_Build.left(2) + "/" + l_Build.mid(2, 2) + "/" + l_Build);
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
    Repair l_Run;
    QVERIFY(l_Run.Ready(s_Small, m_Server, false));
    const QString l_Key = l_Run.m_Store.Summary()["encoding"].toObject()["encodingKey"].toString();
    const QString l_Local = l_Run.Install() + "data/orvane/" + l_Key;
    const QByteArray l_Bytes = TestBuild::Read(l_Local);
    if (change.startsWith("remove"))
        QFile::remove(l_Local);
    if (change == "remove-refuse")
        m_Server.SetFault("/tpr/wow/data/" + l_Key.left(2) + "/" + l_Key.mid(2, 2) + "/" + l_Key, With(&Fault::Status, 404));
    if (change == "flip")
        QVERIFY(TestBuild::Write(l_Local, QByteArray(l_Bytes).replace(20, 1, "?")));
    const bool l_Loaded = l_Run.LoadEncoding();
    m_Server.ClearFaults();
    QCOMPARE(l_Loaded, error < 0);
    if (error >= 0)
    {
        QCOMPARE(l_Run.m_Errors.first().first, error);
        QVERIFY2(l_Run.m_Errors.first().second.startsWith(message), qPrintable(l_Run.m_Errors.first().second));
        QVERIFY(!QFile::exists(l_Local));
        return;
    }
    QCOMPARE(TestBuild::Read(l_Local), l_Bytes);
    QVERIFY(!QFile::exists(l_Local + ".part"));
    QCOMPARE(l_Run.m_Completed.size(), 1);
    // A second Init parses the local copy again, without a download.
    m_Server.ClearRequests();
    const size_t l_Entries = l_Run.Manager()->GetEncodingMap().Size();
    QVERIFY(l_Run.LoadEncoding());
    QVERIFY(m_Server.Requests().isEmpty());
    QCOMPARE(l_Run.Manager()->GetEncodingMap().Size(), l_Entries);
}

void ArchivesTest::badAnswers_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<bool>("repaired");
    QTest::addColumn<QString>("message"); // a pattern
    QTest::newRow("range ignored once") << With(&Fault::IgnoreRange, true, 1) << true << "";
    QTest::newRow("range always ignored") << With(&Fault::IgnoreRange, true) << false << "Status 200 instead of 206";
    QTest::newRow("503 once") << With(&Fault::Status, 503, 1) << true << "";
    QTest::newRow("404 always") << With(&Fault::Status, 404) << false << "QtHttp error 203 when retrieving file ";
    QTest::newRow("stalled mid-blob once") << With(&Fault::StallAfterBytes, 100, 1) << true << "";
    QTest::newRow("stalled always") << With(&Fault::StallAfterBytes, 100) << false << "QtHttp error 4 when retrieving file ";
    QTest::newRow("closed mid-blob once") << With(&Fault::CloseAfterBytes, 100, 1) << true << "";
    QTest::newRow("closed mid-blob always") << With(&Fault::CloseAfterBytes, 100) << false
                                            << "Received 100 of |Error RemoteHostClosedError for file";
}

void ArchivesTest::badAnswers()
{
    QFETCH(Fault, fault);
    QFETCH(bool, repaired);
    QFETCH(QString, message);
    Repair l_Run;
    QVERIFY(l_Run.Ready(s_Small + QStringList{"--zero-slot", "4"}, m_Server));
    QCOMPARE(l_Run.Scan().size(), 1);
    const QString l_Archive = l_Run.ArchivePath(l_Run.Blob(4)["localArchive"].toInt());
    const QByteArray l_Before = TestBuild::Read(l_Archive);
    m_Server.SetFault(l_Run.CdnPath(4), fault);
    m_Server.ClearRequests();
    const bool l_Streamed = l_Run.Stream();
    m_Server.ClearFaults();
    QCOMPARE(l_Streamed, repaired);
    if (!repaired)
    {
        QCOMPARE(l_Run.m_Errors.size(), 1);
        QCOMPARE(l_Run.m_Errors.first().first, 2);
        QVERIFY2(l_Run.m_Errors.first().second.contains(QRegularExpression(message)), qPrintable(l_Run.m_Errors.first().second));
        // Qt itself may ask once more when a kept-alive connection closes under it.
        QVERIFY(m_Server.Requests().size() >= CASCArchivesManager::MaxAttempts);
        QVERIFY(m_Server.Requests().size() <= 2 * CASCArchivesManager::MaxAttempts);
        // Nothing was written over the slot or its neighbours; resumed against a healed server, it completes.
        QCOMPARE(TestBuild::Read(l_Archive), l_Before);
        l_Run.m_Errors.clear();
        l_Run.Manager()->ResumeDownload();
        QVERIFY(l_Run.WaitFinished());
    }
    QVERIFY(l_Run.m_Errors.isEmpty());
    QVERIFY(l_Run.Scan().isEmpty());
}

void ArchivesTest::diskFailures_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<QString>("message");
    QTest::newRow("scratch file cannot be opened") << "scratch" << "Failed to open archive or download file";
    QTest::newRow("archive on a full disk") << "full" << "Failed to write archive : ";
}

void ArchivesTest::diskFailures()
{
    QFETCH(QString, where);
    QFETCH(QString, message);
    Repair l_Run;
    QVERIFY(l_Run.Ready(s_Small + QStringList{"--drop-archive", "0"}, m_Server));
    QVERIFY(!l_Run.Scan().isEmpty());
    if (where == "scratch")
        QVERIFY(QDir().mkpath(l_Run.Install() + "data/orvane/temp.download/x"));
    else if (!QFile::link("/dev/full", l_Run.ArchivePath(0)))
        QSKIP("no /dev/full to stand for a full disk");
    QVERIFY(!l_Run.Stream(20000));
    QCOMPARE(l_Run.m_Errors.first().first, 1);
    QVERIFY2(l_Run.m_Errors.first().second.startsWith(message), qPrintable(l_Run.m_Errors.first().second));
}

void ArchivesTest::stopAndResume()
{
    Repair l_Run;
    QVERIFY(l_Run.Ready({"--files", "4", "--min-size", "200K", "--max-size", "200K", "--mode", "N", "--zero-slot", "1",
                         "--zero-slot", "2"}, m_Server));
    QCOMPARE(l_Run.Scan().size(), 2);
    m_Server.SetFault(l_Run.CdnPath(1), With(&Fault::BytesPerSecond, 100000, 1));
    l_Run.Manager()->LoadDownloadList();
    l_Run.Manager()->StartStreaming();
    QVERIFY(QTest::qWaitFor([&] { return QFileInfo(l_Run.Install() + "data/orvane/temp.download").size() > 0; }, 20000));
    l_Run.Manager()->StopDownload();
    // The cancel that follows the stop raises nothing, and nothing completes while stopped.
    QTest::qWait(200);
    QVERIFY(l_Run.m_Errors.isEmpty() && !l_Run.m_Finished);
    m_Server.ClearFaults();
    l_Run.Manager()->ResumeDownload();
    QVERIFY(l_Run.WaitFinished());
    QCOMPARE(l_Run.m_Completed.last()[3], l_Run.m_Completed.last()[4]); // the stopped attempt's bytes not counted twice
    QVERIFY(l_Run.Scan().isEmpty());
}

void ArchivesTest::emptyList()
{
    Repair l_Run;
    QVERIFY(l_Run.Ready(s_Small, m_Server));
    // A database line for a key no local index holds is ignored.
    QVERIFY(TestBuild::Write(l_Run.Db(), "00112233445566778899\n0011223344556677aa\n"));
    m_Server.ClearRequests();
    QVERIFY(l_Run.Stream(1));
    QCOMPARE(l_Run.m_Started, (QList<QList<quint64>>{{1, 0, 0, 0, 0}}));
    QCOMPARE(l_Run.m_Completed, (QList<QList<quint64>>{{0, 0, 100, 0, 0}}));
    QVERIFY(m_Server.Requests().isEmpty());
}

void ArchivesTest::expandInPieces()
{
    CASCApplication l_App(0, QDir::tempPath(), "http://127.0.0.1:1/");
    QTemporaryDir l_Dir;
    WriteRecorder l_File(l_Dir.filePath("grown"));
    QVERIFY(l_File.open(QIODevice::ReadWrite));
    l_File.write(QByteArray(100, 'x'));
    l_File.m_Writes.clear();
    QVERIFY(l_App.GetArchivesManager()->ExpandFile(&l_File, 20100));
    QCOMPARE(l_File.m_Writes, (QList<qint64>{8192, 8192, 3616}));
    QVERIFY(l_App.GetArchivesManager()->ExpandFile(&l_File, 50)); // below its size: nothing to do
    QCOMPARE(l_File.size(), qint64(20100));
}

void ArchivesTest::repairFromServer()
{
    // Run by tests/e2e/e2e_casc_repair.sh against nginx serving a store it forged.
    const QString l_Store = qEnvironmentVariable("KESTRUN_CASC_STORE");
    const QString l_Cdn = qEnvironmentVariable("KESTRUN_CASC_CDN_URL");
    if (l_Store.isEmpty() || l_Cdn.isEmpty())
        QSKIP("needs KESTRUN_CASC_STORE and KESTRUN_CASC_CDN_URL (tests/e2e/e2e_casc_repair.sh)");
    Repair l_Run;
    QVERIFY(l_Run.m_Store.Open(l_Store));
    QVERIFY(l_Run.Open(l_Cdn) && l_Run.LoadEncoding());
    if (!qEnvironmentVariableIsSet("KESTRUN_CASC_AFTER_KILL"))
        return l_Run.ScanStreamRescan();
    // Killed mid-stream: the scan finds whatever was left, and one more stream completes it.
    QVERIFY(!l_Run.Scan().isEmpty());
    QVERIFY(l_Run.Stream(120000));
    QVERIFY(l_Run.Scan().isEmpty());
}

QTEST_GUILESS_MAIN(ArchivesTest)
#include "tst_archives.moc"
