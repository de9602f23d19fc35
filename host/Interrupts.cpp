#include "host/Interrupts.h"

#include <csignal>
#include <cstdlib>

namespace Orvane {
namespace Host {

namespace {
volatile std::sig_atomic_t s_First = 0;

extern "C" void OnInterrupt(int p_Signal)
{
    if (s_First != 0)
        std::_Exit(128 + p_Signal);
    s_First = p_Signal;
#if defined(_WIN32)
    std::signal(p_Signal, OnInterrupt); // the runtime resets the handler after each signal
#endif
}
} // namespace

void Interrupts::Install()
{
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
}

int Interrupts::Pending()
{
    return int(s_First);
}

} // namespace Host
} // namespace Orvane
