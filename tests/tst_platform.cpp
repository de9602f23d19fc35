#include "platform/Platform.h"

#include <QtTest>

#include <cstdlib>
#include <cstring>
#include <vector>

#if defined(__unix__)
#include <sys/resource.h>
#endif

using Orvane::Launcher::Platform;

namespace {

long MinorFaults()
{
#if defined(__unix__)
    struct rusage l_Usage;
    ::getrusage(RUSAGE_SELF, &l_Usage);
    return l_Usage.ru_minflt;
#else
    return 0;
#endif
}

} // namespace

class PlatformTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Platform::KeepFreedMemory(); }

    // The network layer fills a queue of receive buffers (up to a reply's read bound, 8 MiB) that the
    // reading thread then frees, over and over: once the program has used those pages they serve the
    // next queue, instead of new pages for each one.
    void freedBuffersAreReused_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("128 x 64 KiB") << 64 * 1024;
        QTest::newRow("32 x 256 KiB") << 256 * 1024;
        QTest::newRow("8 x 1 MiB") << 1024 * 1024;
    }

    void freedBuffersAreReused()
    {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        QSKIP("the sanitizer build replaces the allocator");
#endif
        QFETCH(int, size);
        const int l_Queue = 8 * 1024 * 1024 / size, l_Rounds = 16;
        const long l_QueuePages = 8 * 1024 * 1024 / 4096;
        std::vector<char*> l_Buffers;
        const long l_Before = MinorFaults();
        for (int l_Round = 0; l_Round < l_Rounds; ++l_Round)
        {
            for (int l_Index = 0; l_Index < l_Queue; ++l_Index)
            {
                l_Buffers.push_back(static_cast<char*>(std::malloc(size_t(size))));
                QVERIFY(l_Buffers.back());
                std::memset(l_Buffers.back(), l_Round, size_t(size));
            }
            for (char* l_Buffer : l_Buffers)
                std::free(l_Buffer);
            l_Buffers.clear();
        }
        const long l_Faults = MinorFaults() - l_Before;
        // New pages for every queue would be l_Rounds queues' worth.
        QVERIFY2(l_Faults < 3 * l_QueuePages,
                 qPrintable(QString("%1 page faults for %2 queues of %3 pages").arg(l_Faults).arg(l_Rounds).arg(l_QueuePages)));
    }
};

QTEST_GUILESS_MAIN(PlatformTest)
#include "tst_platform.moc"
