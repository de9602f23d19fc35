#include "platform/Platform.h"
#include "platform/PlatformPath.h"

#include <QCoreApplication>
#include <QTemporaryDir>
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

bool WriteBytes(const QString& p_Path, const QByteArray& p_Bytes)
{
    QFile l_File(p_Path);
    return l_File.open(QIODevice::WriteOnly) && l_File.write(p_Bytes) == p_Bytes.size();
}

/// p_Path as the system spells a running program's path, compared without letter case or separators.
QString Comparable(QString p_Path)
{
    return QDir::cleanPath(p_Path.replace('\\', '/')).toLower();
}

} // namespace

class PlatformTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Platform::KeepFreedMemory(); }

    // The client chosen for the machine: a 64-bit build, or a 32-bit one under WoW64 (64-bit Windows, and
    // Wine's 64-bit prefix), gets the 64-bit client. Every machine the suite runs on is a 64-bit one.
    void systemIs64Bit() { QVERIFY(Platform::Is64BitSystem()); }

    // Install folders as users name them: spaces, letters no 8-bit code page holds together (Cyrillic and
    // Chinese), and paths past the 260 characters of Windows' old calls.
    void filesAnywhere_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::newRow("plain") << "Battle for Azeroth";
        QTest::newRow("Cyrillic and Chinese letters")
            << QString::fromUtf8("Битва за Азерот 魔兽世界");
        QTest::newRow("past 260 characters") << QString(120, 'a') + "/" + QString(120, 'b') + "/" + QString(40, 'c');
    }

    // Read-only attribute set and cleared, free space of the folder and of one not made yet.
    void filesAnywhere()
    {
        QFETCH(QString, folder);
        QTemporaryDir l_Temp;
        const QString l_Folder = l_Temp.path() + "/" + folder;
        const QString l_File = l_Folder + "/Wow.exe";
        QVERIFY(QDir().mkpath(l_Folder) && WriteBytes(l_File, "client"));

        QVERIFY(Platform::MakeReadOnly(Orvane::Launcher::PlatformPath(l_File)));
        QVERIFY(!(QFileInfo(l_File).permissions() & QFileDevice::WriteOwner));
        QVERIFY(Platform::ClearReadOnly(Orvane::Launcher::PlatformPath(l_File)));
        QVERIFY(QFileInfo(l_File).permissions() & QFileDevice::WriteOwner);
        QVERIFY(WriteBytes(l_File, "updated client"));
        QVERIFY(Platform::MakeFullPermissions(Orvane::Launcher::PlatformPath(l_File)));
        QVERIFY(QFileInfo(l_File).permissions() & QFileDevice::WriteOwner);

        QVERIFY(Platform::FreeDiskSpace(Orvane::Launcher::PlatformPath(l_Folder)) > 0);
        QVERIFY(Platform::FreeDiskSpace(Orvane::Launcher::PlatformPath(l_Folder + "/Data/not yet")) > 0);

        // Replaced in one step, over a file that is there.
        QVERIFY(WriteBytes(l_Folder + "/new", "new client"));
        QVERIFY(Platform::RenameOver(Orvane::Launcher::PlatformPath(l_Folder + "/new"), Orvane::Launcher::PlatformPath(l_File)));
        QFile l_Replaced(l_File);
        QVERIFY(l_Replaced.open(QIODevice::ReadOnly));
        QCOMPARE(l_Replaced.readAll(), QByteArray("new client"));
        QVERIFY(!QFileInfo::exists(l_Folder + "/new"));
    }

    // The running programs' paths name this one, as the system spells it.
    void runningProgramsIncludeThisOne()
    {
        QStringList l_Paths;
        for (const std::string& l_Path : Platform::RunningExecutables())
            l_Paths << Comparable(QString::fromUtf8(l_Path.data(), int(l_Path.size())));
        QVERIFY2(l_Paths.contains(Comparable(QCoreApplication::applicationFilePath())),
                 qPrintable(QCoreApplication::applicationFilePath() + " not in " + l_Paths.join(", ")));
    }

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
