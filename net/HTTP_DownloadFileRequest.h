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

/// One file download, shared by the download thread (which writes it) and the
/// application (which reads it and writes StopRequested). The fields the application reads while the transfer
/// runs (progress) are atomic; the others it reads only in the completion slot, after the downloader's last
/// write (the queued signal orders them).
struct HTTP_DownloadFileRequest
{
    QString Url;      ///< set before the transfer starts, then only read (both threads)
    QString FilePath; ///< set before the transfer starts, then only read (both threads)
    QNetworkReply* Reply = nullptr;
    Compat::ElapsedTimer SpeedTimer;
    qint64 SpeedSampleBytes = 0;
    std::atomic<qint64> BytesPerSecond{0}; ///< shared: read by the progress slot while written
    uint8_t FilePercent = 0;
    /// Bytes of the file obtained so far, those a resume found on disk included. Shared: read by the progress
    /// slot while written.
    std::atomic<qint64> ReceivedBytes{0};
    qint64 ContentLength = 0;
    qint64 FileSize = 0;
    std::atomic<bool> StopRequested{false}; ///< shared: written by the application, read by the downloader
    bool RestartPending = false;
    bool Resume = false;
    std::function<void()> OnRestart = [] {};
    std::atomic<bool> Stopped{false}; ///< shared: written by the downloader, polled by the application
    /// MD5 (upper-case hexadecimal) of the file, hashed by the downloader as it wrote the bytes (a kept part
    /// read once at the start), and the file's size it covers; empty when not every byte went through it
    /// or the transfer was stopped. Set before the completion.
    QString WrittenMd5;
    qint64 WrittenMd5Bytes = 0;
    /// Size of the whole file as the server gave it (Content-Range total, or Content-Length of a 200); 0 unknown.
    /// Shared: read by the progress slot while written.
    std::atomic<qint64> FullSize{0};
    /// Body bytes this transfer wrote into the file (all its replies); 0: the host delivered nothing.
    qint64 WrittenBytes = 0;
    /// A write into the file failed (full disk, lost device): the file holds what was written before.
    bool WriteFailed = false;
    /// Why the write failed, as the system tells it ("No space left on device" ...); empty when unknown.
    QString WriteError;
    /// The transfer ended normally with the whole body, or the server said nothing was left to send (416 at the
    /// file's length): only then may the caller judge a file of unknown size by its content.
    bool EndedWhole = false;
    /// Why the last request failed, for the user (no credentials in it); empty when it did not.
    QString Reason;
};

} // namespace Launcher
} // namespace Orvane

Q_DECLARE_METATYPE(Orvane::Launcher::HTTP_DownloadFileRequest*)
