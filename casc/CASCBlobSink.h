#pragma once
#include "casc/CASCBlobCheck.h"
#include "net/TransferSink.h"

#include <QByteArray>
#include <QFile>

#include <functional>
#include <memory>
#include <vector>

namespace Orvane {
namespace CASC {

/// The body of one ranged request over one or more blobs of a CDN archive (adjacent ones merged,
/// the bytes between them skipped). Each blob is checked as it arrives (CASCBlobCheck) and kept
/// in memory behind room for its 30-byte entry header, or, for a request above the memory bound,
/// in a spill file; a blob that passes is handed over at once to be written into its slot.
/// Used on the thread of its transfer.
class CASCBlobSink : public Launcher::TransferSink
{
public:
    struct Part
    {
        quint64 _At = 0;     ///< of the blob's first byte, from the request's first byte
        quint32 _Size = 0;   ///< of the blob
        QByteArray _IndexKey;
    };
    /// Blob p_Part passed its checks: header room and blob in memory (p_Slot), or the blob in the
    /// spill file (p_Slot null). False when it could not be written.
    using Ready = std::function<bool(size_t p_Part, QByteArray* p_Slot)>;
    /// p_Bytes more bytes of blobs arrived (the bytes between them do not count).
    using Arrived = std::function<void(qint64 p_Bytes)>;

    static constexpr int HeaderRoom = 30;

    /// p_Span: the bytes asked (the cap); p_Spill: the spill file, empty to keep the blobs in memory.
    CASCBlobSink(std::vector<Part> p_Parts, qint64 p_Span, const QString& p_Spill, Ready p_Ready, Arrived p_Arrived);
    ~CASCBlobSink() override;

    bool Open() override;
    void Close() override;
    qint64 Size() const override { return m_Taken; }
    bool Write(const char* p_Data, qint64 p_Size) override;
    void Truncate() override;
    /// No callback runs any more (its requester is gone).
    void Detach();

    bool Written(size_t p_Part) const { return m_State[p_Part]._Written; }
    /// Why blob p_Part was refused; empty when it was not.
    QString Problem(size_t p_Part) const { return m_State[p_Part]._Check->Problem(); }
    /// Bytes of blob p_Part received by this request.
    quint32 Received(size_t p_Part) const { return m_State[p_Part]._Received; }
    const QByteArray& Key(size_t p_Part) const { return m_State[p_Part]._Check->Key(); }
    /// Blob p_Part's content key when its arrival gave it (plain chunks only), else empty.
    const QByteArray& ContentKey(size_t p_Part) const { return m_State[p_Part]._Check->ContentKey(); }
    /// The spill file (empty when in memory).
    const QString& Spill() const { return m_Spill; }

private:
    struct State
    {
        std::unique_ptr<CASCBlobCheck> _Check;
        QByteArray _Slot;        ///< header room, then the blob's bytes
        quint32 _Received = 0;
        bool _Written = false;
    };
    bool Take(size_t p_Part, const char* p_Data, qint64 p_Size);

    std::vector<Part> m_Parts;
    std::vector<State> m_State;
    QString m_Spill;
    std::unique_ptr<QFile> m_SpillFile;
    qint64 m_Taken = 0;
    size_t m_Next = 0; ///< the first part not yet complete
    Ready m_Ready;
    Arrived m_Arrived;
};

} // namespace CASC
} // namespace Orvane
