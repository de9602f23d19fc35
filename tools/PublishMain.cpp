// orvane-publish: turns a folder of game files into a published build.
#include "tools/BuildPublisher.h"
#include "tools/PublishOptions.h"
#include "platform/Platform.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

using namespace Orvane::Publish;

int main(int p_Argc, char** p_Argv)
{
    QCoreApplication l_App(p_Argc, p_Argv);
    QTextStream l_Out(stdout);
    QTextStream l_Err(stderr);
#if defined(Q_OS_WIN)
    // UTF-8 to a pipe or a file, and a console told so: the ANSI code page spells few letters.
    Orvane::Launcher::Platform::Utf8Console();
    l_Out.setCodec("UTF-8");
    l_Err.setCodec("UTF-8");
#endif

    PublishOptions l_Options;
    QString l_Error;
    switch (PublishOptions::Parse(QCoreApplication::arguments(), l_Options, l_Error))
    {
    case PublishOptions::ParseResult::Help:
        l_Out << PublishOptions::HelpText();
        return 0;
    case PublishOptions::ParseResult::Version:
        l_Out << Orvane::Tools::CommandLine::VersionLine() << "\n";
        return 0;
    case PublishOptions::ParseResult::UsageError:
        l_Err << "orvane-publish: " << l_Error << "\n"
              << "Try 'orvane-publish --help' for more information.\n";
        return 2;
    case PublishOptions::ParseResult::Ok:
        break;
    }

    BuildPublisher l_Publisher(l_Options);
    const int l_Result = l_Publisher.Run(l_Error);
    // --quiet: errors only, for scripts that publish again and again.
    if (!l_Options.m_Quiet)
        for (const QString& l_Warning : l_Publisher.Warnings())
            l_Err << "orvane-publish: warning: " << l_Warning << "\n";
    if (l_Result != 0)
    {
        l_Err << "orvane-publish: " << l_Error << "\n"
              << "orvane-publish: nothing was published\n";
        return l_Result;
    }
    if (!l_Options.m_Quiet)
        l_Out << l_Publisher.Summary() << "\n";
    return 0;
}
