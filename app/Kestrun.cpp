#include "app/Kestrun.h"
#include "launcher/LauncherLog.h"
#include "net/Deployment.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace Orvane {
namespace Launcher {

Kestrun::Kestrun() : StandartApplication(APP_NAME, APP_FOLDER) {}

void Kestrun::Init()
{
    StandartApplication::Init();
    if (IsInstalled())
        SetLocalSetting(SettingKey(".IsCASCEnabled"), false);
}

QString const Kestrun::GetRessource(ApplicationRessource::Type p_Ressource)
{
    switch (p_Ressource)
    {
        case ApplicationRessource::AppBackground:
            return QStringLiteral(":/BG-Launcher_BFA.png");
        case ApplicationRessource::AppBackgroundColor:
            return QStringLiteral("#09111C");
        case ApplicationRessource::AppBackgroundPosition:
            return QStringLiteral("top right");
        case ApplicationRessource::AppIcon:
            return QStringLiteral(":/Launcher_icon_BFA_off.png");
        case ApplicationRessource::AppIconActive:
            return QStringLiteral(":/Launcher_icon_BFA_on.png");
        case ApplicationRessource::AppNewsSubCategoriesList:
            return QStringLiteral("22");
        case ApplicationRessource::AppSliderID:
            return QStringLiteral("17");
        case ApplicationRessource::DefaultNewsImg:
            return "http://" + Deployment::NewsImageHost() + "/assets/img/placeholders/news_dev_legion.png";
        default:
            return QString();
    }
}

namespace {
/// The client's configuration file; empty when no install folder is set (never
/// edit a file of the launcher's own folder).
QString ConfigFile(const QString& p_Folder)
{
    if (p_Folder.trimmed().isEmpty())
        return QString();
    return p_Folder + QStringLiteral("WTF/Config.wtf");
}
} // namespace

bool Kestrun::Start(QString p_Login, QString p_Password)
{
    // The client rebuilds its cache on every start. Without an install folder
    // "Cache/" would name the launcher's own folder.
    QString l_Folder = GetInstallationPath();
    if (!l_Folder.trimmed().isEmpty())
    {
        QString l_Cache = l_Folder + QStringLiteral("Cache/");
        QFileInfo l_Info(QDir::cleanPath(l_Cache));
        if (l_Info.isSymLink())
            QFile::remove(l_Info.filePath()); // the link, never what it points to
        else if (l_Info.isDir())
            QDir(l_Cache).removeRecursively();
    }

    if (GetLocalSetting(SettingKey(".FirstStart"), true).toBool())
    {
        SetLocalSetting(SettingKey(".FirstStart"), false);
        QString l_Notice;
        switch (GetLauncherLocale()._Locale)
        {
            case French:
                l_Notice = QString::fromUtf8("T\xc3\xa9l\xc3\xa9" "chargement des donn\xc3\xa9" "es initiales du jeu,\n"
                                             " votre exp\xc3\xa9rience de jeu peut \xc3\xaatre d\xc3\xa9grad\xc3\xa9" "e "
                                             "jusqu'au t\xc3\xa9l\xc3\xa9" "chargement complet du jeu.");
                break;
            case Spanish:
                l_Notice = QString::fromUtf8("Descargando el contenido inicial del juego.\n"
                                             " Tu experiencia de juego puede verse afectada hasta que finalice la "
                                             "descarga completa del juego");
                break;
            default:
                l_Notice = QString::fromUtf8("Downloading game initial content,\n"
                                             " you might experience lags until the complete download of the game.");
                break;
        }
        ShowMessageBox(l_Notice, true);
        StandartApplication::Start(p_Login, p_Password);
        return false;
    }
    return StandartApplication::Start(p_Login, p_Password);
}

void Kestrun::SetAppLocale(QString p_Tag)
{
    if (!IsInstalled())
        return;
    // The tag is written between double quotes into the client's file: one that
    // would break the line is refused rather than written.
    if (p_Tag.isEmpty() || p_Tag.contains('"') || p_Tag.contains('\n') || p_Tag.contains('\r')
        || p_Tag.contains(QChar(0)))
    {
        qCWarning(LauncherLog) << "Kestrun::SetAppLocale refusing locale tag" << p_Tag;
        return;
    }
    SetLocalSetting(SettingKey(".InstallLocale"), p_Tag);
    QString l_File = ConfigFile(GetInstallationPath());
    if (l_File.isEmpty())
        return;
    PatchWoWTextFile(l_File, "textLocale", "SET textLocale \"" + p_Tag + "\"", true);
    PatchWoWTextFile(l_File, "audioLocale", "SET audioLocale \"" + p_Tag + "\"", true);
    PatchWoWTextFile(l_File, "playIntroMovie", "SET playIntroMovie \"7\"", true);
}

void Kestrun::OnInstall()
{
    QString l_File = ConfigFile(GetInstallationPath());
    if (l_File.isEmpty())
        return;
    PatchWoWTextFile(l_File, "gxWindow", "SET gxWindow \"1\"", true);
    PatchWoWTextFile(l_File, "gxMaximize", "SET gxMaximize \"0\"", true);
}

void Kestrun::AfterOnManifestReceived()
{
    if (IsInstalled())
        SetAppLocale(GetAppLocale());
}

} // namespace Launcher
} // namespace Orvane
