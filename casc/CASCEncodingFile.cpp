#include "casc/CASCEncodingFile.h"

#include "casc/Bytes.h"
#include "casc/CascLog.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QtEndian>

#include <cstring>

namespace Orvane {
namespace CASC {

namespace {

struct Header
{
    quint8 B1 = 0;
    quint8 ChecksumSizeA = 0;
    quint8 ChecksumSizeB = 0;
    qint16 FlagsA = 0;
    qint16 FlagsB = 0;
    quint32 NumEntriesA = 0;
    quint32 NumEntriesB = 0;
    qint8 B4 = 0;
    quint32 StringBlockSize = 0;
};

const uchar* At(const QByteArray& p_Data, qint64 p_Offset)
{
    return reinterpret_cast<const uchar*>(p_Data.constData()) + p_Offset;
}

void LogHeader(const Header& p_Header)
{
    const auto l_Line = [](const char* p_Label, qint64 p_Value) {
        qCWarning(CascLog).noquote() << QString::fromLatin1(p_Label) + QString::number(p_Value);
    };
    qCWarning(CascLog).noquote() << "CASCArchivesManager::ParseEncodingFile() Encoding file header :";
    l_Line("\tl_B1              : ", p_Header.B1);
    l_Line("\tl_ChecksumSizeA   : ", p_Header.ChecksumSizeA);
    l_Line("\tl_ChecksumSizeB   : ", p_Header.ChecksumSizeB);
    l_Line("\tl_FlagsA          : ", p_Header.FlagsA);
    l_Line("\tl_FlagsB          : ", p_Header.FlagsB);
    l_Line("\tl_NumEntriesA     : ", p_Header.NumEntriesA);
    l_Line("\tl_NumEntriesB     : ", p_Header.NumEntriesB);
    l_Line("\tl_B4              : ", p_Header.B4);
    l_Line("\tl_StringBlockSize : ", p_Header.StringBlockSize);
}

} // namespace

bool CASCEncodingFile::Parse(const QByteArray& p_Data, CASCEncodingMap& p_Map, const Progress& p_Progress,
                             const std::atomic<bool>* p_CallOff)
{
    const qint64 l_End = p_Data.size();
    if (l_End < HeaderSize)
        return false;
    Header l_Header;
    l_Header.B1 = *At(p_Data, 2);
    l_Header.ChecksumSizeA = *At(p_Data, 3);
    l_Header.ChecksumSizeB = *At(p_Data, 4);
    l_Header.FlagsA = qFromLittleEndian<qint16>(At(p_Data, 5));
    l_Header.FlagsB = qFromLittleEndian<qint16>(At(p_Data, 7));
    l_Header.NumEntriesA = qFromBigEndian<quint32>(At(p_Data, 9));
    l_Header.NumEntriesB = qFromBigEndian<quint32>(At(p_Data, 13));
    l_Header.B4 = qint8(*At(p_Data, 17));
    l_Header.StringBlockSize = qFromBigEndian<quint32>(At(p_Data, 18));
    // Formatting a line costs a handful of allocations: none when warnings go nowhere.
    const bool l_Log = CascLog().isWarningEnabled();
    if (l_Log)
        LogHeader(l_Header);

    // Keys shorter than an index key cannot be looked up; longer ones do not fit the record.
    const qint64 l_KeyA = l_Header.ChecksumSizeA;
    const qint64 l_KeyB = l_Header.ChecksumSizeB;
    if (l_KeyA < 9 || l_KeyA > 16)
        return false;

    // Sizes below are 64-bit sums of 32-bit fields: none can wrap.
    qint64 l_Pos = HeaderSize + qint64(l_Header.StringBlockSize) + qint64(l_Header.NumEntriesA) * 2 * l_KeyA;
    const qint64 l_P0 = l_Pos;
    if (l_P0 + qint64(l_Header.NumEntriesA) * PageSize > l_End)
        return false;

    std::vector<CASCEncodingRecord> l_Batch;
    // About one entry per 38 bytes of page with 16-byte keys and one encoding key each.
    l_Batch.reserve(size_t(l_Header.NumEntriesA) * size_t(PageSize / (6 + 2 * l_KeyA)));
    QElapsedTimer l_Clock;
    l_Clock.start();
    qint64 l_LastTick = 0;
    const auto l_Tick = [&] {
        if (p_Progress && l_Clock.elapsed() - l_LastTick > ProgressIntervalMs)
        {
            p_Progress(quint32(p_Map.Size() + l_Batch.size()));
            l_LastTick = l_Clock.elapsed();
        }
    };

    for (quint32 l_Page = 0; l_Page < l_Header.NumEntriesA; ++l_Page)
    {
        if (p_CallOff && *p_CallOff)
            return false;
        l_Pos = l_P0 + qint64(l_Page) * PageSize;
        const qint64 l_PageEnd = l_Pos + PageSize;
        // A page filled to its last byte has no room for the zero count word that ends it.
        while (l_Pos + 2 <= l_PageEnd)
        {
            const quint16 l_Word = qFromLittleEndian<quint16>(At(p_Data, l_Pos));
            if (l_Word == 0)
                break;
            const qint64 l_Keys = l_Word & 0xFF;
            const qint64 l_Length = 2 + 4 + l_KeyA + l_Keys * l_KeyA;
            if (l_Pos + l_Length > l_PageEnd)
                return false;
            const uchar* l_Entry = At(p_Data, l_Pos);
            if (l_Keys > 0)
            {
                const char* l_Content = reinterpret_cast<const char*>(l_Entry + 6);
                const char* l_First = l_Content + l_KeyA;
                CASCEncodingRecord l_Record = CASCEncodingRecord::ForKey(l_First);
                l_Record.SizeHigh = quint8(l_Word >> 8); // the top byte of the 40-bit size
                l_Record.Size = qFromBigEndian<quint32>(l_Entry + 2);
                std::memset(l_Record.ContentKey, 0, sizeof(l_Record.ContentKey));
                std::memcpy(l_Record.ContentKey, l_Content, size_t(l_KeyA));
                l_Batch.push_back(l_Record);
                for (qint64 l_Other = 1; l_Log && l_Other < l_Keys; ++l_Other)
                    qCWarning(CascLog).noquote() << "Multiple encoding keys for MD5 " +
                                                        Bytes::Hex(QByteArray(l_Content, int(l_KeyA))) + ": " +
                                                        Bytes::Hex(QByteArray(l_First + l_Other * l_KeyA, int(l_KeyA)));
            }
            l_Pos += l_Length;
            l_Tick();
        }
        l_Tick();
    }

    // Table B is walked, not kept: each page's first entry must be there.
    const qint64 l_P1 = l_P0 + qint64(l_Header.NumEntriesA) * PageSize + qint64(l_Header.NumEntriesB) * 2 * l_KeyB;
    if (l_P1 + qint64(l_Header.NumEntriesB) * PageSize > l_End)
        return false;
    if (l_Header.NumEntriesB > 0 && l_KeyB + 9 > PageSize)
        return false;

    p_Map.Merge(std::move(l_Batch));
    return true;
}

} // namespace CASC
} // namespace Orvane
