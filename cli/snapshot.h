// A captured platform written as a velkd-sim description file, so that a
// target seen once can be simulated anywhere.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "objects.h"

namespace velk::cli {

using namespace velk::client;

// A running platform as a description (readings become constant behaviours at
// their values, present thresholds, polling, modes and FRU data the described
// ones), and the modes set for a while, which a description cannot hold.
struct PlatformCapture {
    velkd::Description description;
    std::vector<std::optional<std::pair<int, TimedMode>>> timed_modes; // by indicator: the mode shown, and its time
};

// Everything `snapshot` writes, FRU data areas included.
PlatformCapture capture_platform();

// `header` is written first as comment lines (one per line of it); a mode set
// for a while is noted above its indicator's lasting mode.
std::string description_file(const PlatformCapture& capture, const std::string& header);

} // namespace velk::cli
