#pragma once
#include <QMetaType>
#include <QString>
#include "platform/QtCompat.h"
#include <atomic>
#include <cstdint>
#include <functional>

class QNetworkReply;

namespace Orvane {
namespace Launcher {

/// One file download, shared by the downloader thread (which writes it) and the
/// application (which reads it and writes StopRequested).
struct HTTP_DownloadFileRequest
{
    QString Url;
    QString FilePath;
    QNetworkReply* Reply = nullptr;
    Compat::ElapsedTimer SpeedTimer;
    qint64 SpeedSampleBytes = 0;
    qint64 BytesPerSecond = 0;
    uint8_t FilePercent = 0;
    qint64 ReceivedBytes = 0; ///< bytes of the file obtained so far, those a resume found on disk included
    qint64 ContentLength = 0;
    qint64 FileSize = 0;
    std::atomic<bool> StopRequested{false};
    bool RestartPending = false;
    bool Resume = false;
    std::function<void()> OnRestart = [] {};
    std::atomic<bool> Stopped{false};
    /// MD5 (upper-case hexadecimal) of the file as read back from disk by the downloader while it
    /// wrote it, and the number of bytes read; empty when it was not read back. Set before the completion.
    QString ReadBackMd5;
    qint64 ReadBackBytes = 0;
    /// Size of the whole file as the server gave it (Content-Range total, or Content-Length of a 200); 0 unknown.
    qint64 FullSize = 0;
    /// Body bytes this transfer wrote into the file (all its replies); 0: the host delivered nothing.
    qint64 WrittenBytes = 0;
    /// A write into the file failed (full disk, lost device): the file holds what was written before.
    bool WriteFailed = false;
    /// The transfer ended normally with the whole body, or the server said nothing was left to send (416 at the
    /// file's length): only then may the caller judge a file of unknown size by its content.
    bool EndedWhole = false;
    /// Why the last request failed, for the user (no credentials in it); empty when it did not.
    QString Reason;
};

} // namespace Launcher
} // namespace Orvane

Q_DECLARE_METATYPE(Orvane::Launcher::HTTP_DownloadFileRequest*)
