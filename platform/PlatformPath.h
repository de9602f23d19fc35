#pragma once
// A path as the Platform calls take it. Windows: UTF-8, which they widen (the local 8-bit code page
// cannot spell most names, so QFile::encodeName would turn an install folder in Cyrillic or Chinese
// letters into question marks there). Elsewhere the file system's own encoding.
#include <QFile>
#include <QString>

#include <string>

namespace Orvane {
namespace Launcher {

inline std::string PlatformPath(const QString& p_Path)
{
#if defined(_WIN32)
    const QByteArray l_Bytes = p_Path.toUtf8();
#else
    const QByteArray l_Bytes = QFile::encodeName(p_Path);
#endif
    return std::string(l_Bytes.constData(), size_t(l_Bytes.size()));
}

} // namespace Launcher
} // namespace Orvane
