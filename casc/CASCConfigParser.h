#pragma once
#include "casc/CASCConfigRecords.h"

#include <QByteArray>

namespace Orvane {
namespace CASC {

/// Parses the "key = value" text of the CDN and build configuration files. A line is
/// recognised by its key with the blanks around "=", case-sensitively; other lines
/// (comments, unknown keys) are skipped, and the last line of a key wins.
class CASCConfigParser
{
public:
    /// The body as text: UTF-8 up to its first NUL byte.
    static QString Text(const QByteArray& p_Body);

    /// Each returns the number of lines whose key it recognised.
    static int ParseCDNConfig(const QString& p_Text, CASCCDNConfig& p_Config);
    static int ParseBuildConfig(const QString& p_Text, CASCBuildConfig& p_Config);

private:
    /// Calls p_Take(key number, value) for each line whose key is one of p_Keys.
    template <class F>
    static int ForEachKey(const QString& p_Text, const QStringList& p_Keys, F p_Take);
    static QStringList List(const QString& p_Value);
    /// A signed 32-bit decimal number; anything else is 0.
    static qint64 Number(const QString& p_Value);
};

} // namespace CASC
} // namespace Orvane
