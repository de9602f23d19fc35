#include "host/DownloadTurn.h"

namespace Orvane {
namespace Host {

DownloadTurn::DownloadTurn(const std::string& p_Path) : m_Path(p_Path) {}

DownloadTurn::~DownloadTurn()
{
    Release();
}

bool DownloadTurn::Take()
{
    m_LastError.clear();
    if (m_Held)
        return true;
    intptr_t l_Handle = OpenFile(m_Path, m_LastError);
    if (l_Handle == -1)
        return false;
    if (TryLock(l_Handle, m_Path, m_LastError) != 1)
    {
        CloseFile(l_Handle);
        return false;
    }
    m_Handle = l_Handle;
    m_Held = true;
    return true;
}

void DownloadTurn::Release()
{
    if (!m_Held)
        return;
    Unlock(m_Handle);
    CloseFile(m_Handle);
    m_Handle = -1;
    m_Held = false;
}

bool DownloadTurn::HeldElsewhere()
{
    m_LastError.clear();
    if (m_Held)
        return false;
    intptr_t l_Handle = OpenFile(m_Path, m_LastError);
    if (l_Handle == -1)
        return false;
    const int l_Locked = TryLock(l_Handle, m_Path, m_LastError);
    if (l_Locked == 1)
        Unlock(l_Handle);
    CloseFile(l_Handle);
    return l_Locked == 0;
}

} // namespace Host
} // namespace Orvane
