#pragma once
#include <QStringList>
#include <QTextStream>

namespace Orvane {
namespace CASC {

/// `casc-tool blte key|decode|encode`: BLTE blobs from the command line.
class BlteCommand
{
public:
    /// p_Args: what follows "blte". Returns the process exit status.
    static int Run(const QStringList& p_Args, QTextStream& p_Out, QTextStream& p_Err);
    static QString Usage();
};

} // namespace CASC
} // namespace Orvane
