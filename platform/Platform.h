#pragma once
// The operating-system calls of the module. Standard C++ types only, so that the
// Windows implementation builds without Qt. Paths are UTF-8.
#include <cstdint>
#include <string>
#include <vector>

namespace Orvane {
namespace Launcher {

class Platform
{
public:
    /// True when the 64-bit client suits this machine (64-bit Windows under
    /// IsWow64Process, or a 64-bit build elsewhere).
    static bool Is64BitSystem();

    /// Clears the read-only attribute (Windows) or adds the owner write bit (POSIX).
    static bool ClearReadOnly(const std::string& p_Path);
    /// Removes every write bit: read-only for everyone.
    static bool MakeReadOnly(const std::string& p_Path);
    /// Read, write and execute for everyone; clears the read-only attribute.
    static bool MakeFullPermissions(const std::string& p_Path);

    /// Renames p_From to p_To in one step, replacing p_To when it exists (Windows' C rename refuses an
    /// existing target and takes 8-bit names); false when the system refuses.
    static bool RenameOver(const std::string& p_From, const std::string& p_To);

    /// True when another handle holds p_Path open without letting it be deleted or renamed over (a program
    /// that opened it without delete sharing, on Windows); such a file is free again once that handle closes.
    /// Always false elsewhere, where an open file never stops a rename or a delete.
    static bool InUse(const std::string& p_Path);

    /// Bytes free for the current user on the volume holding p_Path; -1 when unknown.
    static int64_t FreeDiskSpace(const std::string& p_Path);

    /// Executable paths of the running processes, one per entry.
    static std::vector<std::string> RunningExecutables();

    /// Columns of the terminal standard output writes to; 0 when it is no terminal or does not say.
    static int TerminalColumns();

    /// Writes UTF-8 text to standard output (1) or standard error (2) when that stream is a Windows
    /// console, in wide characters so that every letter shows whatever the console's code page; false
    /// (nothing written) when it is a pipe, a file or any other system's terminal.
    static bool WriteConsoleText(int p_Stream, const std::string& p_Utf8);

    /// A Windows console that standard output or error is shows UTF-8 text right (its code page set to
    /// UTF-8) for programs that write bytes; nothing elsewhere.
    static void Utf8Console();

    /// Standard input (0) or output (1) carries bytes as they are: Windows' C run time otherwise turns
    /// "\n" into "\r\n" on output and stops reading at a Ctrl-Z byte. Nothing to do elsewhere.
    static void SetBinaryStream(int p_Stream);

    /// For a program that downloads: freed memory stays with the allocator for the next allocation
    /// instead of going back to the system. The network layer allocates and frees its receive buffers
    /// at line rate; returned each time, every buffer comes back as fresh pages (a fault and a zeroing
    /// per page, far more on a virtual machine). The peak stays what the program used. Call once, early.
    static void KeepFreedMemory();
};

} // namespace Launcher
} // namespace Orvane
