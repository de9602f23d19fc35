#pragma once
#include "net/TransferRequest.h"

#include <QObject>
#include <QSet>

class QNetworkAccessManager;
class QNetworkReply;

namespace Orvane {
namespace Launcher {

/// The next file's request, sent while the current file's body still travels: on a kept-alive connection
/// its answer follows the current one's without a round trip between them. Holds one reply, read into a
/// buffer of at most HeldBytes (its transfer raises it to its own bound) and nowhere else until a transfer
/// of the same request takes it over (Transfer::Start), failed or not: every byte it received reaches the
/// file then. Nothing is written before the file's turn. Lives on the thread of its network manager.
class RequestAhead : public QObject
{
public:
    explicit RequestAhead(QNetworkAccessManager* p_Manager, QObject* p_Parent = nullptr);
    ~RequestAhead() override;

    /// Sends p_Request ahead, replacing what was held; a request already held as it is stays. Sent only to a
    /// host from which a transfer ended whole on this manager (KeptAlive): before that Qt cannot tell whether
    /// the connection pipelines (it would open another one), and the host may be one that delivers nothing.
    void Ask(const TransferRequest& p_Request);
    /// The reply sent ahead for p_Request, which the caller takes over; null when none is (or TLS complained:
    /// a request of its own tells the user why).
    /// Whatever is held and not taken is dropped: a request of the connection must never wait behind an
    /// answer nobody reads.
    QNetworkReply* Take(const TransferRequest& p_Request);
    /// Drops what is held (a stop: no traffic goes on for a file nobody asked).
    void Drop();
    /// A transfer of p_Url ended whole: its host's connection is kept alive and can carry a request ahead.
    void KeptAlive(const QString& p_Url);

    bool Holds() const { return m_Reply != nullptr; }
    /// What the reply held may read before its turn: the round trip it saves is paid by its first bytes, and
    /// the current transfer may hold its own bound meanwhile.
    static constexpr qint64 HeldBytes = 4 * 1024 * 1024;
    const QNetworkReply* Held() const { return m_Reply; }

private:
    static bool Same(const TransferRequest& p_A, const TransferRequest& p_B);
    /// Scheme, host and port of p_Url.
    static QString Origin(const QString& p_Url);

    // All: the thread of m_Manager.
    QNetworkAccessManager* m_Manager;
    TransferRequest m_Request;
    QNetworkReply* m_Reply = nullptr;
    bool m_Tainted = false; ///< TLS complaints: a fresh request tells them to the user instead
    QSet<QString> m_KeptAlive; ///< origins (Origin) that ended a transfer whole
};

} // namespace Launcher
} // namespace Orvane
