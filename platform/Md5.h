#pragma once
#include <QByteArray>
#include <QtGlobal>
#include <memory>

namespace Orvane {

/// MD5 for every digest the module computes. libcrypto's assembly is used when the build found it
/// (about a tenth less CPU per byte than QCryptographicHash here); otherwise Qt's. Owned by one
/// thread at a time.
class Md5
{
public:
    Md5();
    ~Md5();
    Md5(const Md5&) = delete;
    Md5& operator=(const Md5&) = delete;

    void Add(const char* p_Data, qint64 p_Size);
    void Add(const QByteArray& p_Data) { Add(p_Data.constData(), p_Data.size()); }
    /// The 16-byte digest of everything added since the start or the last Reset; starts over.
    QByteArray Result();
    void Reset();

    static QByteArray Hash(const char* p_Data, qint64 p_Size);
    static QByteArray Hash(const QByteArray& p_Data) { return Hash(p_Data.constData(), p_Data.size()); }
    /// Upper-case hexadecimal digest of p_Data.
    static QByteArray HexHash(const QByteArray& p_Data) { return Hash(p_Data).toHex().toUpper(); }

    /// "libcrypto" or "QCryptographicHash": which one this build uses.
    static const char* Implementation();

private:
    struct State;
    std::unique_ptr<State> m_State; ///< owner's thread
};

} // namespace Orvane
