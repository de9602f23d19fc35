#pragma once
#include <QByteArray>
#include <QString>

namespace Orvane {
namespace CASC {

/// Keys that come from the network name files and URLs: nothing but 32 hex digits may.
class CASCKey
{
public:
    /// 32 hexadecimal digits, either case.
    static bool IsKey(const QString& p_Key);
    /// p_Body's MD5 is the digest p_Key writes.
    static bool Matches(const QByteArray& p_Body, const QString& p_Key);
};

} // namespace CASC
} // namespace Orvane
