#include "casc/CASCSpillCopy.h"

#include "platform/FileWriter.h"

#include <QFile>

#include <algorithm>

namespace Orvane {
namespace CASC {

CASCSpillCopy::Result CASCSpillCopy::Run(const Job& p_Job, const CASCEncodingMap& p_Map,
                                         const std::function<bool()>& p_Stop)
{
    Result l_Result;
    QString l_Error;
    QFile l_Out(p_Job._Archive);
    QFile l_In(p_Job._Spill);
    if (!l_Out.open(QIODevice::ReadWrite | QIODevice::Unbuffered) || !l_In.open(QIODevice::ReadOnly) ||
        !l_Out.seek(p_Job._Offset))
    {
        l_Result._Outcome = Outcome::Failed;
        l_Result._Message = QStringLiteral("Failed to open archive or download file");
    }
    // The header goes with the first piece: one write, as for a blob held in memory.
    QByteArray l_Piece = p_Job._Header;
    for (qint64 l_Left = p_Job._Size; l_Result._Outcome == Outcome::Whole && l_Left > 0;)
    {
        if (p_Stop())
        {
            l_Result._Outcome = Outcome::Stopped;
            break;
        }
        const QByteArray l_Read = l_In.read(std::min<qint64>(l_Left, Piece));
        l_Piece.append(l_Read);
        if (l_Read.isEmpty() || Launcher::FileWriter::Write(l_Out, l_Piece, &l_Error) != l_Piece.size())
        {
            l_Result._Outcome = Outcome::Failed;
            l_Result._Message =
                "Failed to write archive : " + p_Job._Archive + (l_Error.isEmpty() ? QString() : " " + l_Error);
        }
        l_Left -= l_Read.size();
        l_Piece.clear();
    }
    l_Out.close();
    if (l_Result._Outcome != Outcome::Whole)
        return l_Result;
    QFile l_Written(p_Job._Archive);
    l_Result._Verdict = l_Written.open(QIODevice::ReadOnly)
                            ? CASCSlotCheck::Check(l_Written, l_Written.size(), p_Job._Offset, p_Job._Size,
                                                   p_Job._IndexKey.constData(), p_Map)
                            : CASCSlotCheck::Verdict::MissingArchive;
    if (l_Result._Verdict != CASCSlotCheck::Verdict::Whole)
        l_Result._Outcome = Outcome::Refused;
    return l_Result;
}

} // namespace CASC
} // namespace Orvane
