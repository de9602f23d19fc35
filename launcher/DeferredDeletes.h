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

    /// The pause before try p_Attempt on a file another program holds (0, the first, after 250 ms): an
    /// antivirus lets go within a second, a backup tool or a program left open may take minutes.
    static int HeldPauseMs(unsigned p_Attempt) { return qMin(250 << qMin(p_Attempt, 4u), 2000); }

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
