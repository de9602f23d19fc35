// The MD5 every verification relies on: known digests, and the same digest however the bytes arrive.
#include "platform/Md5.h"
#include "platform/Md5Pair.h"
#include "platform/Md5Worker.h"

#include <QRandomGenerator>
#include <cstring>
#include <QtTest>

using Orvane::Md5;
using Orvane::Md5Pair;
using Orvane::Md5Worker;

class tst_md5 : public QObject
{
    Q_OBJECT

private slots:
    void knownDigests_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("digest");
        QTest::newRow("empty") << QByteArray() << QByteArray("d41d8cd98f00b204e9800998ecf8427e");
        QTest::newRow("a") << QByteArray("a") << QByteArray("0cc175b9c0f1b6a831c399e269772661");
        QTest::newRow("abc") << QByteArray("abc") << QByteArray("900150983cd24fb0d6963f7d28e17f72");
        QTest::newRow("alphabet") << QByteArray("abcdefghijklmnopqrstuvwxyz")
                                  << QByteArray("c3fcd3d76192e4007dfb496cca67e13b");
        QTest::newRow("80 digits") << QByteArray("1234567890").repeated(8)
                                   << QByteArray("57edf4a22be3c955ac49da2e2107b67a");
        QTest::newRow("a million a") << QByteArray(1000000, 'a') << QByteArray("7707d6ae4e027c70eea2a935c2296f21");
    }

    void knownDigests()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, digest);
        QCOMPARE(Md5::Hash(input).toHex(), digest);
        QCOMPARE(Md5::HexHash(input), digest.toUpper());
    }

    // A transfer hashes whatever pieces the network hands over; the digest must not depend on them.
    void piecesGiveTheSameDigest()
    {
        QRandomGenerator l_Random(1321);
        QByteArray l_Data(300000, Qt::Uninitialized);
        for (char& l_Byte : l_Data)
            l_Byte = char(l_Random.bounded(256));
        const QByteArray l_Whole = Md5::Hash(l_Data);
        Md5 l_Md5;
        for (int l_Round = 0; l_Round < 3; ++l_Round)
        {
            int l_At = 0;
            while (l_At < l_Data.size())
            {
                const int l_Piece = qMin(l_Data.size() - l_At, int(l_Random.bounded(1, 20000)));
                l_Md5.Add(l_Data.constData() + l_At, l_Piece);
                l_At += l_Piece;
            }
            // Result starts over, so the same object hashes the next file.
            QCOMPARE(l_Md5.Result(), l_Whole);
        }
        l_Md5.Add("junk", 4);
        l_Md5.Reset();
        l_Md5.Add(l_Data);
        QCOMPARE(l_Md5.Result(), l_Whole);
    }

    void workerGivesTheDigestOfTheStream_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("maxPiece"); // pieces of 1..maxPiece bytes
        QTest::addColumn<int>("resetAt");  // bytes after which a Reset drops what came before; -1 none
        QTest::addColumn<bool>("inPlace"); // read into the worker's room, part of it committed (as a download does)
        const int l_Inline = int(Md5Worker::InlineBytes);
        QTest::newRow("empty") << 0 << 1 << -1 << false;
        QTest::newRow("short, on the caller's thread") << 20011 << 4096 << -1 << false;
        QTest::newRow("exactly the inline part") << l_Inline << 65536 << -1 << false;
        QTest::newRow("one byte past it") << l_Inline + 1 << 65536 << -1 << false;
        QTest::newRow("pieces larger than a slot") << 5 * l_Inline + 3 << 700000 << -1 << false;
        QTest::newRow("many small pieces fill the ring") << 3 * l_Inline << 3000 << -1 << false;
        QTest::newRow("reset while the thread runs") << 4 * l_Inline << 300000 << 2 * l_Inline + 17 << false;
        QTest::newRow("reset before the thread starts") << 3 * l_Inline << 300000 << 1000 << false;
        QTest::newRow("in place, short") << 20011 << 4096 << -1 << true;
        QTest::newRow("in place, across the inline part") << 5 * l_Inline + 3 << 300000 << -1 << true;
        QTest::newRow("in place, small pieces, reset") << 4 * l_Inline << 3000 << 2 * l_Inline + 17 << true;
    }

    // The hashing thread of a download: the digest is that of the bytes added since the last reset, in order,
    // whatever the pieces, and the same worker goes on with the next stream.
    void workerGivesTheDigestOfTheStream()
    {
        QFETCH(int, size);
        QFETCH(int, maxPiece);
        QFETCH(int, resetAt);
        QFETCH(bool, inPlace);
        QRandomGenerator l_Random(quint32(size) * 7 + quint32(maxPiece));
        QByteArray l_Data(size, Qt::Uninitialized);
        for (char& l_Byte : l_Data)
            l_Byte = char(l_Random.bounded(256));
        Md5Worker l_Worker;
        for (int l_Round = 0; l_Round < 2; ++l_Round)
        {
            int l_At = 0;
            bool l_Reset = false;
            while (l_At < l_Data.size())
            {
                int l_Piece = qMin(l_Data.size() - l_At, int(l_Random.bounded(1, maxPiece + 1)));
                if (!l_Reset && resetAt >= 0 && l_At + l_Piece >= resetAt)
                    l_Piece = resetAt - l_At;
                if (inPlace && l_Random.bounded(4) != 0)
                {
                    // The room may be shorter than asked, and what is read into it may be shorter still;
                    // what lies past the commit is overwritten by the next read.
                    qint64 l_Room = l_Piece + qint64(l_Random.bounded(4096));
                    char* l_Into = l_Worker.Room(&l_Room);
                    QVERIFY(l_Room > 0);
                    const int l_Read = int(qMin<qint64>(l_Piece, l_Room));
                    std::memcpy(l_Into, l_Data.constData() + l_At, size_t(l_Read));
                    std::memset(l_Into + l_Read, 0x5a, size_t(l_Room - l_Read));
                    l_Piece = l_Read;
                    l_Worker.Commit(l_Piece);
                }
                else
                    l_Worker.Add(l_Data.constData() + l_At, l_Piece);
                l_At += l_Piece;
                if (!l_Reset && resetAt >= 0 && l_At == resetAt)
                {
                    l_Worker.Reset();
                    l_Reset = true;
                }
            }
            const int l_From = resetAt >= 0 ? resetAt : 0;
            QCOMPARE(l_Worker.Result().toHex(), Md5::Hash(l_Data.mid(l_From)).toHex());
        }
    }
    void pairGivesBothDigests_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("lag");      // the second lane leaves out the first lag bytes of each run
        QTest::addColumn<int>("runBytes"); // the first lane starts over after every run of this many bytes
        QTest::addColumn<int>("maxPiece");
        QTest::newRow("empty") << 0 << 0 << 1 << 1;
        QTest::newRow("one block each") << 64 << 0 << 64 << 64;
        QTest::newRow("lanes a byte apart") << 100000 << 1 << 100000 << 5000;
        QTest::newRow("chunks of a blob, a mode byte each") << 300000 << 1 << 16384 << 7000;
        QTest::newRow("55, 56 and 64 bytes to pad") << 56 * 3 + 64 << 1 << 57 << 13;
        QTest::newRow("byte by byte") << 1000 << 1 << 129 << 1;
        QTest::newRow("pieces of many blocks") << 1000000 << 0 << 1000000 << 300000;
        QTest::newRow("pieces of many blocks, lanes apart") << 2000000 << 63 << 262144 << 600000;
    }

    // One pass gives each lane the digest of exactly its own bytes, however the pieces fall: a
    // content-store chunk's checksum (lane one, over each chunk) and the content key (lane two, over
    // every chunk without its mode byte) come from it.
    void pairGivesBothDigests()
    {
        QFETCH(int, size);
        QFETCH(int, lag);
        QFETCH(int, runBytes);
        QFETCH(int, maxPiece);
        runBytes = qMax(runBytes, 1);
        lag = qMin(lag, runBytes);
        QRandomGenerator l_Random(quint32(size) * 31 + quint32(lag));
        QByteArray l_Data(size, Qt::Uninitialized);
        for (char& l_Byte : l_Data)
            l_Byte = char(l_Random.bounded(256));
        Md5Pair l_Pair;
        QByteArray l_Second;
        for (int l_Run = 0; l_Run < size; l_Run += runBytes)
        {
            const QByteArray l_Bytes = l_Data.mid(l_Run, runBytes);
            l_Second += l_Bytes.mid(lag);
            int l_At = 0;
            while (l_At < l_Bytes.size())
            {
                const int l_Piece = qMin(l_Bytes.size() - l_At, int(l_Random.bounded(1, maxPiece + 1)));
                const int l_Skip = qBound(0, lag - l_At, l_Piece);
                l_Pair.Add(l_Bytes.constData() + l_At, l_Piece, l_Bytes.constData() + l_At + l_Skip, l_Piece - l_Skip);
                l_At += l_Piece;
            }
            QCOMPARE(l_Pair.Result(0).toHex(), Md5::Hash(l_Bytes).toHex());
        }
        QCOMPARE(l_Pair.Result(1).toHex(), Md5::Hash(l_Second).toHex());
        // Both lanes start over: the next blob's digests owe nothing to this one.
        l_Pair.Add("abc", 3, "a", 1);
        QCOMPARE(l_Pair.Result(0).toHex(), QByteArray("900150983cd24fb0d6963f7d28e17f72"));
        QCOMPARE(l_Pair.Result(1).toHex(), QByteArray("0cc175b9c0f1b6a831c399e269772661"));
    }
};

QTEST_APPLESS_MAIN(tst_md5)
#include "tst_md5.moc"
