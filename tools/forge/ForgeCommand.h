#pragma once
#include <QStringList>
#include <QTextStream>

namespace Orvane {
namespace CASC {
namespace Forge {

/// `casc-tool forge OUT [options]`: writes a complete synthetic content store.
class ForgeCommand
{
public:
    /// p_Args: what follows "forge". Returns 0 on success, or casc-tool's exit status for a
    /// bad command line, an unreadable --from or an output that cannot be written (one line on
    /// p_Err says why).
    static int Run(const QStringList& p_Args, QTextStream& p_Out, QTextStream& p_Err);
    static QString Usage();
};

} // namespace Forge
} // namespace CASC
} // namespace Orvane
