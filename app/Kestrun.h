#pragma once
#include "launcher/StandartApplication.h"

#ifdef Q_MOC_RUN
Q_DECLARE_INTERFACE(Orvane::Launcher::Application, "Orvane.Application")
#endif

namespace Orvane {
namespace Launcher {

#define APP_NAME "Battle for Azeroth"
#define APP_FOLDER "wow_bfa"

/// The module's application: Battle for Azeroth, served as plain files.
class Kestrun : public StandartApplication
{
    Q_OBJECT
    // Lets the host take the object by the plugin interface id.
#ifdef Q_MOC_RUN
    Q_INTERFACES(Orvane::Launcher::Application)
#endif

public:
    Kestrun();

    void Init() override;
    QString const GetRessource(ApplicationRessource::Type p_Ressource) override;
    bool Start(QString p_Login, QString p_Password) override;
    void SetAppLocale(QString p_Tag) override;
    bool IsCASCApp() override { return false; }
    void EnableCASC() override {}
    std::vector<QString> GetCustomIconAnimation() override { return {}; }
    int GetCustomIconAnimationFramerate() override { return 0; }
    void OnInstall() override;
    void AfterOnManifestReceived() override;
};

} // namespace Launcher
} // namespace Orvane
