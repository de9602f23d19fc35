#pragma once
#include <QStringList>
#include <QTextStream>

namespace Orvane {
namespace CASC {

class CASCApplication;

/// `casc-tool scan FOLDER`: the offline check of an installed store, with the launcher's own
/// install scan. Reads only; lists the slots that need fetching.
class ScanCommand
{
public:
    /// p_Args: what follows "scan". Returns the process exit status.
    static int Run(const QStringList& p_Args, QTextStream& p_Out, QTextStream& p_Err);
    static QString Usage();

    /// Reads the configurations, archive indices and encoding copy of p_App's install folder
    /// into its index and archive managers, without touching the disk. 0, or an exit status
    /// with the reason in p_Error.
    static int Load(CASCApplication& p_App, const QString& p_BuildConfig, QString& p_Error);

    static constexpr int Whole = 0;
    static constexpr int SlotsToFetch = 1;
};

} // namespace CASC
} // namespace Orvane
