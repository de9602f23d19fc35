#pragma once
#include <QStringList>

namespace Orvane {
namespace Publish {

/// Walks a tool's command line: switches, "--name value" or "--name=value" options (and the
/// short names a tool lists, such as "-o value"), and positional arguments ("--" makes
/// everything after it positional).
class OptionScanner
{
public:
    enum class Kind
    {
        Switch,
        Option,
        Positional,
        Error, ///< m_Value says what is wrong
        End,
    };

    struct Item
    {
        Kind m_Kind = Kind::End;
        QString m_Name;
        QString m_Value;
        int m_Index = -1; ///< position of a positional argument in the command line
    };

    OptionScanner(const QStringList& p_Arguments, int p_First, const QStringList& p_Switches,
                  const QStringList& p_Valued);

    Item Next();

private:
    const QStringList m_Arguments;
    const QStringList m_Switches;
    const QStringList m_Valued;
    int m_Next;
    bool m_OnlyPositional = false;
};

} // namespace Publish
} // namespace Orvane
