#include "casc/CASCBlobSink.h"

#include "platform/FileWriter.h"

#include <algorithm>

namespace Orvane {
namespace CASC {

CASCBlobSink::CASCBlobSink(std::vector<Part> p_Parts, qint64 p_Span, const QString& p_Spill, Ready p_Ready,
                           Arrived p_Arrived)
    : m_Parts(std::move(p_Parts)), m_Spill(p_Spill), m_Ready(std::move(p_Ready)),
      m_Arrived(std::move(p_Arrived))
{
    m_Cap = p_Span;
    m_Path = p_Spill;
    m_State.reserve(m_Parts.size());
    for (const Part& l_Part : m_Parts)
        m_State.push_back(State{std::unique_ptr<CASCBlobCheck>(new CASCBlobCheck(l_Part._Size, l_Part._IndexKey)), QByteArray(), 0, false});
}

CASCBlobSink::~CASCBlobSink() = default;

void CASCBlobSink::Detach()
{
    m_Ready = nullptr;
    m_Arrived = nullptr;
}

bool CASCBlobSink::Open()
{
    if (m_Spill.isEmpty() || m_SpillFile)
        return true;
    return OpenFile(m_SpillFile, m_Spill, QIODevice::ReadWrite | QIODevice::Truncate);
}

void CASCBlobSink::Close()
{
    m_SpillFile.reset();
}

void CASCBlobSink::Truncate()
{
    // A body from the first byte again: nothing of the blobs not yet handed over is kept.
    m_Taken = 0;
    for (size_t l_I = 0; l_I < m_State.size(); ++l_I)
        if (!m_State[l_I]._Written)
        {
            m_State[l_I] = State{std::unique_ptr<CASCBlobCheck>(new CASCBlobCheck(m_Parts[l_I]._Size, m_Parts[l_I]._IndexKey)), QByteArray(), 0, false};
            m_Next = std::min(m_Next, l_I);
        }
    if (m_SpillFile)
        m_SpillFile->resize(0);
}

bool CASCBlobSink::Write(const char* p_Data, qint64 p_Size)
{
    const qint64 l_End = m_Taken + p_Size;
    for (size_t l_I = m_Next; l_I < m_Parts.size() && qint64(m_Parts[l_I]._At) < l_End; ++l_I)
    {
        const Part& l_Part = m_Parts[l_I];
        const qint64 l_From = std::max<qint64>(m_Taken, qint64(l_Part._At));
        const qint64 l_To = std::min<qint64>(l_End, qint64(l_Part._At) + l_Part._Size);
        if (l_To > l_From && !Take(l_I, p_Data + (l_From - m_Taken), l_To - l_From))
        {
            m_Taken += l_From - m_Taken; // what went into the spill before it failed is not counted
            return false;
        }
        if (l_To == qint64(l_Part._At) + l_Part._Size && l_I == m_Next)
            ++m_Next;
    }
    m_Taken = l_End;
    return true;
}

bool CASCBlobSink::Take(size_t p_Part, const char* p_Data, qint64 p_Size)
{
    State& l_State = m_State[p_Part];
    const Part& l_Part = m_Parts[p_Part];
    l_State._Check->Add(p_Data, p_Size);
    if (m_SpillFile)
    {
        if (Launcher::FileWriter::Write(*m_SpillFile, p_Data, p_Size, &m_ErrorText) != p_Size)
            return false;
    }
    else if (!l_State._Check->Failed())
    {
        // Allocated when the blob's first byte comes: the memory held is the blobs in flight.
        if (l_State._Slot.isEmpty())
        {
            l_State._Slot.reserve(HeaderRoom + int(l_Part._Size));
            l_State._Slot.fill('\0', HeaderRoom);
        }
        l_State._Slot.append(p_Data, int(p_Size));
    }
    l_State._Received += quint32(p_Size);
    if (m_Arrived)
        m_Arrived(p_Size);
    if (l_State._Received < l_Part._Size)
        return true;
    if (l_State._Check->Passed() && m_Ready)
        l_State._Written = m_Ready(p_Part, m_SpillFile ? nullptr : &l_State._Slot);
    // Handed over or refused: its bytes are not needed any more.
    l_State._Slot = QByteArray();
    return true;
}

} // namespace CASC
} // namespace Orvane
