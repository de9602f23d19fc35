#include "host/RateMeter.h"

namespace Orvane {
namespace Host {

void RateMeter::Add(qint64 p_NowMs, qint64 p_Done)
{
    if (!m_Samples.empty() && p_Done < m_Samples.back().second)
        Reset();
    m_Samples.emplace_back(p_NowMs, p_Done);
    // Keep one sample at or before the window's start, so that the window is spanned whole.
    while (m_Samples.size() > 2 && p_NowMs - m_Samples[1].first >= c_WindowMs)
        m_Samples.pop_front();
}

void RateMeter::Reset()
{
    m_Samples.clear();
}

qint64 RateMeter::Rate() const
{
    if (m_Samples.size() < 2)
        return -1;
    const qint64 l_Span = m_Samples.back().first - m_Samples.front().first;
    if (l_Span < c_MinSpanMs)
        return -1;
    return (m_Samples.back().second - m_Samples.front().second) * 1000 / l_Span;
}

} // namespace Host
} // namespace Orvane
