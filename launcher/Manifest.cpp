#include "launcher/Manifest.h"
#include "launcher/LauncherLog.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace Orvane {
namespace Launcher {

bool IsSafeRelativePath(const QString& p_Path)
{
    if (p_Path.isEmpty())
        return false;
    QString l_Path = p_Path;
    l_Path.replace('\\', '/');
    if (l_Path.startsWith('/'))
        return false;
    if (l_Path.size() >= 2 && l_Path.at(1) == ':') // drive letter, "C:..."
        return false;
    if (l_Path.contains(QChar(0)))
        return false;
    for (const QString& l_Part : l_Path.split('/'))
        if (l_Part == QLatin1String(".."))
            return false;
    return true;
}

namespace {
void ReadFiles(const QJsonArray& p_Array, const Manifest& p_Manifest, std::vector<ManifestFile>& p_Out)
{
    for (const QJsonValue& l_Value : p_Array)
    {
        QJsonObject l_Object = l_Value.toObject();
        ManifestFile l_File;
        l_File.Location = l_Object.value("location").toString();
        l_File.Path = l_Object.value("path").toString();
        l_File.Md5 = l_Object.value("md5").toString();
        if (l_Object.contains("flags"))
            l_File.Flags = l_Object.value("flags").toInt();
        QString l_Locale = l_Object.value("locale").toString();
        if (!l_Locale.isEmpty())
        {
            auto l_It = p_Manifest.AvailableLocales.find(l_Locale);
            if (l_It == p_Manifest.AvailableLocales.end())
                continue;
            l_File.Locale = l_It->first;
        }
        if (!IsSafeRelativePath(l_File.Path))
        {
            qCWarning(LauncherLog) << "ParseManifest dropping unsafe path" << l_File.Path;
            continue;
        }
        p_Out.push_back(l_File);
    }
}
} // namespace

Manifest ParseManifest(const QByteArray& p_Data, bool* p_Ok)
{
    Manifest l_Manifest;
    if (p_Ok)
        *p_Ok = false;
    QJsonParseError l_Error;
    QJsonDocument l_Document = QJsonDocument::fromJson(QString::fromUtf8(p_Data).toUtf8(), &l_Error);
    if (l_Error.error != QJsonParseError::NoError || !l_Document.isObject())
        return l_Manifest;

    QJsonObject l_Root = l_Document.object();
    l_Manifest.BuildId = l_Root.value("build_id").toString();
    l_Manifest.BuildStr = l_Root.value("build_str").toString();
    l_Manifest.BuildNumber = uint16_t(l_Root.value("build_number").toInt(0));
    for (const QJsonValue& l_Value : l_Root.value("available_locales").toArray())
    {
        QJsonObject l_Locale = l_Value.toObject();
        QString l_Tag = l_Locale.value("tag").toString();
        l_Manifest.AvailableLocales[l_Tag] = std::make_pair(l_Tag, l_Locale.value("name").toString());
    }
    ReadFiles(l_Root.value("content").toObject().value("base_win").toArray(), l_Manifest, l_Manifest.BaseFiles);
    ReadFiles(l_Root.value("streamed_content").toArray(), l_Manifest, l_Manifest.StreamedFiles);
    if (p_Ok)
        *p_Ok = true;
    return l_Manifest;
}

} // namespace Launcher
} // namespace Orvane
