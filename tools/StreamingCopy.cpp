#include "tools/StreamingCopy.h"

#include "platform/Md5.h"

#include <QFile>
#include <vector>

namespace Orvane {
namespace Publish {

bool StreamingCopy::Run(const QString& p_Source, const QString& p_Target, QString& p_Md5, qint64& p_Size,
                        QString& p_Error)
{
    QFile l_In(p_Source);
    if (!l_In.open(QIODevice::ReadOnly))
    {
        p_Error = "cannot read " + p_Source + ": " + l_In.errorString();
        return false;
    }
    QFile l_Out(p_Target);
    if (!l_Out.open(QIODevice::WriteOnly | QIODevice::Truncate))
    {
        p_Error = "cannot write " + p_Target + ": " + l_Out.errorString();
        return false;
    }
    Md5 l_Hash;
    std::vector<char> l_Buffer(static_cast<size_t>(BlockBytes));
    p_Size = 0;
    for (;;)
    {
        const qint64 l_Read = l_In.read(l_Buffer.data(), BlockBytes);
        if (l_Read < 0)
        {
            p_Error = "cannot read " + p_Source + ": " + l_In.errorString();
            return false;
        }
        if (l_Read == 0)
            break;
        l_Hash.Add(l_Buffer.data(), l_Read);
        if (l_Out.write(l_Buffer.data(), l_Read) != l_Read)
        {
            p_Error = "cannot write " + p_Target + ": " + l_Out.errorString();
            return false;
        }
        p_Size += l_Read;
    }
    bool l_Ok = l_Out.flush();
    if (l_Ok)
    {
        l_Out.close(); // a failed close (full disk) shows in error()
        l_Ok = l_Out.error() == QFileDevice::NoError;
    }
    if (!l_Ok)
    {
        p_Error = "cannot write " + p_Target + ": " + l_Out.errorString();
        return false;
    }
    p_Md5 = QString::fromLatin1(l_Hash.Result().toHex().toUpper());
    return true;
}

} // namespace Publish
} // namespace Orvane
