#pragma once
#include <QByteArray>
#include <QString>

namespace Orvane {
namespace CASC {

/// The byte-level pieces every content-store file is made of: fixed-width integers
/// in either byte order, MD5 keys and their lower-case hex text.
class Bytes
{
public:
    static void AppendBigEndian32(QByteArray& p_Out, quint32 p_Value);
    static void AppendLittleEndian32(QByteArray& p_Out, quint32 p_Value);
    static QByteArray Md5(const QByteArray& p_Data);
    static QString Hex(const QByteArray& p_Raw);
};

} // namespace CASC
} // namespace Orvane
