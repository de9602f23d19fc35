#pragma once
#include "platform/Md5.h"

#include <QByteArray>
#include <QMutex>
#include <QWaitCondition>
#include <QtGlobal>

#include <memory>
#include <vector>

class QThread;

namespace Orvane {

/// MD5 of a stream on a thread of its own, so that hashing overlaps whatever the caller does next (a file
/// write). Bytes are hashed in the order given; they go into a small ring of reused buffers, each handed to
/// the thread once full, and only a full ring makes the caller wait. A caller that reads its bytes from
/// somewhere can read them straight into the ring (Room, Commit) instead of copying them in (Add). The first
/// bytes are hashed on the caller's thread: a short stream is done before a thread would have started.
/// Used by one caller thread.
class Md5Worker
{
public:
    /// Bytes hashed on the caller's thread before the worker thread starts.
    static constexpr qint64 InlineBytes = 1024 * 1024;

    Md5Worker();
    ~Md5Worker();
    Md5Worker(const Md5Worker&) = delete;
    Md5Worker& operator=(const Md5Worker&) = delete;

    void Add(const char* p_Data, qint64 p_Size);
    /// Where the next bytes of the stream may be placed: at least 1 and at most *p_Size bytes (*p_Size > 0;
    /// set to the room given). Valid until the next call.
    char* Room(qint64* p_Size);
    /// The first p_Size bytes of the last Room (at most its size) are the next bytes of the stream.
    void Commit(qint64 p_Size);
    /// The 16-byte digest of everything added since the start or the last Reset (waits for the ring to
    /// drain); starts over.
    QByteArray Result();
    /// Drops everything added so far (waits for the ring to drain).
    void Reset();

private:
    void Run();
    /// Puts the slot being filled, if any, into the ring.
    void HandOver();
    /// The caller's thread, for a slot outside the ring: its bytes, allocated on first use.
    char* Slot(int p_Index);
    /// With m_Mutex held: waits until the worker has hashed every chunk given.
    void Drain();

    static constexpr int c_Slots = 8;
    static constexpr qint64 c_SlotBytes = 256 * 1024;
    /// A slot with less room than this is handed over: no run of tiny reads at its end.
    static constexpr qint64 c_MinRoom = 32 * 1024;

    /// The caller's thread until the worker starts; then the worker's, and the caller's under m_Mutex once the
    /// ring is empty (Result, Reset).
    Md5 m_Md5;
    qint64 m_InlineBytes = 0;  ///< caller's thread
    std::unique_ptr<QThread> m_Thread; ///< caller's thread; started on the first Add past InlineBytes
    QMutex m_Mutex;
    QWaitCondition m_Changed;
    std::vector<std::vector<char>> m_Slots; ///< allocated on first use (slot 0 is the room of the inline part); a slot in the ring: the worker reads it
    std::vector<qint64> m_Sizes;            ///< m_Mutex for slots in the ring; the caller's for m_Filling
    int m_Filling = -1;                     ///< caller's thread: the slot being filled, not in the ring yet; -1 none
    int m_First = 0;                        ///< m_Mutex: the oldest slot in the ring
    int m_Count = 0;                        ///< m_Mutex: slots in the ring (the one being hashed included)
    bool m_Quit = false;                    ///< m_Mutex
};

} // namespace Orvane
