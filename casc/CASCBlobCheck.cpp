#include "casc/CASCBlobCheck.h"
#include "casc/BLTEHandler.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace Orvane {
namespace CASC {

namespace {
constexpr int s_PrefixSize = 8;
constexpr quint8 s_TableFormat = 0x0F;
} // namespace

CASCBlobCheck::CASCBlobCheck(quint32 p_Size, const QByteArray& p_IndexKey) : m_Size(p_Size), m_IndexKey(p_IndexKey.left(9))
{
}

void CASCBlobCheck::Fail(const QString& p_Problem)
{
    m_Stage = Stage::Refused;
    m_Problem = p_Problem;
    m_Header = QByteArray(); // a refused blob keeps nothing of its header
}

void CASCBlobCheck::Add(const char* p_Data, qint64 p_Size)
{
    if (m_Stage == Stage::Refused || p_Size <= 0)
        return;
    if (m_Received + quint64(p_Size) > m_Size)
        return Fail(QStringLiteral("Received more than %1 bytes").arg(m_Size));
    m_Received += quint64(p_Size);
    while (p_Size > 0 && m_Stage != Stage::Refused)
    {
        switch (m_Stage)
        {
        case Stage::Prefix:
        case Stage::Header:
        {
            const int l_Want = (m_Stage == Stage::Prefix ? s_PrefixSize : int(m_HeaderSize)) - m_Header.size();
            const int l_Take = int(std::min<qint64>(l_Want, p_Size));
            m_Header.append(p_Data, l_Take);
            p_Data += l_Take;
            p_Size -= l_Take;
            if (m_Header.size() < (m_Stage == Stage::Prefix ? s_PrefixSize : int(m_HeaderSize)))
                break;
            if (m_Stage == Stage::Header)
            {
                HeaderIn();
                break;
            }
            if (std::memcmp(m_Header.constData(), "BLTE", 4) != 0)
                return Fail(QStringLiteral("Blob does not decode"));
            m_HeaderSize = qFromBigEndian<quint32>(reinterpret_cast<const uchar*>(m_Header.constData() + 4));
            if (m_HeaderSize == 0)
            {
                // No table: the key is the MD5 of the whole blob, a mode byte at least after the prefix.
                if (m_Size < s_PrefixSize + 1)
                    return Fail(QStringLiteral("Blob does not decode"));
                m_Md5.Add(m_Header);
                m_Stage = Stage::WholeBlob;
                break;
            }
            // The header is held until its key is known: a size that no table can have, or a table
            // beyond MaxHeaderSize, is refused before a byte of it is kept (the index may announce 2 GiB).
            if (m_HeaderSize < 12 + 24 || (m_HeaderSize - 12) % 24 != 0 || m_HeaderSize > MaxHeaderSize ||
                m_HeaderSize > m_Size)
                return Fail(QStringLiteral("Blob does not decode"));
            m_Stage = Stage::Header;
            break;
        }
        case Stage::Chunks:
            ChunkBytes(p_Data, p_Size);
            p_Size = 0;
            break;
        case Stage::WholeBlob:
            m_Md5.Add(p_Data, p_Size);
            p_Size = 0;
            break;
        case Stage::Done:
        case Stage::Refused:
            p_Size = 0;
            break;
        }
    }
    if (m_Received < m_Size || m_Stage == Stage::Done || m_Stage == Stage::Refused)
        return;
    if (m_Stage != Stage::WholeBlob)
        return Fail(QStringLiteral("Blob does not decode")); // it ends inside its prefix, header or table
    m_Key = m_Md5.Result();
    if (m_Key.left(9) != m_IndexKey)
        return Fail("Blob is not " + QString::fromLatin1(m_IndexKey.toHex()));
    m_Stage = Stage::Done;
}

void CASCBlobCheck::HeaderIn()
{
    m_Key = Md5::Hash(m_Header);
    // The key first: a table is only read once it is known to be the one the key names.
    if (m_Key.left(9) != m_IndexKey)
        return Fail("Blob is not " + QString::fromLatin1(m_IndexKey.toHex()));
    const uchar* l_Bytes = reinterpret_cast<const uchar*>(m_Header.constData());
    const quint32 l_Count = (quint32(l_Bytes[9]) << 16) | (quint32(l_Bytes[10]) << 8) | l_Bytes[11];
    if (l_Bytes[8] != s_TableFormat || l_Count == 0 || quint64(m_HeaderSize) != 12 + 24 * quint64(l_Count))
        return Fail(QStringLiteral("Blob does not decode"));
    quint64 l_Total = m_HeaderSize;
    quint64 l_Content = 0;
    m_Chunks.resize(l_Count);
    for (quint32 l_I = 0; l_I < l_Count; ++l_I)
    {
        const uchar* l_Entry = l_Bytes + 12 + 24 * l_I;
        m_Chunks[l_I]._Size = qFromBigEndian<quint32>(l_Entry);
        std::memcpy(m_Chunks[l_I]._Md5, l_Entry + 8, 16);
        if (m_Chunks[l_I]._Size == 0)
            return Fail(QStringLiteral("Blob does not decode"));
        l_Total += m_Chunks[l_I]._Size;
        l_Content += qFromBigEndian<quint32>(l_Entry + 4);
    }
    if (l_Total != m_Size)
        return Fail(QStringLiteral("Blob does not decode"));
    // The decoder refuses a table that declares more content than it takes, whatever the chunks hold:
    // such a blob gets no content key, so that its decode decides, as for any other.
    if (l_Content > quint64(BLTEHandler::MaxBytes) || m_Size > quint64(BLTEHandler::MaxBytes))
        m_Plain = false;
    m_Header.clear();
    m_Header.squeeze();
    m_Stage = Stage::Chunks;
}

void CASCBlobCheck::ChunkBytes(const char* p_Data, qint64 p_Size)
{
    while (p_Size > 0)
    {
        const Chunk& l_Chunk = m_Chunks[m_Chunk];
        const qint64 l_Take = std::min<qint64>(l_Chunk._Size - m_ChunkDone, p_Size);
        int l_Mode = 0; // the chunk's mode byte, not content: left out of the content lane
        if (m_ChunkDone == 0)
        {
            m_ChunkInPair = m_Plain && p_Data[0] == 'N';
            m_Plain = m_ChunkInPair;
            l_Mode = 1;
        }
        if (m_ChunkInPair)
            m_Pair.Add(p_Data, l_Take, p_Data + l_Mode, l_Take - l_Mode);
        else
            m_Md5.Add(p_Data, l_Take);
        m_ChunkDone += quint32(l_Take);
        p_Data += l_Take;
        p_Size -= l_Take;
        if (m_ChunkDone < l_Chunk._Size)
            continue;
        char l_Digest[16];
        if (m_ChunkInPair)
            m_Pair.Result(0, l_Digest);
        else
            std::memcpy(l_Digest, m_Md5.Result().constData(), 16);
        if (std::memcmp(l_Digest, l_Chunk._Md5, 16) != 0)
            return Fail(QStringLiteral("Blob does not decode"));
        m_ChunkDone = 0;
        if (++m_Chunk == m_Chunks.size())
        {
            if (m_Plain)
                m_ContentKey = m_Pair.Result(1);
            m_Stage = Stage::Done;
            return;
        }
    }
}

} // namespace CASC
} // namespace Orvane
