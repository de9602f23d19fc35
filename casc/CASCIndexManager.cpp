#include "casc/CASCIndexManager.h"

#include "casc/CASCApplication.h"
#include "casc/CASCIndexFile.h"
#include "casc/CASCVersion.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <set>

namespace Orvane {
namespace CASC {

namespace {

constexpr int BucketCount = 1 << 16;

int Bucket(const CASCIndexRecord& p_Record)
{
    return (p_Record._Key[0] << 8) | p_Record._Key[1];
}

bool Less(const CASCIndexRecord& p_A, const CASCIndexRecord& p_B)
{
    const int l_Order = std::memcmp(p_A._Key.data(), p_B._Key.data(), p_A._Key.size());
    return l_Order < 0 || (l_Order == 0 && p_A._ArchiveIndex < p_B._ArchiveIndex);
}

/// An index file's bytes: mapped when the system can, read otherwise.
class IndexBytes
{
public:
    explicit IndexBytes(QFile& p_File) : m_File(p_File)
    {
        m_Size = p_File.size();
        m_Data = m_Size > 0 ? p_File.map(0, m_Size) : nullptr;
        if (!m_Data)
        {
            m_Copy = p_File.readAll();
            m_Size = m_Copy.size();
            m_Data = reinterpret_cast<uchar*>(m_Copy.data());
        }
    }
    ~IndexBytes()
    {
        if (m_Copy.isNull() && m_Data)
            m_File.unmap(m_Data);
    }
    const uchar* Data() const { return m_Data; }
    qint64 Size() const { return m_Size; }

private:
    QFile& m_File;
    QByteArray m_Copy;
    uchar* m_Data = nullptr;
    qint64 m_Size = 0;
};

} // namespace

CASCIndexManager::CASCIndexManager(CASCApplication* p_Owner) : m_Owner(p_Owner), m_Buckets(BucketCount + 1, 0) {}

CASCIndexKey CASCIndexManager::IndexKey(const char* p_EncodingKey)
{
    CASCIndexKey l_Key;
    std::memcpy(l_Key.data(), p_EncodingKey, l_Key.size());
    return l_Key;
}

QString CASCIndexManager::IndexPath(const QString& p_Name) const
{
    return m_Owner->GetInstallFolder() + "data/indices/" + p_Name + ".index";
}

void CASCIndexManager::Load()
{
    const CASCVersion* l_Version = m_Owner->GetVersion();
    if (!l_Version)
    {
        m_Owner->RaiseError(Errors::LocalStorage, "Error CASCIndexManager::Load no CDN configuration");
        return;
    }
    const CASCCDNConfig l_Config = l_Version->GetCDNConfig();
    LoadArchives(l_Config._Archives, l_Config._PatchArchives);
}

bool CASCIndexManager::LoadArchives(const QStringList& p_Archives, const QStringList& p_PatchArchives)
{
    const QStringList l_All = p_Archives + p_PatchArchives;
    // One allocation for the whole load: the records never move while they are read.
    quint64 l_Expected = m_Entries.size();
    for (const QString& l_Name : l_All)
        l_Expected += quint64(qMax<qint64>(0, QFileInfo(IndexPath(l_Name)).size()) / CASCIndexFile::EntrySize);
    m_Entries.reserve(size_t(qMin<quint64>(l_Expected, 1u << 26)));

    Failure l_Failure;
    bool l_Read = true;
    for (int l_I = 0; l_Read && l_I < l_All.size(); ++l_I)
        l_Read = ReadIndex(l_All.at(l_I), l_I >= p_Archives.size(), l_Failure);
    Sort();

    // Duplicates are found once everything is sorted; the first archive that repeats a key is
    // where a one-by-one load would have stopped, so what follows it is dropped.
    QString l_Key;
    const int l_Duplicate = FirstDuplicate(l_Key);
    if (l_Duplicate >= 0)
    {
        m_Entries.erase(std::remove_if(m_Entries.begin(), m_Entries.end(),
                                       [l_Duplicate](const CASCIndexRecord& p_Record) {
                                           return p_Record._ArchiveIndex >= l_Duplicate;
                                       }),
                        m_Entries.end());
        m_ArchiveNames = m_ArchiveNames.mid(0, l_Duplicate + 1);
        Sort();
        l_Failure = {Errors::LocalStorage, "Error CASCIndexManager::Load duplicate index entry : " + l_Key};
        l_Read = false;
    }
    if (!l_Read)
    {
        m_Owner->RaiseError(l_Failure.m_Type, l_Failure.m_Message);
        return false;
    }
    m_Entries.shrink_to_fit();
    qWarning().noquote().nospace() << "CASCIndexManager::Load() " << m_Entries.size() << " entries loaded ";
    return true;
}

bool CASCIndexManager::ReadIndex(const QString& p_Name, bool p_Patch, Failure& p_Failure)
{
    const QString l_Path = IndexPath(p_Name);
    QFile l_File(l_Path);
    if (!l_File.open(QIODevice::ReadOnly))
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
    const size_t l_First = m_Entries.size();
    const IndexBytes l_Bytes(l_File);
    qint64 l_Where = 0;
    const CASCIndexFile::Result l_Result = CASCIndexFile::Parse(
        l_Bytes.Data(), l_Bytes.Size(),
        [&](const uchar* p_Key, quint32 p_Size, quint32 p_Offset) {
            CASCIndexRecord l_Record;
            std::memcpy(l_Record._Key.data(), p_Key, l_Record._Key.size());
            l_Record._ArchiveIndex = l_Archive;
            l_Record._Offset = p_Offset;
            l_Record._Size = p_Size & 0x7FFFFFFF;
            l_Record._Patch = p_Patch ? 1 : 0;
            m_Entries.push_back(l_Record);
        },
        nullptr, &l_Where);
    if (l_Result == CASCIndexFile::Ok)
        return true;
    m_Entries.resize(l_First);
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
    // Keys are digests, evenly spread: an in-place bucket pass on the first two bytes leaves
    // small runs to finish by comparison.
    std::vector<quint32>& l_Start = m_Buckets;
    l_Start.assign(BucketCount + 1, 0);
    for (const CASCIndexRecord& l_Record : m_Entries)
        ++l_Start[size_t(Bucket(l_Record)) + 1];
    for (int l_B = 0; l_B < BucketCount; ++l_B)
        l_Start[size_t(l_B) + 1] += l_Start[size_t(l_B)];
    std::vector<quint32> l_Next(l_Start.begin(), l_Start.end() - 1);
    for (int l_B = 0; l_B < BucketCount; ++l_B)
        while (l_Next[size_t(l_B)] < l_Start[size_t(l_B) + 1])
        {
            CASCIndexRecord l_Moving = m_Entries[l_Next[size_t(l_B)]];
            for (int l_Home = Bucket(l_Moving); l_Home != l_B; l_Home = Bucket(l_Moving))
                std::swap(l_Moving, m_Entries[l_Next[size_t(l_Home)]++]);
            m_Entries[l_Next[size_t(l_B)]++] = l_Moving;
        }
    for (int l_B = 0; l_B < BucketCount; ++l_B)
    {
        const auto l_Begin = m_Entries.begin() + l_Start[size_t(l_B)];
        const auto l_End = m_Entries.begin() + l_Start[size_t(l_B) + 1];
        if (l_End - l_Begin > 24)
            std::sort(l_Begin, l_End, Less);
        else
            for (auto l_I = l_Begin; l_I != l_End; ++l_I)
                for (auto l_J = l_I; l_J != l_Begin && Less(*l_J, *(l_J - 1)); --l_J)
                    std::swap(*l_J, *(l_J - 1));
    }
}

int CASCIndexManager::FirstDuplicate(QString& p_KeyHex) const
{
    // Sorted by key then archive: the second of two equal keys is the archive that repeats it.
    int l_Archive = -1;
    for (size_t l_I = 1; l_I < m_Entries.size(); ++l_I)
        if (m_Entries[l_I]._Key == m_Entries[l_I - 1]._Key &&
            (l_Archive < 0 || m_Entries[l_I]._ArchiveIndex < l_Archive))
            l_Archive = m_Entries[l_I]._ArchiveIndex;
    if (l_Archive < 0)
        return -1;

    // The message names the whole key of the first repeated entry in that file's order.
    std::set<CASCIndexKey> l_Seen;
    QFile l_File(IndexPath(m_ArchiveNames.at(l_Archive)));
    if (l_File.open(QIODevice::ReadOnly))
    {
        const IndexBytes l_Bytes(l_File);
        CASCIndexFile::Parse(l_Bytes.Data(), l_Bytes.Size(), [&](const uchar* p_Entry, quint32, quint32) {
            const CASCIndexKey l_Key = IndexKey(reinterpret_cast<const char*>(p_Entry));
            const CASCIndexRecord* l_Found = FindEntry(l_Key);
            const bool l_Earlier = l_Found && l_Found->_ArchiveIndex < l_Archive;
            if (p_KeyHex.isEmpty() && (l_Earlier || !l_Seen.insert(l_Key).second))
                p_KeyHex = QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(p_Entry), 16).toHex());
        });
    }
    return l_Archive;
}

const CASCIndexRecord* CASCIndexManager::FindEntry(CASCIndexKey p_Key) const
{
    if (m_Entries.empty())
        return nullptr;
    const int l_B = (p_Key[0] << 8) | p_Key[1];
    const auto l_Begin = m_Entries.begin() + m_Buckets[size_t(l_B)];
    const auto l_End = m_Entries.begin() + m_Buckets[size_t(l_B) + 1];
    const auto l_Found = std::lower_bound(l_Begin, l_End, p_Key, [](const CASCIndexRecord& p_Record, const CASCIndexKey& p_Wanted) {
        return std::memcmp(p_Record._Key.data(), p_Wanted.data(), p_Wanted.size()) < 0;
    });
    return l_Found != l_End && l_Found->_Key == p_Key ? &*l_Found : nullptr;
}

const QString* CASCIndexManager::GetArchiveName(quint16 p_Index) const
{
    return p_Index < m_ArchiveNames.size() ? &m_ArchiveNames.at(p_Index) : nullptr;
}

} // namespace CASC
} // namespace Orvane
