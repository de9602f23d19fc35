#pragma once
#include <QByteArray>
#include <QString>

namespace Orvane {
namespace CASC {

/// The byte-level pieces every content-store file is made of: fixed-width integers
/// in either byte order and the lower-case hex text of keys.
class Bytes
{
public:
    static void AppendBigEndian32(QByteArray& p_Out, quint32 p_Value);
    static void AppendLittleEndian32(QByteArray& p_Out, quint32 p_Value);
    static QString Hex(const QByteArray& p_Raw);
};

} // namespace CASC
} // namespace Orvane
