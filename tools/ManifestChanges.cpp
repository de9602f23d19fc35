#include "tools/ManifestChanges.h"

#include <QJsonArray>
#include <QStringList>
#include <map>

namespace Orvane {
namespace Publish {

namespace {

/// Every file of a manifest by path; streamed files are marked so that a move between the
/// base and the streamed list counts as a change.
std::map<QString, QJsonObject> FilesOf(const QJsonObject& p_Manifest)
{
    std::map<QString, QJsonObject> l_Files;
    const auto l_Add = [&l_Files](const QJsonArray& p_List, bool p_Streamed) {
        for (const QJsonValue& l_Value : p_List)
        {
            QJsonObject l_File = l_Value.toObject();
            l_File.insert("streamed", p_Streamed);
            l_Files[l_File.value("path").toString()] = l_File;
        }
    };
    l_Add(p_Manifest.value("content").toObject().value("base_win").toArray(), false);
    l_Add(p_Manifest.value("streamed_content").toArray(), true);
    return l_Files;
}

QString Paths(const QStringList& p_Paths)
{
    QStringList l_Shown = p_Paths.mid(0, ManifestChanges::Shown);
    if (p_Paths.size() > ManifestChanges::Shown)
        l_Shown << QString("and %1 more").arg(p_Paths.size() - ManifestChanges::Shown);
    return l_Shown.join(", ");
}

QString Count(int p_Count, const QString& p_What)
{
    return QString("%1 %2%3").arg(p_Count).arg(p_What).arg(p_Count == 1 ? "" : "s");
}

QString Locales(const QJsonArray& p_Locales)
{
    QStringList l_Tags;
    for (const QJsonValue& l_Locale : p_Locales)
        l_Tags << l_Locale.toObject().value("tag").toString() + "=" + l_Locale.toObject().value("name").toString();
    return l_Tags.isEmpty() ? QStringLiteral("none") : l_Tags.join(' ');
}

} // namespace

QString ManifestChanges::Describe(const QJsonObject& p_Old, const QJsonObject& p_New)
{
    QStringList l_Parts;
    const QString l_OldText = p_Old.value("build_str").toString(), l_NewText = p_New.value("build_str").toString();
    if (l_OldText != l_NewText)
        l_Parts << "build text '" + l_OldText + "' -> '" + l_NewText + "'";
    const int l_OldNumber = p_Old.value("build_number").toInt(), l_NewNumber = p_New.value("build_number").toInt();
    if (l_OldNumber != l_NewNumber)
        l_Parts << QString("build number %1 -> %2").arg(l_OldNumber).arg(l_NewNumber);
    const QJsonArray l_OldLocales = p_Old.value("available_locales").toArray();
    const QJsonArray l_NewLocales = p_New.value("available_locales").toArray();
    if (l_OldLocales != l_NewLocales)
        l_Parts << "languages " + Locales(l_OldLocales) + " -> " + Locales(l_NewLocales);

    const std::map<QString, QJsonObject> l_Old = FilesOf(p_Old), l_New = FilesOf(p_New);
    QStringList l_Changed, l_Added, l_Removed;
    for (const auto& l_File : l_New)
    {
        const auto l_Before = l_Old.find(l_File.first);
        if (l_Before == l_Old.end())
        {
            l_Added << l_File.first;
            continue;
        }
        QStringList l_What;
        for (const auto& l_Field : {std::make_pair("md5", "content"), std::make_pair("flags", "flags"),
                                    std::make_pair("locale", "language"), std::make_pair("streamed", "streamed")})
            if (l_Before->second.value(l_Field.first) != l_File.second.value(l_Field.first))
                l_What << l_Field.second;
        // Files are stored by digest: a new location only tells of itself when the content is the same.
        if (l_What.isEmpty() && l_Before->second.value("location") != l_File.second.value("location"))
            l_What << "location";
        if (!l_What.isEmpty())
            l_Changed << l_File.first + ": " + l_What.join(" and ");
    }
    for (const auto& l_File : l_Old)
        if (!l_New.count(l_File.first))
            l_Removed << l_File.first;
    if (!l_Changed.isEmpty())
        l_Parts << Count(l_Changed.size(), "file") + " changed (" + Paths(l_Changed) + ")";
    if (!l_Added.isEmpty())
        l_Parts << Count(l_Added.size(), "file") + " added (" + Paths(l_Added) + ")";
    if (!l_Removed.isEmpty())
        l_Parts << Count(l_Removed.size(), "file") + " removed (" + Paths(l_Removed) + ")";
    // Anything else (a key this version does not write, an order of files): still not the same build.
    if (l_Parts.isEmpty() && p_Old != p_New)
        l_Parts << "the manifest's text differs";
    return l_Parts.join("; ");
}

} // namespace Publish
} // namespace Orvane
