#pragma once
#include "platform/QtCompat.h"

#include <QtGlobal>

#include <functional>

class QObject;

namespace Orvane {
namespace Launcher {

struct HTTP_DownloadFileRequest;

/// The progress of one file download: the figures it writes into the record (bytes, speed, percent) and how
/// often it tells them (at most one signal per EveryMs; one held back is sent after the pause, so the last
/// figures always arrive). Used on the download thread.
class DownloadProgress
{
public:
    static constexpr qint64 EveryMs = 10;

    /// p_Context: the object whose thread a held-back signal waits on; p_Tell emits the signal.
    DownloadProgress(QObject* p_Context, std::function<void()> p_Tell);

    void Start();
    /// The file holds p_Size bytes now: the record's counts and speed follow.
    void Written(HTTP_DownloadFileRequest& p_Request, qint64 p_Size);
    /// The reply counted p_Current of p_Total (-1 unknown) of its body, which began after p_Before bytes of the file.
    void Counted(HTTP_DownloadFileRequest& p_Request, qint64 p_Before, qint64 p_Current, qint64 p_Total);
    /// Tells a held-back signal now.
    void Flush();
    /// Nothing is told any more (the record is handed back).
    void Stop() { m_Stopped = true; }

private:
    void Tell(bool p_Force);

    // All: the download thread.
    QObject* m_Context;
    std::function<void()> m_Tell;
    Compat::ElapsedTimer m_SinceSignal;
    bool m_Pending = false;    ///< a signal was held back
    bool m_FlushQueued = false; ///< its timer runs
    bool m_Stopped = false;
};

} // namespace Launcher
} // namespace Orvane
