#include "host/DownloadTurn.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace Orvane {
namespace Host {

intptr_t DownloadTurn::OpenFile(const std::string& p_Path, std::string& p_Error)
{
    int l_Fd = ::open(p_Path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (l_Fd < 0)
        p_Error = p_Path + ": " + std::strerror(errno);
    return l_Fd < 0 ? -1 : l_Fd;
}

int DownloadTurn::TryLock(intptr_t p_Handle, const std::string& p_Path, std::string& p_Error)
{
    // flock locks belong to the open file description, so a second open conflicts even in this process.
    if (::flock(int(p_Handle), LOCK_EX | LOCK_NB) == 0)
        return 1;
    if (errno == EWOULDBLOCK)
        return 0;
    p_Error = p_Path + ": " + std::strerror(errno);
    return -1;
}

void DownloadTurn::Unlock(intptr_t p_Handle)
{
    ::flock(int(p_Handle), LOCK_UN);
}

void DownloadTurn::CloseFile(intptr_t p_Handle)
{
    ::close(int(p_Handle));
}

} // namespace Host
} // namespace Orvane
