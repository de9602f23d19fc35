#pragma once
#include <QString>
#include <QtGlobal>

namespace Orvane {
namespace Launcher {

/// The restarts a download makes by itself: any number while each gets further into the file than the best
/// before, at most Deployment::MaxSelfRestarts() in a row without. Used on the download thread.
class RestartBudget
{
public:
    /// The file held p_Size bytes when the download began.
    void Start(qint64 p_Size) { m_Best = p_Size; }
    /// Whether one more restart is allowed with p_Size bytes in the file; counts it. p_Url: named when not.
    bool Allow(qint64 p_Size, const QString& p_Url);

private:
    // All: the download thread.
    qint64 m_Best = 0;         ///< the most bytes the file held
    int m_WithoutProgress = 0; ///< restarts since it last grew past m_Best
};

} // namespace Launcher
} // namespace Orvane
