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

namespace {
// A Windows console gets wide characters, so that every letter shows; a pipe or a file there gets
// UTF-8, which the ANSI code page (Windows' 8-bit encoding) would not hold for most letters. Elsewhere
// the locale's encoding.
void Put(std::FILE* p_Stream, const QString& p_Text)
{
#if defined(_WIN32)
    const QByteArray l_Bytes = p_Text.toUtf8();
    std::fflush(p_Stream);
    if (Launcher::Platform::WriteConsoleText(p_Stream == stderr ? 2 : 1,
                                             std::string(l_Bytes.constData(), size_t(l_Bytes.size()))))
        return;
#else
    const QByteArray l_Bytes = p_Text.toLocal8Bit();
#endif
    std::fwrite(l_Bytes.constData(), 1, size_t(l_Bytes.size()), p_Stream);
    std::fflush(p_Stream);
}
} // namespace

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
    Put(stdout, p_Line + '\n');
}

void Console::Err(const QString& p_Line)
{
    std::lock_guard<std::mutex> l_Lock(s_Mutex);
    ClearBarLocked();
    Put(stderr, p_Line + '\n');
}

void Console::Bar(const QString& p_Line)
{
    std::lock_guard<std::mutex> l_Lock(s_Mutex);
    int l_Length = p_Line.size();
    // Pad over what is left of a longer previous line (no terminal escapes needed).
    int l_Pad = s_BarLength > l_Length ? s_BarLength - l_Length : 0;
    QString l_Text = '\r' + p_Line + QString(l_Pad, ' ');
    if (l_Pad > 0)
        l_Text += '\r' + p_Line;
    Put(stdout, l_Text);
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
