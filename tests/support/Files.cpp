#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QByteArray ReadFile(const QString& p_Path)
{
    QFile l_File(p_Path);
    return l_File.open(QIODevice::ReadOnly) ? l_File.readAll() : QByteArray();
}

bool WriteFile(const QString& p_Path, const QByteArray& p_Bytes)
{
    QDir().mkpath(QFileInfo(p_Path).absolutePath());
    QFile l_File(p_Path);
    return l_File.open(QIODevice::WriteOnly | QIODevice::Truncate) && l_File.write(p_Bytes) == p_Bytes.size();
}
