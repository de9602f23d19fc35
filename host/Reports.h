#pragma once
#include "launcher/Application.h"

#include <QJsonObject>
#include <QString>

namespace Orvane {
namespace Host {

class ApplicationLoader;
class InstallState;

/// The answers of the reporting commands, as text or as one JSON object.
class Reports
{
public:
    /// Metadata, identity, resources and IsCASCApp (no Init needed).
    static void Info(const ApplicationLoader& p_Loader, Launcher::Application* p_App, bool p_Json);
    /// What status tells without the server, one row each: installed (whole, files still to fetch, folder
    /// gone), folder, locale, the installed build, content store.
    static void StatusLocal(Launcher::Application* p_App, const InstallState& p_State);
    /// The server's row: its build against the installed one, or why it gave nothing (p_Unreached).
    static void StatusServer(const InstallState& p_State, const QString& p_ServerBuild, const QString& p_Unreached);
    /// The whole status as one JSON object.
    static void StatusJson(Launcher::Application* p_App, const InstallState& p_State, const QString& p_ServerBuild,
                           const QString& p_Unreached);
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
