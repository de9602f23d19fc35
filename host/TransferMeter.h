#pragma once
#include "launcher/Application.h"

#include <atomic>
#include <map>
#include <mutex>

namespace Orvane {
namespace Host {

/// The bytes the module's transfers wrote in this run, read from their records as they progress: what
/// the shown rate counts. A resumed file's bytes already on disk were not moved now and count for nothing
/// (the status record's Done holds them as soon as the transfer starts).
class TransferMeter
{
public:
    /// Follows p_App's transfers; their signals come on the download thread.
    void Attach(Launcher::Application* p_App);
    qint64 Moved() const { return m_Moved; }

private:
    void Note(Launcher::HTTP_DownloadFileRequest* p_Request, bool p_Last);

    std::mutex m_Mutex;                         ///< guards m_Written
    std::map<const void*, qint64> m_Written;    ///< each running record's WrittenBytes when last seen
    std::atomic<qint64> m_Moved{0};             ///< any thread
};

} // namespace Host
} // namespace Orvane
