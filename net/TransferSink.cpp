#include "net/TransferSink.h"

#include <QFile>

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

TransferSink::~TransferSink() = default;

bool TransferSink::Open()
{
    if (!IsFile() || m_File)
        return true;
    m_File.reset(new QFile(m_Path));
    if (!m_File->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
    {
        m_ErrorText = m_File->errorString();
        m_File.reset();
        return false;
    }
    m_FileSize = m_File->size();
    return true;
}

void TransferSink::Close()
{
    m_File.reset();
}

qint64 TransferSink::Size() const
{
    return IsFile() ? m_FileSize : m_Data.size();
}

bool TransferSink::Write(const QByteArray& p_Bytes)
{
    if (!IsFile())
    {
        m_Data.append(p_Bytes);
        return true;
    }
    if (!m_File)
    {
        m_ErrorText = "not open";
        return false;
    }
    const qint64 l_Written = m_File->write(p_Bytes);
    if (l_Written > 0)
        m_FileSize += l_Written;
    if (l_Written == p_Bytes.size())
        return true;
    m_ErrorText = m_File->errorString();
    m_File.reset(); // what was written stays
    return false;
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
}

} // namespace Launcher
} // namespace Orvane
