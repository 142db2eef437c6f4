// The worst threshold a reading has crossed, from the daemon's threshold
// state bits (bit i: at or beyond threshold i, in the order of
// kThresholdNames). The JSON output, `check`, `--fail-on` and the metrics
// all grade sensors by this one scale.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "sensor_bits.h"

namespace velkdirect {

enum class SensorState : int { ok = 0, non_critical = 1, critical = 2, non_recoverable = 3 };

inline constexpr std::array<std::string_view, 4> kStateWords = {"ok", "non-critical", "critical",
                                                                "non-recoverable"};

inline SensorState worst_state(uint8_t crossed) {
    if (crossed & velk::protocol::kNonRecoverableBits) return SensorState::non_recoverable;
    if (crossed & velk::protocol::kCriticalBits) return SensorState::critical;
    if (crossed & velk::protocol::kNonCriticalBits) return SensorState::non_critical;
    return SensorState::ok;
}

inline std::string_view state_word(SensorState state) { return kStateWords[static_cast<int>(state)]; }

inline std::optional<SensorState> parse_state(std::string_view word) {
    for (std::size_t i = 0; i < kStateWords.size(); ++i)
        if (kStateWords[i] == word) return static_cast<SensorState>(i);
    return std::nullopt;
}

} // namespace velkdirect
