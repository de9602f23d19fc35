#pragma once
#include <QByteArray>

namespace Orvane {
namespace CASC {
namespace Forge {

struct ForgedStore;

/// The JSON summary written beside a forged store ("forge.json"): what tests and people
/// look up instead of parsing the store. Keys are lower-case hex.
class ForgeSummary
{
public:
    static QByteArray Build(const ForgedStore& p_Store);
};

} // namespace Forge
} // namespace CASC
} // namespace Orvane
