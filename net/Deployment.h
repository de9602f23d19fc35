#pragma once
#include <QString>

namespace Orvane {
namespace Launcher {

/// Deployment constants and transfer tuning. Built-in defaults come from the
/// build; the server URL, CDN host and timeouts can be overridden at run time
/// through environment variables (a staging server, a test).
class Deployment
{
public:
    /// Application server base URL, always ending with "/" (KESTRUN_SERVER_URL).
    static QString ServerBaseUrl();
    /// Default CDN host of the content store (KESTRUN_CDN_HOST).
    static QString DefaultCdnHost();
    /// Host of the news placeholder image.
    static QString NewsImageHost();

    /// A transfer that receives nothing for this long is aborted (KESTRUN_STALL_TIMEOUT_MS).
    static int StallTimeoutMs();
    /// Bound of one transfer's read buffer under a rate limit (KESTRUN_READ_BUFFER_BYTES); 8 MiB otherwise.
    static qint64 ReadBufferBytes();
    /// Bytes a reply may hold before Qt stops reading its connection (KESTRUN_HELD_BODY_BYTES, 8 MiB): above
    /// what a writer that keeps up ever holds, so that only a writer left behind has bytes held back (which Qt
    /// drops when the connection closes). Qt holds about half as much again in its own buffers: at 24 MiB a
    /// starved writer took the process to 84 MiB.
    static qint64 HeldBodyBytes();
    /// Self-restarts in a row without progress before a transfer is given up (KESTRUN_MAX_SELF_RESTARTS).
    static int MaxSelfRestarts();
    /// A size request with no answer for this long counts as size 0 (KESTRUN_SIZE_TIMEOUT_MS).
    static int SizeTimeoutMs();
    /// A document fetched into memory past this size fails like a closed connection (KESTRUN_MAX_DOCUMENT_BYTES).
    static qint64 MaxDocumentBytes();

    /// Downloads are hashed as they are written (KESTRUN_HASH_WHILE_WRITING, 1); 0: the caller reads each
    /// finished file back, as it does when the digest is missing (a kept part it could not read).
    static bool HashWhileWriting();
    /// The next file's request is sent while the current file's body travels (KESTRUN_ASK_AHEAD, 1); 0: each
    /// request waits for the end of the file before it.
    static bool AskAhead();

private:
    static QString Text(const char* p_Variable, const char* p_Default);
    static qint64 Number(const char* p_Variable, qint64 p_Default);
};

} // namespace Launcher
} // namespace Orvane
