#pragma once
#include "launcher/Application.h"

#include <QJsonObject>
#include <QString>

namespace Orvane {
namespace Host {

class ApplicationLoader;

/// The answers of the reporting commands, as text or as one JSON object.
class Reports
{
public:
    /// Metadata, identity, resources and IsCASCApp (no Init needed).
    static void Info(const ApplicationLoader& p_Loader, Launcher::Application* p_App, bool p_Json);
    /// Installed or not, folder, locale, build, content store. p_Unreached, when not empty, says why
    /// the application server gave nothing: the report is then what the settings and the disk tell.
    static void Status(Launcher::Application* p_App, bool p_Json, const QString& p_Build, const QString& p_Unreached);
    /// The build's locales; the game's current one is marked.
    static void Locales(Launcher::Application* p_App, bool p_Json);
    /// A result line: text, or {"event":"result", ...} in JSON mode.
    static void Result(const QString& p_Text, QJsonObject p_Fields, bool p_Json);

    /// A notice of the run: text, or {"event":"notice", ...} in JSON mode.
    static void Notice(const QString& p_Text, bool p_Json);

    static QString ResourceName(int p_Type);
};

} // namespace Host
} // namespace Orvane
