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

/// The keys of the file's "key = value" lines, each once, in the file's order.
QStringList KeysIn(const QString& p_Text)
{
    QStringList l_Keys;
    for (const QString& l_Line : QString(p_Text).remove('\r').split('\n'))
    {
        const int l_Equal = l_Line.indexOf(" = ");
        if (l_Equal > 0 && !l_Line.startsWith('#') && !l_Keys.contains(l_Line.left(l_Equal)))
            l_Keys << l_Line.left(l_Equal);
    }
    return l_Keys;
}

/// The value of every line with p_Key (a key that may repeat).
QStringList Values(const QString& p_Text, const QString& p_Key)
{
    QStringList l_Values;
    for (const QString& l_Line : QString(p_Text).remove('\r').split('\n'))
        if (l_Line.startsWith(p_Key + " = "))
            l_Values << l_Line.mid(p_Key.size() + 3);
    return l_Values;
}

const QStringList& CdnKeys()
{
    static const QStringList s_Keys{"archives", "archive-group", "patch-archives", "patch-archive-group", "builds"};
    return s_Keys;
}

const QStringList& BuildKeys()
{
    static const QStringList s_Keys{"root", "download", "install", "encoding", "encoding-size", "build-name",
                                    "build-playbuild-installer", "build-product", "build-uid", "patch",
                                    "patch-size", "patch-config"};
    return s_Keys;
}

const QStringList& PatchKeys()
{
    static const QStringList s_Keys{"patch", "patch-size", "patch-entry"};
    return s_Keys;
}

int CountIn(const QStringList& p_Present, const QStringList& p_Known)
{
    int l_Count = 0;
    for (const QString& l_Key : p_Known)
        l_Count += p_Present.contains(l_Key) ? 1 : 0;
    return l_Count;
}

/// "cdn", "build" or "patch" (empty: none of them). The file's own title line decides
/// ("# Build Configuration"); without one, its keys do. A patch configuration shares "patch"
/// and "patch-size" with a build configuration, so those two alone do not make a build one.
QString KindOf(const QString& p_Text, const QStringList& p_Present)
{
    const QString l_Title = p_Text.section('\n', 0, 0).trimmed().toLower();
    for (const char* l_Kind : {"cdn", "build", "patch"})
        if (l_Title == "# " + QString(l_Kind) + " configuration")
            return l_Kind;
    const int l_Cdn = CountIn(p_Present, CdnKeys());
    const int l_Build = CountIn(p_Present, BuildKeys());
    const int l_Patch = CountIn(p_Present, PatchKeys());
    if (l_Cdn == 0 && l_Patch > 0 && l_Build == CountIn(p_Present, {"patch", "patch-size"}))
        return "patch";
    if (l_Cdn == 0 && l_Build == 0)
        return QString();
    return l_Cdn >= l_Build ? "cdn" : "build";
}

} // namespace

int InspectCommand::Config(const Arguments& p_Parsed, const QByteArray& p_Bytes, QTextStream& p_Out, QTextStream& p_Err)
{
    const QString l_Text = CASCConfigParser::Text(p_Bytes);
    CASCCDNConfig l_Cdn;
    CASCBuildConfig l_Build;
    CASCConfigParser::ParseCDNConfig(l_Text, l_Cdn);
    CASCConfigParser::ParseBuildConfig(l_Text, l_Build);
    const QStringList l_Present = KeysIn(l_Text);
    const QStringList l_Entries = Values(l_Text, "patch-entry");
    const QString l_Kind = KindOf(l_Text, l_Present);
    if (l_Kind.isEmpty())
        return Fail(p_Err, CascToolExit::DataError, p_Parsed.m_File + ": no known configuration key");

    QJsonObject l_Fields = l_Kind == "cdn" ? CdnFields(l_Cdn) : BuildFields(l_Build);
    l_Fields.insert("patch-entry", QJsonArray::fromStringList(l_Entries));
    const QStringList& l_Order = l_Kind == "cdn" ? CdnKeys() : l_Kind == "build" ? BuildKeys() : PatchKeys();
    // Only what the file holds: a field it lacks is not an empty value of it.
    QJsonObject l_Shown;
    for (const QString& l_Key : l_Order)
        if (l_Present.contains(l_Key))
            l_Shown.insert(l_Key, l_Fields[l_Key]);
    const QString l_Name = l_Kind == "cdn" ? QStringLiteral("CDN") : l_Kind;
    if (p_Parsed.m_Json)
    {
        PrintJson(QJsonObject{{"kind", l_Kind}, {"keys", l_Shown.size()}, {"fields", l_Shown}}, p_Out);
        return 0;
    }
    p_Out << l_Name << " configuration: " << l_Shown.size() << (l_Shown.size() == 1 ? " field" : " fields");
    const int l_Other = l_Present.size() - l_Shown.size();
    if (l_Other > 0)
        p_Out << " (and " << l_Other << (l_Other == 1 ? " key" : " keys") << " this tool does not read)";
    p_Out << "\n";
    for (const QString& l_Key : l_Order)
    {
        if (!l_Shown.contains(l_Key))
            continue;
        if (l_Key == "patch-entry") // one line each, as in the file
            for (const QString& l_Entry : l_Entries)
                p_Out << l_Key << " = " << l_Entry << "\n";
        else
            p_Out << l_Key << " = " << Text(l_Shown[l_Key]) << "\n";
    }
    return 0;
}

} // namespace CASC
} // namespace Orvane
