#include "launcher/FileDigest.h"
#include "launcher/Application.h"
#include "platform/ThreadOwner.h"

#include <QtConcurrent/QtConcurrentRun>

namespace Orvane {
namespace Launcher {

FileDigest::FileDigest(Application& p_App) : m_App(p_App) {}

FileDigest::~FileDigest()
{
    CallOff();
    Wait();
}

void FileDigest::Start(const QString& p_Path, Done p_Done)
{
    KESTRUN_OWNED_BY(m_App.thread());
    const quint64 l_Check = ++m_Checks;
    m_Check = l_Check;
    m_CalledOff = std::make_shared<std::atomic<bool>>(false);
    const std::shared_ptr<std::atomic<bool>> l_CalledOff = m_CalledOff;
    bool (*const l_Running)() = m_App.IsLauncherRunning;
    m_Run = QtConcurrent::run([this, l_Check, l_CalledOff, l_Running, p_Path, p_Done] {
        FileHasher::Result l_Result = FileHasher::Done;
        const QString l_Md5 = FileHasher::Md5(
            p_Path, [&] { return !*l_CalledOff && (!l_Running || l_Running()); }, &l_Result);
        if (*l_CalledOff)
            return;
        m_App.PostMainTask([this, l_Check, p_Done, l_Md5, l_Result] {
            if (l_Check != m_Check)
                return; // called off: a new pass, or the unload
            m_Check = 0;
            m_CalledOff.reset();
            p_Done(l_Md5, l_Result);
        });
    });
}

void FileDigest::CallOff()
{
    KESTRUN_OWNED_BY(m_App.thread());
    if (m_CalledOff)
        *m_CalledOff = true;
    m_CalledOff.reset();
    m_Check = 0;
}

void FileDigest::Wait()
{
    m_Run.waitForFinished();
}

} // namespace Launcher
} // namespace Orvane
