#include "platform/Md5.h"

#ifdef KESTRUN_HAVE_LIBCRYPTO
#include <openssl/evp.h>
#else
#include <QCryptographicHash>
#endif

namespace Orvane {

#ifdef KESTRUN_HAVE_LIBCRYPTO

namespace {
// libcrypto sets itself up at its first use and keeps a record of that in the thread that did it: done
// on a pool thread that later ends, the record is lost (LeakSanitizer saw 904 bytes). Done here, at load,
// on the thread that loads the module.
const bool s_CryptoReady = [] {
    EVP_MD_CTX* l_Context = EVP_MD_CTX_new();
    const bool l_Ready = l_Context && EVP_DigestInit_ex(l_Context, EVP_md5(), nullptr) == 1;
    EVP_MD_CTX_free(l_Context);
    return l_Ready;
}();
} // namespace

struct Md5::State
{
    EVP_MD_CTX* Context = EVP_MD_CTX_new();
    State() { Start(); }
    ~State() { EVP_MD_CTX_free(Context); }
    void Start() { EVP_DigestInit_ex(Context, EVP_md5(), nullptr); }
};

void Md5::Add(const char* p_Data, qint64 p_Size)
{
    if (p_Size > 0)
        EVP_DigestUpdate(m_State->Context, p_Data, size_t(p_Size));
}

QByteArray Md5::Result()
{
    unsigned char l_Digest[EVP_MAX_MD_SIZE];
    unsigned int l_Length = 0;
    EVP_DigestFinal_ex(m_State->Context, l_Digest, &l_Length);
    m_State->Start();
    return QByteArray(reinterpret_cast<const char*>(l_Digest), int(l_Length));
}

void Md5::Reset()
{
    m_State->Start();
}

const char* Md5::Implementation()
{
    return "libcrypto";
}

#else

struct Md5::State
{
    QCryptographicHash Hash{QCryptographicHash::Md5};
};

void Md5::Add(const char* p_Data, qint64 p_Size)
{
    // addData takes an int: feed large buffers in pieces.
    while (p_Size > 0)
    {
        const int l_Piece = int(qMin<qint64>(p_Size, 1 << 30));
        m_State->Hash.addData(p_Data, l_Piece);
        p_Data += l_Piece;
        p_Size -= l_Piece;
    }
}

QByteArray Md5::Result()
{
    const QByteArray l_Digest = m_State->Hash.result();
    m_State->Hash.reset();
    return l_Digest;
}

void Md5::Reset()
{
    m_State->Hash.reset();
}

const char* Md5::Implementation()
{
    return "QCryptographicHash";
}

#endif

Md5::Md5() : m_State(new State) {}
Md5::~Md5() = default;

QByteArray Md5::Hash(const char* p_Data, qint64 p_Size)
{
    Md5 l_Md5;
    l_Md5.Add(p_Data, p_Size);
    return l_Md5.Result();
}

} // namespace Orvane
