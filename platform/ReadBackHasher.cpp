#include "platform/ReadBackHasher.h"
#include "platform/FileHasher.h"

#include "platform/Md5.h"

#include <QFile>

namespace Orvane {
namespace Launcher {

ReadBackHasher::ReadBackHasher(const QString& p_Path) : m_Path(p_Path), m_Thread([this] { Run(); }) {}

ReadBackHasher::~ReadBackHasher()
{
    {
        std::lock_guard<std::mutex> l_Lock(m_Mutex);
        m_Abandoned = true;
    }
    m_Wake.notify_all();
    if (m_Thread.joinable())
        m_Thread.join();
}

void ReadBackHasher::Written(qint64 p_Size)
{
    {
        std::lock_guard<std::mutex> l_Lock(m_Mutex);
        m_Written = p_Size;
    }
    m_Wake.notify_all();
}

bool ReadBackHasher::Finish(const std::function<bool()>& p_KeepGoing, QString* p_Md5, qint64* p_Bytes)
{
    {
        std::lock_guard<std::mutex> l_Lock(m_Mutex);
        m_KeepGoing = p_KeepGoing;
        m_Finishing = true;
    }
    m_Wake.notify_all();
    if (m_Thread.joinable())
        m_Thread.join();
    if (!m_Ok)
        return false;
    *p_Md5 = m_Md5;
    *p_Bytes = m_Hashed;
    return true;
}

void ReadBackHasher::Run()
{
    QFile l_File(m_Path);
    if (!l_File.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return;
    Md5 l_Hash;
    char l_Block[FileHasher::BlockSize];
    qint64 l_Hashed = 0;
    qint64 l_Seen = -1; // the writer's size at which the file gave nothing more
    for (;;)
    {
        qint64 l_Written = 0;
        bool l_Finishing = false;
        std::function<bool()> l_KeepGoing;
        {
            std::unique_lock<std::mutex> l_Lock(m_Mutex);
            // Whole blocks only while the writer goes on: the last one may still be growing.
            m_Wake.wait(l_Lock, [&] {
                return m_Abandoned || m_Finishing ||
                       (m_Written >= l_Hashed + FileHasher::BlockSize && m_Written != l_Seen);
            });
            if (m_Abandoned)
                return;
            l_Written = m_Written;
            l_Finishing = m_Finishing;
            l_KeepGoing = m_KeepGoing;
        }
        while (l_Finishing || l_Hashed + FileHasher::BlockSize <= l_Written)
        {
            if (m_Abandoned || (l_KeepGoing && !l_KeepGoing()))
                return;
            const qint64 l_Read = l_File.read(l_Block, FileHasher::BlockSize);
            if (l_Read < 0)
                return;
            if (l_Read == 0)
            {
                if (l_Finishing)
                {
                    m_Md5 = QString::fromLatin1(l_Hash.Result().toHex().toUpper());
                    m_Hashed = l_Hashed;
                    m_Ok = true;
                    return;
                }
                l_Seen = l_Written; // not on disk yet after all: wait for the next write
                break;
            }
            l_Hash.Add(l_Block, l_Read);
            l_Hashed += l_Read;
        }
    }
}

} // namespace Launcher
} // namespace Orvane
