#include "net/TransferSink.h"
#include "platform/FileHasher.h"
#include "platform/FileWriter.h"
#include "platform/Md5Worker.h"

#include <QFile>

#include <algorithm>

namespace Orvane {
namespace Launcher {

std::unique_ptr<TransferSink> TransferSink::Memory(qint64 p_Cap)
{
    std::unique_ptr<TransferSink> l_Sink(new TransferSink());
    l_Sink->m_Cap = p_Cap;
    return l_Sink;
}

std::unique_ptr<TransferSink> TransferSink::File(const QString& p_Path, qint64 p_Cap)
{
    std::unique_ptr<TransferSink> l_Sink(new TransferSink());
    l_Sink->m_Path = p_Path;
    l_Sink->m_Cap = p_Cap;
    return l_Sink;
}

TransferSink::TransferSink() = default;
TransferSink::~TransferSink() = default;

bool TransferSink::Open()
{
    if (!IsFile() || m_File)
        return true;
    if (!OpenFile(m_File, m_Path, QIODevice::WriteOnly | QIODevice::Append))
        return false;
    m_FileSize = m_File->size();
    if (m_Md5 && m_FileSize == 0)
    {
        m_Md5->Reset(); // an empty file: the digest covers it already
        m_Hashed = 0;
    }
    return true;
}

bool TransferSink::OpenFile(std::unique_ptr<QFile>& p_File, const QString& p_Path, QIODevice::OpenMode p_Mode)
{
    p_File.reset(new QFile(p_Path));
    if (p_File->open(p_Mode | QIODevice::Unbuffered))
        return true;
    m_ErrorText = p_File->errorString();
    p_File.reset();
    return false;
}

void TransferSink::Close()
{
    m_File.reset();
}

qint64 TransferSink::Size() const
{
    return IsFile() ? m_FileSize : m_Data.size();
}

bool TransferSink::Write(const char* p_Data, qint64 p_Size)
{
    if (!IsFile())
    {
        m_Data.append(p_Data, int(p_Size));
        return true;
    }
    return WriteFile(p_Data, p_Size, false);
}

bool TransferSink::WriteFile(const char* p_Data, qint64 p_Size, bool p_InRing)
{
    if (!m_File)
    {
        m_ErrorText = "not open";
        return false;
    }
    const qint64 l_Written = FileWriter::Write(*m_File, p_Data, p_Size, &m_ErrorText);
    if (l_Written > 0)
    {
        // Hashed from the bytes just written, on the hashing thread while the next ones are written: one pass,
        // no read-back.
        if (m_Md5 && m_Hashed == m_FileSize)
        {
            if (p_InRing)
                m_Md5->Commit(l_Written);
            else
                m_Md5->Add(p_Data, l_Written);
            m_Hashed += l_Written;
        }
        m_FileSize += l_Written;
    }
    if (l_Written == p_Size)
        return true;
    m_File.reset(); // what was written stays
    return false;
}

char* TransferSink::Room(qint64* p_Size)
{
    m_RoomInRing = m_Md5 && m_File && m_Hashed == m_FileSize;
    if (m_RoomInRing)
        return m_Room = m_Md5->Room(p_Size);
    constexpr qint64 c_BufferBytes = 256 * 1024;
    if (m_Buffer.empty())
        m_Buffer.resize(size_t(c_BufferBytes));
    *p_Size = std::min(*p_Size, c_BufferBytes);
    return m_Room = m_Buffer.data();
}

bool TransferSink::WriteRoom(qint64 p_Size)
{
    return m_RoomInRing ? WriteFile(m_Room, p_Size, true) : Write(m_Room, p_Size);
}

void TransferSink::Truncate()
{
    m_Data.clear();
    if (!IsFile())
        return;
    if (m_File)
        m_File->resize(0);
    else
        QFile::resize(m_Path, 0);
    m_FileSize = 0;
    if (m_Md5)
    {
        m_Md5->Reset();
        m_Hashed = 0;
    }
}

void TransferSink::HashWhileWriting()
{
    if (IsFile() && !m_Md5)
        m_Md5.reset(new Orvane::Md5Worker());
}

bool TransferSink::CatchUpHash(const std::function<bool()>& p_KeepGoing)
{
    if (!m_Md5 || !m_File)
        return false;
    if (m_Hashed == m_FileSize)
        return true;
    // Changed behind the digest's back (or never hashed): read once from the start.
    m_Md5->Reset();
    m_Hashed = -1;
    QFile l_File(m_Path);
    if (!l_File.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    char l_Block[FileHasher::BlockSize];
    qint64 l_Hashed = 0;
    while (l_Hashed < m_FileSize)
    {
        if (p_KeepGoing && !p_KeepGoing())
            return false;
        const qint64 l_Read = l_File.read(l_Block, std::min<qint64>(sizeof l_Block, m_FileSize - l_Hashed));
        if (l_Read <= 0)
            return false;
        m_Md5->Add(l_Block, l_Read);
        l_Hashed += l_Read;
    }
    m_Hashed = l_Hashed;
    return true;
}

bool TransferSink::TakeDigest(QString* p_Md5, qint64* p_Bytes)
{
    if (!m_Md5 || m_Hashed != m_FileSize)
        return false;
    *p_Md5 = QString::fromLatin1(m_Md5->Result().toHex().toUpper());
    *p_Bytes = m_Hashed;
    m_Hashed = -1;
    return true;
}

} // namespace Launcher
} // namespace Orvane
