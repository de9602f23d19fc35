#include "host/Reports.h"
#include "host/ApplicationLoader.h"
#include "host/Console.h"
#include "host/ContentStoreState.h"
#include "host/InstallState.h"

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

namespace {
QString InstalledText(const InstallState& p_State)
{
    if (!p_State.Installed)
        return QStringLiteral("no");
    if (!p_State.FolderPresent)
        return "no longer: its folder " + p_State.Folder + " is gone (install it again there, or uninstall)";
    if (!p_State.Complete())
        return "not completely: " + p_State.ToFetchText() + " (run: orvane-launcher update)";
    return QStringLiteral("yes");
}
} // namespace

void Reports::StatusLocal(Launcher::Application* p_App, const InstallState& p_State)
{
    const QString l_Folder = p_State.Folder;
    const bool l_Store = p_State.Installed && ContentStoreState::Present(l_Folder);
    const int l_Slots = l_Store ? ContentStoreState::SlotsToFetch(l_Folder) : -1;
    Console::Out(Row("Game", p_App->m_Name + " (" + p_App->m_FolderName + ")"));
    Console::Out(Row("Installed", InstalledText(p_State)));
    Console::Out(Row("Folder", l_Folder.isEmpty() ? QStringLiteral("-") : l_Folder));
    Console::Out(Row("Locale", p_App->GetAppLocale()));
    Console::Out(Row("Build", !p_State.Installed     ? QStringLiteral("-")
                              : p_State.Build.isEmpty() ? QStringLiteral("unknown (never brought up to date here)")
                                                        : p_State.Build));
    // A store never scanned has no list: nothing is known of its slots yet.
    Console::Out(Row("Content store", !l_Store       ? QStringLiteral("no")
                                      : l_Slots < 0 ? QStringLiteral("yes, never scanned (update --content-store)")
                                      : l_Slots > 0 ? "yes, " + QString::number(l_Slots) +
                                                          " slots to fetch (update --content-store)"
                                                    : QStringLiteral("yes")));
}

void Reports::StatusServer(const InstallState& p_State, const QString& p_ServerBuild, const QString& p_Unreached)
{
    QString l_Text;
    if (!p_Unreached.isEmpty())
        l_Text = p_Unreached + "; the rows above are what is known locally";
    else if (p_ServerBuild.isEmpty())
        l_Text = QStringLiteral("reached");
    else if (!p_State.Installed)
        l_Text = "build " + p_ServerBuild;
    else if (p_State.Build.isEmpty())
        l_Text = "build " + p_ServerBuild + (p_State.Complete() ? QString() : " (being installed)");
    else if (p_ServerBuild == p_State.Build)
        l_Text = "build " + p_ServerBuild + " (the installed one)";
    else
        l_Text = "build " + p_ServerBuild + " (update available: run orvane-launcher update)";
    Console::Out(Row("Server", l_Text));
}

void Reports::StatusJson(Launcher::Application* p_App, const InstallState& p_State, const QString& p_ServerBuild,
                         const QString& p_Unreached)
{
    const QString l_Folder = p_State.Folder;
    const bool l_Store = p_State.Installed && ContentStoreState::Present(l_Folder);
    const int l_Slots = l_Store ? ContentStoreState::SlotsToFetch(l_Folder) : -1;
    const bool l_Offline = !p_Unreached.isEmpty();
    QJsonObject l_Result{{"event", "result"},
                         {"name", p_App->m_Name},
                         {"installed", p_State.Installed},
                         {"complete", p_State.Complete()},
                         {"folderPresent", p_State.FolderPresent},
                         {"filesToFetch", p_State.FilesToFetch},
                         {"bytesToFetch", double(p_State.BytesToFetch)},
                         {"streamedChecked", p_State.StreamedChecked},
                         {"folder", l_Folder},
                         {"locale", p_App->GetAppLocale()},
                         {"build", p_State.Installed ? p_State.Build : QString()},
                         {"serverBuild", p_ServerBuild},
                         {"updateAvailable", p_State.Installed && !p_ServerBuild.isEmpty() &&
                                                 !p_State.Build.isEmpty() && p_ServerBuild != p_State.Build},
                         {"contentStore", l_Store},
                         {"slotsToFetch", l_Slots > 0 ? l_Slots : 0},
                         {"contentStoreScanned", l_Store && l_Slots >= 0},
                         {"ApplicationState", int(p_App->m_Status.ApplicationState)},
                         {"serverReached", !l_Offline}};
    if (l_Offline)
        l_Result.insert("server", p_Unreached);
    PrintJson(l_Result);
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
