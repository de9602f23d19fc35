#include "tools/SizeArgument.h"

namespace Orvane {
namespace Publish {

bool SizeArgument::Parse(QString p_Text, qint64& p_Bytes)
{
    qint64 l_Unit = 1;
    const QString l_Suffix = p_Text.right(1).toUpper();
    if (l_Suffix == "K" || l_Suffix == "M" || l_Suffix == "G")
    {
        l_Unit = l_Suffix == "K" ? 1024 : l_Suffix == "M" ? 1024 * 1024 : qint64(1024) * 1024 * 1024;
        p_Text.chop(1);
    }
    bool l_Ok = false;
    const qint64 l_Value = p_Text.toLongLong(&l_Ok);
    if (!l_Ok || l_Value < 0 || l_Value > (qint64(1) << 40) / l_Unit)
        return false;
    p_Bytes = l_Value * l_Unit;
    return true;
}

} // namespace Publish
} // namespace Orvane
