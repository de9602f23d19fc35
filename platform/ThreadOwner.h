#pragma once
// Owning-thread checks. Every member written by one thread names that thread next to it; with
// KESTRUN_THREAD_CHECKS=1 in the environment (the test suite sets it) a write from any other thread stops
// the program at once, with the place, so a race shows in the first test that runs into it. Without it
// each check costs one load of a flag: test and package builds are the same build.
#include "platform/PlatformLog.h"

#include <QThread>
#include <QtGlobal>

namespace Orvane {
namespace Launcher {

/// Read once: whether the owning-thread checks are on in this process.
inline bool ThreadChecksOn()
{
    static const bool s_On = qEnvironmentVariableIntValue("KESTRUN_THREAD_CHECKS") != 0;
    return s_On;
}

/// Stops the program: members owned by another thread were about to be written at p_File:p_Line.
inline void ThreadOwnerViolated(const char* p_File, int p_Line, const char* p_Owner)
{
    // Fatal cannot be filtered; the category only tells a message handler which layer stopped.
    QMessageLogger(p_File, p_Line, nullptr, PlatformLog().categoryName())
        .fatal("%s:%d: members of %s written from another thread", p_File, p_Line, p_Owner);
}

} // namespace Launcher
} // namespace Orvane

/// Before members owned by p_Owner (a QThread*) are written: the current thread must be p_Owner.
#define KESTRUN_OWNED_BY(p_Owner)                                                                                     \
    ((!::Orvane::Launcher::ThreadChecksOn() || QThread::currentThread() == (p_Owner))                                 \
         ? void(0)                                                                                                     \
         : ::Orvane::Launcher::ThreadOwnerViolated(__FILE__, __LINE__, #p_Owner))
