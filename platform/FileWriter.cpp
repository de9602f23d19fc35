#include "platform/FileWriter.h"

#include <QFile>

namespace Orvane {
namespace Launcher {

qint64 FileWriter::Write(QFile& p_File, const QByteArray& p_Data, QString* p_Error)
{
    qint64 l_Done = 0;
    while (l_Done < p_Data.size())
    {
        // A write the system cuts short sets no error; the next one, refused outright, tells why.
        const qint64 l_Written = p_File.write(p_Data.constData() + l_Done, p_Data.size() - l_Done);
        if (l_Written <= 0)
        {
            if (p_Error)
                *p_Error = p_File.errorString();
            return l_Done > 0 ? l_Done : l_Written;
        }
        l_Done += l_Written;
    }
    return l_Done;
}

} // namespace Launcher
} // namespace Orvane
