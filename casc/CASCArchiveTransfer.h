#pragma once
#include "net/Transfer.h"
#include "net/TransferSink.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

namespace Orvane {
namespace CASC {

/// The archive manager's transfer in progress, reused for every file. Owned and touched only
/// by the archive manager's thread.
struct CASCArchiveTransfer
{
    QString _Url;
    QString _Path;
    QPointer<Launcher::Transfer> _Engine;        ///< null when none runs
    std::shared_ptr<Launcher::TransferSink> _Sink; ///< the local file, bounded by the range
    qint64 _Received = 0;
    bool _Stopped = false;
    quint64 _From = 0;
    qint64 _To = -1; ///< last byte, inclusive
    std::function<void()> _Completion;

    int _Attempts = 0;           ///< requests made for this file
    std::function<void()> _Retry; ///< asks again (another CDN host where there is one)
    bool _Retrying = false;      ///< the next request is another attempt at the same file

    /// Bytes the request asks for.
    qint64 Expected() const { return _To < 0 ? -1 : _To - qint64(_From) + 1; }
};

} // namespace CASC
} // namespace Orvane
