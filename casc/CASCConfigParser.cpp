#include "casc/CASCConfigParser.h"

#include "platform/QtCompat.h"

namespace Orvane {
namespace CASC {

QString CASCConfigParser::Text(const QByteArray& p_Body)
{
    return QString::fromUtf8(p_Body.constData(), int(qstrnlen(p_Body.constData(), uint(p_Body.size()))));
}

template <class F>
int CASCConfigParser::ForEachKey(const QString& p_Text, const QStringList& p_Keys, F p_Take)
{
    int l_Matched = 0;
    // A CRLF file reads like an LF one: a carriage return left on a value would make every key in it invalid.
    for (const QString& l_Line : QString(p_Text).remove('\r').split('\n', Compat::SkipEmptyParts))
        for (int l_Key = 0; l_Key < p_Keys.size(); ++l_Key)
            if (l_Line.startsWith(p_Keys.at(l_Key)))
            {
                // A key without a value empties its field.
                p_Take(l_Key, l_Line.split(" = ", Compat::SkipEmptyParts).value(1));
                ++l_Matched;
                break;
            }
    return l_Matched;
}

QStringList CASCConfigParser::List(const QString& p_Value)
{
    return p_Value.split(' ', Compat::SkipEmptyParts);
}

qint64 CASCConfigParser::Number(const QString& p_Value)
{
    return p_Value.toInt();
}

int CASCConfigParser::ParseCDNConfig(const QString& p_Text, CASCCDNConfig& p_Config)
{
    static const QStringList s_Keys = {"archives = ", "archive-group = ", "patch-archives = ",
                                       "patch-archive-group = ", "builds = "};
    return ForEachKey(p_Text, s_Keys, [&](int p_Key, const QString& p_Value) {
        switch (p_Key)
        {
        case 0: p_Config._Archives = List(p_Value); break;
        case 1: p_Config._ArchiveGroup = p_Value; break;
        case 2: p_Config._PatchArchives = List(p_Value); break;
        case 3: p_Config._PatchArchiveGroup = p_Value; break;
        default: p_Config._Builds = List(p_Value); break;
        }
    });
}

int CASCConfigParser::ParseBuildConfig(const QString& p_Text, CASCBuildConfig& p_Config)
{
    static const QStringList s_Keys = {"root = ", "download = ", "install = ", "encoding = ", "encoding-size = ",
                                       "build-name = ", "build-playbuild-installer = ", "build-product = ",
                                       "build-uid = ", "patch = ", "patch-size = ", "patch-config = "};
    return ForEachKey(p_Text, s_Keys, [&](int p_Key, const QString& p_Value) {
        switch (p_Key)
        {
        case 0: p_Config._Root = p_Value; break;
        case 1: p_Config._Download = p_Value; break;
        case 2: p_Config._Install = p_Value; break;
        case 3: p_Config._Encoding = List(p_Value); break;
        case 4:
            p_Config._EncodingSizes.clear();
            for (const QString& l_Size : List(p_Value))
                p_Config._EncodingSizes.append(Number(l_Size));
            break;
        case 5: p_Config._BuildName = p_Value; break;
        case 6: p_Config._BuildPlaybuildInstaller = p_Value; break;
        case 7: p_Config._BuildProduct = p_Value; break;
        case 8: p_Config._BuildUid = p_Value; break;
        case 9: p_Config._Patch = p_Value; break;
        case 10: p_Config._PatchSize = Number(p_Value); break;
        default: p_Config._PatchConfig = p_Value; break;
        }
    });
}

} // namespace CASC
} // namespace Orvane
