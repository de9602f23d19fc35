// casc-tool: builds, inspects and debugs content stores.
#include "tools/BlteCommand.h"
#include "tools/CascToolExit.h"
#include "tools/InspectCommand.h"
#include "tools/ScanCommand.h"
#include "tools/forge/ForgeCommand.h"

#include <QCoreApplication>
#include <QTextStream>

using namespace Orvane::CASC;

namespace {

QString Help()
{
    return QStringLiteral("Usage: casc-tool COMMAND ...\n"
                          "\n"
                          "Builds, inspects and debugs content stores (BLTE blobs, archives, indices).\n"
                          "\n")
        + BlteCommand::Usage() + "\n" + Forge::ForgeCommand::Usage() + "\n" + InspectCommand::Usage() + "\n"
        + ScanCommand::Usage()
        + QStringLiteral("\n"
                         "Exit status: 0 on success; for blte decode the decoder's result code (1 to 11);\n"
                         "1 when blte key finds no BLTE blob, or scan finds slots to fetch; 64 on a bad\n"
                         "command line; 65 when a table, configuration, index or encoding file does not\n"
                         "parse; 66 when an input\n"
                         "cannot be read (or forge input cannot be stored); 73 when an output cannot be written.\n");
}

} // namespace

int main(int p_Argc, char** p_Argv)
{
    QCoreApplication l_App(p_Argc, p_Argv);
    QTextStream l_Out(stdout);
    QTextStream l_Err(stderr);
    const QStringList l_Args = QCoreApplication::arguments().mid(1);
    const QString l_Command = l_Args.value(0);
    if (l_Command == "--help" || l_Command == "-h" || l_Command == "help")
    {
        l_Out << Help();
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
          << Help();
    return CascToolExit::Usage;
}
