#pragma once
#include "launcher/Manifest.h"

#include <QHash>
#include <QString>
#include <functional>
#include <vector>

namespace Orvane {
namespace Launcher {

class Application;
class CdnHosts;
class ManifestPass;

/// The size of each file of a phase as the server last gave it: the size requests of the phase (a bounded
/// window of them in flight), then what the transfers' own headers tell.
///
/// Threads: every member belongs to the application's thread (the answers come back on it).
class FileSizes
{
public:
    /// Every size of the list is known: its downloads start (unless the pass was superseded).
    using AllKnown = std::function<void(bool p_WaitForTurn, quint64 p_Pass)>;

    FileSizes(Application& p_App, CdnHosts& p_Cdn, const ManifestPass& p_Passes,
              const std::vector<ManifestFile>& p_List, AllKnown p_AllKnown);

    /// Forgets the sizes and asks for those of every entry of the list, for pass p_Pass.
    void Request(bool p_WaitForTurn, quint64 p_Pass);
    /// The size known for p_Path; p_Unknown when none was given.
    qint64 Of(const QString& p_Path, qint64 p_Unknown) const { return m_Known.value(p_Path, p_Unknown); }
    /// Takes the size a transfer gave p_Path; returns the one known before (0 none).
    qint64 Update(const QString& p_Path, qint64 p_Size);

private:
    /// Sends the next size request of the phase, if any is left.
    void RequestNext(bool p_WaitForTurn, quint64 p_Pass);

    Application& m_App;
    CdnHosts& m_Cdn;
    const ManifestPass& m_Passes;
    const std::vector<ManifestFile>& m_List; ///< the download queue's list (app thread)
    AllKnown m_AllKnown;
    QHash<QString, qint64> m_Known; ///< app thread
    unsigned m_Answers = 0;         ///< app thread: answers of this phase so far
    size_t m_Next = 0;              ///< app thread: entry whose size is asked next
};

} // namespace Launcher
} // namespace Orvane
