#pragma once
#include <QStringList>
#include <QTextStream>

namespace Orvane {
namespace CASC {

/// casc-tool tables FILE [--json]: a "cdns" or "versions" table, parsed rows by region.
class TablesCommand
{
public:
    static QString Usage();
    static int Run(const QStringList& p_Args, QTextStream& p_Out, QTextStream& p_Err);
};

} // namespace CASC
} // namespace Orvane
