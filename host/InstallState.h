#pragma once
#include "launcher/Application.h"

#include <QString>

namespace Orvane {
namespace Host {

/// What the settings and the install folder tell of an installation, without the server: whether it is
/// whole, how many files its download lists still name, and what this host recorded of its runs (the build
/// brought up to date, the bytes left when a run ended, the server and channel the game came from).
/// The records live under "orvane-launcher/" + application key + ".", so the module's Uninstall forgets them.
class InstallState
{
public:
    bool Installed = false;
    QString Folder;
    bool FolderPresent = false;
    /// Distinct paths the download lists name; the streamed list is absent until its files were checked once.
    int FilesToFetch = 0;
    bool StreamedChecked = false;
    /// Bytes left when the last run stopped fetching (-1 unknown).
    qint64 BytesToFetch = -1;
    /// The last run that fetched files ended with every file in place.
    bool LastRunComplete = true;
    QString Build; ///< the build last brought up to date here; empty unknown

    /// Installed, its folder there, both lists written and empty, and the last run ended whole.
    bool Complete() const
    {
        return Installed && FolderPresent && FilesToFetch == 0 && StreamedChecked && LastRunComplete;
    }

    static InstallState Read(Launcher::Application* p_App);

    /// The host's own record p_Name ("LastBuild", "Server" ...) of the game.
    static QString Key(Launcher::Application* p_App, const QString& p_Name);
    /// A run begins to change the files, or stops while files are left (p_Bytes, -1 unknown).
    static void RecordFetching(Launcher::Application* p_App, qint64 p_Bytes);
    /// A run ended with every file of p_Build in place.
    static void RecordComplete(Launcher::Application* p_App, const QString& p_Build);

    /// The figures of what is left: "12 files still to fetch (21.4 MiB)" and what is not known yet.
    QString ToFetchText() const;
};

} // namespace Host
} // namespace Orvane
