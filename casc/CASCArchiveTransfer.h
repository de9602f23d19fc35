#pragma once
#include <QString>

#include <functional>

class QFile;
class QNetworkReply;

namespace Orvane {
namespace CASC {

/// The archive manager's transfer in progress, reused for every file. Owned and touched only
/// by the archive manager's thread.
struct CASCArchiveTransfer
{
    QString _Url;
    QString _Path;
    QNetworkReply* _Reply = nullptr;
    qint64 _Received = 0;
    bool _Stopped = false;
    quint64 _From = 0;
    qint64 _To = -1; ///< -1: open end
    std::function<void()> _Completion;

    // Checks of the answer, so that only the bytes asked for are ever taken.
    QFile* _File = nullptr;      ///< the local file, open while bytes arrive
    bool _Checked = false;       ///< the status line and range were looked at
    bool _Accepted = false;      ///< they were the ones asked for, and every byte was stored
    QString _Problem;            ///< why the answer was refused, for the report
    int _Attempts = 0;           ///< requests made for this file
    std::function<void()> _Retry; ///< asks again (another CDN host where there is one)
    bool _Retrying = false;      ///< the next request is another attempt at the same file

    /// Bytes the request asks for; -1 for an open end.
    qint64 Expected() const { return _To < 0 ? -1 : _To - qint64(_From) + 1; }
};

} // namespace CASC
} // namespace Orvane
