// Hashes one file with the module's MD5 and prints the implementation, the CPU time and the digest,
// so bench/md5 can set the implementations side by side with md5sum on the same bytes. Built with
// KESTRUN_BENCH_PAIR, it takes two digests in one pass (Md5Pair), the second a byte behind the first
// in every block read, as a content-store chunk and its content are hashed.
#include "platform/Md5.h"
#include "platform/Md5Pair.h"

#include <QFile>
#include <cstdio>
#include <ctime>
#include <vector>

int main(int p_Argc, char** p_Argv)
{
    if (p_Argc != 2)
    {
        std::fprintf(stderr, "usage: %s FILE\n", p_Argv[0]);
        return 2;
    }
    QFile l_File(QString::fromLocal8Bit(p_Argv[1]));
    if (!l_File.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
    {
        std::fprintf(stderr, "cannot read %s\n", p_Argv[1]);
        return 1;
    }
    std::vector<char> l_Block(1 << 20);
#ifdef KESTRUN_BENCH_PAIR
    Orvane::Md5Pair l_Md5;
    const char* l_Name = "Md5Pair(two-digests)";
#else
    Orvane::Md5 l_Md5;
    const char* l_Name = Orvane::Md5::Implementation();
#endif
    double l_Cpu = 0;
    qint64 l_Total = 0;
    for (;;)
    {
        const qint64 l_Read = l_File.read(l_Block.data(), qint64(l_Block.size()));
        if (l_Read <= 0)
            break;
        // Only the hashing is timed: reading the page cache costs every contender the same.
        timespec l_Start, l_End;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &l_Start);
#ifdef KESTRUN_BENCH_PAIR
        l_Md5.Add(l_Block.data(), l_Read, l_Block.data() + 1, l_Read - 1);
#else
        l_Md5.Add(l_Block.data(), l_Read);
#endif
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &l_End);
        l_Cpu += double(l_End.tv_sec - l_Start.tv_sec) + double(l_End.tv_nsec - l_Start.tv_nsec) / 1e9;
        l_Total += l_Read;
    }
#ifdef KESTRUN_BENCH_PAIR
    const QByteArray l_Digest = l_Md5.Result(0);
#else
    const QByteArray l_Digest = l_Md5.Result();
#endif
    std::printf("%s %.3f %.0f %s\n", l_Name, l_Cpu, l_Cpu > 0 ? double(l_Total) / l_Cpu / 1048576.0 : 0.0,
                l_Digest.toHex().constData());
    return 0;
}
