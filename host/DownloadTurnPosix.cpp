#include "host/DownloadTurn.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace Orvane {
namespace Host {

namespace {
int OpenLockFile(const std::string& p_Path, std::string& p_Error)
{
    int l_Fd = ::open(p_Path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (l_Fd < 0)
        p_Error = p_Path + ": " + std::strerror(errno);
    return l_Fd;
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
    int l_Fd = OpenLockFile(m_Path, m_LastError);
    if (l_Fd < 0)
        return false;
    // flock locks belong to the open file: a second descriptor conflicts even in this process.
    if (::flock(l_Fd, LOCK_EX | LOCK_NB) != 0)
    {
        if (errno != EWOULDBLOCK)
            m_LastError = m_Path + ": " + std::strerror(errno);
        ::close(l_Fd);
        return false;
    }
    m_Handle = l_Fd;
    m_Held = true;
    return true;
}

void DownloadTurn::Release()
{
    if (!m_Held)
        return;
    ::flock(int(m_Handle), LOCK_UN);
    ::close(int(m_Handle));
    m_Handle = -1;
    m_Held = false;
}

bool DownloadTurn::HeldElsewhere()
{
    m_LastError.clear();
    if (m_Held)
        return false;
    int l_Fd = OpenLockFile(m_Path, m_LastError);
    if (l_Fd < 0)
        return false;
    bool l_Elsewhere = false;
    if (::flock(l_Fd, LOCK_EX | LOCK_NB) == 0)
        ::flock(l_Fd, LOCK_UN);
    else
        l_Elsewhere = (errno == EWOULDBLOCK);
    ::close(l_Fd);
    return l_Elsewhere;
}

} // namespace Host
} // namespace Orvane
