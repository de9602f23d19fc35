#pragma once
#include <QByteArray>
#include <QtGlobal>

#include <vector>

namespace Orvane {
namespace CASC {

#pragma pack(push, 1)
/// One encoding entry, keyed by the first 9 bytes of an encoding key: 30 bytes, no gaps.
struct CASCEncodingRecord
{
    quint64 KeyLow;        ///< index key bytes 0..7, little-endian
    quint8 KeyNinth;       ///< index key byte 8
    quint8 SizeHigh;       ///< top byte of the 40-bit content size
    quint32 Size;          ///< low 32 bits of the content size
    char ContentKey[16];   ///< MD5 of the decoded content

    quint64 FullSize() const { return (quint64(SizeHigh) << 32) | Size; }
    bool operator<(const CASCEncodingRecord& p_Other) const
    {
        return KeyLow != p_Other.KeyLow ? KeyLow < p_Other.KeyLow : KeyNinth < p_Other.KeyNinth;
    }
    bool SameKey(const CASCEncodingRecord& p_Other) const
    {
        return KeyLow == p_Other.KeyLow && KeyNinth == p_Other.KeyNinth;
    }
    static CASCEncodingRecord ForKey(const char* p_IndexKey);
};
#pragma pack(pop)
static_assert(sizeof(CASCEncodingRecord) == 30, "encoding records are byte-packed");

/// The encoding map: index key -> (content size, content key). A flat sorted array, so that a
/// map of millions of entries costs its 30-byte records and nothing else. Filled in batches;
/// read-only (and so safe to share between threads) between batches.
class CASCEncodingMap
{
public:
    /// Adds a parsed batch, in file order. Within the batch and against the map, a later
    /// record for the same index key replaces the earlier one.
    void Merge(std::vector<CASCEncodingRecord>&& p_Batch);

    /// The record of a 9-byte index key, or null.
    const CASCEncodingRecord* Find(const char* p_IndexKey) const;
    const CASCEncodingRecord* Find(const QByteArray& p_IndexKey) const
    {
        return p_IndexKey.size() < 9 ? nullptr : Find(p_IndexKey.constData());
    }

    size_t Size() const { return m_Records.size(); }
    /// Bytes the map holds for its records (its capacity).
    size_t Bytes() const { return m_Records.capacity() * sizeof(CASCEncodingRecord); }

private:
    std::vector<CASCEncodingRecord> m_Records; // owner thread: the archive manager's; read-only during a scan
};

} // namespace CASC
} // namespace Orvane
