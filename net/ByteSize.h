#pragma once
#include <QString>
#include <QtGlobal>

namespace Orvane {
namespace Launcher {

/// The one reader of a byte count or rate typed by a user (settings, command lines of the host and the tools).
class ByteSize
{
public:
    static constexpr qint64 Max = qint64(1) << 40; ///< 1 TiB: far from overflowing, far above any real count

    /// Digits with an optional K, M or G (1024, 1024², 1024³, any case) and an optional trailing "B" ("512KB",
    /// "512B"), blanks around ignored. -1 when malformed (a sign, a fraction, another unit) or above Max.
    static qint64 Parse(QString p_Text);
};

} // namespace Launcher
} // namespace Orvane
