#pragma once
#include <QtGlobal>

#include <deque>
#include <utility>

namespace Orvane {
namespace Host {

/// The transfer rate the progress line shows, from the bytes moved over the last few seconds (the
/// module's own Speed is an average that lags far behind a fast or short transfer).
class RateMeter
{
public:
    /// Done of a transfer at p_NowMs; a Done that falls starts over. Total is no part of it: with
    /// sizes still unknown it grows while the bytes flow, and the rate holds across that.
    void Add(qint64 p_NowMs, qint64 p_Done);
    void Reset();
    /// Bytes per second over the window; -1 while the samples span less than c_MinSpanMs.
    qint64 Rate() const;

    static constexpr qint64 c_WindowMs = 5000;
    static constexpr qint64 c_MinSpanMs = 500;

private:
    std::deque<std::pair<qint64, qint64>> m_Samples; ///< main thread; (time, Done), oldest first
};

} // namespace Host
} // namespace Orvane
