#include "tools/InspectCommand.h"

#include "casc/CASCIndexFile.h"
#include "tools/CascToolExit.h"

#include <QJsonArray>

namespace Orvane {
namespace CASC {

int InspectCommand::Index(const Arguments& p_Parsed, const QByteArray& p_Bytes, QTextStream& p_Out, QTextStream& p_Err)
{
    QJsonArray l_Entries;
    QString l_Lines;
    qint64 l_Listed = 0;
    quint32 l_Count = 0;
    qint64 l_Where = 0;
    const CASCIndexFile::Result l_Result = CASCIndexFile::Parse(
        reinterpret_cast<const uchar*>(p_Bytes.constData()), p_Bytes.size(),
        [&](const uchar* p_Key, quint32 p_Size, quint32 p_Offset) {
            if (p_Parsed.m_Limit >= 0 && l_Listed >= p_Parsed.m_Limit)
                return;
            ++l_Listed;
            const QString l_Key = QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(p_Key), 16).toHex());
            if (p_Parsed.m_Json)
                l_Entries.append(QJsonObject{{"key", l_Key}, {"offset", double(p_Offset)}, {"size", double(p_Size)}});
            else
                l_Lines += QString("%1 offset %2 size %3\n").arg(l_Key).arg(p_Offset).arg(p_Size);
        },
        &l_Count, &l_Where);
    switch (l_Result)
    {
    case CASCIndexFile::Ok:
        break;
    case CASCIndexFile::TooShort:
        return Fail(p_Err, CascToolExit::DataError, p_Parsed.m_File + ": shorter than an index tail");
    case CASCIndexFile::ZeroedKey:
        return Fail(p_Err, CascToolExit::DataError,
                                    QString("%1: two zero keys in a row at offset %2").arg(p_Parsed.m_File).arg(l_Where));
    case CASCIndexFile::CountTooLarge:
        return Fail(p_Err, CascToolExit::DataError,
                                    QString("%1: the count (%2) needs more entries than the file holds (offset %3)")
                                        .arg(p_Parsed.m_File).arg(l_Count).arg(l_Where));
    }
    if (p_Parsed.m_Json)
        PrintJson(QJsonObject{{"count", double(l_Count)}, {"entries", l_Entries}}, p_Out);
    else
        p_Out << l_Lines << l_Count << " entries\n";
    return 0;
}

} // namespace CASC
} // namespace Orvane
