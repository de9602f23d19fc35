#include "casc/CASCBaseVerifier.h"

namespace Orvane {
namespace CASC {

CASCBaseVerifier::CASCBaseVerifier(CASCApplication* p_Owner) : m_Owner(p_Owner) {}

} // namespace CASC
} // namespace Orvane
