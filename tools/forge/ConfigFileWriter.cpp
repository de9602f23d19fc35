#include "tools/forge/ConfigFileWriter.h"

#include "platform/Md5.h"


namespace Orvane {
namespace CASC {
namespace Forge {

namespace {

void Line(QByteArray& p_Out, const char* p_Key, const QString& p_Value)
{
    p_Out.append(p_Key).append(" = ").append(p_Value.toUtf8()).append('\n');
}

} // namespace

QString ConfigFileWriter::Key(const QByteArray& p_Text)
{
    return QString::fromLatin1(Md5::Hash(p_Text).toHex());
}

QString ConfigFileWriter::GroupKey(const QStringList& p_Archives)
{
    return Key(p_Archives.join(' ').toLatin1());
}

QByteArray ConfigFileWriter::PatchConfig(const QString& p_Patch, qint64 p_PatchSize)
{
    QByteArray l_Out("# Patch Configuration\n\n");
    Line(l_Out, "patch", p_Patch);
    Line(l_Out, "patch-size", QString::number(p_PatchSize));
    return l_Out;
}

QByteArray ConfigFileWriter::BuildConfig(const BuildFields& p_Fields)
{
    QByteArray l_Out("# Build Configuration\n\n");
    Line(l_Out, "root", p_Fields.m_Root);
    Line(l_Out, "download", p_Fields.m_Download);
    Line(l_Out, "install", p_Fields.m_Install);
    Line(l_Out, "encoding", p_Fields.m_EncodingContentKey + ' ' + p_Fields.m_EncodingKey);
    Line(l_Out, "encoding-size",
         QString::number(p_Fields.m_EncodingContentSize) + ' ' + QString::number(p_Fields.m_EncodingEncodedSize));
    Line(l_Out, "build-name", p_Fields.m_BuildName);
    Line(l_Out, "build-uid", p_Fields.m_BuildUid);
    Line(l_Out, "build-product", p_Fields.m_BuildProduct);
    Line(l_Out, "patch", p_Fields.m_Patch);
    Line(l_Out, "patch-size", QString::number(p_Fields.m_PatchSize));
    Line(l_Out, "patch-config", p_Fields.m_PatchConfig);
    return l_Out;
}

QByteArray ConfigFileWriter::CdnConfig(const QStringList& p_Archives, const QStringList& p_PatchArchives,
                                       const QString& p_BuildConfig)
{
    QByteArray l_Out("# CDN Configuration\n\n");
    Line(l_Out, "archives", p_Archives.join(' '));
    Line(l_Out, "archive-group", GroupKey(p_Archives));
    if (!p_PatchArchives.isEmpty())
    {
        Line(l_Out, "patch-archives", p_PatchArchives.join(' '));
        Line(l_Out, "patch-archive-group", GroupKey(p_PatchArchives));
    }
    Line(l_Out, "builds", p_BuildConfig);
    return l_Out;
}

QByteArray ConfigFileWriter::CdnsTable(const QStringList& p_Regions, const QString& p_Path, const QStringList& p_Hosts)
{
    QByteArray l_Out("Name!STRING:0|Path!STRING:0|Hosts!STRING:0\n");
    for (const QString& l_Region : p_Regions)
        l_Out.append((l_Region + '|' + p_Path + '|' + p_Hosts.join(' ') + '\n').toUtf8());
    return l_Out;
}

QByteArray ConfigFileWriter::VersionsTable(const QStringList& p_Regions, const QString& p_BuildConfig,
                                           const QString& p_CdnConfig, quint32 p_BuildId,
                                           const QString& p_VersionName)
{
    QByteArray l_Out("Region!STRING:0|BuildConfig!HEX:16|CDNConfig!HEX:16|BuildId!DEC:4|VersionsName!String:0\n");
    for (const QString& l_Region : p_Regions)
        l_Out.append(QStringLiteral("%1|%2|%3|%4|%5\n")
                         .arg(l_Region, p_BuildConfig, p_CdnConfig, QString::number(p_BuildId), p_VersionName)
                         .toUtf8());
    return l_Out;
}

} // namespace Forge
} // namespace CASC
} // namespace Orvane
