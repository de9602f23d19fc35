#pragma once
#include <QByteArray>
#include <QString>

class QFile;

namespace Orvane {
namespace Launcher {

/// Writes into files and tells why a write fell short.
class FileWriter
{
public:
    /// Writes all of p_Data at p_File's position. Returns the bytes written (-1: none, with an error).
    /// When fewer than p_Data.size() were written, *p_Error (if given) holds the system's reason, also
    /// when the system took part of the data before it refused the rest.
    static qint64 Write(QFile& p_File, const QByteArray& p_Data, QString* p_Error)
    {
        return Write(p_File, p_Data.constData(), p_Data.size(), p_Error);
    }
    static qint64 Write(QFile& p_File, const char* p_Data, qint64 p_Size, QString* p_Error);
};

} // namespace Launcher
} // namespace Orvane
