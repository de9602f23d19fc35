#pragma once
#include <QStringList>
#include <QTextStream>

namespace Orvane {
namespace CASC {

/// casc-tool index FILE [--limit N] [--json]: an archive index, its entries and count.
class IndexCommand
{
public:
    static QString Usage();
    static int Run(const QStringList& p_Args, QTextStream& p_Out, QTextStream& p_Err);
};

} // namespace CASC
} // namespace Orvane
