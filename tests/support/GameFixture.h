#pragma once
#include "app/Kestrun.h"
#include "support/FakeHost.h"
#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

/// The game in a temporary folder. The host's callbacks answer but its queues
/// are not drained: what an operation posts stays queued for the test to count.
struct GameFixture
{
    QTemporaryDir Temp;
    Orvane::Launcher::Kestrun App;
    FakeHost Host; // after App: detaches before the application goes
    QString Folder = Temp.path() + "/Battle for Azeroth/";

    explicit GameFixture(bool p_Installed = false)
    {
        Host.Attach(&App);
        Host.Detach();
        QDir().mkpath(Folder);
        if (!p_Installed)
            return;
        Host.Settings["wow_bfa.Installed"] = true;
        Host.Settings["wow_bfa.InstallFolder"] = Folder;
        App.GetInstallationPath();
    }

    void Add(int32_t p_Flags, const QString& p_Path, bool p_Streamed = false)
    {
        Orvane::Launcher::ManifestFile l_File;
        l_File.Flags = p_Flags;
        l_File.Path = l_File.Location = p_Path;
        Orvane::Launcher::Manifest l_Build = App.Build();
        (p_Streamed ? l_Build.StreamedFiles : l_Build.BaseFiles).push_back(l_File);
        App.UseBuild(l_Build);
    }

    QString Config() const { return Folder + "WTF/Config.wtf"; }

    /// Runs the main-queue actions queued at this moment, as the host's loop would next.
    void RunMainTasks()
    {
        size_t l_Count = 0;
        {
            QMutexLocker l_Lock(&App.m_MainTasksMutex);
            l_Count = App.m_MainTasks.size();
        }
        Orvane::Launcher::Task l_Task;
        while (l_Count-- > 0 && App.TakeMainTask(l_Task))
            l_Task();
    }

    size_t WorkerTasks()
    {
        QMutexLocker l_Lock(&App.m_WorkerTasksMutex);
        return App.m_WorkerTasks.size();
    }
};
