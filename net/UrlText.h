#pragma once
#include <QString>

namespace Orvane {
namespace Launcher {

/// URLs as they may leave the program: never with the user information (proxy or server credentials).
class UrlText
{
public:
    /// p_Url without "user:password@".
    static QString Safe(const QString& p_Url);
    /// p_Text with the user information of every URL in it removed.
    static QString Scrub(const QString& p_Text);
};

} // namespace Launcher
} // namespace Orvane
