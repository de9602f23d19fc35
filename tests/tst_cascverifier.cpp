// The base files of a content store: configuration and archive indices found missing in an
// installation, sized and fetched from the CDN with progress, stop and resume.
#include "support/CascRig.h"
#include "support/CdnPath.h"
#include "support/StopCheck.h"
#include "support/TestBuild.h"
#include "support/WarningLog.h"
#include "casc/CASCBaseVerifier.h"
#include "casc/CASCVersion.h"

#include <QDir>
#include <QElapsedTimer>
#include <QDirIterator>
#include <QFileInfo>
#include <QtTest>

using namespace Orvane::CASC;

namespace {

using Call = QList<quint64>; // file number, count, percent, done, total, speed

struct Calls
{
    QList<Call> m_Started, m_Progress, m_Completed;
    int m_Finished = 0;

    void Install(CASCBaseVerifier* p_Verifier)
    {
        auto l_Record = [](QList<Call>& p_Into) {
            return [&p_Into](int p_File, int p_Count, int p_Percent, quint64 p_Done, quint64 p_Total, quint64 p_Speed) {
                p_Into.append(Call{quint64(p_File), quint64(p_Count), quint64(p_Percent), p_Done, p_Total, p_Speed});
            };
        };
        p_Verifier->m_OnDownloadStarted = l_Record(m_Started);
        p_Verifier->m_OnDownloadProgress = l_Record(m_Progress);
        p_Verifier->m_OnDownloadCompleted = l_Record(m_Completed);
        p_Verifier->m_OnFinished = [this] { ++m_Finished; };
    }
};

QString HexKey(int p_Number)
{
    return QString("%1").arg(p_Number, 32, 10, QChar('0'));
}

/// Where the CDN serves index p_Number.
QString Served(int p_Number)
{
    return CdnPath("data", HexKey(p_Number)) + ".index";
}

/// An archive index of p_Size bytes without entries: p_Size - 28 bytes of pattern, then a footer
/// that counts 0 entries and holds its checksum.
QByteArray ValidIndex(int p_Size, int p_Seed = 7)
{
    QByteArray l_Footer = QByteArray(8, '\1') + QByteArray("\1\0\0\4\4\4\x10\x08", 8) + QByteArray(4, '\0');
    l_Footer += Orvane::Md5::Hash(l_Footer.mid(8) + QByteArray(8, '\0')).left(8);
    return TestHttpServer::Pattern(p_Size - 28, p_Seed) + l_Footer;
}

/// A store of three archives whose indices are p_Bodies, served from memory; the installation
/// holds both configuration files and no index.
void Synthetic(CascRig& p_Rig, const QList<QByteArray>& p_Bodies, const QString& p_Archives = QString())
{
    TestHttpServer& l_Server = p_Rig.m_Server;
    const QString l_Host = QString("127.0.0.1:%1").arg(l_Server.Port());
    QStringList l_Names;
    for (int l_I = 0; l_I < p_Bodies.size(); ++l_I)
    {
        l_Names.append(HexKey(l_I + 1));
        l_Server.SetResource(Served(l_I + 1), p_Bodies[l_I]);
    }
    const QByteArray l_Cdn = "archives = " + (p_Archives.isNull() ? l_Names.join(' ') : p_Archives).toUtf8() + "\n";
    const QByteArray l_Build = "build-name = synthetic\n";
    l_Server.SetResource("/wow/cdns", "Name|Path|Hosts\neu|tpr/wow|" + l_Host.toUtf8() + "\n");
    l_Server.SetResource("/wow/versions", "Region|B|C|Id|Name\neu|" + Md5Key(l_Build).toUtf8() + "|" +
                                              Md5Key(l_Cdn).toUtf8() + "|1|v\n");
    l_Server.SetResource(CdnPath("config", Md5Key(l_Cdn)), l_Cdn);
    l_Server.SetResource(CdnPath("config", Md5Key(l_Build)), l_Build);
    const QString l_Install = p_Rig.m_Store.Root() + "/install/";
    TestBuild::Write(l_Install + "data/config/" + KeyedPath(Md5Key(l_Cdn)), l_Cdn);
    TestBuild::Write(l_Install + "data/config/" + KeyedPath(Md5Key(l_Build)), l_Build);
    p_Rig.NewApp(l_Install);
}

QString IndexPath(CascRig& p_Rig, int p_Number)
{
    return p_Rig.m_App->GetInstallFolder() + "data/indices/" + HexKey(p_Number) + ".index";
}

QString IndexUrl(CascRig& p_Rig, int p_Number)
{
    return p_Rig.m_Server.Url(Served(p_Number));
}

/// Installs p_Calls, then Scan and Start; p_OnStarted runs at each transfer's start (to set a fault).
void Begin(CascRig& p_Rig, Calls& p_Calls, std::function<void()> p_OnStarted = nullptr)
{
    CASCBaseVerifier* l_Verifier = p_Rig.m_App->GetBaseVerifier();
    p_Calls.Install(l_Verifier);
    if (p_OnStarted)
        l_Verifier->m_OnDownloadStarted = [p_OnStarted](int, int, int, quint64, quint64, quint64) { p_OnStarted(); };
    l_Verifier->Scan();
    l_Verifier->Start();
}

/// Begin, then wait until the verifier finished or raised an error.
bool Run(CascRig& p_Rig, Calls& p_Calls)
{
    Begin(p_Rig, p_Calls);
    return QTest::qWaitFor([&] { return p_Calls.m_Finished > 0 || !p_Rig.m_Errors->isEmpty(); }, 20000);
}

} // namespace

class CascVerifierTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        // Pointed at an external server (the end-to-end test), only the forged store runs.
        if (!qEnvironmentVariableIsEmpty("KESTRUN_CASC_CDN_URL") && QTest::currentTestFunction() != QString("forgedStore"))
            QSKIP("runs against the loopback server");
    }
    void forgedStore();
    void sizesAndProgress();
    void nothingMissing();
    void failures_data();
    void failures();
    void bounded_data();
    void bounded();
    void stopAndResume();
    void killAndRunAgain();
    void badKeys_data();
    void badKeys();
    void wrongBodies_data();
    void wrongBodies();
    void stopWhileSizing();
    void stopWhileSizingAgain();
};

void CascVerifierTest::forgedStore()
{
    // Configuration and indices come from the CDN, through the orchestrator, under the keys
    // the summary gives, byte for byte (tst_cascindex loads such indices).
    CascRig l_Rig;
    QVERIFY(l_Rig.Forge({"--files", "120", "--max-size", "4K", "--patch-archives", "1", "--missing-config", "build",
                         "--missing-config", "patch", "--missing-index", "0", "--missing-index", "2"}));
    l_Rig.NewApp();
    QVERIFY(l_Rig.Init());
    const CascStore& l_Store = l_Rig.m_Store;
    // The archive lists and the patch configuration read show in what is fetched below.
    QCOMPARE(l_Rig.m_App->GetVersionInfo(2)._BuildNumber, quint32(l_Store.Summary()["buildId"].toInt()));

    WarningLog l_Log;
    Calls l_Calls;
    QVERIFY(Run(l_Rig, l_Calls));
    QVERIFY(l_Rig.m_Errors->isEmpty());
    QCOMPARE(l_Log.Starting("CASCBaseVerifier::Scan(): Missing file ").size(), 4);
    const QStringList l_Fetched = {"config/" + KeyedPath(l_Store.Config("build")), "config/" + KeyedPath(l_Store.Config("patch")),
                                   "data/" + KeyedPath(l_Store.Archives(false)[0]) + ".index",
                                   "patch/" + KeyedPath(l_Store.Archives(true)[0]) + ".index"};
    QString l_CdnPath = l_Store.Summary()["cdnPath"].toString();
    for (const QString& l_Path : l_Fetched)
    {
        const QString l_Local = l_Path.startsWith("config/") ? "data/" + l_Path
                                                              : "data/indices/" + QFileInfo(l_Path).fileName();
        QCOMPARE(TestBuild::Read(l_Store.Install() + l_Local), TestBuild::Read(l_Store.CdnDocRoot() + "/" + l_CdnPath + "/" + l_Path));
        if (!l_Rig.External())
            // size, then file; the configuration read the build configuration first
            QCOMPARE(l_Rig.m_Server.Requests("/" + l_CdnPath + "/" + l_Path).size(), l_Path == l_Fetched[0] ? 3 : 2);
    }
    QCOMPARE(l_Calls.m_Completed.size(), 1);
    QCOMPARE(l_Calls.m_Completed[0][3], l_Calls.m_Completed[0][4]);
}

void CascVerifierTest::sizesAndProgress()
{
    CascRig l_Rig;
    Synthetic(l_Rig, {ValidIndex(40, 1), ValidIndex(50, 2), ValidIndex(60, 3)});
    QVERIFY(l_Rig.Init());
    Calls l_Calls;
    l_Calls.Install(l_Rig.m_App->GetBaseVerifier());
    // Progress comes at most once a second, besides the start and the end.
    QElapsedTimer l_Clock;
    l_Clock.start();
    QList<qint64> l_Ticks;
    l_Rig.m_App->GetBaseVerifier()->m_OnDownloadProgress = [&](int, int, int, quint64, quint64, quint64) {
        l_Ticks.append(l_Clock.elapsed());
    };
    l_Rig.m_App->GetBaseVerifier()->Scan();
    l_Rig.m_App->GetBaseVerifier()->Start();
    QVERIFY(QTest::qWaitFor([&] { return l_Calls.m_Finished > 0 || !l_Rig.m_Errors->isEmpty(); }, 20000));
    QVERIFY(l_Rig.m_Errors->isEmpty());
    QCOMPARE(l_Calls.m_Started, QList<Call>{(Call{1, 3, 0, 0, 150, 0})});
    QCOMPARE(l_Calls.m_Completed, QList<Call>{(Call{3, 3, 100, 150, 150, 0})});
    for (int l_I = 1; l_I < l_Ticks.size(); ++l_I)
        QVERIFY2(l_Ticks[l_I] - l_Ticks[l_I - 1] >= 900, qPrintable(QString::number(l_Ticks[l_I] - l_Ticks[l_I - 1])));
    QVERIFY(l_Ticks.size() <= 1 + l_Clock.elapsed() / 900);
    QCOMPARE(l_Calls.m_Finished, 1);
    QCOMPARE(TestBuild::Read(IndexPath(l_Rig, 2)), ValidIndex(50, 2));
    QVERIFY(l_Rig.m_App->GetBaseVerifier()->GetMissingFiles().isEmpty());

    // No Content-Length: the total is 0 and the percentage is taken against 1.
    Synthetic(l_Rig, {ValidIndex(40)});
    l_Rig.m_Server.SetFault(Served(1), With(&TestHttpServer::Fault::OmitContentLength, true));
    QVERIFY(l_Rig.Init());
    QFile::remove(IndexPath(l_Rig, 1));
    Calls l_Unsized;
    QVERIFY(Run(l_Rig, l_Unsized));
    QCOMPARE(l_Unsized.m_Started, QList<Call>{(Call{1, 1, 0, 0, 0, 0})});
    QCOMPARE(l_Unsized.m_Completed, QList<Call>{(Call{1, 1, 100, 40, 0, 0})});
}

void CascVerifierTest::nothingMissing()
{
    CascRig l_Rig;
    QVERIFY(l_Rig.Forge({"--files", "8"}));
    l_Rig.NewApp();
    QVERIFY(l_Rig.Init());
    l_Rig.m_Server.ClearRequests();
    Calls l_Calls;
    Begin(l_Rig, l_Calls);
    QCOMPARE(l_Calls.m_Finished, 1); // at once, from Start
    QVERIFY(l_Calls.m_Started.isEmpty() && l_Calls.m_Progress.isEmpty() && l_Calls.m_Completed.isEmpty());
    QTest::qWait(50);
    QVERIFY(l_Rig.m_Server.Requests().isEmpty());
}

void CascVerifierTest::failures_data()
{
    QTest::addColumn<bool>("sizing");                 // the fault hits the size request, else the download
    QTest::addColumn<TestHttpServer::Fault>("fault");
    QTest::addColumn<QString>("message");             // URL stands for the file's URL
    using F = TestHttpServer::Fault;
    QTest::newRow("404 on download") << false << With(&F::Status, 404) << "QtHttp error 203 when retrieving file URL";
    QTest::newRow("500 on download") << false << With(&F::Status, 500) << "QtHttp error 401 when retrieving file URL";
    QTest::newRow("closed mid-file") << false << With(&F::CloseAfterBytes, 700)
                                     << "Error RemoteHostClosedError for file : URL";
    QTest::newRow("stall mid-file") << false << With(&F::StallAfterBytes, 700) << "QtHttp error 4 when retrieving file URL";
    QTest::newRow("404 on size") << true << With(&F::Status, 404) << "QtHttp error 203 when retrieving file URL";
    QTest::newRow("no answer to size") << true << With(&F::NoAnswer, true) << "QtHttp error 4 when retrieving file URL";
}

void CascVerifierTest::failures()
{
    // Every failure is reported once, leaves no file under its final name, and a resume
    // finishes the job once the server behaves.
    QFETCH(bool, sizing);
    QFETCH(TestHttpServer::Fault, fault);
    QFETCH(QString, message);
    CascRig l_Rig;
    qputenv("KESTRUN_STALL_TIMEOUT_MS", "1000");
    qputenv("KESTRUN_SIZE_TIMEOUT_MS", "1000");
    const QByteArray l_Second = ValidIndex(3000);
    Synthetic(l_Rig, {ValidIndex(40, 1), l_Second, ValidIndex(60, 3)});
    QVERIFY(l_Rig.Init());
    if (sizing)
        l_Rig.m_Server.SetFault(Served(2), fault);
    Calls l_Calls;
    Begin(l_Rig, l_Calls, [&] { l_Rig.m_Server.SetFault(Served(2), fault); });
    QTRY_COMPARE_WITH_TIMEOUT(l_Rig.m_Errors->count(), 1, 20000);
    QCOMPARE(l_Rig.m_Errors->at(0)[0].value<Errors::Type>(), Errors::Network);
    QCOMPARE(l_Rig.m_Errors->at(0)[1].toString(), message.replace("URL", IndexUrl(l_Rig, 2)));
    QVERIFY(!QFile::exists(IndexPath(l_Rig, 2)) && !QFile::exists(IndexPath(l_Rig, 3)));
    QTest::qWait(100);
    QCOMPARE(l_Rig.m_Errors->count(), 1);
    QCOMPARE(l_Calls.m_Finished, 0);

    l_Rig.m_Server.ClearFaults();
    l_Rig.m_App->GetBaseVerifier()->m_OnDownloadStarted = nullptr;
    l_Rig.m_App->GetBaseVerifier()->ResumeDownload();
    QTRY_COMPARE_WITH_TIMEOUT(l_Calls.m_Finished, 1, 20000);
    QCOMPARE(TestBuild::Read(IndexPath(l_Rig, 2)), l_Second);
    QCOMPARE(l_Calls.m_Completed, QList<Call>{(Call{3, 3, 100, 3100, 3100, 0})});
    qunsetenv("KESTRUN_STALL_TIMEOUT_MS");
    qunsetenv("KESTRUN_SIZE_TIMEOUT_MS");
}

void CascVerifierTest::bounded_data()
{
    QTest::addColumn<bool>("sized"); // the size answer tells the file's size
    QTest::newRow("longer than its size answer") << true;
    QTest::newRow("no size answer: the document bound") << false;
}

void CascVerifierTest::bounded()
{
    // A base file is taken up to its size answer (else the document bound, 4096 bytes here),
    // never more; the longer body fails and nothing of it is kept.
    QFETCH(bool, sized);
    qputenv("KESTRUN_MAX_DOCUMENT_BYTES", "4096");
    CascRig l_Rig;
    const QByteArray l_Second = ValidIndex(3000);
    Synthetic(l_Rig, {ValidIndex(40, 1), l_Second});
    QVERIFY(l_Rig.Init());
    const QByteArray l_Longer = l_Second + QByteArray(1 << 20, 'x');
    if (!sized)
        l_Rig.m_Server.SetFault(Served(2), With(&TestHttpServer::Fault::OmitContentLength, true));
    Calls l_Calls;
    Begin(l_Rig, l_Calls, [&] { l_Rig.m_Server.SetResource(Served(2), l_Longer); });
    QTRY_COMPARE_WITH_TIMEOUT(l_Rig.m_Errors->count(), 1, 20000);
    qunsetenv("KESTRUN_MAX_DOCUMENT_BYTES");
    QCOMPARE(l_Rig.m_Errors->at(0)[0].value<Errors::Type>(), Errors::Network);
    QCOMPARE(l_Rig.m_Errors->at(0)[1].toString(), "Error CASCBaseVerifier " + IndexUrl(l_Rig, 2) + " is larger than " +
                                                      (sized ? "3000" : "4096") + " bytes");
    QVERIFY(!QFile::exists(IndexPath(l_Rig, 2)) && !QFile::exists(IndexPath(l_Rig, 2) + ".part"));
    QCOMPARE(l_Calls.m_Finished, 0);
}

void CascVerifierTest::stopAndResume()
{
    // The stop closes the slow transfer's connection; past the stall time-out nothing is asked and
    // the ".part" does not grow. The resume fetches the file again, counting each byte once.
    qputenv("KESTRUN_STALL_TIMEOUT_MS", "2000");
    CascRig l_Rig;
    const QByteArray l_Second = ValidIndex(200000);
    Synthetic(l_Rig, {ValidIndex(40, 1), l_Second, ValidIndex(60, 3)});
    QVERIFY(l_Rig.Init());
    const QString l_Path = Served(2);
    CASCBaseVerifier* l_Verifier = l_Rig.m_App->GetBaseVerifier();
    Calls l_Calls;
    Begin(l_Rig, l_Calls, [&] { l_Rig.m_Server.SetFault(l_Path, With(&TestHttpServer::Fault::BytesPerSecond, 20000, 1)); });
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(IndexPath(l_Rig, 2) + ".part").size() >= 5000, 20000);
    const int l_Closed = l_Rig.m_Server.ClosedConnections();
    l_Verifier->StopDownload();
    l_Verifier->StopDownload(); // a second stop changes nothing
    const QString l_Broken =
        QuietAfterStop(l_Rig.m_Server, l_Closed, 2500, [&] { return QFileInfo(IndexPath(l_Rig, 2) + ".part").size(); });
    qunsetenv("KESTRUN_STALL_TIMEOUT_MS");
    QVERIFY2(l_Broken.isEmpty(), qPrintable(l_Broken));
    QVERIFY(l_Rig.m_Errors->isEmpty());
    QVERIFY(!QFile::exists(IndexPath(l_Rig, 2)));
    l_Verifier->ResumeDownload();
    QTRY_COMPARE_WITH_TIMEOUT(l_Calls.m_Finished, 1, 20000);
    QVERIFY(l_Rig.m_Errors->isEmpty());
    QCOMPARE(TestBuild::Read(IndexPath(l_Rig, 2)), l_Second);
    // The stopped attempt's bytes are not counted twice, and the file was fetched from its start.
    QCOMPARE(l_Calls.m_Completed, QList<Call>{(Call{3, 3, 100, 200100, 200100, 0})});
    const QList<TestHttpServer::Request> l_Requests = l_Rig.m_Server.Requests(l_Path);
    QCOMPARE(l_Requests.size(), 3);
    QVERIFY(l_Requests.last().Range.isEmpty());
}

void CascVerifierTest::killAndRunAgain()
{
    // The process dies mid-file: the next run finds the file missing and fetches it whole.
    CascRig l_Rig;
    const QByteArray l_Second = ValidIndex(100000);
    Synthetic(l_Rig, {ValidIndex(40, 1), l_Second});
    QVERIFY(l_Rig.Init());
    Calls l_Calls;
    Begin(l_Rig, l_Calls, [&] { l_Rig.m_Server.SetFault(Served(2), With(&TestHttpServer::Fault::StallAfterBytes, 4000, 1)); });
    const QString l_Install = l_Rig.m_App->GetInstallFolder();
    QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(IndexPath(l_Rig, 2) + ".part").size(), qint64(4000), 20000);
    l_Rig.m_App.reset();
    QVERIFY(!QFile::exists(l_Install + "data/indices/" + HexKey(2) + ".index"));

    l_Rig.NewApp(l_Install);
    QVERIFY(l_Rig.Init());
    Calls l_Again;
    QVERIFY(Run(l_Rig, l_Again));
    QVERIFY(l_Rig.m_Errors->isEmpty());
    QCOMPARE(l_Again.m_Started, QList<Call>{(Call{1, 1, 0, 0, 100000, 0})});
    QCOMPARE(TestBuild::Read(IndexPath(l_Rig, 2)), l_Second);
}

void CascVerifierTest::badKeys_data()
{
    QTest::addColumn<QString>("archives");
    QTest::newRow("climbs out of the installation") << "../../../../escaped";
    QTest::newRow("31 digits") << QString(31, 'a');
    QTest::newRow("not hexadecimal") << QString(31, 'a') + "g";
}

void CascVerifierTest::badKeys()
{
    QFETCH(QString, archives);
    CascRig l_Rig;
    Synthetic(l_Rig, {ValidIndex(40)}, HexKey(1) + " " + archives);
    QVERIFY(l_Rig.Init());
    l_Rig.m_Server.ClearRequests();
    Calls l_Calls;
    Begin(l_Rig, l_Calls);
    QCOMPARE(l_Rig.m_Errors->count(), 1);
    QCOMPARE(l_Rig.m_Errors->at(0)[0].value<Errors::Type>(), Errors::EncodingFile);
    QVERIFY(l_Rig.m_Errors->at(0)[1].toString().contains(archives));
    QTest::qWait(50);
    QVERIFY(l_Rig.m_Server.Requests().isEmpty());
    QCOMPARE(l_Calls.m_Finished, 0);
    QDirIterator l_All(l_Rig.m_Store.Root(), QDir::Files, QDirIterator::Subdirectories);
    while (l_All.hasNext())
        QVERIFY2(!l_All.next().contains("escaped"), "a file was written from a bad key");
}

void CascVerifierTest::wrongBodies_data()
{
    QTest::addColumn<QString>("file"); // "config" or "index"
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("captive portal for an index") << "index" << QByteArray("<html>Sign in to the hotel network</html>");
    QTest::newRow("index cut at its footer") << "index" << ValidIndex(3000).left(2990);
    QTest::newRow("index with a broken footer") << "index" << ValidIndex(3000).replace(2999, 1, "!");
    QTest::newRow("configuration of another build") << "config" << QByteArray("archives = 1234\n");
}

void CascVerifierTest::wrongBodies()
{
    // A 200 with the wrong body never takes the file's name; once the server behaves, a resume
    // fetches the right one.
    QFETCH(QString, file);
    QFETCH(QByteArray, body);
    CascRig l_Rig;
    const QByteArray l_Right = ValidIndex(3000);
    Synthetic(l_Rig, {ValidIndex(40, 1), l_Right});
    QVERIFY(l_Rig.Init());
    QString l_Served = Served(2);
    QString l_Local = IndexPath(l_Rig, 2);
    QByteArray l_Good = l_Right;
    if (file == "config")
    {
        // The CDN configuration is missing from the installation.
        const QString l_Key = l_Rig.m_App->GetVersionInfo(2)._CdnConfig;
        l_Served = CdnPath("config", l_Key);
        l_Local = l_Rig.m_App->GetInstallFolder() + "data/config/" + KeyedPath(l_Key);
        l_Good = TestBuild::Read(l_Local);
        QVERIFY(QFile::remove(l_Local));
    }
    l_Rig.m_Server.SetResource(l_Served, body);
    Calls l_Calls;
    Begin(l_Rig, l_Calls);
    QTRY_COMPARE_WITH_TIMEOUT(l_Rig.m_Errors->count(), 1, 20000);
    QCOMPARE(l_Rig.m_Errors->at(0)[0].value<Errors::Type>(), Errors::Network);
    QVERIFY(!QFile::exists(l_Local) && !QFile::exists(l_Local + ".part"));
    QCOMPARE(l_Calls.m_Finished, 0);
    l_Rig.m_Server.SetResource(l_Served, l_Good);
    l_Rig.m_App->GetBaseVerifier()->ResumeDownload();
    QTRY_COMPARE_WITH_TIMEOUT(l_Calls.m_Finished, 1, 20000);
    QCOMPARE(TestBuild::Read(l_Local), l_Good);
    QCOMPARE(l_Rig.m_Errors->count(), 1);
}

void CascVerifierTest::stopWhileSizing()
{
    // A stop during the size requests holds the transfers that follow them until the resume.
    CascRig l_Rig;
    Synthetic(l_Rig, {ValidIndex(40, 1), ValidIndex(50, 2)});
    QVERIFY(l_Rig.Init());
    const QString l_First = Served(1);
    l_Rig.m_Server.SetFault(l_First, With(&TestHttpServer::Fault::DelayMs, 300, 1));
    l_Rig.m_Server.ClearRequests();
    Calls l_Calls;
    Begin(l_Rig, l_Calls);
    QTRY_COMPARE_WITH_TIMEOUT(l_Rig.m_Server.Requests(l_First).size(), 1, 20000);
    l_Rig.m_App->GetBaseVerifier()->StopDownload();
    QTest::qWait(600); // past the delayed size answer: nothing may follow it
    QCOMPARE(l_Rig.m_Server.Requests().size(), 1);
    QVERIFY(l_Calls.m_Started.isEmpty() && l_Rig.m_Errors->isEmpty());
    l_Rig.m_App->GetBaseVerifier()->ResumeDownload();
    QTRY_COMPARE_WITH_TIMEOUT(l_Calls.m_Finished, 1, 20000);
    QVERIFY(l_Rig.m_Errors->isEmpty());
    QCOMPARE(TestBuild::Read(IndexPath(l_Rig, 2)), ValidIndex(50, 2));
}

void CascVerifierTest::stopWhileSizingAgain()
{
    // A failed file's size is asked again on the resume; a stop during that question holds it
    // alone: the files already fetched are not fetched again, nor is the download started anew.
    CascRig l_Rig;
    const QByteArray l_Second = ValidIndex(3000);
    Synthetic(l_Rig, {ValidIndex(40, 1), l_Second, ValidIndex(60, 3)});
    QVERIFY(l_Rig.Init());
    Calls l_Calls;
    int l_Starts = 0;
    Begin(l_Rig, l_Calls, [&] {
        ++l_Starts;
        l_Rig.m_Server.SetFault(Served(2), With(&TestHttpServer::Fault::Status, 404));
    });
    QTRY_COMPARE_WITH_TIMEOUT(l_Rig.m_Errors->count(), 1, 20000);
    l_Rig.m_Server.ClearFaults();
    l_Rig.m_Server.SetFault(Served(2), With(&TestHttpServer::Fault::DelayMs, 300, 1));
    const int l_Asked = l_Rig.m_Server.Requests(Served(2)).size();
    const int l_Closed = l_Rig.m_Server.ClosedConnections();
    CASCBaseVerifier* l_Verifier = l_Rig.m_App->GetBaseVerifier();
    l_Verifier->ResumeDownload();
    QTRY_COMPARE_WITH_TIMEOUT(l_Rig.m_Server.Requests(Served(2)).size(), l_Asked + 1, 20000);
    l_Verifier->StopDownload();
    QTRY_VERIFY_WITH_TIMEOUT(l_Rig.m_Server.ClosedConnections() > l_Closed, 20000);
    l_Verifier->ResumeDownload();
    QTRY_COMPARE_WITH_TIMEOUT(l_Calls.m_Finished, 1, 20000);
    QCOMPARE(l_Rig.m_Errors->count(), 1);
    QCOMPARE(TestBuild::Read(IndexPath(l_Rig, 2)), l_Second);
    QCOMPARE(l_Starts, 1);
    // The first file: its size, then its body, once each.
    QCOMPARE(l_Rig.m_Server.Requests(Served(1)).size(), 2);
    QCOMPARE(l_Calls.m_Completed, QList<Call>{(Call{3, 3, 100, 3100, 3100, 0})});
}

QTEST_GUILESS_MAIN(CascVerifierTest)
#include "tst_cascverifier.moc"
