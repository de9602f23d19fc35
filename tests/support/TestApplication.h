#pragma once
#include "launcher/StandartApplication.h"

#include <atomic>

/// The plain-file application with the host-facing pure virtuals filled in, and
/// a free-space figure a test can force (a full disk without filling one).
class TestApplication : public Orvane::Launcher::StandartApplication
{
public:
    TestApplication() : StandartApplication(QStringLiteral("Battle for Azeroth"), QStringLiteral("wow_bfa")) {}

    QString const GetRessource(Orvane::Launcher::ApplicationRessource::Type) override { return QString(); }
    void SetAppLocale(QString) override {}

    qint64 AvailableDiskSpace(const QString& p_Folder) override
    {
        const qint64 l_Forced = FreeSpace;
        return l_Forced >= 0 ? l_Forced : StandartApplication::AvailableDiskSpace(p_Folder);
    }

    /// Bytes reported free; -1 asks the real volume.
    std::atomic<qint64> FreeSpace{-1};
};
