#include "tools/InspectCommand.h"

#include "tools/CascToolExit.h"
#include "tools/OptionScanner.h"

#include <QFile>
#include <QJsonDocument>

namespace Orvane {
namespace CASC {

int InspectCommand::Fail(QTextStream& p_Err, int p_Status, const QString& p_Message)
{
    p_Err << "casc-tool: " << p_Message << "\n";
    if (p_Status == CascToolExit::Usage)
        p_Err << "Try 'casc-tool --help' for more information.\n";
    return p_Status;
}

int InspectCommand::Prepare(const QString& p_Command, const QStringList& p_Args, bool p_TakesLimit,
                            Arguments& p_Parsed, QByteArray& p_Bytes, QTextStream& p_Err)
{
    using Orvane::Publish::OptionScanner;
    OptionScanner l_Scanner(p_Args, 0, {"--json"}, p_TakesLimit ? QStringList{"--limit"} : QStringList());
    for (OptionScanner::Item l_Item = l_Scanner.Next(); l_Item.m_Kind != OptionScanner::Kind::End;
         l_Item = l_Scanner.Next())
    {
        if (l_Item.m_Kind == OptionScanner::Kind::Error)
            return Fail(p_Err, CascToolExit::Usage, l_Item.m_Value + " (" + p_Command + ")");
        if (l_Item.m_Kind == OptionScanner::Kind::Switch)
            p_Parsed.m_Json = true;
        else if (l_Item.m_Kind == OptionScanner::Kind::Option)
        {
            bool l_Ok = false;
            p_Parsed.m_Limit = l_Item.m_Value.toLongLong(&l_Ok);
            if (!l_Ok || p_Parsed.m_Limit < 0)
                return Fail(p_Err, CascToolExit::Usage, "--limit needs a count, got " + l_Item.m_Value);
        }
        else if (l_Item.m_Value.startsWith("-"))
            return Fail(p_Err, CascToolExit::Usage, "unknown option " + l_Item.m_Value + " for " + p_Command);
        else if (!p_Parsed.m_File.isEmpty())
            return Fail(p_Err, CascToolExit::Usage, "unexpected argument " + l_Item.m_Value);
        else
            p_Parsed.m_File = l_Item.m_Value;
    }
    if (p_Parsed.m_File.isEmpty())
        return Fail(p_Err, CascToolExit::Usage, p_Command + " needs a FILE");
    QFile l_File(p_Parsed.m_File);
    if (!l_File.open(QIODevice::ReadOnly))
        return Fail(p_Err, CascToolExit::NoInput, "cannot read " + p_Parsed.m_File + ": " + l_File.errorString());
    p_Bytes = l_File.readAll();
    if (l_File.error() != QFileDevice::NoError)
        return Fail(p_Err, CascToolExit::NoInput, "cannot read " + p_Parsed.m_File + ": " + l_File.errorString());
    return 0;
}

void InspectCommand::PrintJson(const QJsonObject& p_Document, QTextStream& p_Out)
{
    p_Out << QJsonDocument(p_Document).toJson(QJsonDocument::Indented);
}

} // namespace CASC
} // namespace Orvane
