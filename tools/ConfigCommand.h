#pragma once
#include <QStringList>
#include <QTextStream>

namespace Orvane {
namespace CASC {

/// casc-tool config FILE [--json]: a CDN or build configuration, every parsed field.
class ConfigCommand
{
public:
    static QString Usage();
    static int Run(const QStringList& p_Args, QTextStream& p_Out, QTextStream& p_Err);
};

} // namespace CASC
} // namespace Orvane
