#include "platform/Md5Worker.h"

#include <QMutexLocker>
#include <QThread>

#include <algorithm>
#include <cstring>

namespace Orvane {

Md5Worker::Md5Worker() = default;

Md5Worker::~Md5Worker()
{
    if (!m_Thread)
        return;
    {
        QMutexLocker l_Lock(&m_Mutex);
        m_Quit = true;
        m_Changed.wakeAll();
    }
    m_Thread->wait();
}

void Md5Worker::Add(const char* p_Data, qint64 p_Size)
{
    while (p_Size > 0)
    {
        qint64 l_Piece = p_Size;
        char* l_Room = Room(&l_Piece);
        std::memcpy(l_Room, p_Data, size_t(l_Piece));
        Commit(l_Piece);
        p_Data += l_Piece;
        p_Size -= l_Piece;
    }
}

char* Md5Worker::Room(qint64* p_Size)
{
    if (m_Slots.empty())
    {
        m_Slots.resize(c_Slots);
        m_Sizes.assign(c_Slots, 0);
    }
    if (!m_Thread)
    {
        // Hashed on this thread at Commit: slot 0 is only a place to read into.
        *p_Size = std::min(*p_Size, c_SlotBytes);
        return Slot(0);
    }
    if (m_Filling < 0)
    {
        QMutexLocker l_Lock(&m_Mutex);
        while (m_Count == c_Slots)
            m_Changed.wait(&m_Mutex);
        m_Filling = (m_First + m_Count) % c_Slots;
        m_Sizes[size_t(m_Filling)] = 0;
    }
    // The slot being filled is outside the ring: only this thread touches it until it is handed over.
    const qint64 l_Used = m_Sizes[size_t(m_Filling)];
    *p_Size = std::min(*p_Size, c_SlotBytes - l_Used);
    return Slot(m_Filling) + l_Used;
}

char* Md5Worker::Slot(int p_Index)
{
    std::vector<char>& l_Slot = m_Slots[size_t(p_Index)];
    if (l_Slot.empty())
        l_Slot.resize(size_t(c_SlotBytes));
    return l_Slot.data();
}

void Md5Worker::Commit(qint64 p_Size)
{
    if (p_Size <= 0)
        return;
    if (!m_Thread)
    {
        if (m_InlineBytes + p_Size <= InlineBytes)
        {
            m_Md5.Add(m_Slots[0].data(), p_Size);
            m_InlineBytes += p_Size;
            return;
        }
        // Past the inline part: the bytes in slot 0 become the first of the ring, which is empty.
        m_Thread.reset(QThread::create([this] { Run(); }));
        m_Thread->start();
        m_Filling = 0; // m_First + m_Count: nothing was ever handed over
        m_Sizes[0] = 0;
    }
    qint64& l_Used = m_Sizes[size_t(m_Filling)];
    l_Used += p_Size;
    // Handed over nearly full: the network's small pieces cost one wake-up per slot, not one each.
    if (c_SlotBytes - l_Used < c_MinRoom)
        HandOver();
}

void Md5Worker::HandOver()
{
    if (m_Filling < 0)
        return;
    QMutexLocker l_Lock(&m_Mutex);
    m_Filling = -1;
    ++m_Count;
    m_Changed.wakeAll();
}

void Md5Worker::Run()
{
    QMutexLocker l_Lock(&m_Mutex);
    for (;;)
    {
        while (!m_Quit && m_Count == 0)
            m_Changed.wait(&m_Mutex);
        if (m_Quit)
            return;
        const int l_Slot = m_First;
        const qint64 l_Size = m_Sizes[size_t(l_Slot)];
        l_Lock.unlock();
        m_Md5.Add(m_Slots[size_t(l_Slot)].data(), l_Size);
        l_Lock.relock();
        // Only now is the slot free to be filled again.
        m_First = (m_First + 1) % c_Slots;
        --m_Count;
        m_Changed.wakeAll();
    }
}

void Md5Worker::Drain()
{
    while (m_Count > 0)
        m_Changed.wait(&m_Mutex);
}

QByteArray Md5Worker::Result()
{
    HandOver();
    QMutexLocker l_Lock(&m_Mutex);
    Drain();
    m_InlineBytes = 0;
    return m_Md5.Result();
}

void Md5Worker::Reset()
{
    HandOver();
    QMutexLocker l_Lock(&m_Mutex);
    Drain();
    m_InlineBytes = 0;
    m_Md5.Reset();
}

} // namespace Orvane
