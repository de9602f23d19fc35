#include "platform/Platform.h"

// Vista is the oldest system with QueryFullProcessImageNameW and the limited query right.
#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0600
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

namespace Orvane {
namespace Launcher {

namespace {

// Paths cross this layer as UTF-8; the wide APIs take any name the file system
// allows, where the ANSI ones fail outside the user's code page. Text that is not
// valid UTF-8 is taken as the local 8-bit encoding (QFile::encodeName on Windows).
std::wstring Widen(const std::string& p_Text)
{
    if (p_Text.empty())
        return std::wstring();
    UINT l_CodePage = CP_UTF8;
    int l_Size = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, p_Text.data(), int(p_Text.size()), nullptr, 0);
    if (l_Size <= 0)
    {
        l_CodePage = CP_ACP;
        l_Size = ::MultiByteToWideChar(CP_ACP, 0, p_Text.data(), int(p_Text.size()), nullptr, 0);
    }
    if (l_Size <= 0)
        return std::wstring();
    std::wstring l_Wide(size_t(l_Size), L'\0');
    ::MultiByteToWideChar(l_CodePage, 0, p_Text.data(), int(p_Text.size()), &l_Wide[0], l_Size);
    return l_Wide;
}

std::string Narrow(const wchar_t* p_Text, size_t p_Length)
{
    if (p_Length == 0)
        return std::string();
    int l_Size = ::WideCharToMultiByte(CP_UTF8, 0, p_Text, int(p_Length), nullptr, 0, nullptr, nullptr);
    if (l_Size <= 0)
        return std::string();
    std::string l_Narrow(size_t(l_Size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, p_Text, int(p_Length), &l_Narrow[0], l_Size, nullptr, nullptr);
    return l_Narrow;
}

// A path the wide calls take past MAX_PATH (260) characters: absolute ones get the "\\?\" prefix,
// which also turns off the name parsing, so the separators become backslashes first.
std::wstring FilePath(const std::string& p_Path)
{
    std::wstring l_Path = Widen(p_Path);
    if (l_Path.size() < MAX_PATH - 12 || l_Path.compare(0, 4, L"\\\\?\\") == 0)
        return l_Path;
    for (wchar_t& l_Char : l_Path)
        if (l_Char == L'/')
            l_Char = L'\\';
    if (l_Path.size() > 2 && l_Path[1] == L':' && l_Path[2] == L'\\')
        return L"\\\\?\\" + l_Path;
    if (l_Path.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + l_Path.substr(2);
    return l_Path;
}

bool SetReadOnlyAttribute(const std::wstring& p_Path, bool p_ReadOnly)
{
    DWORD l_Attributes = ::GetFileAttributesW(p_Path.c_str());
    if (l_Attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    DWORD l_Wanted = p_ReadOnly ? (l_Attributes | FILE_ATTRIBUTE_READONLY) : (l_Attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
    if (l_Wanted == l_Attributes)
        return true;
    return ::SetFileAttributesW(p_Path.c_str(), l_Wanted) != 0;
}

} // namespace

bool Platform::Is64BitSystem()
{
    // A 64-bit build only runs on 64-bit Windows.
    if (sizeof(void*) == 8)
        return true;

    // IsWow64Process is missing from the oldest kernels: look it up at run time.
    typedef BOOL(WINAPI * IsWow64ProcessFunction)(HANDLE, PBOOL);
    HMODULE l_Kernel = ::GetModuleHandleA("kernel32");
    if (!l_Kernel)
        return false;
    FARPROC l_Address = ::GetProcAddress(l_Kernel, "IsWow64Process");
    if (!l_Address)
        return false;
    // Through void(*)(void), the one function type every other converts to without a warning.
    IsWow64ProcessFunction l_IsWow64Process =
        reinterpret_cast<IsWow64ProcessFunction>(reinterpret_cast<void (*)(void)>(l_Address));
    BOOL l_IsWow64 = FALSE;
    if (!l_IsWow64Process(::GetCurrentProcess(), &l_IsWow64))
        return false;
    return l_IsWow64 != FALSE;
}

bool Platform::ClearReadOnly(const std::string& p_Path)
{
    std::wstring l_Path = FilePath(p_Path);
    bool l_Cleared = SetReadOnlyAttribute(l_Path, false);
    return ::_wchmod(l_Path.c_str(), _S_IREAD | _S_IWRITE) == 0 && l_Cleared;
}

bool Platform::MakeReadOnly(const std::string& p_Path)
{
    std::wstring l_Path = FilePath(p_Path);
    bool l_Set = SetReadOnlyAttribute(l_Path, true);
    return ::_wchmod(l_Path.c_str(), _S_IREAD) == 0 && l_Set;
}

bool Platform::MakeFullPermissions(const std::string& p_Path)
{
    // The C runtime has only the read and write bits; executing is never denied by them.
    std::wstring l_Path = FilePath(p_Path);
    bool l_Cleared = SetReadOnlyAttribute(l_Path, false);
    return ::_wchmod(l_Path.c_str(), _S_IREAD | _S_IWRITE) == 0 && l_Cleared;
}

bool Platform::RenameOver(const std::string& p_From, const std::string& p_To)
{
    return ::MoveFileExW(FilePath(p_From).c_str(), FilePath(p_To).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool Platform::InUse(const std::string& p_Path)
{
    // Delete access with every sharing allowed is refused only for a sharing violation: a handle open on
    // the file denies deletion. The error of the failed rename does not tell (a rename over a held file
    // answers ERROR_ACCESS_DENIED, as a read-only file or a missing right do).
    HANDLE l_File = ::CreateFileW(FilePath(p_Path).c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (l_File == INVALID_HANDLE_VALUE)
    {
        const DWORD l_Error = ::GetLastError();
        return l_Error == ERROR_SHARING_VIOLATION || l_Error == ERROR_LOCK_VIOLATION;
    }
    ::CloseHandle(l_File);
    return false;
}

int64_t Platform::FreeDiskSpace(const std::string& p_Path)
{
    std::wstring l_Path = FilePath(p_Path.empty() ? std::string(".") : p_Path);
    ULARGE_INTEGER l_Available;
    // Walk up to the nearest folder that exists (the install folder may not yet).
    while (!::GetDiskFreeSpaceExW(l_Path.c_str(), &l_Available, nullptr, nullptr))
    {
        std::wstring::size_type l_End = l_Path.find_last_not_of(L"/\\");
        if (l_End == std::wstring::npos)
            return -1;
        std::wstring::size_type l_Slash = l_Path.find_last_of(L"/\\", l_End);
        if (l_Slash == std::wstring::npos)
        {
            if (!::GetDiskFreeSpaceExW(nullptr, &l_Available, nullptr, nullptr))
                return -1;
            break;
        }
        std::wstring l_Parent = l_Path.substr(0, l_Slash + 1);
        if (l_Parent == l_Path)
            return -1;
        l_Path = l_Parent;
    }
    return int64_t(l_Available.QuadPart);
}

std::vector<std::string> Platform::RunningExecutables()
{
    std::vector<std::string> l_Paths;
    HANDLE l_Snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (l_Snapshot == INVALID_HANDLE_VALUE)
        return l_Paths;

    PROCESSENTRY32W l_Entry;
    l_Entry.dwSize = sizeof(l_Entry);
    std::wstring l_Buffer(32768, L'\0');
    for (BOOL l_More = ::Process32FirstW(l_Snapshot, &l_Entry); l_More; l_More = ::Process32NextW(l_Snapshot, &l_Entry))
    {
        if (l_Entry.th32ProcessID == 0)
            continue;
        // Processes of other users or protected ones refuse the query: they are skipped.
        HANDLE l_Process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, l_Entry.th32ProcessID);
        if (!l_Process)
            continue;
        DWORD l_Size = DWORD(l_Buffer.size());
        if (::QueryFullProcessImageNameW(l_Process, 0, &l_Buffer[0], &l_Size) && l_Size > 0)
            l_Paths.push_back(Narrow(l_Buffer.data(), l_Size));
        ::CloseHandle(l_Process);
    }
    ::CloseHandle(l_Snapshot);
    return l_Paths;
}

int Platform::TerminalColumns()
{
    CONSOLE_SCREEN_BUFFER_INFO l_Info;
    if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_OUTPUT_HANDLE), &l_Info))
        return 0;
    return int(l_Info.srWindow.Right - l_Info.srWindow.Left + 1);
}

bool Platform::WriteConsoleText(int p_Stream, const std::string& p_Utf8)
{
    HANDLE l_Handle = ::GetStdHandle(p_Stream == 2 ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD l_Mode = 0;
    if (l_Handle == INVALID_HANDLE_VALUE || !l_Handle || !::GetConsoleMode(l_Handle, &l_Mode))
        return false;
    const std::wstring l_Text = Widen(p_Utf8);
    for (size_t l_Done = 0; l_Done < l_Text.size();)
    {
        DWORD l_Written = 0;
        const DWORD l_Chunk = DWORD(std::min<size_t>(l_Text.size() - l_Done, 16384));
        if (!::WriteConsoleW(l_Handle, l_Text.data() + l_Done, l_Chunk, &l_Written, nullptr) || l_Written == 0)
            break;
        l_Done += l_Written;
    }
    return true;
}

void Platform::Utf8Console()
{
    DWORD l_Mode = 0;
    if (::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &l_Mode) ||
        ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &l_Mode))
        ::SetConsoleOutputCP(CP_UTF8);
}

void Platform::SetBinaryStream(int p_Stream)
{
    ::_setmode(p_Stream, _O_BINARY);
}

void Platform::KeepFreedMemory()
{
    // Left to the Windows heap: how it returns large blocks has not been measured here.
}

} // namespace Launcher
} // namespace Orvane
