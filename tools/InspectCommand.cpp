#include "tools/InspectCommand.h"

#include "tools/CascToolExit.h"
#include "cli/CommandLine.h"

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

int InspectCommand::Prepare(const QString& p_Command, const QStringList& p_Args, Arguments& p_Parsed,
                            QByteArray& p_Bytes, QTextStream& p_Err)
{
    Orvane::Tools::CommandLine l_Line;
    l_Line.AddSwitch({"json"}, "the same as one JSON document");
    if (p_Command == "index")
        l_Line.AddValue({"limit"}, "N", "the first N entries only");
    if (!l_Line.Parse(p_Args))
        return Fail(p_Err, CascToolExit::Usage, l_Line.Message(p_Command));
    p_Parsed.m_Json = l_Line.IsSet("json");
    // Qt warns on stderr when asked about an option it was not given.
    if (p_Command == "index" && l_Line.IsSet("limit"))
    {
        bool l_Ok = false;
        p_Parsed.m_Limit = l_Line.Value("limit").toLongLong(&l_Ok);
        if (!l_Ok || p_Parsed.m_Limit < 0)
            return Fail(p_Err, CascToolExit::Usage, "--limit needs a count, got " + l_Line.Value("limit"));
    }
    for (const QString& l_Value : l_Line.Positional())
    {
        if (l_Value.startsWith("-"))
            return Fail(p_Err, CascToolExit::Usage, "unknown option " + l_Value + " for " + p_Command);
        if (!p_Parsed.m_File.isEmpty())
            return Fail(p_Err, CascToolExit::Usage, "unexpected argument " + l_Value);
        p_Parsed.m_File = l_Value;
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

bool InspectCommand::Handles(const QString& p_Command)
{
    return p_Command == "tables" || p_Command == "config" || p_Command == "index";
}

QString InspectCommand::Usage()
{
    return QStringLiteral("  casc-tool tables FILE [--json]\n"
                          "      Parses a \"cdns\" or \"versions\" table and prints its rows by region.\n"
                          "  casc-tool config FILE [--json]\n"
                          "      Parses a CDN, build or patch configuration and prints the fields it holds.\n"
                          "  casc-tool index FILE [--limit N] [--json]\n"
                          "      Reads a CDN archive index and prints its entries (key, offset, size; the\n"
                          "      first N with --limit) and their count.\n");
}

int InspectCommand::Run(const QString& p_Command, const QStringList& p_Args, QTextStream& p_Out, QTextStream& p_Err)
{
    Arguments l_Args;
    QByteArray l_Bytes;
    if (const int l_Status = Prepare(p_Command, p_Args, l_Args, l_Bytes, p_Err))
        return l_Status;
    if (p_Command == "tables")
        return Tables(l_Args, l_Bytes, p_Out, p_Err);
    if (p_Command == "config")
        return Config(l_Args, l_Bytes, p_Out, p_Err);
    return Index(l_Args, l_Bytes, p_Out, p_Err);
}

void InspectCommand::PrintJson(const QJsonObject& p_Document, QTextStream& p_Out)
{
    p_Out << QJsonDocument(p_Document).toJson(QJsonDocument::Indented);
}

} // namespace CASC
} // namespace Orvane
