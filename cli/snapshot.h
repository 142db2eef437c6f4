// A captured platform written as a velkd-sim description file, so that a
// target seen once can be simulated anywhere.
#pragma once

#include <string>

#include "model.h"

namespace velkdirect {

// `header` is written first as comment lines (one per line of it); a mode set
// for a while is noted above its indicator's lasting mode.
std::string description_file(const PlatformCapture& capture, const std::string& header);

} // namespace velkdirect
