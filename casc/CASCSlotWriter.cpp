#include "casc/CASCSlotWriter.h"

#include "platform/FileWriter.h"

#include <QFile>
#include <QThread>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace Orvane {
namespace CASC {

CASCSlotWriter::CASCSlotWriter(const CASCEncodingMap& p_Map, QObject* p_Context, Done p_Done)
    : m_Map(p_Map), m_Context(p_Context), m_Done(std::move(p_Done))
{
    // Beside the stream's thread, which reads and hashes as the blobs arrive: one more core's worth.
    m_Pool.setMaxThreadCount(std::max(1, std::min(2, QThread::idealThreadCount() - 1)));
}

CASCSlotWriter::~CASCSlotWriter()
{
    Drain();
}

void CASCSlotWriter::Forget()
{
    while (!m_Running.empty() && m_Running.front()._Run.isFinished())
    {
        m_Held -= m_Running.front()._Bytes;
        m_Running.pop_front();
    }
}

void CASCSlotWriter::Submit(Job p_Job)
{
    Forget();
    const qint64 l_Bytes = p_Job._Slot.size();
    while (!m_Running.empty() && m_Held + l_Bytes > HeldBytes)
    {
        m_Running.front()._Run.waitForFinished();
        Forget();
    }
    ++m_Pending;
    const quint64 l_Generation = m_Generation;
    const CASCEncodingMap* l_Map = &m_Map;
    QObject* l_Context = m_Context;
    CASCSlotWriter* l_Self = this;
    Running l_Running;
    l_Running._Bytes = l_Bytes;
    l_Running._Run = QtConcurrent::run(&m_Pool, [l_Map, l_Context, l_Self, l_Generation, p_Job]() mutable {
        Result l_Result;
        const quint32 l_BlobSize = quint32(p_Job._Slot.size() - CASCSlotCheck::EntryHeaderSize);
        l_Result._Verdict = CASCSlotCheck::CheckReceived(p_Job._Slot.constData() + CASCSlotCheck::EntryHeaderSize,
                                                         l_BlobSize, p_Job._Key, p_Job._ContentKey, *l_Map);
        if (l_Result._Verdict != CASCSlotCheck::Verdict::Whole)
            l_Result._Outcome = Outcome::Refused;
        else
        {
            // Header and blob in one write, through a handle of its own: the stream's thread may grow or
            // write other slots of this archive meanwhile.
            QFile l_Archive(p_Job._Archive);
            QString& l_Error = l_Result._Error;
            if (!l_Archive.open(QIODevice::ReadWrite | QIODevice::Unbuffered) || !l_Archive.seek(p_Job._Offset))
                l_Error = l_Archive.errorString();
            else if (Launcher::FileWriter::Write(l_Archive, p_Job._Slot, &l_Error) != p_Job._Slot.size() &&
                     l_Error.isEmpty())
                l_Error = QStringLiteral("short write");
            if (!l_Error.isEmpty())
                l_Result._Outcome = Outcome::WriteFailed;
        }
        p_Job._Slot = QByteArray(); // the memory goes now, not when the outcome is read
        l_Result._Job = std::move(p_Job);
        QMetaObject::invokeMethod(l_Context, [l_Self, l_Generation, l_Result] {
            if (l_Generation != l_Self->m_Generation)
                return;
            --l_Self->m_Pending;
            l_Self->m_Done(l_Result);
        }, Qt::QueuedConnection);
    });
    m_Held += l_Bytes;
    m_Running.push_back(std::move(l_Running));
}

void CASCSlotWriter::Drain()
{
    for (Running& l_Running : m_Running)
        l_Running._Run.waitForFinished();
    m_Running.clear();
    m_Held = 0;
    m_Pending = 0;
    ++m_Generation;
}

} // namespace CASC
} // namespace Orvane
