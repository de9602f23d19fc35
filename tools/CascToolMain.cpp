// casc-tool: builds, inspects and debugs content stores.
#include "tools/BlteCommand.h"
#include "tools/CascToolExit.h"
#include "cli/CommandLine.h"
#include "cli/LogFilter.h"
#include "tools/InspectCommand.h"
#include "tools/ScanCommand.h"
#include "tools/forge/ForgeCommand.h"
#include "platform/Platform.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

using namespace Orvane::CASC;

namespace {

QString Help(Orvane::Tools::CommandLine& p_Line)
{
    return p_Line.HelpText("casc-tool COMMAND ...",
                           "Builds, inspects and debugs content stores (BLTE blobs, archives, indices).")
        + QStringLiteral("\nCommands:\n") + BlteCommand::Usage() + "\n" + Forge::ForgeCommand::Usage() + "\n"
        + InspectCommand::Usage() + "\n" + ScanCommand::Usage()
        + QStringLiteral("\n"
                         "Exit status: 0 on success; for blte decode the decoder's result code (1 to 11);\n"
                         "1 when blte key finds no BLTE blob, or scan finds slots to fetch; 64 on a bad\n"
                         "command line; 65 when a table, configuration, index or encoding file does not\n"
                         "parse; 66 when an input\n"
                         "cannot be read (or forge input cannot be stored); 73 when an output cannot be written.\n");
}

void PrintError(const QString& p_Line)
{
    fprintf(stderr, "%s\n", qPrintable(p_Line));
}

} // namespace

int main(int p_Argc, char** p_Argv)
{
    QCoreApplication l_App(p_Argc, p_Argv);
    // The readers' warnings are lines for the launcher's log ("BLTEHandler::ExtractData() ..."): each
    // command says what went wrong in its own words instead (QT_LOGGING_RULES brings them back).
    Orvane::Tools::LogFilter::Install(false, &PrintError);
    QTextStream l_Out(stdout);
    QTextStream l_Err(stderr);
#if defined(Q_OS_WIN)
    // UTF-8 to a pipe or a file, and a console told so: the ANSI code page spells few letters.
    Orvane::Launcher::Platform::Utf8Console();
    l_Out.setCodec("UTF-8");
    l_Err.setCodec("UTF-8");
#endif
    // Global options, then a command that parses the rest itself.
    Orvane::Tools::CommandLine l_Line;
    l_Line.AddHelpAndVersion();
    l_Line.StopAtFirstPositional();
    if (!l_Line.Parse(QCoreApplication::arguments().mid(1)))
    {
        l_Err << "casc-tool: " << l_Line.Message() << "\n"
              << "Try 'casc-tool --help' for more information.\n";
        return CascToolExit::Usage;
    }
    const QStringList l_Args = l_Line.Positional();
    const QString l_Command = l_Args.value(0);
    if (l_Line.IsSet("help") || l_Command == "help")
    {
        l_Out << Help(l_Line);
        return 0;
    }
    if (l_Line.IsSet("version"))
    {
        l_Out << Orvane::Tools::CommandLine::VersionLine() << "\n";
        return 0;
    }
    if (l_Command == "blte")
        return BlteCommand::Run(l_Args.mid(1), l_Out, l_Err);
    if (l_Command == "scan")
        return ScanCommand::Run(l_Args.mid(1), l_Out, l_Err);
    if (l_Command == "forge")
        return Forge::ForgeCommand::Run(l_Args.mid(1), l_Out, l_Err);
    if (InspectCommand::Handles(l_Command))
        return InspectCommand::Run(l_Command, l_Args.mid(1), l_Out, l_Err);
    l_Err << "casc-tool: " << (l_Command.isEmpty() ? QStringLiteral("a command is needed") : "unknown command " + l_Command)
          << "\n"
          << Help(l_Line);
    return CascToolExit::Usage;
}
