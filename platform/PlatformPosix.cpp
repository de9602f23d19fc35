#include "platform/Platform.h"

#include <dirent.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <limits.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>

namespace Orvane {
namespace Launcher {

bool Platform::Is64BitSystem()
{
    return sizeof(void*) == 8;
}

namespace {
bool ChangeMode(const std::string& p_Path, mode_t p_Set, mode_t p_Clear)
{
    struct stat l_Stat;
    if (::stat(p_Path.c_str(), &l_Stat) != 0)
        return false;
    mode_t l_Mode = (l_Stat.st_mode & 07777 & ~p_Clear) | p_Set;
    return ::chmod(p_Path.c_str(), l_Mode) == 0;
}
} // namespace

bool Platform::ClearReadOnly(const std::string& p_Path)
{
    return ChangeMode(p_Path, S_IWUSR, 0);
}

bool Platform::MakeReadOnly(const std::string& p_Path)
{
    return ChangeMode(p_Path, 0, S_IWUSR | S_IWGRP | S_IWOTH);
}

bool Platform::MakeFullPermissions(const std::string& p_Path)
{
    return ::chmod(p_Path.c_str(), 0777) == 0;
}

bool Platform::RenameOver(const std::string& p_From, const std::string& p_To)
{
    return std::rename(p_From.c_str(), p_To.c_str()) == 0;
}

bool Platform::InUse(const std::string&)
{
    return false;
}

int64_t Platform::FreeDiskSpace(const std::string& p_Path)
{
    std::string l_Path = p_Path.empty() ? std::string(".") : p_Path;
    struct statvfs l_Stat;
    // Walk up to the nearest folder that exists (the install folder may not yet).
    while (::statvfs(l_Path.c_str(), &l_Stat) != 0)
    {
        std::string::size_type l_Slash = l_Path.find_last_of('/', l_Path.size() > 1 ? l_Path.size() - 2 : 0);
        if (l_Slash == std::string::npos)
        {
            if (::statvfs(".", &l_Stat) != 0)
                return -1;
            break;
        }
        l_Path = l_Slash == 0 ? std::string("/") : l_Path.substr(0, l_Slash);
    }
    return int64_t(l_Stat.f_bavail) * int64_t(l_Stat.f_frsize);
}

std::vector<std::string> Platform::RunningExecutables()
{
    std::vector<std::string> l_Paths;
    DIR* l_Proc = ::opendir("/proc");
    if (!l_Proc)
        return l_Paths;
    while (struct dirent* l_Entry = ::readdir(l_Proc))
    {
        if (!std::isdigit(static_cast<unsigned char>(l_Entry->d_name[0])))
            continue;
        std::string l_Link = std::string("/proc/") + l_Entry->d_name + "/exe";
        char l_Target[PATH_MAX];
        ssize_t l_Size = ::readlink(l_Link.c_str(), l_Target, sizeof(l_Target) - 1);
        if (l_Size <= 0)
            continue;
        l_Paths.emplace_back(l_Target, size_t(l_Size));
    }
    ::closedir(l_Proc);
    return l_Paths;
}

int Platform::TerminalColumns()
{
    struct winsize l_Size;
    if (!::isatty(STDOUT_FILENO) || ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &l_Size) != 0)
        return 0;
    return int(l_Size.ws_col);
}

bool Platform::WriteConsoleText(int, const std::string&)
{
    // A terminal here takes the bytes in the locale's encoding.
    return false;
}

void Platform::Utf8Console()
{
}

void Platform::SetBinaryStream(int)
{
}

void Platform::KeepFreedMemory()
{
#if defined(__GLIBC__)
    // glibc maps blocks above 128 KiB on their own and gives the top of a heap back above
    // 128 KiB free: receive buffers of a few hundred KiB then cost new pages each time.
    ::mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    ::mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
#endif
}

} // namespace Launcher
} // namespace Orvane
