#pragma once
#include <QByteArray>
#include <QString>

#include <set>
#include <vector>

namespace Orvane {
namespace CASC {

/// "ToDownloadCASC.db": one 9-byte index key a line, in lower-case hex.
class CASCDownloadDatabase
{
public:
    /// Replaces the file in one step (write, then rename): a kill leaves the old list or the new one.
    static bool Write(const QString& p_Path, const std::vector<QByteArray>& p_Keys, QString* p_Error = nullptr);
    /// The keys of the file; none when it is missing. Lines that are not 18 hex digits are skipped.
    static std::set<QByteArray> Read(const QString& p_Path);
};

} // namespace CASC
} // namespace Orvane
