#include "casc/CASCArchivesManager.h"

namespace Orvane {
namespace CASC {

CASCArchivesManager::CASCArchivesManager(CASCApplication* p_Owner)
    : m_Owner(p_Owner)
{
}

CASCArchivesManager::~CASCArchivesManager() = default;

} // namespace CASC
} // namespace Orvane
