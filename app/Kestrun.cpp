#include "app/Kestrun.h"
#include "launcher/Deployment.h"

#include <QDir>

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

bool Kestrun::Start(QString p_Login, QString p_Password)
{
    return StandartApplication::Start(p_Login, p_Password);
}

void Kestrun::SetAppLocale(QString p_Tag)
{
    Q_UNUSED(p_Tag);
}

void Kestrun::OnInstall() {}

void Kestrun::AfterOnManifestReceived()
{
    if (IsInstalled())
        SetAppLocale(GetAppLocale());
}

} // namespace Launcher
} // namespace Orvane
