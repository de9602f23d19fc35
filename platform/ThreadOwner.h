#pragma once
// Owning-thread checks. Every member written by one thread names that thread next to it; in test and
// sanitizer builds (KESTRUN_THREAD_CHECKS) a write from any other thread stops the program at once, with
// the place, so a race shows in the first test that runs into it. Release builds check nothing.
#include <QThread>
#include <QtGlobal>

namespace Orvane {
namespace Launcher {

/// Stops the program: members owned by another thread were about to be written at p_File:p_Line.
inline void ThreadOwnerViolated(const char* p_File, int p_Line, const char* p_Owner)
{
    qFatal("%s:%d: members of %s written from another thread", p_File, p_Line, p_Owner);
}

} // namespace Launcher
} // namespace Orvane

#ifdef KESTRUN_THREAD_CHECKS
/// Before members owned by p_Owner (a QThread*) are written: the current thread must be p_Owner.
#define KESTRUN_OWNED_BY(p_Owner)                                                                                     \
    ((QThread::currentThread() == (p_Owner)) ? void(0)                                                                 \
                                             : ::Orvane::Launcher::ThreadOwnerViolated(__FILE__, __LINE__, #p_Owner))
#else
#define KESTRUN_OWNED_BY(p_Owner) void(0)
#endif
