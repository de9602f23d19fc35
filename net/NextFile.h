#pragma once
#include <QString>
#include <QtGlobal>

namespace Orvane {
namespace Launcher {

/// The file expected after the one being downloaded: its request may go out while that one travels.
struct NextFile
{
    QString Url;          ///< empty: no file is expected
    QString Path;         ///< its file, whose size is the range to ask
    qint64 SizeHint = -1; ///< its size as the size request gave it (TransferRequest::SizeHint)
};

} // namespace Launcher
} // namespace Orvane
