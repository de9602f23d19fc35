#include "casc/CASCIndexManager.h"

#include "casc/CASCApplication.h"
#include "casc/CASCIndexFile.h"
#include "casc/CASCVersion.h"
#include "casc/CascLog.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <set>

namespace Orvane {
namespace CASC {

namespace {

constexpr int BucketCount = 1 << 16;
/// Below this many records a group is searched whole: the bucket table would cost more to build
/// than it saves.
constexpr size_t BucketsFrom = 1 << 16;

/// Key order: the first eight key bytes compare as one big-endian number.
bool Less(const CASCIndexRecord& p_A, const CASCIndexRecord& p_B)
{
    const quint64 l_A = qFromBigEndian<quint64>(p_A._Key.data());
    const quint64 l_B = qFromBigEndian<quint64>(p_B._Key.data());
    return l_A != l_B ? l_A < l_B : p_A._Key[8] < p_B._Key[8];
}

/// An index file's bytes: read into a buffer reused from file to file (one system call for
/// the usual small index), or mapped when the file is large.
class IndexBytes
{
public:
    IndexBytes(QFile& p_File, QByteArray& p_Buffer) : m_File(p_File)
    {
        m_Size = p_File.size();
        if (m_Size > MapAbove)
            m_Data = p_File.map(0, m_Size);
        if (!m_Data)
        {
            if (p_Buffer.size() < m_Size && m_Size <= MapAbove)
                p_Buffer.resize(int(m_Size));
            const qint64 l_Read = m_Size <= p_Buffer.size() ? p_File.read(p_Buffer.data(), m_Size) : -1;
            m_Size = qMax<qint64>(0, l_Read);
            m_Data = reinterpret_cast<uchar*>(p_Buffer.data());
            m_Mapped = false;
        }
    }
    ~IndexBytes()
    {
        if (m_Mapped && m_Data)
            m_File.unmap(m_Data);
    }
    const uchar* Data() const { return m_Data; }
    qint64 Size() const { return m_Size; }

private:
    static constexpr qint64 MapAbove = 16 << 20;
    QFile& m_File;
    uchar* m_Data = nullptr;
    qint64 m_Size = 0;
    bool m_Mapped = true;
};

} // namespace

CASCIndexManager::CASCIndexManager(CASCApplication* p_Owner) : m_Owner(p_Owner) {}

CASCIndexKey CASCIndexManager::IndexKey(const char* p_EncodingKey)
{
    CASCIndexKey l_Key;
    std::memcpy(l_Key.data(), p_EncodingKey, l_Key.size());
    return l_Key;
}

QString CASCIndexManager::IndexPath(const QString& p_Name) const
{
    // One allocation: a load forms this path two or three times per archive.
    const QString l_Folder = m_Owner->GetInstallFolder();
    QString l_Path;
    l_Path.reserve(l_Folder.size() + 13 + p_Name.size() + 6);
    l_Path.append(l_Folder).append(QLatin1String("data/indices/")).append(p_Name).append(QLatin1String(".index"));
    return l_Path;
}

void CASCIndexManager::Load()
{
    const CASCVersion* l_Version = m_Owner->GetVersion();
    if (!l_Version)
    {
        m_Owner->RaiseError(Errors::NoCdn, "Error CASCIndexManager::Load no CDN configuration");
        return;
    }
    const CASCCDNConfig l_Config = l_Version->GetCDNConfig();
    if (!LoadArchives(l_Config._Archives, l_Config._PatchArchives) && !m_Rejected.isEmpty())
    {
        // Kept, it would fail every later load: the next run fetches it again.
        qCWarning(CascLog).noquote() << "CASCIndexManager::Load() removing " + m_Rejected;
        QFile::remove(m_Rejected);
    }
}

void CASCIndexManager::DropFrom(int p_First)
{
    for (std::vector<CASCIndexRecord>& l_Group : m_Groups)
        l_Group.erase(std::remove_if(l_Group.begin(), l_Group.end(),
                                     [p_First](const CASCIndexRecord& p_Record) {
                                         return p_Record._ArchiveIndex >= p_First;
                                     }),
                      l_Group.end());
    m_ArchiveNames = m_ArchiveNames.mid(0, p_First);
}

bool CASCIndexManager::LoadArchives(const QStringList& p_Archives, const QStringList& p_PatchArchives)
{
    const QStringList l_All = p_Archives + p_PatchArchives;
    // Records go straight to the group of their first key byte. Keys are digests, so each group
    // gets its share of the entries the file sizes announce (with a little room): one allocation
    // per group for the whole load.
    quint64 l_Expected = 0;
    for (const QString& l_Name : l_All)
        l_Expected += quint64(qMax<qint64>(0, QFileInfo(IndexPath(l_Name)).size()) / CASCIndexFile::EntrySize);
    l_Expected = qMin<quint64>(l_Expected, 1u << 26);
    // A small load grows its few groups as it goes: 256 allocations would cost it more.
    if (l_Expected >= 4096)
        for (std::vector<CASCIndexRecord>& l_Group : m_Groups)
            l_Group.reserve(l_Group.size() + size_t(l_Expected / 256 + l_Expected / 4096 + 16));

    Failure l_Failure;
    QByteArray l_Buffer;
    bool l_Read = true;
    m_Cancelled = false;
    m_Rejected.clear();
    const int l_FirstName = m_ArchiveNames.size();
    for (int l_I = 0; l_Read && l_I < l_All.size(); ++l_I)
    {
        if (m_Cancel)
        {
            // Nothing of a cut load is kept: the next one reads every file again.
            qCWarning(CascLog).noquote() << "CASCIndexManager::Load() cancelled";
            DropFrom(l_FirstName);
            Sort();
            m_Cancelled = true;
            return false;
        }
        l_Read = ReadIndex(l_All.at(l_I), l_I >= p_Archives.size(), l_Buffer, l_Failure);
    }
    Sort();

    // Duplicates are found once everything is sorted; the first archive that repeats a key is
    // where a one-by-one load would have stopped: what follows it is dropped, and of that
    // archive the entries before the repeated one stay.
    QString l_Key;
    qint64 l_Before = 0;
    const int l_Duplicate = FirstDuplicate(l_Key, l_Before);
    if (l_Duplicate >= 0)
    {
        const QString l_Name = m_ArchiveNames.at(l_Duplicate);
        const bool l_Patch = l_Duplicate >= l_FirstName + p_Archives.size();
        DropFrom(l_Duplicate);
        Failure l_Ignored;
        ReadIndex(l_Name, l_Patch, l_Buffer, l_Ignored, l_Before);
        Sort();
        l_Failure = {Errors::LocalStorage, "Error CASCIndexManager::Load duplicate index entry : " + l_Key};
        l_Read = false;
    }
    if (!l_Read)
    {
        m_Owner->RaiseError(l_Failure.m_Type, l_Failure.m_Message);
        return false;
    }
    qCWarning(CascLog).noquote().nospace() << "CASCIndexManager::Load() " << GetEntryCount() << " entries loaded ";
    return true;
}

bool CASCIndexManager::ReadIndex(const QString& p_Name, bool p_Patch, QByteArray& p_Buffer, Failure& p_Failure,
                                 qint64 p_Limit)
{
    const QString l_Path = IndexPath(p_Name);
    QFile l_File(l_Path);
    // Read in one call into the caller's buffer: QFile's own buffer would only be a copy more.
    if (!l_File.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
    {
        p_Failure = {Errors::LocalStorage, "Error CASCIndexManager::Load missing index : " + p_Name + " " + l_Path};
        return false;
    }
    if (m_ArchiveNames.size() > 0xFFFF)
    {
        p_Failure = {Errors::LocalStorage, "Error CASCIndexManager::Load too many archives : " + p_Name + " " + l_Path};
        return false;
    }
    m_ArchiveNames.append(p_Name);
    const quint16 l_Archive = quint16(m_ArchiveNames.size() - 1);
    std::array<size_t, 256> l_Before;
    for (size_t l_G = 0; l_G < 256; ++l_G)
        l_Before[l_G] = m_Groups[l_G].size();
    const IndexBytes l_Bytes(l_File, p_Buffer);
    qint64 l_Where = 0;
    qint64 l_Seen = 0;
    const CASCIndexFile::Result l_Result = CASCIndexFile::Parse(
        l_Bytes.Data(), l_Bytes.Size(),
        [&](const uchar* p_Key, quint32 p_Size, quint32 p_Offset) {
            if (p_Limit >= 0 && l_Seen++ >= p_Limit)
                return;
            CASCIndexRecord l_Record;
            std::memcpy(l_Record._Key.data(), p_Key, l_Record._Key.size());
            l_Record._ArchiveIndex = l_Archive;
            l_Record._Offset = p_Offset;
            l_Record._Size = p_Size & 0x7FFFFFFF;
            l_Record._Patch = p_Patch ? 1 : 0;
            m_Groups[p_Key[0]].push_back(l_Record);
        },
        nullptr, &l_Where);
    if (l_Result == CASCIndexFile::Ok)
        return true;
    for (size_t l_G = 0; l_G < 256; ++l_G)
        m_Groups[l_G].resize(l_Before[l_G]);
    m_Rejected = l_Path;
    if (l_Result == CASCIndexFile::ZeroedKey)
        p_Failure = {Errors::EncodingFile,
                     "Error CASCIndexManager::Load Zeroed key in index " + p_Name + " at offset" + QString::number(l_Where)};
    else
        p_Failure = {Errors::LocalStorage, "Error CASCIndexManager::Load damaged index : " + p_Name + " " + l_Path +
                                               (l_Result == CASCIndexFile::TooShort
                                                    ? QStringLiteral(" is shorter than its tail")
                                                    : " has fewer entries than its count, at offset " +
                                                          QString::number(l_Where))};
    return false;
}

void CASCIndexManager::Sort()
{
    m_EntryCount = 0;
    for (const std::vector<CASCIndexRecord>& l_Group : m_Groups)
        m_EntryCount += l_Group.size();
    if (m_EntryCount < BucketsFrom)
    {
        // Few records: each group sorted whole and searched whole.
        m_Buckets.clear();
        m_Buckets.shrink_to_fit();
        for (std::vector<CASCIndexRecord>& l_Group : m_Groups)
            std::sort(l_Group.begin(), l_Group.end(), Less);
        return;
    }
    // Within a group one in-place pass on the second key byte (256 write positions, in cache)
    // leaves runs of a few records to finish by comparison.
    m_Buckets.assign(BucketCount, 0);
    for (size_t l_High = 0; l_High < 256; ++l_High)
    {
        std::vector<CASCIndexRecord>& l_Group = m_Groups[l_High];
        std::array<size_t, 257> l_Start;
        FlagPass(l_Group.data(), l_Group.size(), 1, l_Start);
        for (size_t l_Low = 0; l_Low < 256; ++l_Low)
        {
            m_Buckets[l_High * 256 + l_Low] = quint32(l_Start[l_Low]);
            if (l_Start[l_Low + 1] - l_Start[l_Low] > 1)
                SortRun(l_Group.data() + l_Start[l_Low], l_Group.data() + l_Start[l_Low + 1]);
        }
    }
}

void CASCIndexManager::SortRun(CASCIndexRecord* p_First, CASCIndexRecord* p_Last)
{
    const size_t l_Count = size_t(p_Last - p_First);
    if (l_Count < 2)
        return;
    if (l_Count > 256)
    {
        std::sort(p_First, p_Last, Less);
        return;
    }
    // The first two key bytes are shared here: the next seven and the position sort as one number.
    std::array<quint64, 256> l_Order;
    for (size_t l_I = 0; l_I < l_Count; ++l_I)
        l_Order[l_I] = (qFromBigEndian<quint64>(p_First[l_I]._Key.data() + 1) << 8) | l_I;
    std::sort(l_Order.begin(), l_Order.begin() + l_Count);
    std::array<CASCIndexRecord, 256> l_Copy;
    std::copy(p_First, p_Last, l_Copy.begin());
    for (size_t l_I = 0; l_I < l_Count; ++l_I)
        p_First[l_I] = l_Copy[l_Order[l_I] & 0xFF];
}

void CASCIndexManager::FlagPass(CASCIndexRecord* p_Records, size_t p_Count, int p_Byte, std::array<size_t, 257>& p_Start)
{
    p_Start.fill(0);
    for (size_t l_I = 0; l_I < p_Count; ++l_I)
        ++p_Start[size_t(p_Records[l_I]._Key[size_t(p_Byte)]) + 1];
    for (size_t l_B = 0; l_B < 256; ++l_B)
        p_Start[l_B + 1] += p_Start[l_B];
    std::array<size_t, 256> l_Next;
    std::copy(p_Start.begin(), p_Start.end() - 1, l_Next.begin());
    for (size_t l_B = 0; l_B < 256; ++l_B)
        while (l_Next[l_B] < p_Start[l_B + 1])
        {
            CASCIndexRecord l_Moving = p_Records[l_Next[l_B]];
            for (size_t l_Home = l_Moving._Key[size_t(p_Byte)]; l_Home != l_B; l_Home = l_Moving._Key[size_t(p_Byte)])
                std::swap(l_Moving, p_Records[l_Next[l_Home]++]);
            p_Records[l_Next[l_B]++] = l_Moving;
        }
}

int CASCIndexManager::FirstDuplicate(QString& p_KeyHex, qint64& p_Before) const
{
    // In a run of equal keys the archive that repeats the key is the second in load order.
    int l_Archive = -1;
    for (const std::vector<CASCIndexRecord>& l_Group : m_Groups)
        for (size_t l_First = 0, l_End = 0; l_First < l_Group.size(); l_First = l_End)
        {
            int l_Lowest = 0x10000, l_Second = 0x10000;
            for (l_End = l_First; l_End < l_Group.size() && l_Group[l_End]._Key == l_Group[l_First]._Key; ++l_End)
            {
                const int l_This = l_Group[l_End]._ArchiveIndex;
                l_Second = qMin(l_Second, qMax(l_Lowest, l_This));
                l_Lowest = qMin(l_Lowest, l_This);
            }
            if (l_Second < 0x10000 && (l_Archive < 0 || l_Second < l_Archive))
                l_Archive = l_Second;
        }
    if (l_Archive < 0)
        return -1;

    // The message names the whole key of the first repeated entry in that file's order.
    std::set<CASCIndexKey> l_Seen;
    QFile l_File(IndexPath(m_ArchiveNames.at(l_Archive)));
    QByteArray l_Buffer;
    if (l_File.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
    {
        const IndexBytes l_Bytes(l_File, l_Buffer);
        qint64 l_Entry = 0;
        CASCIndexFile::Parse(l_Bytes.Data(), l_Bytes.Size(), [&](const uchar* p_Entry, quint32, quint32) {
            const CASCIndexKey l_Key = IndexKey(reinterpret_cast<const char*>(p_Entry));
            bool l_Earlier = false;
            const std::vector<CASCIndexRecord>& l_Group = m_Groups[l_Key[0]];
            for (const CASCIndexRecord* l_Record = FindEntry(l_Key);
                 l_Record && l_Record != l_Group.data() + l_Group.size() && l_Record->_Key == l_Key; ++l_Record)
                l_Earlier = l_Earlier || l_Record->_ArchiveIndex < l_Archive;
            if (p_KeyHex.isEmpty() && (l_Earlier || !l_Seen.insert(l_Key).second))
            {
                p_KeyHex = QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(p_Entry), 16).toHex());
                p_Before = l_Entry;
            }
            ++l_Entry;
        });
    }
    return l_Archive;
}

const CASCIndexRecord* CASCIndexManager::FindEntry(CASCIndexKey p_Key) const
{
    const std::vector<CASCIndexRecord>& l_Group = m_Groups[p_Key[0]];
    if (l_Group.empty())
        return nullptr;
    const CASCIndexRecord* l_Begin = l_Group.data();
    const CASCIndexRecord* l_End = l_Group.data() + l_Group.size();
    if (!m_Buckets.empty())
    {
        const size_t l_Bucket = size_t(p_Key[0]) * 256 + p_Key[1];
        l_Begin = l_Group.data() + m_Buckets[l_Bucket];
        l_End = l_Group.data() + (p_Key[1] == 255 ? l_Group.size() : m_Buckets[l_Bucket + 1]);
    }
    const CASCIndexRecord* l_Found =
        std::lower_bound(l_Begin, l_End, p_Key, [](const CASCIndexRecord& p_Record, const CASCIndexKey& p_Wanted) {
            return std::memcmp(p_Record._Key.data(), p_Wanted.data(), p_Wanted.size()) < 0;
        });
    return l_Found != l_End && l_Found->_Key == p_Key ? l_Found : nullptr;
}

const QString* CASCIndexManager::GetArchiveName(quint16 p_Index) const
{
    return p_Index < m_ArchiveNames.size() ? &m_ArchiveNames.at(p_Index) : nullptr;
}

} // namespace CASC
} // namespace Orvane
