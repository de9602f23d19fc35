// The archive indices of an installation, loaded into the map the install scan looks keys up in.
#include "support/CascRig.h"
#include "support/CascStore.h"
#include "support/TestBuild.h"
#include "support/WarningLog.h"
#include "casc/CASCApplication.h"
#include "casc/CASCBaseVerifier.h"
#include "casc/CASCIndexManager.h"
#include "platform/Md5.h"

#include <QSignalSpy>
#include <QtEndian>
#include <QtTest>

using namespace Orvane::CASC;

namespace {

QByteArray Key(int p_Number)
{
    return Orvane::Md5::Hash(QByteArray::number(p_Number));
}

/// The same index key as Key(p_Number), different in the 7 bytes after it.
QByteArray Twin(int p_Number)
{
    QByteArray l_Key = Key(p_Number);
    for (int l_I = 9; l_I < 16; ++l_I)
        l_Key[l_I] = char(~l_Key[l_I]);
    return l_Key;
}

/// An index from its keys (entry i: size 100 + i, offset 1000 * i); "PAD" inserts 16 zero bytes,
/// p_Count overrides the tail's count.
QByteArray Index(const QList<QByteArray>& p_Keys, int p_Count = -1)
{
    QByteArray l_Out;
    int l_Entries = 0;
    for (const QByteArray& l_Key : p_Keys)
    {
        if (l_Key == "PAD")
        {
            l_Out.append(QByteArray(16, '\0'));
            continue;
        }
        l_Out.append(l_Key);
        uchar l_Numbers[8];
        qToBigEndian<quint32>(quint32(100 + l_Entries) | 0x80000000u, l_Numbers); // the top bit is dropped
        qToBigEndian<quint32>(quint32(1000 * l_Entries), l_Numbers + 4);
        l_Out.append(reinterpret_cast<const char*>(l_Numbers), 8);
        ++l_Entries;
    }
    uchar l_Tail[12] = {};
    qToLittleEndian<quint32>(quint32(p_Count < 0 ? l_Entries : p_Count), l_Tail);
    return l_Out + QByteArray(reinterpret_cast<const char*>(l_Tail), 12);
}

CASCIndexKey IndexKey(const QByteArray& p_Key)
{
    return CASCIndexManager::IndexKey(p_Key.constData());
}

} // namespace

class CascIndexTest : public QObject
{
    Q_OBJECT

private slots:
    void forgedStore_data();
    void forgedStore();
    void crafted_data();
    void crafted();
    void loadTwice();
    void rejectedIndexIsRemoved_data();
    void rejectedIndexIsRemoved();
    void cancelledLoad();
    void noCdnConfiguration_data();
    void noCdnConfiguration();
};

void CascIndexTest::forgedStore_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("3 data and 2 patch archives")
        << QStringList{"--files", "300", "--max-size", "2K", "--data-archives", "3", "--patch-archives", "2"};
    // 170 entries fill a block, which then ends in 16 zero bytes.
    QTest::newRow("full blocks with padding")
        << QStringList{"--files", "700", "--min-size", "0", "--max-size", "64", "--data-archives", "1",
                       "--patch-archives", "0"};
}

void CascIndexTest::forgedStore()
{
    QFETCH(QStringList, args);
    CascStore l_Store;
    QVERIFY2(l_Store.Forge(args), qPrintable(l_Store.Error()));
    CASCApplication l_App(0, l_Store.Install(), "http://127.0.0.1:1/");
    QSignalSpy l_Errors(&l_App, &CASCApplication::OnError);
    WarningLog l_Log;
    CASCIndexManager* l_Index = l_App.GetIndexManager();
    const QStringList l_Data = l_Store.Archives(false), l_Patch = l_Store.Archives(true);
    QVERIFY(l_Index->LoadArchives(l_Data, l_Patch));
    QCOMPARE(l_Errors.count(), 0);
    const QJsonArray l_Blobs = l_Store.Blobs();
    QCOMPARE(l_Index->GetEntryCount(), l_Blobs.size());
    QCOMPARE(l_Log.Starting("CASCIndexManager::Load() "),
             QStringList("CASCIndexManager::Load() " + QString::number(l_Blobs.size()) + " entries loaded "));
    QCOMPARE(l_Index->GetArchiveNames(), l_Data + l_Patch);
    for (const QJsonValue& l_Value : l_Blobs)
    {
        const QJsonObject l_Blob = l_Value.toObject();
        const QByteArray l_Key = QByteArray::fromHex(l_Blob["encodingKey"].toString().toLatin1());
        const CASCIndexRecord* l_Record = l_Index->FindEntry(IndexKey(l_Key));
        QVERIFY(l_Record);
        QCOMPARE(*l_Index->GetArchiveName(l_Record->_ArchiveIndex), l_Blob["cdnArchive"].toString());
        QCOMPARE(int(l_Record->_ArchiveIndex), l_Blob["cdnArchiveNumber"].toInt());
        QCOMPARE(double(l_Record->_Offset), l_Blob["cdnOffset"].toDouble());
        QCOMPARE(int(l_Record->_Size), l_Blob["blobSize"].toInt());
        QCOMPARE(bool(l_Record->_Patch), l_Blob["patch"].toBool());
    }
    QVERIFY(!l_Index->FindEntry(IndexKey(Key(-1))));
    QVERIFY(!l_Index->GetArchiveName(quint16(l_Data.size() + l_Patch.size())));
    QVERIFY(l_Index->GetArchiveName(quint16(l_Data.size() + l_Patch.size() - 1)));
}

void CascIndexTest::crafted_data()
{
    QTest::addColumn<QList<QByteArray>>("files"); // null: no such file
    QTest::addColumn<int>("kind");                // -1: loads
    QTest::addColumn<QString>("message");         // NAME is the failing archive, PATH its index file
    QTest::addColumn<int>("names");               // archive names listed afterwards
    QTest::addColumn<int>("entries");             // records kept
    const QByteArray l_A = Index({Key(1), Key(2)});
    const QByteArray l_Last = Index({Key(90), Key(91)});
    QTest::newRow("padding between entries, empty index")
        << QList<QByteArray>{Index({Key(1), "PAD", Key(2), Key(3)}), Index({}), l_Last} << -1 << "" << 3 << 5;
    QTest::newRow("missing index") << QList<QByteArray>{l_A, QByteArray(), l_Last} << 1
                                   << "Error CASCIndexManager::Load missing index : NAME PATH" << 1 << 2;
    QTest::newRow("shorter than its tail")
        << QList<QByteArray>{l_A, QByteArray(5, '\1'), l_Last} << 1
        << "Error CASCIndexManager::Load damaged index : NAME PATH is shorter than its tail" << 2 << 2;
    QTest::newRow("count beyond the file")
        << QList<QByteArray>{l_A, Index({Key(3), Key(4)}, 3), l_Last} << 1
        << "Error CASCIndexManager::Load damaged index : NAME PATH has fewer entries than its count, at offset 0" << 2 << 2;
    QTest::newRow("count beyond the file after padding")
        << QList<QByteArray>{l_A, Index({Key(3), "PAD", "PAD"}, 2), l_Last} << 1
        << "Error CASCIndexManager::Load damaged index : NAME PATH has fewer entries than its count, at offset 40" << 2 << 2;
    QTest::newRow("two zero keys") << QList<QByteArray>{l_A, Index({Key(3), "PAD", "PAD", Key(5)}), l_Last} << 3
                                   << "Error CASCIndexManager::Load Zeroed key in index NAME at offset24" << 2 << 2;
    QTest::newRow("key of an earlier archive")
        << QList<QByteArray>{l_A, Index({Key(3), Twin(2), Key(4)}), l_Last} << 1
        << "Error CASCIndexManager::Load duplicate index entry : " + QString(Twin(2).toHex()) << 2 << 3;
    QTest::newRow("key twice in one archive")
        << QList<QByteArray>{l_A, Index({Key(5), Key(3), Key(5)}), l_Last} << 1
        << "Error CASCIndexManager::Load duplicate index entry : " + QString(Key(5).toHex()) << 2 << 4;
}

void CascIndexTest::crafted()
{
    QFETCH(QList<QByteArray>, files);
    QFETCH(int, kind);
    QFETCH(QString, message);
    QFETCH(int, names);
    QFETCH(int, entries);
    QTemporaryDir l_Dir;
    CASCApplication l_App(0, l_Dir.path(), "http://127.0.0.1:1/");
    QSignalSpy l_Errors(&l_App, &CASCApplication::OnError);
    QStringList l_Names;
    QString l_Failing;
    for (int l_I = 0; l_I < files.size(); ++l_I)
    {
        l_Names.append(QString("%1").arg(l_I, 32, 10, QChar('a')));
        if (!files[l_I].isNull())
            QVERIFY(WriteFile(l_App.GetInstallFolder() + "data/indices/" + l_Names.last() + ".index", files[l_I]));
        if (l_I == 1)
            l_Failing = l_Names.last();
    }
    // The last archive is a patch archive.
    const bool l_Loaded = l_App.GetIndexManager()->LoadArchives(l_Names.mid(0, files.size() - 1), l_Names.mid(files.size() - 1));
    CASCIndexManager* l_Index = l_App.GetIndexManager();
    QCOMPARE(l_Loaded, kind < 0);
    QCOMPARE(l_Errors.count(), kind < 0 ? 0 : 1);
    if (kind >= 0)
    {
        QCOMPARE(int(l_Errors[0][0].value<Errors::Type>()), kind);
        message.replace("NAME", l_Failing).replace("PATH", l_App.GetInstallFolder() + "data/indices/" + l_Failing + ".index");
        QCOMPARE(l_Errors[0][1].toString(), message);
    }
    QCOMPARE(l_Index->GetArchiveNames(), l_Names.mid(0, names));
    QCOMPARE(l_Index->GetEntryCount(), entries);
    // What was kept can be found; the first archive's second entry has its size without the top bit.
    const CASCIndexRecord* l_Second = l_Index->FindEntry(IndexKey(Key(2)));
    QVERIFY(l_Second);
    QCOMPARE(int(l_Second->_Size), 101);
    QCOMPARE(int(l_Second->_Offset), 1000);
    QCOMPARE(int(l_Second->_Patch), 0);
    if (kind < 0)
    {
        const CASCIndexRecord* l_Patched = l_Index->FindEntry(IndexKey(Twin(91))); // the 7 last bytes play no part
        QVERIFY(l_Patched);
        QCOMPARE(int(l_Patched->_ArchiveIndex), 2);
        QCOMPARE(int(l_Patched->_Patch), 1);
        QCOMPARE(int(l_Index->FindEntry(IndexKey(Key(3)))->_Size), 102); // after the padding
    }
}

void CascIndexTest::loadTwice()
{
    // Without configuration there is nothing to load: an error, not a crash.
    QTemporaryDir l_Dir;
    CASCApplication l_App(0, l_Dir.path(), "http://127.0.0.1:1/");
    QSignalSpy l_Errors(&l_App, &CASCApplication::OnError);
    l_App.GetIndexManager()->Load();
    QCOMPARE(l_Errors.count(), 1);
    // A second load of the same archive finds its own keys again.
    const QString l_Name(32, 'b');
    QVERIFY(WriteFile(l_Dir.path() + "/data/indices/" + l_Name + ".index", Index({Key(1)})));
    QVERIFY(l_App.GetIndexManager()->LoadArchives({l_Name}, {}));
    QVERIFY(!l_App.GetIndexManager()->LoadArchives({l_Name}, {}));
    QCOMPARE(l_Errors.count(), 2);
    QCOMPARE(l_App.GetIndexManager()->GetEntryCount(), 1);
    QVERIFY(l_Errors[1][1].toString().endsWith(QString(Key(1).toHex())));
}

void CascIndexTest::rejectedIndexIsRemoved_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("removed");
    QTest::newRow("cut short") << "truncate" << true;
    QTest::newRow("two zero keys") << "zero" << true;
    QTest::newRow("key of an earlier archive") << "duplicate" << false;
}

void CascIndexTest::rejectedIndexIsRemoved()
{
    // An index the load cannot read is deleted, so that the next run fetches it again; one that
    // reads (a duplicate key) stays.
    QFETCH(QString, change);
    QFETCH(bool, removed);
    CascRig l_Rig;
    QVERIFY(l_Rig.Forge({"--files", "20", "--data-archives", "3"}));
    const QStringList l_Names = l_Rig.m_Store.Archives(false);
    const QString l_Path = l_Rig.m_Store.Install() + "data/indices/" + l_Names.at(1) + ".index";
    QByteArray l_Bytes = ReadFile(l_Path);
    if (change == "truncate")
        l_Bytes = l_Bytes.left(5);
    else if (change == "zero")
        l_Bytes.replace(0, 40, QByteArray(40, '\0'));
    else
        l_Bytes.replace(0, 16, ReadFile(l_Rig.m_Store.Install() + "data/indices/" + l_Names.at(0) + ".index").left(16));
    QVERIFY(WriteFile(l_Path, l_Bytes));
    l_Rig.NewApp();
    QVERIFY(l_Rig.Init());
    l_Rig.m_App->GetIndexManager()->Load();
    QCOMPARE(l_Rig.m_Errors->count(), 1);
    QCOMPARE(QFile::exists(l_Path), !removed);
}

void CascIndexTest::noCdnConfiguration_data()
{
    QTest::addColumn<bool>("verifier"); // else the index manager
    QTest::addColumn<QString>("message");
    QTest::newRow("index manager") << false << "Error CASCIndexManager::Load no CDN configuration";
    QTest::newRow("base-file verifier") << true << "CASCBaseVerifier::Scan(): no CDN configuration for world region 1";
}

void CascIndexTest::noCdnConfiguration()
{
    // Before any configuration came, every class that needs one reports the same kind (the host
    // shows it as a number).
    QFETCH(bool, verifier);
    QFETCH(QString, message);
    QTemporaryDir l_Dir;
    CASCApplication l_App(0, l_Dir.path() + "/", "http://127.0.0.1:1/");
    QSignalSpy l_Errors(&l_App, &CASCApplication::OnError);
    if (verifier)
        l_App.GetBaseVerifier()->Scan();
    else
        l_App.GetIndexManager()->Load();
    QCOMPARE(l_Errors.count(), 1);
    QCOMPARE(l_Errors.at(0)[0].value<Errors::Type>(), Errors::NoCdn);
    QCOMPARE(l_Errors.at(0)[1].toString(), message);
}

void CascIndexTest::cancelledLoad()
{
    // A cancelled load raises nothing and keeps nothing; the next one reads everything.
    QTemporaryDir l_Dir;
    CASCApplication l_App(0, l_Dir.path(), "http://127.0.0.1:1/");
    QSignalSpy l_Errors(&l_App, &CASCApplication::OnError);
    const QString l_Name(32, 'b');
    QVERIFY(WriteFile(l_Dir.path() + "/data/indices/" + l_Name + ".index", Index({Key(1), Key(2)})));
    CASCIndexManager* l_Index = l_App.GetIndexManager();
    l_Index->Cancel(true);
    QVERIFY(!l_Index->LoadArchives({l_Name}, {}));
    QVERIFY(l_Index->Cancelled());
    QCOMPARE(l_Index->GetEntryCount(), 0);
    QVERIFY(l_Index->GetArchiveNames().isEmpty());
    l_Index->Cancel(false);
    QVERIFY(l_Index->LoadArchives({l_Name}, {}));
    QVERIFY(!l_Index->Cancelled());
    QCOMPARE(l_Index->GetEntryCount(), 2);
    QCOMPARE(l_Errors.count(), 0);
}

QTEST_GUILESS_MAIN(CascIndexTest)
#include "tst_cascindex.moc"
