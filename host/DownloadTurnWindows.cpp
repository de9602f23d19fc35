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
} // namespace

intptr_t DownloadTurn::OpenFile(const std::string& p_Path, std::string& p_Error)
{
    HANDLE l_File = CreateFileW(Wide(p_Path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (l_File == INVALID_HANDLE_VALUE)
    {
        p_Error = p_Path + ": error " + std::to_string(GetLastError());
        return -1;
    }
    return reinterpret_cast<intptr_t>(l_File);
}

int DownloadTurn::TryLock(intptr_t p_Handle, const std::string& p_Path, std::string& p_Error)
{
    // One byte, exclusive, without waiting.
    OVERLAPPED l_Where = {};
    if (LockFileEx(reinterpret_cast<HANDLE>(p_Handle), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                   &l_Where))
        return 1;
    DWORD l_Error = GetLastError();
    if (l_Error == ERROR_LOCK_VIOLATION)
        return 0;
    p_Error = p_Path + ": error " + std::to_string(l_Error);
    return -1;
}

void DownloadTurn::Unlock(intptr_t p_Handle)
{
    OVERLAPPED l_Where = {};
    UnlockFileEx(reinterpret_cast<HANDLE>(p_Handle), 0, 1, 0, &l_Where);
}

void DownloadTurn::CloseFile(intptr_t p_Handle)
{
    CloseHandle(reinterpret_cast<HANDLE>(p_Handle));
}

} // namespace Host
} // namespace Orvane
