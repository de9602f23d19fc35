// Blobs arrive from the CDN in pieces of any size: the check made while they arrive must never
// read past what it was given, must hold no more than the blob the index announces, and must pass
// only a blob that the whole-blob reader takes as the one its key names (same key, every chunk's
// checksum right); a content key it gives on the way is the one the blob decodes to. Input: a byte
// of split points (its top bit: the index announces 2^31 - 1 bytes, as a hostile one may), then
// the blob.
#include "casc/BLTEHandler.h"
#include "casc/CASCBlobCheck.h"

#include <QBuffer>
#include <QtEndian>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>

using namespace Orvane::CASC;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* p_Data, size_t p_Size)
{
    if (p_Size < 2 || p_Size > size_t(INT_MAX))
        return 0;
    const int l_Step = 1 + (p_Data[0] & 0x3F);
    QByteArray l_Blob(reinterpret_cast<const char*>(p_Data + 1), int(p_Size - 1));

    // The index key the blob's own header gives, so that fuzzing gets past the key check.
    QBuffer l_Device(&l_Blob);
    l_Device.open(QIODevice::ReadOnly);
    QDataStream l_Stream(&l_Device);
    QByteArray l_Key = BLTEHandler::ExtractEntryMD5(l_Stream, quint64(l_Blob.size()));
    l_Key.resize(16);

    const bool l_Hostile = (p_Data[0] & 0x80) != 0;
    CASCBlobCheck l_Check(l_Hostile ? 0x7FFFFFFFu : quint32(l_Blob.size()), l_Key.left(9));
    for (int l_At = 0; l_At < l_Blob.size(); l_At += l_Step)
        l_Check.Add(l_Blob.constData() + l_At, std::min(l_Step, l_Blob.size() - l_At));
    if (l_Hostile)
    {
        // Memory stays bounded whatever the header claims: a check still open past the prefix holds a
        // header size of a table within the bound (or none).
        if (l_Blob.size() >= 8 && !l_Check.Failed())
        {
            const quint32 l_HeaderSize = qFromBigEndian<quint32>(reinterpret_cast<const uchar*>(l_Blob.constData() + 4));
            if (l_HeaderSize != 0 && (l_HeaderSize > CASCBlobCheck::MaxHeaderSize || l_HeaderSize < 36 || (l_HeaderSize - 12) % 24 != 0))
                std::abort();
        }
        return 0; // never complete: the blob is shorter than announced
    }
    if (l_Check.Passed() == l_Check.Failed())
        std::abort(); // every byte in: one verdict
    if (!l_Check.Passed())
        return 0;
    if (l_Check.Key() != l_Key)
        std::abort();
    if (!l_Check.ContentKey().isEmpty())
    {
        l_Device.seek(0);
        QByteArray l_Digest;
        if (BLTEHandler::ContentDigest(l_Stream, quint64(l_Blob.size()), l_Key.constData(), &l_Digest) != BLTEHandler::Ok ||
            l_Digest != l_Check.ContentKey())
            std::abort();
    }
    l_Device.seek(0);
    QByteArray l_Output;
    const qint32 l_Result = BLTEHandler::ExtractData(l_Stream, quint64(l_Blob.size()), l_Key.constData(), l_Output);
    // Only the decoding itself may still fail (a chunk that does not inflate, a mode not supported, a
    // declared content beyond what one array holds): never the key, the table or a checksum.
    if (l_Result != BLTEHandler::Ok && l_Result != BLTEHandler::UncompressError && l_Result != BLTEHandler::UnsupportedMode &&
        l_Result != BLTEHandler::NotEnoughData)
        std::abort();
    return 0;
}
