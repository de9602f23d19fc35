#pragma once
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

namespace Orvane {
namespace Tools {

/// Qt's command-line parser set up the way every Kestrun program reads its arguments: options
/// are long names with one or two dashes ("-o", "--key", "--key=value"), "--" ends the options,
/// and a refused argument is reported by kind and by the name as it was written, so that each
/// program keeps its own wording. Used on the main thread only.
class CommandLine
{
public:
    enum class Error
    {
        None,
        UnknownOption,
        MissingValue,
        UnexpectedValue, ///< a switch written with "=value"
        Other,           ///< Message() says what
    };

    CommandLine();

    void AddSwitch(const QStringList& p_Names, const QString& p_Description);
    void AddValue(const QStringList& p_Names, const QString& p_ValueName, const QString& p_Description);
    /// "-h, --help" and "--version".
    void AddHelpAndVersion();
    /// Everything from the first positional argument on is left for a sub-command to parse.
    void StopAtFirstPositional();

    /// p_Arguments start after the program (or sub-command) name.
    bool Parse(const QStringList& p_Arguments);
    Error Failure() const { return m_Error; }
    /// The refused option as written ("--bild", "-x"), without any "=value".
    const QString& Offending() const { return m_Offending; }
    /// The usual wording: "unknown option --x", "--x needs a value", "--x takes no value".
    QString Message() const;
    /// The wording of a sub-command: "unknown option -x for CONTEXT" (a one-dash word reads as an
    /// argument the command does not take), otherwise Message() + " (CONTEXT)".
    QString Message(const QString& p_Context) const;

    bool IsSet(const QString& p_Name) const { return m_Parser.isSet(p_Name); }
    QString Value(const QString& p_Name) const { return m_Parser.value(p_Name); }
    QStringList Values(const QString& p_Name) const { return m_Parser.values(p_Name); }
    QStringList Positional() const { return m_Parser.positionalArguments(); }
    /// Where the p_Nth positional argument stands in the parsed arguments (-1: there is none).
    int PositionalIndex(int p_Nth) const;
    /// Qt's conventional help text: usage line, p_Description, the options.
    QString HelpText(const QString& p_Usage, const QString& p_Description);

    /// "PROGRAM VERSION", the answer to --version.
    static QString VersionLine();

private:
    QCommandLineParser m_Parser;
    QStringList m_Arguments;
    QStringList m_Valued; ///< names of the options that take a value
    Error m_Error = Error::None;
    QString m_Offending;
};

} // namespace Tools
} // namespace Orvane
