// BLTE blobs come from the CDN and from archives on disk: any bytes must decode or
// fail with a result code, without reading or reserving what the blob does not hold.
// The blob is checked against its own key so that fuzzing gets past the key check.
#include "casc/BLTEHandler.h"

#include <QBuffer>

#include <climits>
#include <cstdint>
#include <cstdlib>

using namespace Orvane::CASC;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* p_Data, size_t p_Size)
{
    if (p_Size < 1 || p_Size > size_t(INT_MAX))
        return 0;
    // The first byte shortens the size the caller gives, as a wrong index entry would.
    const quint64 l_Shorter = p_Data[0] & 0x0F;
    QByteArray l_Bytes(reinterpret_cast<const char*>(p_Data + 1), int(p_Size - 1));
    const quint64 l_Total = quint64(l_Bytes.size()) > l_Shorter ? quint64(l_Bytes.size()) - l_Shorter : 0;
    QBuffer l_Device(&l_Bytes);
    l_Device.open(QIODevice::ReadOnly);
    QDataStream l_Stream(&l_Device);

    QByteArray l_Key = BLTEHandler::ExtractEntryMD5(l_Stream, l_Total);
    if (!l_Key.isEmpty() && l_Key.size() != 16)
        std::abort();
    l_Key.resize(16);
    l_Device.seek(0);
    QByteArray l_Output;
    const qint32 l_Result = BLTEHandler::ExtractData(l_Stream, l_Total, l_Key.constData(), l_Output);
    if (l_Result < 0 || l_Result > 11 || l_Stream.byteOrder() != QDataStream::LittleEndian)
        std::abort();
    // No chunk may yield more than deflate's best ratio allows.
    if (qint64(l_Output.size()) > qint64(l_Total) * 1032 + 258 * (l_Total / 24 + 1))
        std::abort();
    return 0;
}
