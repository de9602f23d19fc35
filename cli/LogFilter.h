#pragma once
#include <QString>
#include <QtGlobal>

namespace Orvane {
namespace Tools {

/// What a program shows of the lines the layers log ("kestrun.net", "kestrun.casc", "kestrun.launcher",
/// "kestrun.platform", "kestrun.host"). They log their chatter at warning level, so a quiet run turns
/// debug, info and warning off for every category; critical and fatal always show. QT_LOGGING_RULES
/// is applied after these rules: a user still turns each category up or down
/// (QT_LOGGING_RULES="kestrun.net.warning=true" shows the transfers of a quiet run).
class LogFilter
{
public:
    using Printer = void (*)(const QString& p_Line);

    /// p_Verbose: every "kestrun.*" category on, Qt's own at their defaults. p_Print writes one line.
    static void Install(bool p_Verbose, Printer p_Print);

private:
    static QString Rules(bool p_Verbose);
    static void Handle(QtMsgType p_Type, const QMessageLogContext& p_Context, const QString& p_Text);
    static Printer s_Print;
};

} // namespace Tools
} // namespace Orvane
