#include "casc/CASCEncodingMap.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace Orvane {
namespace CASC {

CASCEncodingRecord CASCEncodingRecord::ForKey(const char* p_IndexKey)
{
    CASCEncodingRecord l_Record{};
    l_Record.KeyLow = qFromLittleEndian<quint64>(reinterpret_cast<const uchar*>(p_IndexKey));
    l_Record.KeyNinth = quint8(p_IndexKey[8]);
    return l_Record;
}

void CASCEncodingMap::Merge(std::vector<CASCEncodingRecord>&& p_Batch)
{
    // Stable: among equal keys the last one in file order wins.
    std::stable_sort(p_Batch.begin(), p_Batch.end());
    auto l_Out = p_Batch.begin();
    for (auto l_It = p_Batch.begin(); l_It != p_Batch.end(); ++l_It)
    {
        auto l_Next = l_It + 1;
        if (l_Next != p_Batch.end() && l_Next->SameKey(*l_It))
            continue;
        *l_Out++ = *l_It;
    }
    p_Batch.erase(l_Out, p_Batch.end());

    if (m_Records.empty())
    {
        m_Records = std::move(p_Batch);
        m_Records.shrink_to_fit();
        return;
    }
    // Overwrite equal keys in place, then merge what is new.
    std::vector<CASCEncodingRecord> l_New;
    for (const CASCEncodingRecord& l_Record : p_Batch)
    {
        auto l_At = std::lower_bound(m_Records.begin(), m_Records.end(), l_Record);
        if (l_At != m_Records.end() && l_At->SameKey(l_Record))
            *l_At = l_Record;
        else
            l_New.push_back(l_Record);
    }
    const size_t l_Old = m_Records.size();
    m_Records.insert(m_Records.end(), l_New.begin(), l_New.end());
    std::inplace_merge(m_Records.begin(), m_Records.begin() + std::ptrdiff_t(l_Old), m_Records.end());
    m_Records.shrink_to_fit();
}

const CASCEncodingRecord* CASCEncodingMap::Find(const char* p_IndexKey) const
{
    const CASCEncodingRecord l_Wanted = CASCEncodingRecord::ForKey(p_IndexKey);
    auto l_At = std::lower_bound(m_Records.begin(), m_Records.end(), l_Wanted);
    return l_At != m_Records.end() && l_At->SameKey(l_Wanted) ? &*l_At : nullptr;
}

} // namespace CASC
} // namespace Orvane
