#pragma once
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace Orvane {
namespace Launcher {

/// Reads back and hashes (MD5, 8192-byte blocks) what a transfer appends to its file, on a
/// thread of its own, so that the check of the bytes on disk runs alongside the transfer
/// instead of after it. The writer only appends while it lives: before the file is truncated
/// or removed, the hasher must be deleted (which abandons it).
class ReadBackHasher
{
public:
    explicit ReadBackHasher(const QString& p_Path);
    ~ReadBackHasher();
    ReadBackHasher(const ReadBackHasher&) = delete;
    ReadBackHasher& operator=(const ReadBackHasher&) = delete;

    /// The file now holds p_Size bytes.
    void Written(qint64 p_Size);
    /// The writer has closed the file: hashes what is left, up to the end of the file. True with
    /// the upper-case hexadecimal digest and the number of bytes read; false when the file could
    /// not be read or p_KeepGoing turned false (asked before each block).
    bool Finish(const std::function<bool()>& p_KeepGoing, QString* p_Md5, qint64* p_Bytes);

private:
    void Run();

    QString m_Path;
    std::mutex m_Mutex;
    std::condition_variable m_Wake; ///< more bytes, the end, abandoned
    qint64 m_Written = 0;
    bool m_Finishing = false;
    std::atomic<bool> m_Abandoned{false};
    std::function<bool()> m_KeepGoing;
    bool m_Ok = false;
    QString m_Md5;
    qint64 m_Hashed = 0;
    std::thread m_Thread; ///< last: started once everything above is set up
};

} // namespace Launcher
} // namespace Orvane
