#pragma once
#include <QString>

#include <functional>
#include <memory>

namespace Orvane {
namespace Launcher {

struct HTTP_DownloadFileRequest;
class TransferSink;

/// The file one download writes: a kept part resumed from or emptied, a new one created while its request
/// travels, every byte hashed as it is written. Used on the download thread.
class DownloadFile
{
public:
    DownloadFile();
    ~DownloadFile();

    void Create(const QString& p_Path);
    /// Null before Create and after Release.
    TransferSink* Sink() const { return m_Sink.get(); }
    /// Before each request: the record's counts start from what the file keeps (p_Request.Resume) or the file is
    /// emptied; the kept part is hashed unless p_Go turns false. False: the kept part cannot be opened.
    bool Prepare(HTTP_DownloadFileRequest& p_Request, const std::function<bool()>& p_Go);
    /// The kept bytes are not part of the resource: the file and the record's counts start over.
    void StartOver(HTTP_DownloadFileRequest& p_Request);
    /// After the last request: closed, and its digest in the record unless a stop was asked.
    void End(HTTP_DownloadFileRequest& p_Request);
    void Release();

private:
    std::unique_ptr<TransferSink> m_Sink; ///< the download thread
};

} // namespace Launcher
} // namespace Orvane
