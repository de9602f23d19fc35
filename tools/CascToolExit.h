#pragma once

namespace Orvane {
namespace CASC {

/// casc-tool's exit statuses besides 0. They stay clear of 1 to 11, which
/// `blte decode` uses for the decoder's own result codes.
namespace CascToolExit {
constexpr int Usage = 64;      ///< bad command line
constexpr int DataError = 65;  ///< an input that does not parse (table, configuration, index)
constexpr int NoInput = 66;    ///< an input file or folder cannot be read
constexpr int CantCreate = 73; ///< an output cannot be written
} // namespace CascToolExit

} // namespace CASC
} // namespace Orvane
