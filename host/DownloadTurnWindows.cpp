#include "host/DownloadTurn.h"

#include <windows.h>

#include <vector>

namespace Orvane {
namespace Host {

namespace {
std::wstring Wide(const std::string& p_Utf8)
{
    int l_Size = MultiByteToWideChar(CP_UTF8, 0, p_Utf8.c_str(), -1, nullptr, 0);
    if (l_Size <= 0)
        return std::wstring();
    std::vector<wchar_t> l_Buffer(static_cast<size_t>(l_Size));
    MultiByteToWideChar(CP_UTF8, 0, p_Utf8.c_str(), -1, l_Buffer.data(), l_Size);
    return std::wstring(l_Buffer.data());
}

HANDLE OpenLockFile(const std::string& p_Path, std::string& p_Error)
{
    HANDLE l_File = CreateFileW(Wide(p_Path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (l_File == INVALID_HANDLE_VALUE)
        p_Error = p_Path + ": error " + std::to_string(GetLastError());
    return l_File;
}

bool LockOneByte(HANDLE p_File)
{
    OVERLAPPED l_Where = {};
    return LockFileEx(p_File, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &l_Where) != 0;
}

void UnlockOneByte(HANDLE p_File)
{
    OVERLAPPED l_Where = {};
    UnlockFileEx(p_File, 0, 1, 0, &l_Where);
}
} // namespace

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
    HANDLE l_File = OpenLockFile(m_Path, m_LastError);
    if (l_File == INVALID_HANDLE_VALUE)
        return false;
    if (!LockOneByte(l_File))
    {
        DWORD l_Error = GetLastError();
        if (l_Error != ERROR_LOCK_VIOLATION)
            m_LastError = m_Path + ": error " + std::to_string(l_Error);
        CloseHandle(l_File);
        return false;
    }
    m_Handle = reinterpret_cast<intptr_t>(l_File);
    m_Held = true;
    return true;
}

void DownloadTurn::Release()
{
    if (!m_Held)
        return;
    HANDLE l_File = reinterpret_cast<HANDLE>(m_Handle);
    UnlockOneByte(l_File);
    CloseHandle(l_File);
    m_Handle = -1;
    m_Held = false;
}

bool DownloadTurn::HeldElsewhere()
{
    m_LastError.clear();
    if (m_Held)
        return false;
    HANDLE l_File = OpenLockFile(m_Path, m_LastError);
    if (l_File == INVALID_HANDLE_VALUE)
        return false;
    bool l_Elsewhere = false;
    if (LockOneByte(l_File))
        UnlockOneByte(l_File);
    else
        l_Elsewhere = (GetLastError() == ERROR_LOCK_VIOLATION);
    CloseHandle(l_File);
    return l_Elsewhere;
}

} // namespace Host
} // namespace Orvane
