#include "cli/LogFilter.h"

#include <QLoggingCategory>

namespace Orvane {
namespace Tools {

LogFilter::Printer LogFilter::s_Print = nullptr;

QString LogFilter::Rules(bool p_Verbose)
{
    if (p_Verbose)
        return QStringLiteral("kestrun.*=true");
    return QStringLiteral("*.debug=false\n*.info=false\n*.warning=false");
}

void LogFilter::Install(bool p_Verbose, Printer p_Print)
{
    // Set before any category logs: the handler below prints only what the rules let through.
    s_Print = p_Print;
    QLoggingCategory::setFilterRules(Rules(p_Verbose));
    qInstallMessageHandler(&LogFilter::Handle);
}

void LogFilter::Handle(QtMsgType, const QMessageLogContext&, const QString& p_Text)
{
    // Untagged lines pass through the "default" category, so the rules have filtered them too.
    if (s_Print)
        s_Print(p_Text);
}

} // namespace Tools
} // namespace Orvane
