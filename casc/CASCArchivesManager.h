#pragma once
#include <QObject>

namespace Orvane {
namespace CASC {

class CASCApplication;

/// The encoding file, the local data archives, the install scan and the streamed
/// download of missing content.
class CASCArchivesManager
{
public:
    explicit CASCArchivesManager(CASCApplication* p_Owner);
    ~CASCArchivesManager();

private:
    CASCApplication* m_Owner; // set once; the orchestrator outlives it
};

} // namespace CASC
} // namespace Orvane
