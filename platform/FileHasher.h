#pragma once
#include <QString>
#include <functional>

namespace Orvane {
namespace Launcher {

/// MD5 of a file on disk, read in 8192-byte blocks.
class FileHasher
{
public:
    enum Result
    {
        Done,        ///< the whole file was read
        OpenFailed,  ///< missing, unreadable or a folder
        ReadFailed,  ///< a read error part-way
        Interrupted, ///< p_KeepGoing turned false (the launcher is closing)
    };

    /// Upper-case hexadecimal MD5 of p_Path; empty unless *p_Result is Done.
    /// p_KeepGoing is asked before each block; an empty one never stops.
    static QString Md5(const QString& p_Path, const std::function<bool()>& p_KeepGoing, Result* p_Result = nullptr);

    static constexpr qint64 BlockSize = 8192;
};

} // namespace Launcher
} // namespace Orvane
