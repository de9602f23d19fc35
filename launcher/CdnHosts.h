#pragma once
#include <QString>
#include <QStringList>

namespace Orvane {
namespace Launcher {

class Application;
struct ManifestFile;

/// The CDN hosts of "cdns.info" and the choice of the host each file is fetched from: a random usable
/// host, the application server for files flagged so, the host a request went ahead to, and the hosts
/// that failed in this run (avoided while another remains).
///
/// Threads: every member belongs to the application's thread.
class CdnHosts
{
public:
    explicit CdnHosts(Application& p_App);

    /// A new list (line ends and blanks split it): the failures noted for the old one are forgotten,
    /// and a first base URL is drawn and logged.
    void SetHosts(const QString& p_Text);
    /// Sets the base URL for p_File (0x40: the application server, else a CDN host: the one drawn for it
    /// ahead if still usable, else a random one).
    void Select(const ManifestFile& p_File, bool p_Log);
    /// Draws p_File's base URL now and keeps it for the file's turn (Select); returns it.
    QString Draw(const ManifestFile& p_File);
    /// No file is drawn ahead any more.
    void ForgetDrawn() { m_DrawnFor.clear(); }
    /// Notes the host of p_Url as failing (its transfer delivered nothing) and tells the user once.
    void MarkFailed(const QString& p_Url, const QString& p_Reason);
    /// True when a host other than p_Url's may serve p_Entry.
    bool OtherHostFor(const ManifestFile& p_Entry, const QString& p_Url) const;

    /// The base URL selected last.
    const QString& BaseUrl() const { return m_BaseUrl; }
    const QStringList& Hosts() const { return m_Hosts; }
    const QStringList& Failed() const { return m_Failed; }

private:
    /// The hosts a file may be sent to: those not failing, or all when every one failed.
    QStringList Usable() const;
    QString RandomBaseUrl() const;
    void LogSelected() const;

    Application& m_App;
    QString m_BaseUrl;     ///< app thread: the base URL of the next file request
    QStringList m_Hosts;   ///< app thread
    QStringList m_Failed;  ///< app thread: hosts that delivered nothing in this run
    QString m_DrawnFor;    ///< app thread: path of the file whose host was drawn ahead
    QString m_DrawnBaseUrl; ///< app thread: the base URL drawn for it, which its turn keeps
};

} // namespace Launcher
} // namespace Orvane
