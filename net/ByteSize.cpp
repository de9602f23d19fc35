#include "net/ByteSize.h"

namespace Orvane {
namespace Launcher {

qint64 ByteSize::Parse(QString p_Text)
{
    p_Text = p_Text.trimmed();
    if (p_Text.endsWith('B', Qt::CaseInsensitive))
        p_Text.chop(1);
    qint64 l_Unit = 1;
    if (p_Text.endsWith('K', Qt::CaseInsensitive))
        l_Unit = 1024;
    else if (p_Text.endsWith('M', Qt::CaseInsensitive))
        l_Unit = 1024 * 1024;
    else if (p_Text.endsWith('G', Qt::CaseInsensitive))
        l_Unit = 1024 * 1024 * 1024;
    if (l_Unit > 1)
        p_Text.chop(1);
    // Digits only: toLongLong alone would take a sign and blanks inside.
    for (const QChar l_Char : p_Text)
        if (l_Char < '0' || l_Char > '9')
            return -1;
    bool l_Ok = false;
    const qint64 l_Value = p_Text.toLongLong(&l_Ok);
    if (!l_Ok || l_Value > Max / l_Unit)
        return -1;
    return l_Value * l_Unit;
}

} // namespace Launcher
} // namespace Orvane
