#include "platform/FileHasher.h"

#include "platform/Md5.h"

#include <QFile>

namespace Orvane {
namespace Launcher {

QString FileHasher::Md5(const QString& p_Path, const std::function<bool()>& p_KeepGoing, Result* p_Result)
{
    Result l_Ignored;
    Result& l_Result = p_Result ? *p_Result : l_Ignored;
    QFile l_File(p_Path);
    // Blocks go straight to the hash: a buffered file would copy every byte once more.
    if (!l_File.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
    {
        l_Result = OpenFailed;
        return QString();
    }
    Orvane::Md5 l_Hash;
    char l_Block[BlockSize];
    for (;;)
    {
        if (p_KeepGoing && !p_KeepGoing())
        {
            l_Result = Interrupted;
            return QString();
        }
        qint64 l_Read = l_File.read(l_Block, BlockSize);
        if (l_Read < 0)
        {
            l_Result = ReadFailed;
            return QString();
        }
        if (l_Read == 0)
            break;
        l_Hash.Add(l_Block, l_Read);
    }
    l_Result = Done;
    return QString::fromLatin1(l_Hash.Result().toHex().toUpper());
}

} // namespace Launcher
} // namespace Orvane
