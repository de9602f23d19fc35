#pragma once
#include <QString>
#include <QStringList>

namespace Orvane {
namespace Launcher {

class Application;

/// Files an uninstall could not delete because another program holds them open (Windows: opened without
/// delete sharing): each is deleted, with the folders it leaves empty, once that program lets go, while the
/// launcher runs. Until then the status stays busy and names the first one.
///
/// Threads: every member belongs to the application's thread; the retries are timers on it.
class DeferredDeletes
{
public:
    explicit DeferredDeletes(Application& p_App);

    /// p_Path, inside the install folder p_Folder, waits for its holder.
    void Add(const QString& p_Folder, const QString& p_Path);
    /// The files added wait (busy, with a message); nothing when none was.
    void Start();
    /// A new installation begins: the files stay where they are (they may well be its own again).
    void Cancel();

private:
    /// Tries every waiting file again; the next try follows a growing pause while any is still held.
    void Retry(quint64 p_Round, unsigned p_Attempt);
    void ShowWaiting();

    Application& m_App;
    QString m_Folder;     ///< app thread
    QStringList m_Paths;  ///< app thread
    /// Counts Start and Cancel: the retries of an earlier round find it changed and end.
    quint64 m_Round = 0;  ///< app thread
};

} // namespace Launcher
} // namespace Orvane
