#include "CascStore.h"

#include "CdnPath.h"
#include "TestBuild.h"

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
    m_Summary = QJsonDocument::fromJson(TestBuild::Read(Root() + "/forge.json")).object();
    return l_Status == 0;
}

bool CascStore::Open(const QString& p_Root)
{
    m_Root = p_Root;
    m_Summary = QJsonDocument::fromJson(TestBuild::Read(Root() + "/forge.json")).object();
    return !m_Summary.isEmpty();
}

QStringList CascStore::Archives(bool p_Patch) const
{
    QStringList l_Names;
    for (const QJsonValue& l_Archive : m_Summary["archives"].toArray())
        if (l_Archive.toObject()["patch"].toBool() == p_Patch)
            l_Names.append(l_Archive.toObject()["name"].toString());
    return l_Names;
}

QString CascStore::CdnPath(const QString& p_Kind, const QString& p_Key) const
{
    return ::CdnPath(p_Kind, p_Key, m_Summary["cdnPath"].toString());
}

QByteArray CascStore::Served(const QString& p_Kind, const QString& p_Key) const
{
    return TestBuild::Read(CdnDocRoot() + CdnPath(p_Kind, p_Key));
}
