#pragma once
#include "launcher/PendingListFile.h"

#include <QString>

class QTimer;

namespace Orvane {
namespace Launcher {

class Application;

/// The list file of the running phase, written at most once a second: what it still owes is written by a
/// timer a second after a change, or at once by a stop, a phase end or an exit.
///
/// Threads: every member belongs to the application's thread (the timer's too).
class ListFileWriter
{
public:
    explicit ListFileWriter(Application& p_App);

    /// In the list file p_ListPath, p_Current's line goes (empty: none) and p_AppendPath is added (empty: none).
    void Update(const QString& p_ListPath, const QString& p_Current, const QString& p_AppendPath);
    /// Writes what the list file owes now; p_Close also forgets it.
    void Flush(bool p_Close);

private:
    Application& m_App;
    PendingListFile m_File;    ///< app thread
    QTimer* m_Timer = nullptr; ///< app thread: a child of the application
};

} // namespace Launcher
} // namespace Orvane
