#include "platform/FileWriter.h"

#include <QFile>

namespace Orvane {
namespace Launcher {

qint64 FileWriter::Write(QFile& p_File, const char* p_Data, qint64 p_Size, QString* p_Error)
{
    qint64 l_Done = 0;
    while (l_Done < p_Size)
    {
        // A write the system cuts short sets no error; the next one, refused outright, tells why.
        const qint64 l_Written = p_File.write(p_Data + l_Done, p_Size - l_Done);
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
