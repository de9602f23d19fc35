#pragma once
#include <QString>

namespace Orvane {
namespace Publish {

/// A byte count given on a command line: digits with an optional K, M or G suffix (binary units).
class SizeArgument
{
public:
    /// False on anything else, a negative value or more than 1 TiB.
    static bool Parse(QString p_Text, qint64& p_Bytes);
};

} // namespace Publish
} // namespace Orvane
