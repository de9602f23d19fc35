// BLTE blobs: what the writer produces, the decoder reads back, and every way a
// damaged or forged blob is refused without reading or reserving what it does not hold.
#include "support/Files.h"
#include "support/ToolRun.h"
#include "support/WarningLog.h"
#include "casc/BLTEHandler.h"
#include "casc/Bytes.h"
#include "platform/Md5.h"
#include "casc/BLTEWriter.h"

#include <QBuffer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <random>

#include <zlib.h>

using namespace Orvane::CASC;

namespace {

QByteArray BigEndian32(quint32 p_Value)
{
    QByteArray l_Bytes(4, 0);
    qToBigEndian(p_Value, reinterpret_cast<uchar*>(l_Bytes.data()));
    return l_Bytes;
}

QByteArray RandomBytes(int p_Size, quint64 p_Seed, bool p_Compressible)
{
    std::mt19937_64 l_Random(p_Seed);
    QByteArray l_Data(p_Size, Qt::Uninitialized);
    for (char& l_Byte : l_Data)
        l_Byte = char(p_Compressible ? 'a' + l_Random() % 4 : l_Random());
    return l_Data;
}

QByteArray Zlib(const QByteArray& p_Data)
{
    uLongf l_Length = compressBound(uLong(p_Data.size()));
    QByteArray l_Out(int(l_Length), 0);
    compress(reinterpret_cast<Bytef*>(l_Out.data()), &l_Length, reinterpret_cast<const Bytef*>(p_Data.constData()),
             uLong(p_Data.size()));
    l_Out.resize(int(l_Length));
    return l_Out;
}

/// A chunked blob from encoded chunks (mode byte included) and their declared sizes.
/// p_Count overrides the chunk count field; p_BadSumAt gives one chunk a wrong checksum.
QByteArray Chunked(const QList<QByteArray>& p_Chunks, const QList<quint32>& p_Declared, int p_Count = -1,
                   int p_BadSumAt = -1, char p_Format = 0x0F)
{
    const int l_Count = p_Count < 0 ? p_Chunks.size() : p_Count;
    QByteArray l_Blob("BLTE");
    l_Blob += BigEndian32(quint32(12 + 24 * p_Chunks.size()));
    l_Blob += p_Format;
    l_Blob += char(l_Count >> 16);
    l_Blob += char(l_Count >> 8);
    l_Blob += char(l_Count);
    for (int l_I = 0; l_I < p_Chunks.size(); ++l_I)
    {
        l_Blob += BigEndian32(quint32(p_Chunks.at(l_I).size())) + BigEndian32(p_Declared.at(l_I));
        l_Blob += l_I == p_BadSumAt ? QByteArray(16, 'x') : Orvane::Md5::Hash(p_Chunks.at(l_I));
    }
    for (const QByteArray& l_Chunk : p_Chunks)
        l_Blob += l_Chunk;
    return l_Blob;
}

QByteArray Plain(const QByteArray& p_Content)
{
    return 'N' + p_Content;
}

struct Decoded
{
    qint32 Code = -1;
    QByteArray Output;
    quint32 HeaderSize = 0xDEADBEEF;
    qint64 Capacity = 0;
};

/// Decodes p_Blob placed between other bytes (as in an archive), with p_Size as its size.
Decoded Decode(const QByteArray& p_Blob, const QByteArray& p_Key, qint64 p_Size = -1)
{
    const QByteArray l_Before(13, 'b'), l_After(29, 'a');
    QByteArray l_Bytes = l_Before + p_Blob + l_After;
    QBuffer l_Device(&l_Bytes);
    l_Device.open(QIODevice::ReadOnly);
    l_Device.seek(l_Before.size());
    QDataStream l_Stream(&l_Device);
    l_Stream.setByteOrder(QDataStream::BigEndian);
    Decoded l_Result;
    l_Result.Output = "left over";
    l_Result.Code = BLTEHandler::ExtractData(l_Stream, quint64(p_Size < 0 ? p_Blob.size() : p_Size), p_Key.constData(),
                                             l_Result.Output, &l_Result.HeaderSize);
    l_Result.Capacity = l_Result.Output.capacity();
    if (l_Stream.byteOrder() != QDataStream::LittleEndian)
        l_Result.Code = -2;
    return l_Result;
}

} // namespace

class tst_blte : public QObject
{
    Q_OBJECT

private slots:
    /// Whatever the writer produces decodes back to the same bytes, under the key
    /// that both the writer and the decoder compute.
    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("mode");
        QTest::addColumn<qint64>("chunk");
        QTest::addColumn<bool>("table");
        const QList<QPair<const char*, QByteArray>> l_Contents{
            {"empty", QByteArray()},
            {"one byte", QByteArray("x")},
            {"8191 random", RandomBytes(8191, 1, false)},
            {"8193 random", RandomBytes(8193, 2, false)},
            {"300k random", RandomBytes(300000, 3, false)},
            {"1M text", RandomBytes(1 << 20, 4, true)},
        };
        for (const auto& l_Content : l_Contents)
        {
            for (qint64 l_Chunk : {qint64(0), qint64(4096), qint64(65536)})
                for (int l_Mode : {int(BLTEWriter::Mode::Plain), int(BLTEWriter::Mode::Zlib)})
                    QTest::newRow(qPrintable(QString("%1, %2, chunk %3").arg(l_Content.first).arg(l_Mode ? "Z" : "N").arg(l_Chunk)))
                        << l_Content.second << l_Mode << l_Chunk << true;
            QTest::newRow(qPrintable(QString("%1, no table").arg(l_Content.first)))
                << l_Content.second << int(BLTEWriter::Mode::Plain) << qint64(0) << false;
        }
    }

    void roundTrip()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, mode);
        QFETCH(qint64, chunk);
        QFETCH(bool, table);
        BLTEWriter::Options l_Options;
        l_Options.ChunkMode = BLTEWriter::Mode(mode);
        l_Options.ChunkSize = chunk;
        l_Options.WithTable = table;
        QByteArray l_Blob;
        QVERIFY(BLTEWriter::Encode(content, l_Options, l_Blob));
        const QByteArray l_Key = BLTEWriter::EncodingKey(l_Blob);
        const quint32 l_HeaderSize = qFromBigEndian<quint32>(reinterpret_cast<const uchar*>(l_Blob.constData() + 4));
        QCOMPARE(l_Key, Orvane::Md5::Hash(table ? l_Blob.left(int(l_HeaderSize)) : l_Blob));

        QBuffer l_Device(&l_Blob);
        l_Device.open(QIODevice::ReadOnly);
        QDataStream l_Stream(&l_Device);
        quint32 l_ReadHeaderSize = 1;
        QCOMPARE(BLTEHandler::ExtractEntryMD5(l_Stream, quint64(l_Blob.size()), &l_ReadHeaderSize), l_Key);
        QCOMPARE(l_ReadHeaderSize, l_HeaderSize);
        QCOMPARE(l_Device.pos(), table ? qint64(l_HeaderSize) : qint64(l_Blob.size()));

        const Decoded l_Decoded = Decode(l_Blob, l_Key);
        QCOMPARE(l_Decoded.Code, 0);
        QCOMPARE(l_Decoded.Output.size(), content.size());
        QVERIFY(l_Decoded.Output == content);
        QCOMPARE(l_Decoded.HeaderSize, l_HeaderSize);

        // The content key a scan compares, computed without the content held.
        l_Device.seek(0);
        QByteArray l_Digest;
        QCOMPARE(BLTEHandler::ContentDigest(l_Stream, quint64(l_Blob.size()), l_Key.constData(), &l_Digest), 0);
        QCOMPARE(l_Digest, Orvane::Md5::Hash(content));
    }

    void writerRefusesWhatCannotDecode()
    {
        BLTEWriter::Options l_Options;
        l_Options.WithTable = false;
        QByteArray l_Blob;
        QString l_Error;
        QVERIFY(!BLTEWriter::Encode("content", l_Options, l_Blob, &l_Error));
        QVERIFY(l_Error.contains("table"));
        l_Options = BLTEWriter::Options();
        l_Options.ChunkSize = -1;
        QVERIFY(!BLTEWriter::Encode("content", l_Options, l_Blob, &l_Error));
    }

    /// Each result code with its warning, from blobs damaged the way disks and peers damage them.
    void failures_data()
    {
        QTest::addColumn<QByteArray>("blob");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("warning");
        QTest::addColumn<QByteArray>("output"); ///< what the output holds afterwards

        const QByteArray l_Left("left over");
        const QByteArray l_One = Chunked({Plain("abc")}, {3});
        const QByteArray l_Two = Chunked({Plain("abc"), Plain("def")}, {3, 3});
        auto l_Row = [&](const char* p_Name, const QByteArray& p_Blob, int p_Code, const QString& p_Warning,
                         const QByteArray& p_Output, qint64 p_Size = -1, QByteArray p_Key = QByteArray()) {
            if (p_Key.isEmpty())
            {
                const quint32 l_H = qFromBigEndian<quint32>(reinterpret_cast<const uchar*>(p_Blob.constData() + 4));
                p_Key = Orvane::Md5::Hash(l_H ? p_Blob.left(int(l_H)) : p_Blob.left(int(p_Size < 0 ? p_Blob.size() : p_Size)));
            }
            QTest::newRow(p_Name) << p_Blob << p_Key << p_Size << p_Code << p_Warning << p_Output;
        };

        QByteArray l_Reversed = l_One;
        std::reverse(l_Reversed.begin(), l_Reversed.begin() + 4);
        l_Row("reversed magic", l_Reversed, 1, "\"BLTEHandler::ExtractData() Invalid magic header\"", l_Left, -1,
              Orvane::Md5::Hash(l_Reversed.left(36)));
        l_Row("wrong key", l_One, 2,
              "\"BLTEHandler::ExtractData() Data corrupted computed hash : \" \"" + Orvane::Md5::Hash(l_One.left(36)).toHex()
                  + "\" \" gived : \" \"" + QByteArray(16, 0x11).toHex() + "\"",
              l_Left, -1, QByteArray(16, 0x11));
        l_Row("size below 12", l_One, 3, "\"BLTEHandler::ExtractData() Invalid chunked header lenght\"", l_Left, 11);
        l_Row("table format", Chunked({Plain("abc")}, {3}, -1, -1, 0x10), 4,
              "\"BLTEHandler::ExtractData() Invalid chunked header unk magic\"", l_Left);
        l_Row("zero chunks", Chunked({Plain("abc")}, {3}, 0), 5, "\"BLTEHandler::ExtractData() Invalid chunk count\"",
              l_Left);
        l_Row("header 36, count 2", Chunked({Plain("abc")}, {3}, 2), 6,
              "\"BLTEHandler::ExtractData() Header size mismatch\"", l_Left);
        l_Row("size below header", l_Two, 7, "\"BLTEHandler::ExtractData() No enough data\"", l_Left, 59);
        l_Row("truncated chunk", l_Two.left(l_Two.size() - 1), 8, "\"BLTEHandler::ExtractData() Invalid readed size\"",
              "abc");
        l_Row("size ends inside chunk", l_Two, 8, "\"BLTEHandler::ExtractData() Invalid readed size\"", "abc",
              l_Two.size() - 2);
        l_Row("second chunk damaged", Chunked({Plain("abc"), Plain("def")}, {3, 3}, -1, 1), 9,
              "\"BLTEHandler::ExtractData() Chunk hash differ\"", "abc");
        l_Row("zlib garbage", Chunked({Plain("abc"), 'Z' + QByteArray("not zlib")}, {3, 5}), 10,
              "\"BLTEHandler::ExtractData() uncompress error\"", "abc");
        // The stream yields 5 bytes where 6 are declared: no undefined tail in the output.
        l_Row("zlib shorter than declared", Chunked({'Z' + Zlib("hello")}, {6}), 10,
              "\"BLTEHandler::ExtractData() uncompress error\"", "");
        const QByteArray l_Big = RandomBytes(4000, 9, true);
        QByteArray l_Headerless = "BLTE" + BigEndian32(0) + 'Z' + Zlib(l_Big);
        l_Row("headerless zlib", l_Headerless, 10, "\"BLTEHandler::ExtractData() uncompress error\"", "");
        l_Row("encrypted", Chunked({'E' + QByteArray("x")}, {1}), 11,
              "\"BLTEHandler::ExtractData() BLTE_CHUNK_DATA_ENCRYPED not implemented\"", "");
        l_Row("nested frame", Chunked({Plain("abc"), 'F' + QByteArray("x")}, {3, 1}), 11,
              "\"BLTEHandler::ExtractData() BLTE_CHUNK_DATA_FRAME_RECURSIVE not implemented\"", "abc");
        l_Row("mode A", Chunked({'A' + QByteArray("x")}, {1}), 11,
              "\"BLTEHandler::ExtractData() 0x\" \"41\" \" not implemented\"", "");
        l_Row("mode 0xFF", Chunked({char(0xFF) + QByteArray("x")}, {1}), 11,
              "\"BLTEHandler::ExtractData() 0x\" \"-1\" \" not implemented\"", "");
        l_Row("empty chunk", Chunked({QByteArray()}, {0}), 8, "\"BLTEHandler::ExtractData() Invalid readed size\"", "");
        // Too short to hold a mode byte: refused before anything is reserved.
        l_Row("headerless, 8 bytes", "BLTE" + BigEndian32(0), 7, "\"BLTEHandler::ExtractData() No enough data\"",
              l_Left);
        // Sizes from the table that the blob cannot justify.
        l_Row("gigabytes from a few bytes", Chunked({'Z' + Zlib("tiny")}, {1500000000}), 10,
              "\"BLTEHandler::ExtractData() uncompress error\"", "");
        l_Row("table beyond 2 GiB", Chunked({'Z' + Zlib("a"), 'Z' + Zlib("b")}, {0xF0000000, 0xF0000000}), 7,
              "\"BLTEHandler::ExtractData() Blob too large\"", l_Left);
        // A header size far beyond the blob: the short read never matches, even against its own hash.
        QByteArray l_Forged = "BLTE" + BigEndian32(0x7FFFFFFF) + QByteArray(12, 'z');
        l_Row("header beyond the device", l_Forged, 2,
              "\"BLTEHandler::ExtractData() Data corrupted computed hash : \" \"" + Orvane::Md5::Hash(l_Forged + QByteArray(29, 'a')).toHex()
                  + "\" \" gived : \" \"" + Orvane::Md5::Hash(l_Forged + QByteArray(29, 'a')).toHex() + "\"",
              l_Left, -1, Orvane::Md5::Hash(l_Forged + QByteArray(29, 'a')));
    }

    void failures()
    {
        QFETCH(QByteArray, blob);
        QFETCH(QByteArray, key);
        QFETCH(qint64, size);
        QFETCH(int, code);
        QFETCH(QString, warning);
        QFETCH(QByteArray, output);
        WarningLog l_Log;
        const Decoded l_Decoded = Decode(blob, key, size);
        QCOMPARE(l_Decoded.Code, code);
        QCOMPARE(l_Log.Lines(), QStringList{warning});
        QCOMPARE(l_Decoded.Output, output);
        QVERIFY2(l_Decoded.Capacity < (1 << 20), qPrintable(QString::number(l_Decoded.Capacity)));
        if (code > 1)
            QCOMPARE(l_Decoded.HeaderSize,
                     qFromBigEndian<quint32>(reinterpret_cast<const uchar*>(blob.constData() + 4)));
    }

    void entryKeyOfBadMagicIsEmpty()
    {
        WarningLog l_Log;
        QByteArray l_Blob = "ETLB" + BigEndian32(0) + Plain("x");
        QBuffer l_Device(&l_Blob);
        l_Device.open(QIODevice::ReadOnly);
        QDataStream l_Stream(&l_Device);
        quint32 l_HeaderSize = 77;
        QVERIFY(BLTEHandler::ExtractEntryMD5(l_Stream, quint64(l_Blob.size()), &l_HeaderSize).isEmpty());
        QCOMPARE(l_HeaderSize, 77u);
        QCOMPARE(l_Log.Lines(), QStringList{"\"BLTEHandler::ExtractEntryMD5() Invalid magic header\""});
    }

    /// The tool: keys, exit statuses and the refusal of a headerless zlib blob.
    void tool_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("stdoutText");
        QTest::newRow("key") << QStringList{"blte", "key", "blob"} << 0 << QString("KEY\n");
        QTest::newRow("decode") << QStringList{"blte", "decode", "blob", "-o", "out"} << 0 << QString();
        QTest::newRow("decode, right key") << QStringList{"blte", "decode", "blob", "--key", "KEY"} << 0
                                           << QString("CONTENT");
        QTest::newRow("decode, wrong key")
            << QStringList{"blte", "decode", "blob", "--key", QString(32, '0')} << 2 << QString();
        QTest::newRow("decode, not a blob") << QStringList{"blte", "decode", "content"} << 1 << QString();
        QTest::newRow("decode, damaged chunk") << QStringList{"blte", "decode", "damaged"} << 9 << QString();
        QTest::newRow("decode, missing file") << QStringList{"blte", "decode", "missing"} << 66 << QString();
        QTest::newRow("key, bad hex") << QStringList{"blte", "decode", "blob", "--key", "xyz"} << 64 << QString();
        QTest::newRow("encode") << QStringList{"blte", "encode", "content", "-o", "again", "--chunk", "1K"} << 0
                                << QString("AGAINKEY\n");
        QTest::newRow("encode to standard output: the blob alone, the key on the error stream")
            << QStringList{"blte", "encode", "content", "-o", "-"} << 0 << QString("BLOB");
        QTest::newRow("key, blob cut short") << QStringList{"blte", "key", "cut"} << 8 << QString();
        QTest::newRow("encode, no table, zlib")
            << QStringList{"blte", "encode", "content", "-o", "x", "--no-table", "--mode", "Z"} << 64 << QString();
        QTest::newRow("unknown command") << QStringList{"blte", "split"} << 64 << QString();
    }

    void tool()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, stdoutText);
        QTemporaryDir l_Dir;
        const QByteArray l_Content = RandomBytes(5000, 5, true);
        QByteArray l_Blob, l_Again;
        BLTEWriter::Encode(l_Content, BLTEWriter::Options(), l_Blob);
        BLTEWriter::Options l_Options;
        l_Options.ChunkSize = 1024;
        BLTEWriter::Encode(l_Content, l_Options, l_Again);
        QByteArray l_Damaged = l_Blob;
        l_Damaged[l_Damaged.size() - 1] = char(l_Damaged.at(l_Damaged.size() - 1) ^ 1);
        QVERIFY(WriteFile(l_Dir.filePath("blob"), l_Blob) && WriteFile(l_Dir.filePath("content"), l_Content) &&
                WriteFile(l_Dir.filePath("damaged"), l_Damaged) && WriteFile(l_Dir.filePath("cut"), l_Blob.left(l_Blob.size() - 10)));
        const QString l_Key = BLTEWriter::EncodingKey(l_Blob).toHex();
        args.replaceInStrings("KEY", l_Key);
        stdoutText.replace("AGAINKEY", BLTEWriter::EncodingKey(l_Again).toHex()).replace("KEY", l_Key);

        QProcess l_Tool;
        l_Tool.setWorkingDirectory(l_Dir.path());
        const ToolRun l_Run = ToolRun::Run(l_Tool, KESTRUN_BIN_DIR "/casc-tool", args, 30000);
        QCOMPARE(l_Run.Code, status);
        if (stdoutText == "CONTENT" || stdoutText == "BLOB")
            QVERIFY(l_Run.Out == (stdoutText == "BLOB" ? l_Blob : l_Content));
        else
            QCOMPARE(l_Run.OutText(), stdoutText);
        QVERIFY(status == 0 ? stdoutText != "BLOB" || l_Run.ErrText() == l_Key + "\n" : !l_Run.Err.isEmpty());
        if (args.contains("-o") && !args.contains("-") && status == 0)
            QVERIFY(ReadFile(l_Dir.filePath(args.at(args.indexOf("-o") + 1))) == (args.at(1) == "decode" ? l_Content : l_Again));
    }
};

QTEST_GUILESS_MAIN(tst_blte)
#include "tst_blte.moc"
