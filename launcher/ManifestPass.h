#pragma once
#include "launcher/Manifest.h"

#include <QString>
#include <atomic>
#include <functional>
#include <vector>

namespace Orvane {
namespace Launcher {

class Application;

/// The manifest passes: their numbers, and the building of a phase's list (which files of the build to
/// fetch) from the disk and the phase's list file.
///
/// Threads. The application's thread begins passes (m_Pass, atomic) and takes the results; the list
/// building runs on the worker queue with a copy of what it reads (Input) and reads m_Pass to stop once a
/// newer pass began or the launcher closes. It calls no host function but IsLauncherRunning, which long
/// checks poll, and posts everything else to the main queue.
class ManifestPass
{
public:
    static constexpr const char* BaseListName = "ToDownloadBase.db";
    static constexpr const char* StreamedListName = "ToDownload.db";

    /// What the list building of a phase reads, taken on the application's thread.
    struct Input
    {
        std::vector<ManifestFile> Files;
        QString Folder;
        QString Locale;
        bool FullScan = false;
    };
    using FileFilter = std::function<bool(const ManifestFile&)>;
    using FoundFiles = std::function<void(const std::vector<ManifestFile>&)>;

    explicit ManifestPass(Application& p_App);

    /// Starts a new pass: older ones stop at their next check. Returns its number.
    quint64 Begin() { return ++m_Pass; }
    quint64 Current() const { return m_Pass; }
    bool IsCurrent(quint64 p_Pass) const { return p_Pass == m_Pass; }
    /// Pass p_Pass goes on: it is current and the launcher runs.
    bool KeepGoing(quint64 p_Pass) const;

    /// Builds a phase's list (on the worker queue): the files p_Tracked accepts are read from the list file
    /// p_ListName unless the input asks for a full scan (p_Tracked empty: every file); the others are
    /// compared with the disk. Unless stopped, on the application's thread: the list file is rewritten
    /// after a scan, and p_Then gets the files to fetch.
    void BuildList(quint64 p_Pass, const Input& p_Input, const char* p_ListName, FileFilter p_Tracked,
                   bool p_SkipPresentListed, FoundFiles p_Then);

private:
    Application& m_App;
    /// Number of the current pass. A newer pass (Install, Repair, RebuildManifests, Uninstall, new build
    /// information) supersedes an older one, whose queued or running steps then end without touching the
    /// download list, the list files or the status.
    std::atomic<quint64> m_Pass{0}; ///< app thread writes, any thread reads
};

} // namespace Launcher
} // namespace Orvane
