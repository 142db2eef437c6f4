// The names of a sensor's six thresholds, in the daemon's order (bit i of a
// threshold state is threshold i): lower non-recoverable, lower critical,
// lower non-critical, upper non-critical, upper critical, upper
// non-recoverable. They key the description file, the JSON output, the
// `set-thresholds` options and the metrics' `threshold` label.
#pragma once

#include <array>

namespace velk {

inline constexpr std::array<const char*, 6> kThresholdNames = {"lnr", "lcr", "lnc", "unc", "ucr", "unr"};

} // namespace velk
