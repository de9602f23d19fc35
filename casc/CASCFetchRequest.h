#pragma once
#include "casc/CASCBlobSink.h"
#include "net/Transfer.h"
#include "net/TransferSink.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace Orvane {
namespace CASC {

/// One request of the store's fetch loop: a whole file (a base file, the encoding file), or one
/// range of a CDN archive over one blob or adjacent ones. Owned and touched only by the thread
/// of the loop that issues it.
struct CASCFetchRequest
{
    QString _Url;
    QString _Path;                                  ///< a file's final name
    quint64 _From = 0;
    qint64 _To = -1;                                ///< last byte, inclusive; -1: the whole file
    qint64 _Cap = -1;                               ///< bytes a whole file may have; -1: no bound told
    QPointer<Launcher::Transfer> _Engine;           ///< null when none runs
    std::shared_ptr<Launcher::TransferSink> _Sink;  ///< where the body goes
    qint64 _Received = 0;                           ///< body bytes of the current attempt
    int _Attempts = 0;                              ///< requests made before the current one
    bool _Stopped = false;                          ///< ended by a stop or a failure: a resume asks again
    bool _Failed = false;                           ///< ended by a failure
    std::function<void()> _Completion;              ///< a whole file arrived and was accepted

    // Blobs of the streamed download.
    std::vector<size_t> _Entries;                   ///< positions in the to-download list, in CDN offset order
    bool _Spills = false;                           ///< above the memory bound: the blob goes through the spill file
    std::shared_ptr<CASCBlobSink> _Blobs;           ///< the same sink as _Sink, seen as blobs
    bool _Copying = false;                          ///< its spilled blob is being copied into the slot off the thread
    bool _CopyHeld = false;                         ///< a stop cut that copy: it runs again on the resume
    quint64 _CopyId = 0;                            ///< the copy whose outcome is awaited

    /// Bytes the request asks for; -1 for a whole file.
    qint64 Expected() const { return _To < 0 ? -1 : _To - qint64(_From) + 1; }

    CASCFetchRequest() = default;
    CASCFetchRequest(const CASCFetchRequest&) = delete;
    CASCFetchRequest& operator=(const CASCFetchRequest&) = delete;
    ~CASCFetchRequest()
    {
        // The engine may outlive this record for a moment; the sink must not reach back.
        if (_Blobs)
            _Blobs->Detach();
    }
};

} // namespace CASC
} // namespace Orvane
