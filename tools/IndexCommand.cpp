#include "tools/IndexCommand.h"

#include "casc/CASCIndexFile.h"
#include "tools/CascToolExit.h"
#include "tools/InspectCommand.h"

#include <QJsonArray>

namespace Orvane {
namespace CASC {

QString IndexCommand::Usage()
{
    return QStringLiteral("  casc-tool index FILE [--limit N] [--json]\n"
                          "      Reads a CDN archive index and prints its entries (key, offset, size; the\n"
                          "      first N with --limit) and their count.\n");
}

int IndexCommand::Run(const QStringList& p_Args, QTextStream& p_Out, QTextStream& p_Err)
{
    InspectCommand::Arguments l_Args;
    QByteArray l_Bytes;
    if (const int l_Status = InspectCommand::Prepare("index", p_Args, true, l_Args, l_Bytes, p_Err))
        return l_Status;
    QJsonArray l_Entries;
    QString l_Lines;
    qint64 l_Listed = 0;
    quint32 l_Count = 0;
    qint64 l_Where = 0;
    const CASCIndexFile::Result l_Result = CASCIndexFile::Parse(
        reinterpret_cast<const uchar*>(l_Bytes.constData()), l_Bytes.size(),
        [&](const uchar* p_Key, quint32 p_Size, quint32 p_Offset) {
            if (l_Args.m_Limit >= 0 && l_Listed >= l_Args.m_Limit)
                return;
            ++l_Listed;
            const QString l_Key = QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(p_Key), 16).toHex());
            if (l_Args.m_Json)
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
        return InspectCommand::Fail(p_Err, CascToolExit::DataError, l_Args.m_File + ": shorter than an index tail");
    case CASCIndexFile::ZeroedKey:
        return InspectCommand::Fail(p_Err, CascToolExit::DataError,
                                    QString("%1: two zero keys in a row at offset %2").arg(l_Args.m_File).arg(l_Where));
    case CASCIndexFile::CountTooLarge:
        return InspectCommand::Fail(p_Err, CascToolExit::DataError,
                                    QString("%1: the count (%2) needs more entries than the file holds (offset %3)")
                                        .arg(l_Args.m_File).arg(l_Count).arg(l_Where));
    }
    if (l_Args.m_Json)
        InspectCommand::PrintJson(QJsonObject{{"count", double(l_Count)}, {"entries", l_Entries}}, p_Out);
    else
        p_Out << l_Lines << l_Count << " entries\n";
    return 0;
}

} // namespace CASC
} // namespace Orvane
