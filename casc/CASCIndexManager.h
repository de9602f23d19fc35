#pragma once
#include "casc/CASCErrors.h"

#include <QObject>
#include <QStringList>

#include <array>
#include <atomic>
#include <vector>

namespace Orvane {
namespace CASC {

class CASCApplication;

/// The first 9 bytes of an encoding key: what archive indices and .idx files identify entries by.
using CASCIndexKey = std::array<quint8, 9>;

#pragma pack(push, 1)
/// Where a CDN archive holds one encoded file. Packed: the map holds one per archived file.
struct CASCIndexRecord
{
    CASCIndexKey _Key;
    quint16 _ArchiveIndex; ///< position of the archive's name in the manager's list
    quint32 _Offset;       ///< inside the archive
    quint32 _Size : 31;
    quint32 _Patch : 1;    ///< the archive is one of the configuration's patch archives
};
#pragma pack(pop)
static_assert(sizeof(CASCIndexRecord) == 19, "the index record is byte-packed");

/// Loads the indices of the CDN archives from the installation ("data/indices/NAME.index")
/// into one lookup from index key to archive, offset and size. Lives on the thread that
/// calls Load; failures are raised on the owner.
class CASCIndexManager : public QObject
{
    Q_OBJECT

public:
    explicit CASCIndexManager(CASCApplication* p_Owner);

    /// Reads every data archive's index, then every patch archive's, of the owner's CDN
    /// configuration; stops at the first failure (an OnError of the owner). An index that
    /// cannot be read as one is deleted, so that the next run fetches it again.
    void Load();
    /// Load over explicit archive lists; false after a failure or a cancel. Deletes nothing.
    bool LoadArchives(const QStringList& p_Archives, const QStringList& p_PatchArchives);

    /// A load in flight stops before its next index file and keeps nothing of this call;
    /// false lets the next one run. Any thread.
    void Cancel(bool p_Cancel) { m_Cancel = p_Cancel; }
    /// The last load was cancelled.
    bool Cancelled() const { return m_Cancelled; }

    /// Null when no archive lists the key.
    const CASCIndexRecord* FindEntry(CASCIndexKey p_Key) const;
    /// Null when p_Index is not below the number of archives read.
    const QString* GetArchiveName(quint16 p_Index) const;

    static CASCIndexKey IndexKey(const char* p_EncodingKey);
    int GetEntryCount() const { return int(m_EntryCount); }
    const QStringList& GetArchiveNames() const { return m_ArchiveNames; }

private:
    struct Failure
    {
        Errors::Type m_Type = Errors::LocalStorage;
        QString m_Message;
    };

    QString IndexPath(const QString& p_Name) const;
    /// Appends one index file's records, all or none; false, with p_Failure set, when it
    /// cannot be used.
    bool ReadIndex(const QString& p_Name, bool p_Patch, QByteArray& p_Buffer, Failure& p_Failure,
                   qint64 p_Limit = -1);
    /// Drops the records of archives from p_First on, and their names.
    void DropFrom(int p_First);
    /// Sorts the records and fills m_Buckets.
    void Sort();
    /// Moves p_Records into 256 groups by key byte p_Byte, in place; p_Start gets where each begins.
    static void SortRun(CASCIndexRecord* p_First, CASCIndexRecord* p_Last);
    static void FlagPass(CASCIndexRecord* p_Records, size_t p_Count, int p_Byte, std::array<size_t, 257>& p_Start);
    /// The first archive that lists a key an earlier archive (or itself, earlier) listed, with
    /// that key in hex; -1 when every key is listed once. Needs sorted records.
    int FirstDuplicate(QString& p_KeyHex, qint64& p_Before) const;

    CASCApplication* m_Owner;               // set once; the owner outlives it
    QStringList m_ArchiveNames;             // Load's thread; a record's archive index points here
    // Load's thread: the records by first key byte, each group sorted by key.
    std::array<std::vector<CASCIndexRecord>, 256> m_Groups;
    std::vector<quint32> m_Buckets; // Load's thread; where each second key byte starts in its group
    size_t m_EntryCount = 0;        // Load's thread
    std::atomic<bool> m_Cancel{false}; // any thread
    bool m_Cancelled = false;          // Load's thread
    QString m_Rejected;                // Load's thread; the index file the last load could not read
};

} // namespace CASC
} // namespace Orvane
