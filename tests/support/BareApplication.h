#pragma once
#include "launcher/Application.h"

/// An application with no game behind it: the transport alone (file downloads, content and size
/// requests), as the tests of the transport and the downloader benchmark drive it.
class BareApplication : public Orvane::Launcher::Application
{
public:
    BareApplication() : Application("Test", "test") {}
    void Init() override {}
    void Uninit() override {}
    QString const GetRessource(Orvane::Launcher::ApplicationRessource::Type) override { return QString(); }
    std::vector<std::pair<QString, QString>> GetAvailableLocales() override { return {}; }
    QString GetAppLocale() override { return QString(); }
    void SetAppLocale(QString) override {}
};
