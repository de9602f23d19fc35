#include "support/Files.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
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

QStringList Listing(const QString& p_Root)
{
    QStringList l_Out;
    for (QDirIterator l_It(p_Root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); l_It.hasNext();)
    {
        const QFileInfo l_Info(l_It.next());
        const QByteArray l_Digest = QCryptographicHash::hash(ReadFile(l_Info.filePath()), QCryptographicHash::Md5).toHex();
        l_Out << QStringLiteral("%1 %2 %3 ").arg(l_Info.filePath()).arg(l_Info.size()).arg(l_Info.lastModified().toMSecsSinceEpoch()) +
                     QString::fromLatin1(l_Digest);
    }
    l_Out.sort();
    return l_Out;
}

bool CopyTree(const QString& p_From, const QString& p_To)
{
    const QDir l_From(p_From);
    if (!QDir().mkpath(p_To))
        return false;
    for (QDirIterator l_It(p_From, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
         l_It.hasNext();)
    {
        const QFileInfo l_Info(l_It.next());
        const QString l_Target = p_To + "/" + l_From.relativeFilePath(l_Info.filePath());
        if (l_Info.isDir())
        {
            if (!QDir().mkpath(l_Target))
                return false;
            continue;
        }
        if (!QFile::copy(l_Info.filePath(), l_Target))
            return false;
        QFile l_Copy(l_Target);
        if (l_Info.isWritable() && (!l_Copy.open(QIODevice::ReadWrite) ||
                                    !l_Copy.setFileTime(l_Info.lastModified(), QFileDevice::FileModificationTime)))
            return false;
    }
    return true;
}
