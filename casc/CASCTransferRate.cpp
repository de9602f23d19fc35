#include "casc/CASCTransferRate.h"

#include <algorithm>

namespace Orvane {
namespace CASC {

void CASCTransferRate::Start(quint64 p_Done)
{
    m_Mark = p_Done;
    m_Speed = 0;
    m_Timer.start();
}

void CASCTransferRate::Lower(quint64 p_Done)
{
    m_Mark = std::min(m_Mark, p_Done);
}

void CASCTransferRate::Restart(quint64 p_Done)
{
    m_Mark = p_Done;
    m_Timer.start();
}

bool CASCTransferRate::Due() const
{
    return m_Timer.elapsed() >= 1000;
}

quint64 CASCTransferRate::Sample(quint64 p_Done)
{
    const qint64 l_Elapsed = m_Timer.elapsed();
    m_Speed = l_Elapsed > 0 ? (p_Done - m_Mark) * 1000 / quint64(l_Elapsed) : 0;
    m_Mark = p_Done;
    m_Timer.start();
    return m_Speed;
}

} // namespace CASC
} // namespace Orvane
