#include "host/HostCallbacks.h"
#include "host/Console.h"
#include "host/DownloadTurn.h"
#include "host/HostLog.h"
#include "platform/PlatformPath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

#include <atomic>
#include <memory>
#include <mutex>

namespace Orvane {
namespace Host {

namespace {

struct State
{
    std::mutex SettingsMutex; ///< one QSettings user at a time (callbacks come from several threads)
    QString SettingsPath;
    bool SettingsWriteReported = false;
    QVariantMap RunOverrides; ///< under SettingsMutex; settings that hold for this run only

    std::mutex TurnMutex;
    std::unique_ptr<DownloadTurn> Turn;
    bool TurnErrorReported = false;

    QString LocaleTag = QStringLiteral("enUS");
    std::atomic<bool> DevChannel{false};
    std::atomic<bool> Json{false};
    std::atomic<bool> Running{true};
    std::atomic<bool> TurnWithheld{false};
    std::atomic<int> ModuleErrors{0};
    std::atomic<int> HostErrors{0};
};

State& S()
{
    static State s_State;
    return s_State;
}

void PrintMessage(const QString& p_Kind, const QString& p_Text, bool p_Error)
{
    if (S().Json)
    {
        QJsonObject l_Event{{"event", p_Kind}, {"text", p_Text}};
        Console::Out(QString::fromUtf8(QJsonDocument(l_Event).toJson(QJsonDocument::Compact)));
    }
    if (p_Error)
        Console::Err("error: " + p_Text);
    else if (!S().Json)
        Console::Out(p_Text);
}

/// Called with the settings mutex held, after every write.
void CheckWritten(QSettings& p_Settings)
{
    p_Settings.sync();
    if (p_Settings.status() == QSettings::NoError || S().SettingsWriteReported)
        return;
    S().SettingsWriteReported = true;
    HostCallbacks::ReportHostError("cannot write the settings file " + S().SettingsPath +
                                   "; the installation state may be lost");
}

} // namespace

bool HostCallbacks::Open(const QString& p_SettingsPath, QString* p_Error)
{
    QFileInfo l_Info(p_SettingsPath);
    if (!QDir().mkpath(l_Info.absolutePath()))
    {
        *p_Error = "cannot create the settings folder " + l_Info.absolutePath();
        return false;
    }
    if (l_Info.exists() && !l_Info.isFile())
    {
        *p_Error = "the settings path " + p_SettingsPath + " is not a file";
        return false;
    }
    if (l_Info.exists() && !l_Info.isReadable())
    {
        *p_Error = "cannot read the settings file " + p_SettingsPath;
        return false;
    }
    {
        QSettings l_Settings(p_SettingsPath, QSettings::IniFormat);
        l_Settings.allKeys();
        // Writing over a file we could not parse would lose what it holds.
        if (l_Settings.status() == QSettings::FormatError)
        {
            *p_Error = "the settings file " + p_SettingsPath + " is malformed; fix or remove it";
            return false;
        }
        if (l_Settings.status() == QSettings::AccessError)
        {
            *p_Error = "cannot read the settings file " + p_SettingsPath;
            return false;
        }
    }
    {
        std::lock_guard<std::mutex> l_Lock(S().SettingsMutex);
        S().SettingsPath = l_Info.absoluteFilePath();
    }
    // Not "<settings>.lock": QSettings locks its file under that name while it writes.
    const QString l_TurnFile = l_Info.absolutePath() + "/" + l_Info.completeBaseName() + ".download.lock";
    std::lock_guard<std::mutex> l_Lock(S().TurnMutex);
    S().Turn.reset(new DownloadTurn(Launcher::PlatformPath(l_TurnFile)));
    return true;
}

void HostCallbacks::Close()
{
    std::lock_guard<std::mutex> l_Lock(S().TurnMutex);
    S().Turn.reset();
}

void HostCallbacks::Fill(Launcher::Application* p_App)
{
    p_App->ShowMessageBox = &HostCallbacks::ShowMessageBox;
    p_App->GetLocalSetting = &HostCallbacks::GetLocalSetting;
    p_App->SetLocalSetting = &HostCallbacks::SetLocalSetting;
    p_App->GetLocalSettingKeys = &HostCallbacks::GetLocalSettingKeys;
    p_App->RemoveLocalSetting = &HostCallbacks::RemoveLocalSetting;
    p_App->GetLauncherLocale = &HostCallbacks::GetLauncherLocale;
    p_App->IsDownloadLocked = &HostCallbacks::IsDownloadLocked;
    p_App->LockDownload = &HostCallbacks::LockDownload;
    p_App->UnlockDownload = &HostCallbacks::UnlockDownload;
    p_App->IsLauncherRunning = &HostCallbacks::IsLauncherRunning;
    p_App->IsDevChannel = &HostCallbacks::IsDevChannel;
}

void HostCallbacks::SetLocaleTag(const QString& p_Tag)
{
    S().LocaleTag = p_Tag;
}

void HostCallbacks::SetDevChannel(bool p_DevChannel)
{
    S().DevChannel = p_DevChannel;
}

void HostCallbacks::SetJson(bool p_Json)
{
    S().Json = p_Json;
}

void HostCallbacks::SetRunOverride(const QString& p_Key, const QVariant& p_Value)
{
    std::lock_guard<std::mutex> l_Lock(S().SettingsMutex);
    S().RunOverrides.insert(p_Key, p_Value);
}

void HostCallbacks::SetRunning(bool p_Running)
{
    S().Running = p_Running;
}

void HostCallbacks::SetTurnWithheld(bool p_Withheld)
{
    S().TurnWithheld = p_Withheld;
}

void HostCallbacks::ReleaseTurn()
{
    std::lock_guard<std::mutex> l_Lock(S().TurnMutex);
    if (S().Turn)
        S().Turn->Release();
}

bool HostCallbacks::TurnHeldElsewhere()
{
    std::lock_guard<std::mutex> l_Lock(S().TurnMutex);
    return S().Turn && S().Turn->HeldElsewhere();
}

int HostCallbacks::ModuleErrorCount()
{
    return S().ModuleErrors;
}

void HostCallbacks::ClearModuleErrors()
{
    S().ModuleErrors = 0;
}

int HostCallbacks::HostErrorCount()
{
    return S().HostErrors;
}

void HostCallbacks::ReportHostError(const QString& p_Text)
{
    ++S().HostErrors;
    PrintMessage("error", p_Text, true);
}

// ---------------------------------------------------------------------------
// The callbacks.

void HostCallbacks::ShowMessageBox(QString p_Text, bool p_Flag)
{
    if (!p_Flag)
        ++S().ModuleErrors;
    PrintMessage(p_Flag ? "notice" : "error", p_Text, !p_Flag);
}

QVariant HostCallbacks::GetLocalSetting(QString p_Key, QVariant p_Default)
{
    std::lock_guard<std::mutex> l_Lock(S().SettingsMutex);
    const auto l_Override = S().RunOverrides.constFind(p_Key);
    if (l_Override != S().RunOverrides.constEnd())
        return *l_Override;
    QSettings l_Settings(S().SettingsPath, QSettings::IniFormat);
    return l_Settings.value(p_Key, p_Default);
}

void HostCallbacks::SetLocalSetting(QString p_Key, QVariant p_Value)
{
    std::lock_guard<std::mutex> l_Lock(S().SettingsMutex);
    QSettings l_Settings(S().SettingsPath, QSettings::IniFormat);
    l_Settings.setValue(p_Key, p_Value);
    CheckWritten(l_Settings);
}

QStringList HostCallbacks::GetLocalSettingKeys()
{
    std::lock_guard<std::mutex> l_Lock(S().SettingsMutex);
    QSettings l_Settings(S().SettingsPath, QSettings::IniFormat);
    return l_Settings.allKeys();
}

void HostCallbacks::RemoveLocalSetting(QString p_Key)
{
    std::lock_guard<std::mutex> l_Lock(S().SettingsMutex);
    QSettings l_Settings(S().SettingsPath, QSettings::IniFormat);
    l_Settings.remove(p_Key);
    CheckWritten(l_Settings);
}

Launcher::LauncherLocale HostCallbacks::GetLauncherLocale()
{
    return Launcher::LauncherLocaleByTag(S().LocaleTag);
}

bool HostCallbacks::IsDownloadLocked()
{
    if (S().TurnWithheld)
        return true;
    std::lock_guard<std::mutex> l_Lock(S().TurnMutex);
    if (!S().Turn)
        return false;
    // Asking reserves the turn, so that no other launcher takes it before LockDownload.
    if (S().Turn->Take())
        return false;
    if (S().Turn->LastError().empty())
        return true; // another launcher process holds it
    // Without a lock file the turn cannot be shared; downloading beats waiting forever.
    if (!S().TurnErrorReported)
    {
        S().TurnErrorReported = true;
        Console::Err("warning: cannot use the download-turn lock file (" +
                     QString::fromStdString(S().Turn->LastError()) + "); not coordinating with other launchers");
    }
    return false;
}

void HostCallbacks::LockDownload()
{
    std::lock_guard<std::mutex> l_Lock(S().TurnMutex);
    if (S().Turn && !S().Turn->Take())
        qCWarning(HostLog) << "HostCallbacks::LockDownload the download turn is held by another launcher process";
}

void HostCallbacks::UnlockDownload()
{
    std::lock_guard<std::mutex> l_Lock(S().TurnMutex);
    if (S().Turn)
        S().Turn->Release();
}

bool HostCallbacks::IsLauncherRunning()
{
    return S().Running;
}

bool HostCallbacks::IsDevChannel()
{
    return S().DevChannel;
}

} // namespace Host
} // namespace Orvane
