#pragma once
#include <QString>
#include <QtGlobal>

#include <mutex>

namespace Orvane {
namespace Host {

/// Terminal output shared by every thread: whole lines on stdout or stderr, and
/// on a terminal one progress line redrawn in place that other lines push down.
class Console
{
public:
    static bool StdoutIsTerminal();
    /// Columns of the terminal (its size, else COLUMNS, else 80).
    static int Width();

    static void Out(const QString& p_Line);
    static void Err(const QString& p_Line);
    /// Draws the progress line in place (terminal only).
    static void Bar(const QString& p_Line);
    /// Leaves the progress line as it stands and moves to a new line.
    static void EndBar();
    /// True while the progress line is on screen (other output clears it).
    static bool BarVisible();

private:
    static void ClearBarLocked();
    static std::mutex s_Mutex;
    static int s_BarLength; ///< characters of the progress line on screen, 0 when none
};

} // namespace Host
} // namespace Orvane
