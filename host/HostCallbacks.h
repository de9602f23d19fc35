#pragma once
#include "launcher/Application.h"

#include <QString>
#include <QStringList>
#include <QVariant>

namespace Orvane {
namespace Host {

/// The callback table this host gives the module. The table holds plain
/// function pointers, so the state behind it is static: the settings file, the
/// messages shown, the launcher locale, the download turn and the run flags.
class HostCallbacks
{
public:
    /// Opens the settings file (creating its folder) and the download-turn lock
    /// file beside it. False with a reason when the settings cannot be used.
    static bool Open(const QString& p_SettingsPath, QString* p_Error);
    static void Close();

    /// Fills every callback of p_App.
    static void Fill(Launcher::Application* p_App);

    static void SetLocaleTag(const QString& p_Tag);
    static void SetDevChannel(bool p_DevChannel);
    static void SetJson(bool p_Json);
    /// The module reads p_Value for p_Key during this run; the settings file is not
    /// touched, so a killed run leaves nothing behind.
    static void SetRunOverride(const QString& p_Key, const QVariant& p_Value);

    /// IsLauncherRunning's answer (false once the run is ending).
    static void SetRunning(bool p_Running);
    /// While withheld, IsDownloadLocked answers true whoever holds the turn.
    static void SetTurnWithheld(bool p_Withheld);
    /// Gives the turn back if this process holds it.
    static void ReleaseTurn();
    static bool TurnHeldElsewhere();

    /// Errors shown by the module since the last ClearModuleErrors.
    static int ModuleErrorCount();
    static void ClearModuleErrors();
    /// Errors of the host itself (settings not written ...), never cleared.
    static int HostErrorCount();
    static void ReportHostError(const QString& p_Text);

    // The callbacks.
    static void ShowMessageBox(QString p_Text, bool p_Flag);
    static QVariant GetLocalSetting(QString p_Key, QVariant p_Default);
    static void SetLocalSetting(QString p_Key, QVariant p_Value);
    static QStringList GetLocalSettingKeys();
    static void RemoveLocalSetting(QString p_Key);
    static Launcher::LauncherLocale GetLauncherLocale();
    static bool IsDownloadLocked();
    static void LockDownload();
    static void UnlockDownload();
    static bool IsLauncherRunning();
    static bool IsDevChannel();
};

} // namespace Host
} // namespace Orvane
