#pragma once
#include "casc/CASCBlobSink.h"
#include "net/Transfer.h"

#include <QPointer>
#include <QString>

#include <memory>
#include <vector>

namespace Orvane {
namespace CASC {

/// One ranged request of the streamed download: one blob, or adjacent blobs of one CDN archive.
/// Owned and touched only by the archive manager's thread.
struct CASCBlobRequest
{
    std::vector<size_t> _Entries;               ///< positions in the to-download list, in CDN offset order
    int _Attempts = 0;                          ///< requests made for these blobs before this one
    QString _Url;
    quint64 _From = 0;
    quint64 _To = 0;                            ///< last byte, inclusive
    bool _Spills = false;                       ///< above the memory bound: the blob goes through the spill file
    QPointer<Launcher::Transfer> _Engine;       ///< null when none runs
    std::shared_ptr<CASCBlobSink> _Sink;
    bool _Copying = false;                      ///< its spilled blob is being copied into the slot off the thread
    bool _CopyHeld = false;                     ///< a stop cut that copy: it runs again on the resume
    quint64 _CopyId = 0;                        ///< the copy whose outcome is awaited

    CASCBlobRequest() = default;
    CASCBlobRequest(const CASCBlobRequest&) = delete;
    CASCBlobRequest& operator=(const CASCBlobRequest&) = delete;
    ~CASCBlobRequest()
    {
        // The engine may outlive this record for a moment; the sink must not reach back.
        if (_Sink)
            _Sink->Detach();
    }
};

} // namespace CASC
} // namespace Orvane
