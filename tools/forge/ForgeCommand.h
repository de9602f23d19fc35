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
    /// p_Args: what follows "forge". Returns 0 on success, 1 on a read or write failure,
    /// 2 on a bad command line (one line on p_Err says why).
    static int Run(const QStringList& p_Args, QTextStream& p_Out, QTextStream& p_Err);
    static QString Usage();

    static constexpr int ExitIoError = 1;
    static constexpr int ExitUsage = 2;
};

} // namespace Forge
} // namespace CASC
} // namespace Orvane
