#include "tools/GlobPattern.h"

namespace Orvane {
namespace Publish {

GlobPattern::GlobPattern(const QString& p_Text)
    : m_Text(p_Text)
{
    const int l_Size = p_Text.size();
    for (int l_I = 0; l_I < l_Size; ++l_I)
    {
        Token l_Token;
        const QChar l_C = p_Text.at(l_I);
        if (l_C == '*')
        {
            if (!m_Tokens.empty() && m_Tokens.back().m_Kind == Token::AnyRun)
                continue; // "**" is the same as "*"
            l_Token.m_Kind = Token::AnyRun;
        }
        else if (l_C == '?')
            l_Token.m_Kind = Token::AnyOne;
        else if (l_C == '\\' && l_I + 1 < l_Size)
            l_Token.m_Char = p_Text.at(++l_I);
        else if (l_C == '[')
        {
            int l_J = l_I + 1;
            l_Token.m_Kind = Token::Class;
            if (l_J < l_Size && (p_Text.at(l_J) == '!' || p_Text.at(l_J) == '^'))
            {
                l_Token.m_Negated = true;
                ++l_J;
            }
            bool l_First = true;
            while (l_J < l_Size && (l_First || p_Text.at(l_J) != ']'))
            {
                l_First = false;
                QChar l_Low = p_Text.at(l_J);
                QChar l_High = l_Low;
                if (l_J + 2 < l_Size && p_Text.at(l_J + 1) == '-' && p_Text.at(l_J + 2) != ']')
                {
                    l_High = p_Text.at(l_J + 2);
                    l_J += 2;
                }
                l_Token.m_Ranges.emplace_back(l_Low, l_High);
                ++l_J;
            }
            if (l_J >= l_Size)
            {
                m_Valid = false;
                return;
            }
            l_I = l_J;
        }
        else
            l_Token.m_Char = l_C;
        m_Tokens.push_back(l_Token);
    }
}

bool GlobPattern::MatchesOne(const Token& p_Token, QChar p_Char) const
{
    switch (p_Token.m_Kind)
    {
    case Token::Literal:
        return p_Token.m_Char == p_Char;
    case Token::AnyOne:
        return true;
    case Token::Class:
    {
        bool l_In = false;
        for (const auto& l_Range : p_Token.m_Ranges)
            if (p_Char >= l_Range.first && p_Char <= l_Range.second)
                l_In = true;
        return l_In != p_Token.m_Negated;
    }
    case Token::AnyRun:
        break;
    }
    return false;
}

bool GlobPattern::Matches(const QString& p_Path) const
{
    if (!m_Valid)
        return false;
    // Greedy match with one back-tracking point: since "*" crosses every
    // character, retrying from the last star is enough (linear in practice).
    const size_t l_TokenCount = m_Tokens.size();
    const int l_Size = p_Path.size();
    size_t l_T = 0;
    int l_P = 0;
    size_t l_StarToken = size_t(-1);
    int l_StarPos = 0;
    while (l_P < l_Size)
    {
        if (l_T < l_TokenCount && m_Tokens[l_T].m_Kind == Token::AnyRun)
        {
            l_StarToken = l_T++;
            l_StarPos = l_P;
        }
        else if (l_T < l_TokenCount && MatchesOne(m_Tokens[l_T], p_Path.at(l_P)))
        {
            ++l_T;
            ++l_P;
        }
        else if (l_StarToken != size_t(-1))
        {
            l_T = l_StarToken + 1;
            l_P = ++l_StarPos;
        }
        else
            return false;
    }
    while (l_T < l_TokenCount && m_Tokens[l_T].m_Kind == Token::AnyRun)
        ++l_T;
    return l_T == l_TokenCount;
}

} // namespace Publish
} // namespace Orvane
