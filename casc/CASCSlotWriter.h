#pragma once
#include "casc/CASCEncodingMap.h"
#include "casc/CASCSlotCheck.h"

#include <QByteArray>
#include <QFuture>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <deque>
#include <functional>

namespace Orvane {
namespace CASC {

/// Checks blobs received in memory as the scan would (decoded, content key) and writes each with its
/// entry header into its slot, off the stream's thread: that thread goes on reading the next blobs
/// meanwhile. Outcomes come back on the stream's thread, in no set order.
class CASCSlotWriter
{
public:
    enum class Outcome : quint8 { Written, Refused, WriteFailed };
    struct Job
    {
        size_t _Entry = 0;       ///< the list entry whose slot this is
        QString _Archive;        ///< the local archive's path (grown to hold the slot already)
        quint32 _Offset = 0;     ///< of the slot in it
        QByteArray _Slot;        ///< the entry header, then the blob
        QByteArray _Key;         ///< the blob's encoding key
        QByteArray _ContentKey;  ///< its content key when its arrival gave it, else empty
        QString _Url;            ///< where it came from
    };
    struct Result
    {
        Job _Job;                ///< without its slot bytes
        Outcome _Outcome = Outcome::Written;
        CASCSlotCheck::Verdict _Verdict = CASCSlotCheck::Verdict::Whole;
        QString _Error;          ///< the system's reason for a failed write
    };
    using Done = std::function<void(const Result& p_Result)>;

    /// p_Map is read by the pool while jobs run (its owner changes it only once Drain returned).
    /// p_Context: the object whose thread gets the outcomes.
    CASCSlotWriter(const CASCEncodingMap& p_Map, QObject* p_Context, Done p_Done);
    ~CASCSlotWriter();
    CASCSlotWriter(const CASCSlotWriter&) = delete;
    CASCSlotWriter& operator=(const CASCSlotWriter&) = delete;

    /// Queues p_Job. Blocks while the slots held by queued jobs would pass HeldBytes: the memory held
    /// stays bounded when the disk or the checks are slower than the network.
    void Submit(Job p_Job);
    /// Jobs whose outcome has not been delivered yet.
    int Pending() const { return m_Pending; }
    /// Waits for every job to end; outcomes not delivered yet are dropped.
    void Drain();

    /// Slot bytes queued beyond which Submit waits (one job is always let through).
    static constexpr qint64 HeldBytes = 4 * 1024 * 1024;

private:
    struct Running
    {
        QFuture<void> _Run;
        qint64 _Bytes = 0;
    };
    void Forget();

    const CASCEncodingMap& m_Map;  // set once; read by the pool's jobs
    QObject* m_Context;            // set once
    Done m_Done;                   // set once; called on m_Context's thread
    QThreadPool m_Pool;            // the jobs' own threads: the global pool's may be busy scanning
    std::deque<Running> m_Running; // m_Context's thread
    qint64 m_Held = 0;             // m_Context's thread; slot bytes of m_Running
    int m_Pending = 0;             // m_Context's thread
    quint64 m_Generation = 0;      // m_Context's thread; a Drain drops outcomes of earlier jobs
};

} // namespace CASC
} // namespace Orvane
