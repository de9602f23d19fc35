// A module whose background work never looks at IsLauncherRunning: the host cannot end it in
// order, which is what a second Ctrl-C is for.
#include "launcher/Application.h"

#include <QThread>
#include <QtPlugin>

Q_DECLARE_INTERFACE(Orvane::Launcher::Application, "Orvane.Application")

class StubbornModule : public Orvane::Launcher::Application
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "Orvane.Application")
    Q_INTERFACES(Orvane::Launcher::Application)

public:
    StubbornModule() : Application("Stubborn", "stubborn") {}

    void Init() override
    {
        PostWorkerTask([this] {
            ShowMessageBox("stubborn: working", true);
            // Ten minutes, whatever the host says; the test ends the process long before.
            for (int l_I = 0; l_I < 6000; ++l_I)
                QThread::msleep(100);
        });
    }
    void Uninit() override {}
    QString const GetRessource(Orvane::Launcher::ApplicationRessource::Type) override { return QString(); }
    std::vector<std::pair<QString, QString>> GetAvailableLocales() override { return {}; }
    QString GetAppLocale() override { return QStringLiteral("enUS"); }
    void SetAppLocale(QString) override {}
};

#include "StubbornPlugin.moc"
