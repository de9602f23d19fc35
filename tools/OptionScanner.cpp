#include "tools/OptionScanner.h"

namespace Orvane {
namespace Publish {

OptionScanner::OptionScanner(const QStringList& p_Arguments, int p_First, const QStringList& p_Switches,
                             const QStringList& p_Valued)
    : m_Arguments(p_Arguments), m_Switches(p_Switches), m_Valued(p_Valued), m_Next(p_First)
{
}

OptionScanner::Item OptionScanner::Next()
{
    Item l_Item;
    if (m_Next >= m_Arguments.size())
        return l_Item;
    l_Item.m_Index = m_Next;
    const QString l_Arg = m_Arguments.at(m_Next++);
    if (!m_OnlyPositional && l_Arg == "--")
    {
        m_OnlyPositional = true;
        return Next();
    }
    // Short names ("-o") count only when the tool lists them; "-" stays a positional (stdin).
    const bool l_Listed = m_Switches.contains(l_Arg) || m_Valued.contains(l_Arg);
    if (m_OnlyPositional || (!l_Arg.startsWith("--") && !l_Listed))
    {
        l_Item.m_Kind = Kind::Positional;
        l_Item.m_Value = l_Arg;
        return l_Item;
    }

    const int l_Equal = l_Listed ? -1 : l_Arg.indexOf('=');
    const bool l_Inline = l_Equal > 0;
    l_Item.m_Name = l_Inline ? l_Arg.left(l_Equal) : l_Arg;
    l_Item.m_Kind = Kind::Error;
    if (m_Switches.contains(l_Item.m_Name))
    {
        if (l_Inline)
            l_Item.m_Value = l_Item.m_Name + " takes no value";
        else
            l_Item.m_Kind = Kind::Switch;
    }
    else if (!m_Valued.contains(l_Item.m_Name))
        l_Item.m_Value = "unknown option " + l_Item.m_Name;
    else if (l_Inline)
    {
        l_Item.m_Kind = Kind::Option;
        l_Item.m_Value = l_Arg.mid(l_Equal + 1);
    }
    else if (m_Next >= m_Arguments.size())
        l_Item.m_Value = l_Item.m_Name + " needs a value";
    else
    {
        l_Item.m_Kind = Kind::Option;
        l_Item.m_Value = m_Arguments.at(m_Next++);
    }
    return l_Item;
}

} // namespace Publish
} // namespace Orvane
