// The content store's streamed download: blobs checked as they arrive (a bad one spares its
// neighbours in the same request), and a kill -9 at any moment of streaming, over many seeds,
// never leaves a slot that the download database does not list and that is not whole.
#include "support/BlobRanges.h"
#include "support/CdnPath.h"
#include "support/Files.h"
#include "support/StoreRepair.h"
#include "support/WarningLog.h"
#include "casc/CASCArchivesManager.h"
#include "casc/BLTEHandler.h"
#include "casc/BLTEWriter.h"
#include "casc/CASCBlobCheck.h"
#include "casc/CASCDownloadDatabase.h"
#include "platform/Md5.h"

#include <QBuffer>
#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <QtTest>

#include <atomic>

#include <cstdio>

using namespace Orvane::CASC;
using Fault = TestHttpServer::Fault;

namespace {

const QStringList s_Store = {"--files", "48", "--min-size", "2K", "--max-size", "40K", "--chunk", "8K",
                             "--local-archives", "3"};

/// A copy of the forged installation without its data archives: every slot is to be fetched.
bool EmptyInstall(const CascStore& p_Store, const QString& p_Into)
{
    QDir(p_Into).removeRecursively();
    if (!CopyTree(p_Store.Install(), p_Into))
        return false;
    for (const QString& l_Name : QDir(p_Into + "/data/data").entryList({"data.*"}, QDir::Files))
        if (!QFile::remove(p_Into + "/data/data/" + l_Name))
            return false;
    return true;
}

/// The child of killAtAnyMoment: scans the installation given as its argument against the CDN of
/// KESTRUN_CASC_CDN_URL, says "streaming" and streams until finished (exit 0) or an error (exit 5).
int StreamChild(int argc, char** argv)
{
    QCoreApplication l_Core(argc, argv);
    StoreRepair l_Run;
    l_Run.m_Install = l_Core.arguments().value(1);
    if (!l_Run.Forge({}) || !l_Run.Open() || !l_Run.LoadEncoding())
        return 4;
    if (qEnvironmentVariableIsSet("KESTRUN_DATABASE_INTERVAL_MS"))
        l_Run.Manager()->SetDatabaseInterval(qEnvironmentVariableIntValue("KESTRUN_DATABASE_INTERVAL_MS"));
    if (!l_Run.Manager()->ScanInstall())
        return 6;
    std::printf("streaming\n");
    std::fflush(stdout);
    return l_Run.Stream(600000) ? 0 : 5;
}

/// How many of this process's open files are data archives of the installation p_Install.
int OpenArchives(const QString& p_Install)
{
    int l_Open = 0;
#ifdef Q_OS_WIN
    // No /proc here, but an open file (Qt shares it for reading and writing, never for deleting) cannot
    // be renamed.
    const QString l_Folder = p_Install + "data/data/";
    for (const QString& l_Name : QDir(l_Folder).entryList({"data.*"}, QDir::Files))
    {
        const bool l_Free = QFile::rename(l_Folder + l_Name, l_Folder + "probe." + l_Name);
        l_Open += !l_Free;
        if (l_Free && !QFile::rename(l_Folder + "probe." + l_Name, l_Folder + l_Name))
            return -1;
    }
#else
    const QString l_Prefix = QFileInfo(p_Install + "data/data").canonicalFilePath() + "/data.";
    for (const QFileInfo& l_Fd : QDir("/proc/self/fd").entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot))
        l_Open += l_Fd.symLinkTarget().startsWith(l_Prefix);
#endif
    return l_Open;
}

/// Requests of p_Path whose range covers the blob p_Blob.
int TimesAsked(const TestHttpServer& p_Server, const QString& p_Path, const QJsonObject& p_Blob)
{
    const qint64 l_At = qint64(p_Blob["cdnOffset"].toDouble());
    const qint64 l_Last = l_At + qint64(p_Blob["blobSize"].toDouble()) - 1;
    int l_Asked = 0;
    for (const TestHttpServer::Request& l_Request : p_Server.Requests(p_Path))
    {
        const QStringList l_Range = QString::fromLatin1(l_Request.Range).section('=', 1).split('-');
        l_Asked += l_Range.value(0).toLongLong() <= l_At && l_Range.value(1).toLongLong() >= l_Last;
    }
    return l_Asked;
}

/// Holds every thread of the global pool until released (bounded, so that a failed test goes on).
struct PoolGate
{
    QSemaphore Released;
    std::atomic<int> Holding{0};
    QList<QFuture<void>> Tasks;
    bool Close()
    {
        for (int l_I = 0; l_I < QThreadPool::globalInstance()->maxThreadCount(); ++l_I)
            Tasks << QtConcurrent::run([this] {
                ++Holding;
                Released.tryAcquire(1, 60000);
            });
        return QTest::qWaitFor([this] { return Holding == QThreadPool::globalInstance()->maxThreadCount(); }, 10000);
    }
    void Open() { Released.release(Tasks.size()); }
    ~PoolGate()
    {
        Open();
        for (QFuture<void>& l_Task : Tasks)
            l_Task.waitForFinished();
    }
};

/// A store of two blobs above the memory bound, forged, opened and scanned into an empty p_Install.
bool TwoLargeBlobsToFetch(StoreRepair& p_Rig, const QString& p_Install)
{
    const qint64 l_Large = qint64(CASCArchivesManager::InMemoryBlob) + 300000;
    if (!p_Rig.Forge({"--files", "2", "--min-size", QString::number(l_Large), "--max-size", QString::number(l_Large),
                      "--chunk", "1M", "--mode", "N", "--local-archives", "1"}) ||
        !EmptyInstall(p_Rig.m_Store, p_Install))
        return false;
    p_Rig.m_Install = p_Install;
    return p_Rig.Open() && p_Rig.LoadEncoding() && p_Rig.Scan().size() == 2;
}

} // namespace

class tst_storestream : public QObject
{
    Q_OBJECT

private slots:
    void badBlobSparesItsNeighbours_data();
    void badBlobSparesItsNeighbours();
    void largeBlobsGoThroughTheScratchFile();
    void killAtAnyMoment();
    void hostileHeaderSizes_data();
    void hostileHeaderSizes();
    void contentKeyOnArrival_data();
    void contentKeyOnArrival();
    void noContentKeyWhereTheDecodeRefuses();
    void unacceptableBlobIsThePublishedStoresFault_data();
    void unacceptableBlobIsThePublishedStoresFault();
    void stopDuringTheCopyOfALargeBlob();
};

void tst_storestream::badBlobSparesItsNeighbours_data()
{
    QTest::addColumn<QString>("where"); // the byte of the blob that the CDN serves wrong
    QTest::addColumn<QString>("message");
    QTest::newRow("in the header's key-covered table") << "table" << "Blob is not ";
    QTest::newRow("in the last chunk") << "last" << "Blob does not decode";
    QTest::newRow("in an early chunk") << "early" << "Blob does not decode";
}

void tst_storestream::badBlobSparesItsNeighbours()
{
    // One blob of a CDN archive is served with one byte changed: it is refused (never written), asked
    // again a bounded number of times, and stays listed; its neighbours, fetched in the same requests,
    // are written whole.
    QFETCH(QString, where);
    QFETCH(QString, message);
    StoreRepair l_Rig;
    QVERIFY(l_Rig.Forge(s_Store));
    QTemporaryDir l_Dir;
    const QString l_Install = l_Dir.filePath("install") + "/";
    QVERIFY(EmptyInstall(l_Rig.m_Store, l_Install));
    l_Rig.m_Install = l_Install;
    const QJsonArray l_Blobs = l_Rig.m_Store.Blobs();
    // A blob with several chunks in the middle of its CDN archive, so that it has neighbours on both sides.
    int l_Bad = -1;
    for (int l_I = 0; l_I < l_Blobs.size() && l_Bad < 0; ++l_I)
    {
        const QJsonObject l_Candidate = l_Blobs[l_I].toObject();
        int l_Before = 0, l_After = 0;
        for (const QJsonValue& l_Other : l_Blobs)
            if (l_Other.toObject()["cdnArchive"] == l_Candidate["cdnArchive"])
            {
                l_Before += l_Other.toObject()["cdnOffset"].toInt() < l_Candidate["cdnOffset"].toInt();
                l_After += l_Other.toObject()["cdnOffset"].toInt() > l_Candidate["cdnOffset"].toInt();
            }
        if (l_Candidate["blobSize"].toInt() > 20000 && l_Before > 0 && l_After > 0)
            l_Bad = l_I;
    }
    QVERIFY(l_Bad > 0);
    const QJsonObject l_Blob = l_Blobs[l_Bad].toObject();
    const QString l_Path = CdnPath(l_Blob["patch"].toBool() ? "patch" : "data", l_Blob["cdnArchive"].toString());
    QByteArray l_Served = ReadFile(l_Rig.m_Store.CdnDocRoot() + l_Path);
    QVERIFY(!l_Served.isEmpty());
    const int l_At = l_Blob["cdnOffset"].toInt();
    const int l_Size = l_Blob["blobSize"].toInt();
    const int l_Byte = where == "table" ? l_At + 20 : where == "last" ? l_At + l_Size - 2 : l_At + l_Size / 4 + 40;
    l_Served[l_Byte] = char(l_Served.at(l_Byte) ^ 0x5A);
    l_Rig.m_Server.SetResource(l_Path, l_Served);
    WarningLog l_Log;
    l_Log.Silence = [](const QString&) { return true; };

    QVERIFY(l_Rig.Open() && l_Rig.LoadEncoding());
    QVERIFY(l_Rig.Manager()->ScanInstall());
    QCOMPARE(int(l_Rig.Manager()->GetDownloadList().size()), l_Blobs.size());
    l_Rig.m_Server.ClearRequests();
    QVERIFY(!l_Rig.Stream());
    QCOMPARE(l_Rig.m_Raised.size(), 1);
    const QString l_Error = l_Rig.m_Raised.first().second;
    QVERIFY2(l_Error.startsWith(message) && l_Error.contains(l_Blob["cdnArchive"].toString()), qPrintable(l_Error));
    // Listed still, and only it; its slot holds nothing of it.
    const std::set<QByteArray> l_Listed = CASCDownloadDatabase::Read(l_Rig.Db());
    QCOMPARE(l_Listed, (std::set<QByteArray>{QByteArray::fromHex(l_Blob["indexKey"].toString().toLatin1())}));
    const QByteArray l_Slot = SlotBytes(l_Install, l_Blob);
    QVERIFY(l_Slot.count('\0') == l_Slot.size());
    for (int l_I = 0; l_I < l_Blobs.size(); ++l_I)
        QVERIFY2(l_I == l_Bad || SlotWhole(l_Install, l_Rig.m_Store.Install(), l_Blobs[l_I].toObject()),
                 qPrintable(QString("blob %1 not written whole").arg(l_I)));
    // Asked again, a bounded number of times (Qt itself may ask once more when a kept-alive connection closes).
    int l_Asked = 0;
    for (const TestHttpServer::Request& l_Request : l_Rig.m_Server.Requests(l_Path))
    {
        const QStringList l_Range = QString::fromLatin1(l_Request.Range).section('=', 1).split('-');
        l_Asked += l_Range.value(0).toInt() <= l_At && l_Range.value(1).toInt() >= l_At + l_Size - 1;
    }
    QVERIFY(l_Asked >= CASCArchivesManager::MaxAttempts && l_Asked <= 2 * CASCArchivesManager::MaxAttempts);
}

void tst_storestream::largeBlobsGoThroughTheScratchFile()
{
    // Blobs above the memory bound are received into "temp.download" (one at a time) and copied into
    // their slots from there; the store comes out whole.
    StoreRepair l_Rig;
    QTemporaryDir l_Dir;
    const QString l_Install = l_Dir.filePath("install") + "/";
    QVERIFY(TwoLargeBlobsToFetch(l_Rig, l_Install));
    QVERIFY(l_Rig.Stream());
    const qint64 l_Scratch = QFileInfo(l_Install + "data/orvane/temp.download").size();
    bool l_ScratchIsABlob = false;
    for (const QJsonValue& l_Value : l_Rig.m_Store.Blobs())
    {
        const QJsonObject l_Blob = l_Value.toObject();
        QVERIFY(l_Blob["blobSize"].toDouble() > double(CASCArchivesManager::InMemoryBlob));
        l_ScratchIsABlob = l_ScratchIsABlob || qint64(l_Blob["blobSize"].toDouble()) == l_Scratch;
        QVERIFY(SlotWhole(l_Install, l_Rig.m_Store.Install(), l_Blob));
    }
    QVERIFY(l_ScratchIsABlob); // left in place after the last one
    QVERIFY(l_Rig.Scan().isEmpty());
}

void tst_storestream::killAtAnyMoment()
{
    // A child process scans and streams an empty installation from a slowed CDN, rewriting the download
    // database as it goes, and is killed (-9) at a seeded random moment. After each kill: no slot's
    // header names another blob, and every slot not whole is in the download database. Then a stream of the database alone completes the store.
    const quint32 l_First = qEnvironmentVariableIsSet("KESTRUN_KILL_SEED") ? qEnvironmentVariableIntValue("KESTRUN_KILL_SEED") : 1;
    const int l_Seeds = qEnvironmentVariableIsSet("KESTRUN_KILL_SEEDS") ? qEnvironmentVariableIntValue("KESTRUN_KILL_SEEDS") : 12;
    StoreRepair l_Rig;
    QVERIFY(l_Rig.Forge(s_Store));
    const QJsonArray l_Blobs = l_Rig.m_Store.Blobs();
    WarningLog l_Log;
    l_Log.Silence = [](const QString&) { return true; };
    QTemporaryDir l_Dir;
    const QString l_Install = l_Rig.m_Install = l_Dir.filePath("install") + "/";
    int l_KilledMidway = 0, l_KilledAfterRewrite = 0;
    for (quint32 l_Seed = l_First; l_Seed < l_First + quint32(l_Seeds); ++l_Seed)
    {
        QRandomGenerator l_Random(l_Seed);
        QVERIFY(EmptyInstall(l_Rig.m_Store, l_Install));
        // Slow enough that the stream lasts about a second, some archives slower than others.
        for (bool l_Patch : {false, true})
            for (const QString& l_Name : l_Rig.m_Store.Archives(l_Patch))
                l_Rig.m_Server.SetFault(CdnPath(l_Patch ? "patch" : "data", l_Name),
                                        With(&Fault::BytesPerSecond, 150000 + l_Random.bounded(300000)));
        QProcess l_Child;
        QProcessEnvironment l_Env = QProcessEnvironment::systemEnvironment();
        l_Env.insert("KESTRUN_STREAM_CHILD", "1");
        l_Env.insert("KESTRUN_CASC_STORE", l_Rig.m_StoreRoot);
        l_Env.insert("KESTRUN_CASC_CDN_URL", l_Rig.m_CdnUrl);
        // The database is rewritten as the stream goes, many times a second: kills meet rewrites.
        l_Env.insert("KESTRUN_DATABASE_INTERVAL_MS", "50");
        l_Child.setProcessEnvironment(l_Env);
        l_Child.start(QCoreApplication::applicationFilePath(), {l_Install});
        QVERIFY2(QTest::qWaitFor([&] { return l_Child.state() == QProcess::NotRunning || l_Child.canReadLine(); }, 30000),
                 "the child did not start streaming");
        const QByteArray l_First = l_Child.readLine().trimmed();
        QVERIFY2(l_First == "streaming",
                 qPrintable(QString("seed %1: the child said \"%2\", ended with %3: %4")
                                .arg(l_Seed)
                                .arg(QString::fromLocal8Bit(l_First))
                                .arg(l_Child.state() == QProcess::NotRunning ? l_Child.exitCode() : -1)
                                .arg(QString::fromLocal8Bit(l_Child.readAllStandardError().right(2000)))));
        QTest::qWait(int(l_Random.bounded(1500))); // a random moment, not a wait for something
        const bool l_Running = l_Child.state() == QProcess::Running;
        if (l_Running)
        {
            l_Child.kill();
            QVERIFY(l_Child.waitForFinished(10000));
        }
        QVERIFY2(l_Running || l_Child.exitCode() == 0, qPrintable(QString("seed %1: child ended with %2: %3")
                                                                     .arg(l_Seed).arg(l_Child.exitCode())
                                                                     .arg(QString::fromLocal8Bit(l_Child.readAllStandardError().right(2000)))));

        const std::set<QByteArray> l_Listed = CASCDownloadDatabase::Read(l_Rig.Db());
        int l_Whole = 0;
        for (const QJsonValue& l_Value : l_Blobs)
        {
            const QJsonObject l_Blob = l_Value.toObject();
            const QString l_Key = l_Blob["indexKey"].toString();
            const QString l_Named = SlotKey(SlotBytes(l_Install, l_Blob));
            QVERIFY2(l_Named.isEmpty() || l_Named == l_Key,
                     qPrintable(QString("seed %1: the slot of %2 names %3").arg(l_Seed).arg(l_Key, l_Named)));
            const bool l_IsWhole = SlotWhole(l_Install, l_Rig.m_Store.Install(), l_Blob);
            l_Whole += l_IsWhole;
            QVERIFY2(l_IsWhole || l_Listed.count(QByteArray::fromHex(l_Key.toLatin1())),
                     qPrintable(QString("seed %1: %2 is neither whole nor listed").arg(l_Seed).arg(l_Key)));
        }
        l_KilledMidway += l_Running && l_Whole > 0 && l_Whole < l_Blobs.size();
        l_KilledAfterRewrite += l_Running && l_Listed.size() < size_t(l_Blobs.size());

        // The next run trusts the database: streaming what it lists makes the store whole.
        l_Rig.m_Server.ClearFaults();
        QVERIFY(l_Rig.Open() && l_Rig.LoadEncoding());
        QVERIFY2(l_Rig.Stream(30000), qPrintable(QString("seed %1: %2").arg(l_Seed).arg(l_Rig.m_Raised.value(0).second)));
        QVERIFY2(l_Rig.Scan().isEmpty(), qPrintable(QString("seed %1: the completed store does not scan whole").arg(l_Seed)));
        QVERIFY(CASCDownloadDatabase::Read(l_Rig.Db()).empty());
        l_Rig.m_App.reset();
    }
    qInfo("kills: seeds %u to %u, %d of them in the middle of the stream, %d after the database was rewritten", l_First,
          l_First + quint32(l_Seeds) - 1, l_KilledMidway, l_KilledAfterRewrite);
    QVERIFY(l_KilledMidway > 0);
    QVERIFY(l_KilledAfterRewrite > 0);
}

void tst_storestream::hostileHeaderSizes_data()
{
    QTest::addColumn<quint32>("headerSize");
    QTest::addColumn<bool>("refused");
    QTest::newRow("2^31 - 1") << quint32(0x7FFFFFFF) << true;
    QTest::newRow("a table of 89 million chunks (2 GiB)") << quint32(12 + 24 * 89478484u) << true;
    QTest::newRow("one chunk past the bound") << quint32(CASCBlobCheck::MaxHeaderSize + 24) << true;
    QTest::newRow("not 12 + 24 x chunks") << quint32(12 + 24 * 1000 + 5) << true;
    QTest::newRow("below one chunk") << quint32(24) << true;
    QTest::newRow("the bound") << quint32(CASCBlobCheck::MaxHeaderSize) << false;
    QTest::newRow("two chunks") << quint32(12 + 48) << false;
}

void tst_storestream::hostileHeaderSizes()
{
    // A blob announced at 2^31 - 1 bytes (the CDN index and the blob both come over plain HTTP):
    // a header size that no table can have, or one above the bound, is refused with the 8-byte
    // prefix, before a byte of the header is held.
    QFETCH(quint32, headerSize);
    QFETCH(bool, refused);
    CASCBlobCheck l_Check(0x7FFFFFFF, QByteArray(9, 'k'));
    QByteArray l_Prefix("BLTE");
    for (int l_Shift = 24; l_Shift >= 0; l_Shift -= 8)
        l_Prefix.append(char(headerSize >> l_Shift));
    l_Check.Add(l_Prefix.constData(), l_Prefix.size());
    QCOMPARE(l_Check.Failed(), refused);
    if (refused)
        QCOMPARE(l_Check.Problem(), QString("Blob does not decode"));
}

namespace {

/// A blob with a chunk table whose chunks are the given modes ('N' plain, 'Z' zlib), each over
/// p_ChunkSize bytes of its own content.
QByteArray ChunkedBlob(const QByteArray& p_Modes, int p_ChunkSize, QByteArray* p_Content)
{
    QByteArray l_Table, l_Chunks;
    for (int l_I = 0; l_I < p_Modes.size(); ++l_I)
    {
        QByteArray l_Content(p_ChunkSize, Qt::Uninitialized);
        for (int l_B = 0; l_B < l_Content.size(); ++l_B)
            l_Content[l_B] = char((l_B * 7 + l_I * 13) % 251);
        *p_Content += l_Content;
        const QByteArray l_Chunk = p_Modes.at(l_I) + (p_Modes.at(l_I) == 'Z' ? qCompress(l_Content).mid(4) : l_Content);
        for (const quint32 l_Size : {quint32(l_Chunk.size()), quint32(l_Content.size())})
            for (int l_Shift = 24; l_Shift >= 0; l_Shift -= 8)
                l_Table.append(char(l_Size >> l_Shift));
        l_Table += Orvane::Md5::Hash(l_Chunk);
        l_Chunks += l_Chunk;
    }
    const quint32 l_HeaderSize = quint32(12 + l_Table.size());
    QByteArray l_Blob("BLTE");
    for (int l_Shift = 24; l_Shift >= 0; l_Shift -= 8)
        l_Blob.append(char(l_HeaderSize >> l_Shift));
    l_Blob.append(char(0x0F));
    for (int l_Shift = 16; l_Shift >= 0; l_Shift -= 8)
        l_Blob.append(char(p_Modes.size() >> l_Shift));
    return l_Blob + l_Table + l_Chunks;
}

} // namespace

void tst_storestream::contentKeyOnArrival_data()
{
    QTest::addColumn<QByteArray>("modes"); // empty: a blob without a chunk table
    QTest::addColumn<int>("chunkSize");
    QTest::addColumn<bool>("known");
    QTest::newRow("one plain chunk") << QByteArray("N") << 5000 << true;
    QTest::newRow("plain chunks") << QByteArray("NNNN") << 70001 << true;
    QTest::newRow("plain chunks of one byte") << QByteArray("NNN") << 1 << true;
    QTest::newRow("zlib chunks") << QByteArray("ZZ") << 9000 << false;
    QTest::newRow("zlib, then plain") << QByteArray("ZN") << 9000 << false;
    QTest::newRow("plain, then zlib") << QByteArray("NNZ") << 9000 << false;
    QTest::newRow("no chunk table") << QByteArray() << 9000 << false;
}

void tst_storestream::contentKeyOnArrival()
{
    // The pass that checks the chunks as they arrive also gives the content key of a blob of plain
    // chunks (so writing it takes no second pass): always the key the blob decodes to, however the
    // bytes arrive. Any other blob gets none, and is decoded before it is written.
    QFETCH(QByteArray, modes);
    QFETCH(int, chunkSize);
    QFETCH(bool, known);
    QByteArray l_Content, l_Blob;
    if (modes.isEmpty())
    {
        BLTEWriter::Options l_Options;
        l_Options.ChunkMode = BLTEWriter::Mode::Plain;
        l_Options.WithTable = false;
        l_Content = QByteArray(chunkSize, 'c');
        QVERIFY(BLTEWriter::Encode(l_Content, l_Options, l_Blob));
    }
    else
        l_Blob = ChunkedBlob(modes, chunkSize, &l_Content);
    const QByteArray l_Key = BLTEWriter::EncodingKey(l_Blob);
    QBuffer l_Device(&l_Blob);
    l_Device.open(QIODevice::ReadOnly);
    QDataStream l_Stream(&l_Device);
    QByteArray l_Decoded;
    QCOMPARE(BLTEHandler::ContentDigest(l_Stream, quint64(l_Blob.size()), l_Key.constData(), &l_Decoded), qint32(BLTEHandler::Ok));
    QCOMPARE(l_Decoded, Orvane::Md5::Hash(l_Content));
    QRandomGenerator l_Random(quint32(l_Blob.size()));
    for (const int l_MaxPiece : {1, 63, 4096, l_Blob.size()})
    {
        CASCBlobCheck l_Check(quint32(l_Blob.size()), l_Key.left(9));
        for (int l_At = 0; l_At < l_Blob.size();)
        {
            const int l_Piece = qMin(l_Blob.size() - l_At, int(l_Random.bounded(1, l_MaxPiece + 1)));
            l_Check.Add(l_Blob.constData() + l_At, l_Piece);
            l_At += l_Piece;
        }
        QVERIFY2(l_Check.Passed(), qPrintable(l_Check.Problem()));
        QCOMPARE(l_Check.ContentKey().toHex(), known ? l_Decoded.toHex() : QByteArray());
    }
    // A chunk that does not match its checksum gives no key: the blob is refused.
    if (!modes.isEmpty())
    {
        l_Blob[l_Blob.size() - 1] = char(l_Blob.at(l_Blob.size() - 1) ^ 1);
        CASCBlobCheck l_Check(quint32(l_Blob.size()), l_Key.left(9));
        l_Check.Add(l_Blob.constData(), l_Blob.size());
        QVERIFY(l_Check.Failed());
        QVERIFY(l_Check.ContentKey().isEmpty());
    }
}

void tst_storestream::noContentKeyWhereTheDecodeRefuses()
{
    // A table of plain chunks whose checksums are right but which declares more content than one array
    // holds: the decode refuses the blob, so the pass on arrival gives no content key that would accept it.
    QByteArray l_Content;
    QByteArray l_Blob = ChunkedBlob("NN", 3000, &l_Content);
    const int l_FirstDeclared = 12 + 4; // the prefix with the table's format and count, the first chunk's size
    for (int l_B = 0; l_B < 4; ++l_B)
        l_Blob[l_FirstDeclared + l_B] = char(0xFF);
    const QByteArray l_Key = BLTEWriter::EncodingKey(l_Blob);
    QBuffer l_Device(&l_Blob);
    l_Device.open(QIODevice::ReadOnly);
    QDataStream l_Stream(&l_Device);
    QByteArray l_Decoded;
    QCOMPARE(BLTEHandler::ContentDigest(l_Stream, quint64(l_Blob.size()), l_Key.constData(), &l_Decoded),
             qint32(BLTEHandler::NotEnoughData));
    CASCBlobCheck l_Check(quint32(l_Blob.size()), l_Key.left(9));
    l_Check.Add(l_Blob.constData(), l_Blob.size());
    QVERIFY2(l_Check.Passed(), qPrintable(l_Check.Problem()));
    QCOMPARE(l_Check.ContentKey(), QByteArray());
}

void tst_storestream::unacceptableBlobIsThePublishedStoresFault_data()
{
    QTest::addColumn<bool>("large"); // through the scratch file
    QTest::addColumn<QString>("mode");
    QTest::newRow("held in memory, zlib chunks") << false << "Z";
    QTest::newRow("held in memory, plain chunks") << false << "N";
    QTest::newRow("through the scratch file") << true << "N";
}

void tst_storestream::unacceptableBlobIsThePublishedStoresFault()
{
    // The encoding file names another content key for one blob, which the CDN serves right under its
    // own key: no scan takes its slot, so it is not written and not called whole; the run reports it
    // once, with its key, and does not ask for it again. The other blobs are written whole.
    QFETCH(bool, large);
    QFETCH(QString, mode);
    StoreRepair l_Rig;
    const qint64 l_Large = qint64(CASCArchivesManager::InMemoryBlob) + 300000;
    QVERIFY(l_Rig.Forge(large ? QStringList{"--files", "2", "--min-size", QString::number(l_Large), "--max-size",
                                            QString::number(l_Large), "--chunk", "1M", "--mode", "N",
                                            "--local-archives", "1", "--wrong-content", "1"}
                              : s_Store + QStringList{"--wrong-content", "5", "--mode", mode}));
    const int l_Bad = large ? 1 : 5;
    QTemporaryDir l_Dir;
    const QString l_Install = l_Dir.filePath("install") + "/";
    QVERIFY(EmptyInstall(l_Rig.m_Store, l_Install));
    l_Rig.m_Install = l_Install;
    const QJsonArray l_Blobs = l_Rig.m_Store.Blobs();
    const QJsonObject l_Blob = l_Blobs[l_Bad].toObject();
    QVERIFY(l_Blob["wrongContent"].toBool());
    WarningLog l_Log;
    l_Log.Silence = [](const QString&) { return true; };
    QVERIFY(l_Rig.Open() && l_Rig.LoadEncoding());
    QCOMPARE(l_Rig.Scan().size(), l_Blobs.size());
    l_Rig.m_Server.ClearRequests();
    QVERIFY(!l_Rig.Stream());
    QVERIFY(!QTest::qWaitFor([&] { return l_Rig.m_Finished; }, 500)); // nothing follows the report
    QCOMPARE(l_Rig.m_Raised.size(), 1);
    const QString l_Error = l_Rig.m_Raised.first().second;
    QCOMPARE(l_Rig.m_Raised.first().first, 2);
    QVERIFY2(l_Error.contains(l_Blob["encodingKey"].toString()) && l_Error.contains("content-mismatch"), qPrintable(l_Error));
    QCOMPARE(CASCDownloadDatabase::Read(l_Rig.Db()),
             (std::set<QByteArray>{QByteArray::fromHex(l_Blob["indexKey"].toString().toLatin1())}));
    // Asked once (Qt itself may ask once more when a kept-alive connection closes), not once per attempt.
    const QString l_Path = CdnPath(l_Blob["patch"].toBool() ? "patch" : "data", l_Blob["cdnArchive"].toString());
    const int l_Asked = TimesAsked(l_Rig.m_Server, l_Path, l_Blob);
    QVERIFY2(l_Asked >= 1 && l_Asked < CASCArchivesManager::MaxAttempts, qPrintable(QString::number(l_Asked)));
    for (int l_I = 0; l_I < l_Blobs.size(); ++l_I)
        QVERIFY2(l_I == l_Bad || SlotWhole(l_Install, l_Rig.m_Store.Install(), l_Blobs[l_I].toObject()),
                 qPrintable(QString("blob %1 not written whole").arg(l_I)));
    if (!large)
        QVERIFY(SlotBytes(l_Install, l_Blob).count('\0') == SlotBytes(l_Install, l_Blob).size());
    QCOMPARE(l_Rig.Scan(), QStringList{l_Blob["indexKey"].toString()});
}

void tst_storestream::stopDuringTheCopyOfALargeBlob()
{
    // A blob above the memory bound is copied from "temp.download" into its slot off the manager's
    // thread: a stop that comes once it has arrived, before it is copied, holds the copy (the slot
    // is not written) and lets go of the archives; the resume copies it without asking for it again.
    StoreRepair l_Rig;
    QTemporaryDir l_Dir;
    const QString l_Install = l_Dir.filePath("install") + "/";
    QVERIFY(TwoLargeBlobsToFetch(l_Rig, l_Install));
    QVERIFY(l_Rig.Manager()->LoadDownloadList());
    l_Rig.m_Server.ClearRequests();
    {
        PoolGate l_Pool;
        QVERIFY(l_Pool.Close());
        l_Rig.Manager()->StartStreaming();
        const QString l_Scratch = l_Install + "data/orvane/temp.download";
        const qint64 l_BlobSize = qint64(l_Rig.m_Store.Blobs().first().toObject()["blobSize"].toDouble());
        QCOMPARE(qint64(l_Rig.m_Store.Blobs().last().toObject()["blobSize"].toDouble()), l_BlobSize);
        QVERIFY(QTest::qWaitFor([&] { return QFileInfo(l_Scratch).size() == l_BlobSize || !l_Rig.m_Raised.isEmpty(); }, 30000));
        l_Rig.Manager()->StopDownload();
        l_Pool.Open();
    }
    for (const QJsonValue& l_Blob : l_Rig.m_Store.Blobs())
        QVERIFY(!SlotWhole(l_Install, l_Rig.m_Store.Install(), l_Blob.toObject()));
    QTRY_COMPARE_WITH_TIMEOUT(OpenArchives(l_Install), 0, 10000);
    QVERIFY(l_Rig.m_Raised.isEmpty() && !l_Rig.m_Finished);
    l_Rig.Manager()->ResumeDownload();
    QVERIFY2(l_Rig.WaitFinished(60000), qPrintable(l_Rig.m_Raised.value(0).second));
    QCOMPARE(OpenArchives(l_Install), 0);
    for (const QJsonValue& l_Blob : l_Rig.m_Store.Blobs())
    {
        QVERIFY(SlotWhole(l_Install, l_Rig.m_Store.Install(), l_Blob.toObject()));
        QCOMPARE(TimesAsked(l_Rig.m_Server, l_Rig.m_Store.CdnPath(l_Blob["patch"].toBool() ? "patch" : "data",
                                                                    l_Blob["cdnArchive"].toString()),
                            l_Blob.toObject()),
                 1);
    }
    QVERIFY(l_Rig.Scan().isEmpty());
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet("KESTRUN_STREAM_CHILD"))
        return StreamChild(argc, argv);
    QCoreApplication l_Core(argc, argv);
    tst_storestream l_Test;
    return QTest::qExec(&l_Test, argc, argv);
}

#include "tst_storestream.moc"
