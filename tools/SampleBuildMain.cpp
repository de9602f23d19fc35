// orvane-samplebuild: writes a made-up game folder to publish in demos and tests.
#include "tools/SampleBuild.h"
#include "net/ByteSize.h"

#include <QCoreApplication>
#include <QDir>
#include <QStringList>
#include <QTextStream>

using namespace Orvane::Publish;

namespace {

const char* const s_Help =
    "Usage: orvane-samplebuild [--files N] [--size BYTES] [--seed N] OUTPUT_FOLDER\n"
    "\n"
    "Writes a made-up game folder: Wow.exe (32-bit client) and Wow-64.exe (64-bit),\n"
    "archives under Data/, enUS and frFR files, streamed files under Data/Streamed/,\n"
    "and one file for each flag: Fonts/ (read-only), Utils/ (full permissions),\n"
    "Data/Tracked/ (tracked), Launcher.dat (from the server), Cache/ (presence).\n"
    "The same options always give the same bytes. OUTPUT_FOLDER must not exist or be empty.\n"
    "\n"
    "  --files N     number of files (default 300)\n"
    "  --size BYTES  total size, with an optional K, M or G suffix (default 300M)\n"
    "  --seed N      seed of the content (default 1)\n";

} // namespace

int main(int p_Argc, char** p_Argv)
{
    QCoreApplication l_App(p_Argc, p_Argv);
    QTextStream l_Out(stdout);
    QTextStream l_Err(stderr);
    int l_Files = 300;
    qint64 l_Size = 300ll * 1024 * 1024;
    qulonglong l_Seed = 1;
    QString l_Output;

    const QStringList l_Args = QCoreApplication::arguments();
    for (int l_I = 1; l_I < l_Args.size(); ++l_I)
    {
        const QString l_Arg = l_Args.at(l_I);
        if (l_Arg == "--help")
        {
            l_Out << s_Help;
            return 0;
        }
        bool l_Ok = true;
        if ((l_Arg == "--files" || l_Arg == "--size" || l_Arg == "--seed") && l_I + 1 < l_Args.size())
        {
            const QString l_Value = l_Args.at(++l_I);
            if (l_Arg == "--files")
                l_Files = l_Value.toInt(&l_Ok);
            else if (l_Arg == "--size")
                l_Ok = (l_Size = Orvane::Launcher::ByteSize::Parse(l_Value)) >= 0;
            else
                l_Seed = l_Value.toULongLong(&l_Ok);
            l_Ok = l_Ok && l_Files >= SampleBuild::MinimumFileCount() && l_Files <= 1000000;
        }
        else if (l_Arg.startsWith("-") || !l_Output.isEmpty())
            l_Ok = false;
        else
            l_Output = l_Arg;
        if (!l_Ok)
        {
            l_Err << "orvane-samplebuild: bad argument " << l_Arg << " (at least "
                  << SampleBuild::MinimumFileCount() << " files)\n"
                  << s_Help;
            return 2;
        }
    }
    if (l_Output.isEmpty())
    {
        l_Err << s_Help;
        return 2;
    }
    if (!QDir(l_Output).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
    {
        l_Err << "orvane-samplebuild: " << l_Output << " exists and is not empty\n";
        return 1;
    }

    SampleBuild l_Build(l_Files, l_Size, l_Seed);
    QString l_Error;
    if (!l_Build.Write(l_Output, l_Error))
    {
        l_Err << "orvane-samplebuild: " << l_Error << "\n";
        return 1;
    }
    l_Out << "Wrote " << l_Build.Files().size() << " files, " << l_Build.TotalBytes() << " bytes, to " << l_Output
          << "\n";
    return 0;
}
