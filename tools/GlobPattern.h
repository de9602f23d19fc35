#pragma once
#include <QString>
#include <vector>

namespace Orvane {
namespace Publish {

/// A shell-style pattern matched against a whole relative path ("Data/frFR/a.bin").
/// "*" matches any run of characters, "/" included, so "Data/*" takes a whole
/// folder; "?" matches one character; "[abc]", "[a-z]" and "[!a]" match a
/// character class; "\" makes the next character literal. Case-sensitive.
class GlobPattern
{
public:
    explicit GlobPattern(const QString& p_Text = QString());

    bool Matches(const QString& p_Path) const;
    const QString& Text() const { return m_Text; }
    /// False when a "[" class is not closed.
    bool IsValid() const { return m_Valid; }

private:
    struct Token
    {
        enum Kind { Literal, AnyOne, AnyRun, Class } m_Kind = Literal;
        QChar m_Char;
        bool m_Negated = false;
        std::vector<std::pair<QChar, QChar>> m_Ranges;
    };

    bool MatchesOne(const Token& p_Token, QChar p_Char) const;

    QString m_Text;
    std::vector<Token> m_Tokens;
    bool m_Valid = true;
};

} // namespace Publish
} // namespace Orvane
