#include "casc/Bytes.h"

#include <QtEndian>

namespace Orvane {
namespace CASC {

void Bytes::AppendBigEndian32(QByteArray& p_Out, quint32 p_Value)
{
    uchar l_Bytes[4];
    qToBigEndian(p_Value, l_Bytes);
    p_Out.append(reinterpret_cast<const char*>(l_Bytes), 4);
}

void Bytes::AppendLittleEndian32(QByteArray& p_Out, quint32 p_Value)
{
    uchar l_Bytes[4];
    qToLittleEndian(p_Value, l_Bytes);
    p_Out.append(reinterpret_cast<const char*>(l_Bytes), 4);
}

QString Bytes::Hex(const QByteArray& p_Raw)
{
    return QString::fromLatin1(p_Raw.toHex());
}

} // namespace CASC
} // namespace Orvane
