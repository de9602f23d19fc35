#include "host/Console.h"
#include "platform/Platform.h"

#include <cstdio>
#include <cstdlib>

#if defined(_WIN32)
#include <io.h>
#define KESTRUN_ISATTY(f) _isatty(_fileno(f))
#else
#include <unistd.h>
#define KESTRUN_ISATTY(f) isatty(fileno(f))
#endif

namespace Orvane {
namespace Host {

std::mutex Console::s_Mutex;
int Console::s_BarLength = 0;

bool Console::StdoutIsTerminal()
{
    return KESTRUN_ISATTY(stdout) != 0;
}

int Console::Width()
{
    // The terminal's own size first: shells rarely export COLUMNS, and a window can be resized.
    int l_Columns = Launcher::Platform::TerminalColumns();
    if (l_Columns <= 0)
        l_Columns = std::atoi(qgetenv("COLUMNS").constData());
    return l_Columns > 0 ? l_Columns : 80;
}

void Console::ClearBarLocked()
{
    if (s_BarLength <= 0)
        return;
    std::fprintf(stdout, "\r%*s\r", s_BarLength, "");
    std::fflush(stdout);
    s_BarLength = 0;
}

void Console::Out(const QString& p_Line)
{
    std::lock_guard<std::mutex> l_Lock(s_Mutex);
    ClearBarLocked();
    std::fprintf(stdout, "%s\n", p_Line.toLocal8Bit().constData());
    std::fflush(stdout);
}

void Console::Err(const QString& p_Line)
{
    std::lock_guard<std::mutex> l_Lock(s_Mutex);
    ClearBarLocked();
    std::fprintf(stderr, "%s\n", p_Line.toLocal8Bit().constData());
    std::fflush(stderr);
}

void Console::Bar(const QString& p_Line)
{
    std::lock_guard<std::mutex> l_Lock(s_Mutex);
    QByteArray l_Text = p_Line.toLocal8Bit();
    int l_Length = p_Line.size();
    // Pad over what is left of a longer previous line (no terminal escapes needed).
    int l_Pad = s_BarLength > l_Length ? s_BarLength - l_Length : 0;
    std::fprintf(stdout, "\r%s%*s", l_Text.constData(), l_Pad, "");
    if (l_Pad > 0)
        std::fprintf(stdout, "\r%s", l_Text.constData());
    std::fflush(stdout);
    s_BarLength = l_Length;
}

bool Console::BarVisible()
{
    std::lock_guard<std::mutex> l_Lock(s_Mutex);
    return s_BarLength > 0;
}

void Console::EndBar()
{
    std::lock_guard<std::mutex> l_Lock(s_Mutex);
    if (s_BarLength > 0)
    {
        std::fprintf(stdout, "\n");
        std::fflush(stdout);
    }
    s_BarLength = 0;
}

} // namespace Host
} // namespace Orvane
