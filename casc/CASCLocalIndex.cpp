#include "casc/CASCLocalIndex.h"

#include <QDir>
#include <QFile>
#include <QtEndian>

#include <cstring>

namespace Orvane {
namespace CASC {

QStringList CASCLocalIndex::List(const QString& p_InstallFolder)
{
    const QDir l_Dir(p_InstallFolder + "data/data/");
    QStringList l_Paths;
    for (int l_Bucket = 0; l_Bucket < 16; ++l_Bucket)
    {
        const QString l_Pattern = QString::asprintf("%02X*.idx", l_Bucket).toLower();
        // Sorted by name, so the last one is the highest version of the bucket on every file system.
        const QStringList l_Names = l_Dir.entryList({l_Pattern}, QDir::Files | QDir::NoSymLinks, QDir::Name);
        if (!l_Names.isEmpty())
            l_Paths.append(l_Dir.filePath(l_Names.last()));
    }
    return l_Paths;
}

bool CASCLocalIndex::Read(const QString& p_Path, std::vector<CASCLocalIndexEntry>& p_Entries, QString& p_Error,
                          int* p_Skipped)
{
    QFile l_File(p_Path);
    if (!l_File.open(QIODevice::ReadOnly))
    {
        p_Error = "cannot open " + p_Path + ": " + l_File.errorString();
        return false;
    }
    if (!Parse(l_File.readAll(), p_Entries, p_Error, p_Skipped))
    {
        p_Error = p_Path + ": " + p_Error;
        return false;
    }
    return true;
}

bool CASCLocalIndex::Parse(const QByteArray& p_Data, std::vector<CASCLocalIndexEntry>& p_Entries, QString& p_Error,
                           int* p_Skipped)
{
    const auto l_Bytes = reinterpret_cast<const uchar*>(p_Data.constData());
    const qint64 l_Size = p_Data.size();
    if (l_Size < 8)
    {
        p_Error = "shorter than its header";
        return false;
    }
    const qint64 l_HeaderBlock = qFromLittleEndian<quint32>(l_Bytes);
    // The entry area starts at the next multiple of 16 at or after the header block's end.
    const qint64 l_Area = (l_HeaderBlock + 23) & ~qint64(15);
    if (l_Area + 8 > l_Size)
    {
        p_Error = "shorter than its header block says";
        return false;
    }
    const qint64 l_AreaSize = qFromLittleEndian<quint32>(l_Bytes + l_Area);
    const qint64 l_Count = l_AreaSize / EntrySize;
    if (l_Area + 8 + l_Count * EntrySize > l_Size)
    {
        p_Error = "shorter than its entry area says";
        return false;
    }
    p_Entries.reserve(p_Entries.size() + size_t(l_Count));
    for (const uchar* l_At = l_Bytes + l_Area + 8; l_At < l_Bytes + l_Area + 8 + l_Count * EntrySize; l_At += EntrySize)
    {
        CASCLocalIndexEntry l_Entry;
        std::memcpy(l_Entry.Key, l_At, 9);
        const quint32 l_Low = qFromBigEndian<quint32>(l_At + 10);
        l_Entry.Archive = quint8((l_Low >> 30) | (quint32(l_At[9]) << 2));
        l_Entry.Offset = l_Low & 0x3FFFFFFF;
        l_Entry.Size = qFromLittleEndian<quint32>(l_At + 14);
        if (quint64(l_Entry.Offset) + l_Entry.Size > 0xFFFFFFFFull)
        {
            if (p_Skipped)
                ++*p_Skipped;
            continue;
        }
        p_Entries.push_back(l_Entry);
    }
    return true;
}

} // namespace CASC
} // namespace Orvane
