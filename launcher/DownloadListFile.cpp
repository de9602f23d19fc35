#include "launcher/DownloadListFile.h"
#include "launcher/LauncherLog.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

namespace Orvane {
namespace Launcher {

DownloadListFile::DownloadListFile(const QString& p_Path) : m_Path(p_Path) {}

bool DownloadListFile::Exists() const
{
    return QFileInfo(m_Path).isFile();
}

QStringList DownloadListFile::Read() const
{
    QStringList l_Lines;
    QFile l_File(m_Path);
    if (!l_File.open(QIODevice::ReadOnly))
        return l_Lines;
    QTextStream l_Stream(&l_File);
    l_Stream.setCodec("UTF-8");
    while (!l_Stream.atEnd())
    {
        QString l_Line = l_Stream.readLine();
        if (!l_Line.isEmpty())
            l_Lines.append(l_Line);
    }
    return l_Lines;
}

bool DownloadListFile::Write(const QStringList& p_Lines) const
{
    QDir().mkpath(QFileInfo(m_Path).absolutePath());
    QByteArray l_Bytes;
    for (const QString& l_Line : p_Lines)
    {
        l_Bytes += l_Line.toUtf8();
        l_Bytes += '\n';
    }
    QSaveFile l_File(m_Path);
    if (!l_File.open(QIODevice::WriteOnly) || l_File.write(l_Bytes) != l_Bytes.size() || !l_File.commit())
    {
        qCWarning(LauncherLog) << "DownloadListFile::Write failed" << m_Path << l_File.errorString();
        return false;
    }
    return true;
}

} // namespace Launcher
} // namespace Orvane
