// A captured platform written as a velkd-sim description file (TOML, the
// format of daemon/README.md), so that a target seen once can be simulated
// anywhere.
#pragma once

#include <string>

#include "model.h"

namespace velkdirect {

// `header` is written first as comment lines (one per line of it). Readings
// become constant behaviours at the captured values; the current thresholds,
// polling, indicator modes and FRU data areas become the described ones.
std::string description_file(const PlatformCapture& capture, const std::string& header);

} // namespace velkdirect
