#pragma once
#include "platform/QtCompat.h"

#include <QtGlobal>

namespace Orvane {
namespace CASC {

/// Bytes per second of a worker's downloads, sampled for its progress callables.
/// Owned and used on the worker's thread.
class CASCTransferRate
{
public:
    /// Counts from p_Done bytes; the speed is 0 until the first sample.
    void Start(quint64 p_Done);
    /// The count went back to p_Done (bytes of a refused attempt left it).
    void Lower(quint64 p_Done);
    /// Samples from p_Done again, with the clock reset (a resumed or restarted transfer).
    void Restart(quint64 p_Done);
    /// A second or more since the last sample.
    bool Due() const;
    /// The speed since the last sample, which p_Done becomes.
    quint64 Sample(quint64 p_Done);
    quint64 Speed() const { return m_Speed; }

private:
    quint64 m_Mark = 0;
    quint64 m_Speed = 0;
    Compat::ElapsedTimer m_Timer;
};

} // namespace CASC
} // namespace Orvane
