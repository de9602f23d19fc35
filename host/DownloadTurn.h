#pragma once
// The launcher's download turn, shared between launcher processes through a
// lock on a file. Standard C++ types only (one implementation per system).
#include <cstdint>
#include <string>

namespace Orvane {
namespace Host {

/// An exclusive, non-blocking lock on one file. The system releases it when the
/// process ends, however it ends, so a killed launcher never keeps the turn.
/// Not thread-safe: the caller serialises the calls.
class DownloadTurn
{
public:
    explicit DownloadTurn(const std::string& p_Path); ///< UTF-8 path of the lock file
    ~DownloadTurn();
    DownloadTurn(const DownloadTurn&) = delete;
    DownloadTurn& operator=(const DownloadTurn&) = delete;

    /// Takes the turn when no other process holds it; true when this process holds it afterwards.
    bool Take();
    /// Gives the turn back (nothing when not held).
    void Release();
    bool Held() const { return m_Held; }
    /// True while another process holds the turn.
    bool HeldElsewhere();
    /// Text of the last system error (empty when none).
    const std::string& LastError() const { return m_LastError; }

private:
    // The system's side, one implementation per system; handles are -1 when invalid.
    static intptr_t OpenFile(const std::string& p_Path, std::string& p_Error);
    /// 1 when locked, 0 when another open file holds the lock, -1 on an error (p_Error set).
    static int TryLock(intptr_t p_Handle, const std::string& p_Path, std::string& p_Error);
    static void Unlock(intptr_t p_Handle);
    static void CloseFile(intptr_t p_Handle);

    std::string m_Path;
    intptr_t m_Handle = -1;
    bool m_Held = false;
    std::string m_LastError;
};

} // namespace Host
} // namespace Orvane
