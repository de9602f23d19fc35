#pragma once
#include <QString>

namespace Orvane {
namespace Publish {

/// Copies one file while computing its MD5, a block at a time, so that files
/// of any size take the same small amount of memory.
class StreamingCopy
{
public:
    static constexpr qint64 BlockBytes = 256 * 1024;

    /// Copies p_Source to p_Target (created or truncated). On success p_Md5 is
    /// the digest in upper-case hexadecimal and p_Size the byte count; on
    /// failure p_Error names the file that failed and why.
    static bool Run(const QString& p_Source, const QString& p_Target, QString& p_Md5, qint64& p_Size,
                    QString& p_Error);
};

} // namespace Publish
} // namespace Orvane
