// The one reading of a byte count: the rate of --limit-rate and the stored setting, the sizes of the tools'
// command lines (--chunk, --min-size, --size ...). A spelling one of them documents works for all.
#include "net/ByteSize.h"

#include <QtTest>

using Orvane::Launcher::ByteSize;

class tst_bytesize : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("bytes"); // -1: refused
        const qint64 l_K = 1024, l_M = l_K * 1024, l_G = l_M * 1024;
        QTest::newRow("bytes") << "100" << qint64(100);
        QTest::newRow("zero: no limit, one chunk") << "0" << qint64(0);
        QTest::newRow("K") << "512K" << 512 * l_K;
        QTest::newRow("k") << "512k" << 512 * l_K;
        QTest::newRow("M") << "4M" << 4 * l_M;
        QTest::newRow("m") << "300m" << 300 * l_M;
        QTest::newRow("G") << "1G" << l_G;
        QTest::newRow("g") << "2g" << 2 * l_G;
        QTest::newRow("KB") << "512KB" << 512 * l_K;
        QTest::newRow("mb") << "2mb" << 2 * l_M;
        QTest::newRow("B alone") << "512B" << qint64(512);
        QTest::newRow("spaces around") << " 2M " << 2 * l_M;
        QTest::newRow("the bound") << "1024G" << ByteSize::Max;
        QTest::newRow("the bound in bytes") << QString::number(ByteSize::Max) << ByteSize::Max;

        QTest::newRow("empty") << "" << qint64(-1);
        QTest::newRow("blank") << "  " << qint64(-1);
        QTest::newRow("unit alone") << "K" << qint64(-1);
        QTest::newRow("B after nothing") << "B" << qint64(-1);
        QTest::newRow("two units") << "5KK" << qint64(-1);
        QTest::newRow("B before the unit") << "5BK" << qint64(-1);
        QTest::newRow("blank inside") << "12 K" << qint64(-1);
        QTest::newRow("negative") << "-5" << qint64(-1);
        QTest::newRow("sign") << "+5" << qint64(-1);
        QTest::newRow("fraction") << "1.5M" << qint64(-1);
        QTest::newRow("hexadecimal") << "0x10" << qint64(-1);
        QTest::newRow("other unit") << "5T" << qint64(-1);
        QTest::newRow("unknown unit") << "2X" << qint64(-1);
        QTest::newRow("words") << "fast" << qint64(-1);
        QTest::newRow("one past the bound") << QString::number(ByteSize::Max + 1) << qint64(-1);
        QTest::newRow("past the bound through the unit") << "1025G" << qint64(-1);
        QTest::newRow("overflow") << "99999999999999999999" << qint64(-1);
        QTest::newRow("overflow through the unit") << "9999999999999M" << qint64(-1);
    }

    void parse()
    {
        QFETCH(QString, text);
        QFETCH(qint64, bytes);
        QCOMPARE(ByteSize::Parse(text), bytes);
    }
};

QTEST_APPLESS_MAIN(tst_bytesize)
#include "tst_bytesize.moc"
