#include "tools/InspectCommand.h"

#include "casc/CASCConfigParser.h"
#include "tools/CascToolExit.h"

#include <QJsonArray>

namespace Orvane {
namespace CASC {

namespace {

QJsonArray Numbers(const QList<qint64>& p_Values)
{
    QJsonArray l_Out;
    for (qint64 l_Value : p_Values)
        l_Out.append(double(l_Value));
    return l_Out;
}

QJsonObject CdnFields(const CASCCDNConfig& p_Config)
{
    return QJsonObject{{"archives", QJsonArray::fromStringList(p_Config._Archives)},
                       {"archive-group", p_Config._ArchiveGroup},
                       {"patch-archives", QJsonArray::fromStringList(p_Config._PatchArchives)},
                       {"patch-archive-group", p_Config._PatchArchiveGroup},
                       {"builds", QJsonArray::fromStringList(p_Config._Builds)}};
}

QJsonObject BuildFields(const CASCBuildConfig& p_Config)
{
    return QJsonObject{{"root", p_Config._Root},
                       {"download", p_Config._Download},
                       {"install", p_Config._Install},
                       {"encoding", QJsonArray::fromStringList(p_Config._Encoding)},
                       {"encoding-size", Numbers(p_Config._EncodingSizes)},
                       {"build-name", p_Config._BuildName},
                       {"build-playbuild-installer", p_Config._BuildPlaybuildInstaller},
                       {"build-product", p_Config._BuildProduct},
                       {"build-uid", p_Config._BuildUid},
                       {"patch", p_Config._Patch},
                       {"patch-size", double(p_Config._PatchSize)},
                       {"patch-config", p_Config._PatchConfig}};
}

QString Text(const QJsonValue& p_Value)
{
    if (p_Value.isArray())
    {
        QStringList l_Items;
        for (const QJsonValue& l_Item : p_Value.toArray())
            l_Items.append(l_Item.isDouble() ? QString::number(qint64(l_Item.toDouble())) : l_Item.toString());
        return l_Items.join(' ');
    }
    return p_Value.isDouble() ? QString::number(qint64(p_Value.toDouble())) : p_Value.toString();
}

} // namespace

int InspectCommand::Config(const Arguments& p_Parsed, const QByteArray& p_Bytes, QTextStream& p_Out, QTextStream& p_Err)
{
    const QString l_Text = CASCConfigParser::Text(p_Bytes);
    CASCCDNConfig l_Cdn;
    CASCBuildConfig l_Build;
    const int l_CdnKeys = CASCConfigParser::ParseCDNConfig(l_Text, l_Cdn);
    const int l_BuildKeys = CASCConfigParser::ParseBuildConfig(l_Text, l_Build);
    if (l_CdnKeys == 0 && l_BuildKeys == 0)
        return Fail(p_Err, CascToolExit::DataError, p_Parsed.m_File + ": no known configuration key");
    const bool l_IsCdn = l_CdnKeys >= l_BuildKeys;
    const QJsonObject l_Fields = l_IsCdn ? CdnFields(l_Cdn) : BuildFields(l_Build);
    const QString l_Kind = l_IsCdn ? "cdn" : "build";
    if (p_Parsed.m_Json)
    {
        PrintJson(QJsonObject{{"kind", l_Kind}, {"keys", l_IsCdn ? l_CdnKeys : l_BuildKeys},
                                              {"fields", l_Fields}}, p_Out);
        return 0;
    }
    p_Out << l_Kind << " configuration: " << (l_IsCdn ? l_CdnKeys : l_BuildKeys) << " key lines\n";
    // In the file's own key order.
    const QStringList l_Order = l_IsCdn ? QStringList{"archives", "archive-group", "patch-archives",
                                                      "patch-archive-group", "builds"}
                                        : QStringList{"root", "download", "install", "encoding", "encoding-size",
                                                      "build-name", "build-playbuild-installer", "build-product",
                                                      "build-uid", "patch", "patch-size", "patch-config"};
    for (const QString& l_Key : l_Order)
        p_Out << l_Key << " = " << Text(l_Fields[l_Key]) << "\n";
    return 0;
}

} // namespace CASC
} // namespace Orvane
