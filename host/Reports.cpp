#include "host/Reports.h"
#include "host/ApplicationLoader.h"
#include "host/Console.h"
#include "host/ContentStoreState.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

namespace Orvane {
namespace Host {

namespace {
void PrintJson(const QJsonObject& p_Object)
{
    Console::Out(QString::fromUtf8(QJsonDocument(p_Object).toJson(QJsonDocument::Compact)));
}

QString Row(const QString& p_Label, const QString& p_Value)
{
    return (p_Label + ":").leftJustified(15) + p_Value;
}
} // namespace

QString Reports::ResourceName(int p_Type)
{
    static const char* const s_Names[] = {"AppBackground", "AppBackgroundColor", "AppBackgroundPosition",
                                          "AppIcon",       "AppIconActive",      "AppNewsSubCategoriesList",
                                          "AppSliderID",   "AppReserved",        "DefaultNewsImg"};
    return (p_Type >= 0 && p_Type < 9) ? QString::fromLatin1(s_Names[p_Type]) : QString::number(p_Type);
}

void Reports::Info(const ApplicationLoader& p_Loader, Launcher::Application* p_App, bool p_Json)
{
    QJsonObject l_Meta = p_Loader.MetaData();
    QJsonArray l_Resources;
    QStringList l_ResourceLines;
    for (int l_Type = 0; l_Type <= 8; ++l_Type)
    {
        QString l_Value = p_App->GetRessource(Launcher::ApplicationRessource::Type(l_Type));
        QJsonObject l_Entry{{"index", l_Type}, {"type", ResourceName(l_Type)}};
        l_Entry.insert("value", l_Value.isNull() ? QJsonValue(QJsonValue::Null) : QJsonValue(l_Value));
        QString l_Shown = l_Value.isNull() ? QStringLiteral("(null)") : "\"" + l_Value + "\"";
        // Embedded images are registered by the module: show that they are really there.
        if (l_Value.startsWith(":/"))
        {
            QFile l_Image(l_Value);
            bool l_Present = l_Image.exists();
            l_Entry.insert("embeddedBytes", l_Present ? double(l_Image.size()) : -1.0);
            l_Shown += l_Present ? " (embedded, " + QString::number(l_Image.size()) + " bytes)"
                                 : QStringLiteral(" (missing)");
        }
        l_Resources.append(l_Entry);
        l_ResourceLines.append("  " + QString::number(l_Type) + " " + ResourceName(l_Type).leftJustified(25) + l_Shown);
    }
    bool l_Casc = p_App->IsCASCApp();

    if (p_Json)
    {
        PrintJson(QJsonObject{{"event", "info"},
                              {"plugin", p_Loader.Path()},
                              {"IID", l_Meta.value("IID")},
                              {"className", l_Meta.value("className")},
                              {"MetaData", l_Meta.value("MetaData")},
                              {"name", p_App->m_Name},
                              {"folder", p_App->m_FolderName},
                              {"resources", l_Resources},
                              {"IsCASCApp", l_Casc}});
        return;
    }
    Console::Out(Row("Plugin", p_Loader.Path()));
    Console::Out(Row("IID", l_Meta.value("IID").toString()));
    Console::Out(Row("Class name", l_Meta.value("className").toString()));
    Console::Out(Row("MetaData", QString::fromUtf8(QJsonDocument(l_Meta.value("MetaData").toObject())
                                                        .toJson(QJsonDocument::Compact))));
    Console::Out(Row("Name", p_App->m_Name));
    Console::Out(Row("Folder", p_App->m_FolderName));
    Console::Out("Resources:");
    for (const QString& l_Line : l_ResourceLines)
        Console::Out(l_Line);
    Console::Out(Row("CASC app", l_Casc ? "yes" : "no"));
}

void Reports::Status(Launcher::Application* p_App, bool p_Json, const QString& p_Build, const QString& p_Unreached)
{
    bool l_Installed = p_App->IsInstalled();
    QString l_Folder = p_App->GetInstallationPath();
    QString l_Locale = p_App->GetAppLocale();
    const Launcher::ApplicationStatus& l_Status = p_App->m_Status;
    const QString l_Build = l_Installed ? p_Build : QString();
    const bool l_Offline = !p_Unreached.isEmpty();
    const bool l_Store = l_Installed && ContentStoreState::Present(l_Folder);
    const int l_Slots = l_Store ? ContentStoreState::SlotsToFetch(l_Folder) : -1;

    if (p_Json)
    {
        QJsonObject l_Result{{"event", "result"},
                             {"name", p_App->m_Name},
                             {"installed", l_Installed},
                             {"folder", l_Folder},
                             {"locale", l_Locale},
                             {"build", l_Build},
                             {"contentStore", l_Store},
                             {"slotsToFetch", l_Slots > 0 ? l_Slots : 0},
                             {"contentStoreScanned", l_Store && l_Slots >= 0},
                             {"ApplicationState", int(l_Status.ApplicationState)},
                             {"serverReached", !l_Offline}};
        if (l_Offline)
            l_Result.insert("server", p_Unreached);
        PrintJson(l_Result);
        return;
    }
    Console::Out(Row("Game", p_App->m_Name + " (" + p_App->m_FolderName + ")"));
    Console::Out(Row("Installed", l_Installed ? "yes" : "no"));
    Console::Out(Row("Folder", l_Folder.isEmpty() ? QStringLiteral("-") : l_Folder));
    Console::Out(Row("Locale", l_Locale));
    QString l_BuildShown = l_Build;
    if (l_Build.isEmpty())
        l_BuildShown = l_Offline && l_Installed ? QStringLiteral("unknown") : QStringLiteral("-");
    else if (l_Offline)
        l_BuildShown += " (the last one brought up to date here)";
    Console::Out(Row("Build", l_BuildShown));
    // A store never scanned has no list: nothing is known of its slots yet.
    Console::Out(Row("Content store", !l_Store       ? QStringLiteral("no")
                                      : l_Slots < 0 ? QStringLiteral("yes, never scanned (update --content-store)")
                                      : l_Slots > 0 ? "yes, " + QString::number(l_Slots) +
                                                          " slots to fetch (update --content-store)"
                                                    : QStringLiteral("yes")));
    if (l_Offline)
        Console::Out("The application server " + p_Unreached + "; this is what is known locally.");
}

void Reports::Locales(Launcher::Application* p_App, bool p_Json)
{
    QString l_Current = p_App->GetAppLocale();
    auto l_Locales = p_App->GetAvailableLocales();
    if (p_Json)
    {
        QJsonArray l_List;
        for (const auto& l_Entry : l_Locales)
            l_List.append(QJsonObject{{"tag", l_Entry.first}, {"name", l_Entry.second}});
        PrintJson(QJsonObject{{"event", "result"}, {"locales", l_List}, {"current", l_Current}});
        return;
    }
    if (l_Locales.empty())
        Console::Out("The build lists no locales.");
    for (const auto& l_Entry : l_Locales)
        Console::Out((l_Entry.first == l_Current ? "* " : "  ") + l_Entry.first + "  " + l_Entry.second);
}

void Reports::Result(const QString& p_Text, QJsonObject p_Fields, bool p_Json)
{
    if (!p_Json)
    {
        Console::Out(p_Text);
        return;
    }
    p_Fields.insert("event", "result");
    p_Fields.insert("text", p_Text);
    PrintJson(p_Fields);
}

void Reports::Notice(const QString& p_Text, bool p_Json)
{
    if (p_Json)
        PrintJson(QJsonObject{{"event", "notice"}, {"text", p_Text}});
    else
        Console::Out(p_Text);
}

} // namespace Host
} // namespace Orvane
