#pragma once
#include <functional>

namespace Orvane {
namespace Launcher {

class Application;

/// The launcher's download turn (LockDownload / UnlockDownload, kept paired): one application downloads
/// at a time, and none while its game runs.
///
/// Threads: m_Holds belongs to the application's thread; the 100 ms waits run on the worker queue.
class DownloadTurn
{
public:
    explicit DownloadTurn(Application& p_App);

    void Take();
    void Release();
    bool Held() const { return m_Holds; }
    /// Shows the wait for the turn; takes it and returns true when the game is not running and the turn is
    /// free, else posts p_Retry to the worker queue after 100 ms and returns false.
    bool TakeOrRetry(bool p_ClearMessage, std::function<void()> p_Retry);

private:
    Application& m_App;
    bool m_Holds = false; ///< app thread: this application holds the launcher's download turn
};

} // namespace Launcher
} // namespace Orvane
