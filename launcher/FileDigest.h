#pragma once
#include "platform/FileHasher.h"

#include <QFuture>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>

namespace Orvane {
namespace Launcher {

class Application;

/// The digest of a finished ".part" read back from disk, which can take minutes: it runs on Qt's pool,
/// and its outcome comes back on the application's thread unless it was called off meanwhile.
///
/// Threads: the members belong to the application's thread; the pool's run gets copies and reads only
/// the call-off flag (atomic) and the host's IsLauncherRunning.
class FileDigest
{
public:
    using Done = std::function<void(const QString& p_Md5, FileHasher::Result p_Result)>;

    explicit FileDigest(Application& p_App);
    ~FileDigest();
    FileDigest(const FileDigest&) = delete;
    FileDigest& operator=(const FileDigest&) = delete;

    /// Hashes p_Path off this thread; p_Done runs on the application's thread, unless called off.
    void Start(const QString& p_Path, Done p_Done);
    bool Running() const { return m_Check != 0; }
    /// The running digest no longer counts (stop of the pass, unload).
    void CallOff();
    /// Waits for the run on the pool (the unload: nothing may outlive the module).
    void Wait();

private:
    Application& m_App;
    quint64 m_Check = 0;  ///< app thread: number of the digest that counts (0 none)
    quint64 m_Checks = 0; ///< app thread: number of the last one started
    std::shared_ptr<std::atomic<bool>> m_CalledOff; ///< app thread (the flag: any thread reads)
    QFuture<void> m_Run;                            ///< app thread
};

} // namespace Launcher
} // namespace Orvane
