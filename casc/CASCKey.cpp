#include "casc/CASCKey.h"

#include "platform/Md5.h"

namespace Orvane {
namespace CASC {

bool CASCKey::IsKey(const QString& p_Key)
{
    if (p_Key.size() != 32)
        return false;
    for (const QChar l_Char : p_Key)
        if (!((l_Char >= '0' && l_Char <= '9') || (l_Char >= 'a' && l_Char <= 'f') || (l_Char >= 'A' && l_Char <= 'F')))
            return false;
    return true;
}

bool CASCKey::Matches(const QByteArray& p_Body, const QString& p_Key)
{
    return IsKey(p_Key) &&
           Md5::Hash(p_Body) == QByteArray::fromHex(p_Key.toLatin1());
}

} // namespace CASC
} // namespace Orvane
