// Download queue and verification.
#include "launcher/StandartApplication.h"

namespace Orvane {
namespace Launcher {

void StandartApplication::StartBaseDownloads() {}
void StandartApplication::StartStreamedDownloads(bool) {}
void StandartApplication::WaitForStreamedTurn() {}
void StandartApplication::DownloadCurrentFile() {}
void StandartApplication::ApplyFileAttributes() {}
void StandartApplication::RestartCurrent(const ManifestFile&, HTTP_DownloadFileRequest*, const char*) {}
bool StandartApplication::CheckFreeSpace() { return true; }
void StandartApplication::ResumeDownload() {}
void StandartApplication::App_OnHTTPDownloadProgressUpdate(HTTP_DownloadFileRequest*) {}
void StandartApplication::App_OnHTTPDownloadProgressComplete(HTTP_DownloadFileRequest*) {}
void StandartApplication::App_OnHTTPDownloadRestarted(HTTP_DownloadFileRequest*) {}

} // namespace Launcher
} // namespace Orvane
