#include "cli/CommandLine.h"
#include "KestrunVersion.h"

#include <QCoreApplication>

namespace Orvane {
namespace Tools {

namespace {

/// The option named in one of Qt's messages: "Missing value after '--files'."
QString Quoted(const QString& p_Text)
{
    const int l_First = p_Text.indexOf('\'');
    const int l_Last = p_Text.lastIndexOf('\'');
    return l_First >= 0 && l_Last > l_First ? p_Text.mid(l_First + 1, l_Last - l_First - 1) : QString();
}

} // namespace

CommandLine::CommandLine()
{
    // "-o" and "-colour" are names, not bundles of one-letter switches.
    m_Parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
}

void CommandLine::AddSwitch(const QStringList& p_Names, const QString& p_Description)
{
    m_Parser.addOption(QCommandLineOption(p_Names, p_Description));
}

void CommandLine::AddValue(const QStringList& p_Names, const QString& p_ValueName, const QString& p_Description)
{
    m_Parser.addOption(QCommandLineOption(p_Names, p_Description, p_ValueName));
    m_Valued += p_Names;
}

void CommandLine::AddHelpAndVersion()
{
    AddSwitch({"h", "help"}, "Shows this help and exits.");
    AddSwitch({"version"}, "Shows the program's name and version and exits.");
}

void CommandLine::StopAtFirstPositional()
{
    m_Parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
}

bool CommandLine::Parse(const QStringList& p_Arguments)
{
    m_Arguments = p_Arguments;
    m_Error = Error::None;
    m_Offending.clear();
    // Qt's parser skips the first argument: the program's name.
    if (m_Parser.parse(QStringList{QCoreApplication::applicationName()} + p_Arguments))
        return true;

    const QString l_Text = m_Parser.errorText();
    if (l_Text.startsWith("Missing value after"))
    {
        m_Error = Error::MissingValue;
        m_Offending = Quoted(l_Text);
    }
    else if (l_Text.startsWith("Unexpected value after"))
    {
        m_Error = Error::UnexpectedValue;
        m_Offending = Quoted(l_Text);
    }
    else if (!m_Parser.unknownOptionNames().isEmpty())
    {
        m_Error = Error::UnknownOption;
        const QString l_Name = m_Parser.unknownOptionNames().first();
        m_Offending = (l_Name.size() == 1 ? "-" : "--") + l_Name;
        for (const QString& l_Arg : p_Arguments)
        {
            if (l_Arg == "--")
                break;
            const QString l_Written = l_Arg.section('=', 0, 0);
            if (l_Written == "-" + l_Name || l_Written == "--" + l_Name)
            {
                m_Offending = l_Written;
                break;
            }
        }
    }
    else
    {
        m_Error = Error::Other;
        m_Offending = l_Text;
    }
    return false;
}

int CommandLine::PositionalIndex(int p_Nth) const
{
    bool l_OptionsEnded = false;
    for (int l_I = 0; l_I < m_Arguments.size(); ++l_I)
    {
        const QString& l_Arg = m_Arguments.at(l_I);
        if (!l_OptionsEnded && l_Arg == "--")
            l_OptionsEnded = true;
        else if (l_OptionsEnded || l_Arg == "-" || !l_Arg.startsWith('-'))
        {
            if (p_Nth-- == 0)
                return l_I;
        }
        else if (!l_Arg.contains('=') && m_Valued.contains(l_Arg.mid(l_Arg.startsWith("--") ? 2 : 1)))
            ++l_I; // the option's value
    }
    return -1;
}

QString CommandLine::Message() const
{
    switch (m_Error)
    {
    case Error::None:
        return QString();
    case Error::UnknownOption:
        return "unknown option " + m_Offending;
    case Error::MissingValue:
        return m_Offending + " needs a value";
    case Error::UnexpectedValue:
        return m_Offending + " takes no value";
    case Error::Other:
        break;
    }
    return m_Offending;
}

QString CommandLine::Message(const QString& p_Context) const
{
    if (m_Error == Error::UnknownOption && !m_Offending.startsWith("--"))
        return "unknown option " + m_Offending + " for " + p_Context;
    return Message() + " (" + p_Context + ")";
}

QString CommandLine::HelpText(const QString& p_Usage, const QString& p_Description)
{
    m_Parser.setApplicationDescription(p_Description);
    // Qt's own usage line names "[options]" and the positional arguments; ours names the commands.
    QString l_Text = m_Parser.helpText();
    const int l_LineEnd = l_Text.indexOf('\n');
    return "Usage: " + p_Usage + l_Text.mid(l_LineEnd);
}

QString CommandLine::VersionLine()
{
    return QCoreApplication::applicationName() + " " KESTRUN_VERSION;
}

} // namespace Tools
} // namespace Orvane
