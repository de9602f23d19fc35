// kestrun-linkproxy --upstream PORT [--listen PORT] [--rtt MS] [--rate BYTES[K|M]] [--shared-rate BYTES[K|M]]
//                   [--max-seconds N]
// An emulated real link between two loopback ports, for the benchmarks: a new connection waits one
// round trip before it is passed upstream, every chunk half a round trip in each direction, and an
// optional cap bounds the bytes per second of each direction of each connection (--rate) or of the
// whole link, every connection sharing it (--shared-rate). Prints the port it
// listens on (127.0.0.1 only) and exits after --max-seconds (default 3600).
#include "LinkLoop.h"
#include "net/ByteSize.h"

#include <QCoreApplication>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <cerrno>

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: kestrun-linkproxy --upstream PORT [--listen PORT] [--rtt MS] [--rate BYTES[K|M]] "
                         "[--shared-rate BYTES[K|M]] [--max-seconds N]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication l_Core(argc, argv);
    const QStringList l_Args = l_Core.arguments().mid(1);
    qint64 l_Upstream = 0, l_Listen = 0, l_Rtt = 20, l_Rate = 0, l_MaxSeconds = 3600;
    bool l_Shared = false;
    for (int l_Index = 0; l_Index < l_Args.size(); ++l_Index)
    {
        if (l_Index + 1 >= l_Args.size())
            return Usage();
        const QString& l_Name = l_Args[l_Index];
        const qint64 l_Value = Orvane::Launcher::ByteSize::Parse(l_Args[++l_Index]);
        if (l_Value < 0)
            return Usage();
        if (l_Name == "--upstream")
            l_Upstream = l_Value;
        else if (l_Name == "--listen")
            l_Listen = l_Value;
        else if (l_Name == "--rtt")
            l_Rtt = l_Value;
        else if (l_Name == "--rate" || l_Name == "--shared-rate")
        {
            l_Rate = l_Value;
            l_Shared = l_Name == "--shared-rate";
        }
        else if (l_Name == "--max-seconds")
            l_MaxSeconds = l_Value;
        else
            return Usage();
    }
    if (l_Upstream <= 0 || l_Upstream > 65535 || l_Listen > 65535 || l_MaxSeconds <= 0)
        return Usage();

    LinkConnection::Link l_Link;
    l_Link.HalfRttNs = l_Rtt * 1000000 / 2;
    l_Link.BytesPerSecond = l_Rate;
    int64_t l_SharedLast[2] = {0, 0};
    if (l_Shared)
        l_Link.SharedLast = l_SharedLast;
    // A peer that closes while bytes are sent to it is an error to handle, not a reason to die.
    std::signal(SIGPIPE, SIG_IGN);
    LinkLoop l_Loop(quint16(l_Upstream), l_Link);
    const uint16_t l_Port = l_Loop.Listen(quint16(l_Listen));
    if (l_Port == 0)
    {
        std::fprintf(stderr, "kestrun-linkproxy: %s\n", std::strerror(errno));
        return 1;
    }
    std::printf("%u\n", unsigned(l_Port));
    std::fflush(stdout);
    // A benchmark that dies must not leave the proxy behind for ever.
    l_Loop.Run(l_MaxSeconds);
    return 0;
}
