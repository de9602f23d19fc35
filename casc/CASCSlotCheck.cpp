#include "casc/CASCSlotCheck.h"

#include "casc/BLTEHandler.h"
#include "casc/Bytes.h"
#include "casc/CascLog.h"

#include <QBuffer>
#include <QDataStream>
#include <QDebug>
#include <QtEndian>

#include <cstring>

namespace Orvane {
namespace CASC {

namespace {

/// Key and decode checks of a blob at the device's current position.
CASCSlotCheck::Verdict CheckBlob(QIODevice& p_Device, quint32 p_BlobSize, const char* p_StoredKey,
                                 const CASCEncodingRecord* p_Record, bool p_ChunksChecked = false)
{
    using Verdict = CASCSlotCheck::Verdict;
    const qint64 l_Start = p_Device.pos();
    QDataStream l_Stream(&p_Device);
    quint32 l_HeaderSize = 0;
    const QByteArray l_Key = BLTEHandler::ExtractEntryMD5(l_Stream, p_BlobSize, &l_HeaderSize);
    if (l_Key.size() != 16 || std::memcmp(l_Key.constData(), p_StoredKey, 9) != 0)
        return Verdict::KeyMismatch;
    if (l_HeaderSize == 0)
        return Verdict::NoChunkTable;
    p_Device.seek(l_Start);
    QByteArray l_Md5;
    if (BLTEHandler::ContentDigest(l_Stream, p_BlobSize, p_StoredKey, &l_Md5, nullptr, p_ChunksChecked) != BLTEHandler::Ok)
        return Verdict::DecodeError;
    if (!p_Record)
        return Verdict::MissingMd5;
    return std::memcmp(l_Md5.constData(), p_Record->ContentKey, 16) == 0 ? Verdict::Whole : Verdict::ContentMismatch;
}

} // namespace

CASCSlotCheck::Verdict CASCSlotCheck::Check(QFile& p_Archive, qint64 p_ArchiveSize, quint32 p_Offset,
                                            quint32 p_BlobSize, const char* p_IndexKey, const CASCEncodingMap& p_Map)
{
    if (qint64(p_Offset) + EntryHeaderSize > p_ArchiveSize || !p_Archive.seek(p_Offset))
        return Verdict::BeyondEnd;
    const CASCEncodingRecord* l_Record = p_Map.Find(p_IndexKey);
    if (!l_Record)
        qCWarning(CascLog).noquote() << "CASCArchivesManager::ScanInstall() Missing MD5 for " +
                                            Bytes::Hex(QByteArray(p_IndexKey, 9));

    const bool l_InMemory = p_BlobSize <= InMemoryBlob;
    // One read for header and blob when the blob is small enough: the checks then work in memory.
    QByteArray l_Slot = p_Archive.read(EntryHeaderSize + (l_InMemory ? qint64(p_BlobSize) : 0));
    if (l_Slot.size() < EntryHeaderSize)
        return Verdict::BeyondEnd;
    char l_StoredKey[16];
    for (int l_I = 0; l_I < 16; ++l_I)
        l_StoredKey[l_I] = l_Slot.at(15 - l_I);
    const quint32 l_SlotSize = qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(l_Slot.constData() + 16));
    if (quint64(l_SlotSize) != quint64(p_BlobSize) + EntryHeaderSize)
        return Verdict::SizeMismatch;
    if (std::memcmp(l_StoredKey, p_IndexKey, 9) != 0)
        return Verdict::KeyMismatch;
    if (!l_InMemory)
        return CheckBlob(p_Archive, p_BlobSize, l_StoredKey, l_Record);
    if (l_Slot.size() < EntryHeaderSize + qint64(p_BlobSize))
        return Verdict::BeyondEnd; // the archive ends inside the blob
    QBuffer l_Buffer(&l_Slot);
    l_Buffer.open(QIODevice::ReadOnly);
    l_Buffer.seek(EntryHeaderSize);
    return CheckBlob(l_Buffer, p_BlobSize, l_StoredKey, l_Record);
}

CASCSlotCheck::Verdict CASCSlotCheck::CheckReceived(const char* p_Blob, quint32 p_BlobSize, const QByteArray& p_Key,
                                                    const QByteArray& p_ContentKey, const CASCEncodingMap& p_Map)
{
    if (p_ContentKey.size() == 16)
    {
        // Plain chunks, each checked on arrival, with a table: they decode to themselves.
        const CASCEncodingRecord* l_Record = p_Map.Find(p_Key.constData());
        if (!l_Record)
            return Verdict::MissingMd5;
        return std::memcmp(p_ContentKey.constData(), l_Record->ContentKey, 16) == 0 ? Verdict::Whole
                                                                                     : Verdict::ContentMismatch;
    }
    QByteArray l_Bytes = QByteArray::fromRawData(p_Blob, int(p_BlobSize));
    QBuffer l_Buffer(&l_Bytes);
    l_Buffer.open(QIODevice::ReadOnly);
    return CheckBlob(l_Buffer, p_BlobSize, p_Key.constData(), p_Map.Find(p_Key.constData()), true);
}

const char* CASCSlotCheck::Name(Verdict p_Verdict)
{
    switch (p_Verdict)
    {
    case Verdict::Whole: return "whole";
    case Verdict::MissingArchive: return "missing-archive";
    case Verdict::BeyondEnd: return "beyond-end";
    case Verdict::SizeMismatch: return "size-mismatch";
    case Verdict::KeyMismatch: return "key-mismatch";
    case Verdict::NoChunkTable: return "no-chunk-table";
    case Verdict::DecodeError: return "decode-error";
    case Verdict::MissingMd5: return "missing-md5";
    case Verdict::ContentMismatch: return "content-mismatch";
    }
    return "whole";
}

} // namespace CASC
} // namespace Orvane
