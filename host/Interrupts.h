#pragma once

namespace Orvane {
namespace Host {

/// Ctrl-C and termination requests. The first one is only recorded (the run
/// stops cleanly from its event loop); a second one ends the process at once.
class Interrupts
{
public:
    static void Install();
    /// Number of the first signal received, 0 when none.
    static int Pending();
};

} // namespace Host
} // namespace Orvane
