#include "CascStore.h"

#include "tools/forge/ForgeCommand.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTextStream>

bool CascStore::Forge(const QStringList& p_Args)
{
    QString l_Out;
    QTextStream l_OutStream(&l_Out);
    QTextStream l_ErrStream(&m_Error);
    const int l_Status = Orvane::CASC::Forge::ForgeCommand::Run(QStringList{Root(), "--force"} + p_Args, l_OutStream,
                                                               l_ErrStream);
    l_ErrStream.flush();
    m_Summary = QJsonDocument::fromJson(Read(Root() + "/forge.json")).object();
    return l_Status == 0;
}

QStringList CascStore::Archives(bool p_Patch) const
{
    QStringList l_Names;
    for (const QJsonValue& l_Archive : m_Summary["archives"].toArray())
        if (l_Archive.toObject()["patch"].toBool() == p_Patch)
            l_Names.append(l_Archive.toObject()["name"].toString());
    return l_Names;
}

QByteArray CascStore::Read(const QString& p_Path)
{
    QFile l_File(p_Path);
    return l_File.open(QIODevice::ReadOnly) ? l_File.readAll() : QByteArray();
}

bool CascStore::Write(const QString& p_Path, const QByteArray& p_Bytes)
{
    QDir().mkpath(QFileInfo(p_Path).absolutePath());
    QFile l_File(p_Path);
    return l_File.open(QIODevice::WriteOnly | QIODevice::Truncate) && l_File.write(p_Bytes) == p_Bytes.size();
}
