// A sensor's state in one vocabulary: the worst threshold its reading has
// crossed, from the daemon's threshold state bits (bit i: at or beyond
// threshold i, in the order of kThresholdNames). The text and JSON output,
// `check`, `--fail-on`, `--state` and the metrics all use these words; the
// crossed thresholds themselves are a separate list.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sensor_bits.h"
#include "threshold_names.h"

namespace velk::client {

using velk::protocol::kThresholdNames;

enum class SensorState : int { ok = 0, non_critical = 1, critical = 2, non_recoverable = 3 };

inline constexpr std::array<std::string_view, 4> kStateWords = {"ok", "non-critical", "critical",
                                                                "non-recoverable"};

// Threshold indexes (bit numbers of the threshold state), kThresholdNames' order.
enum ThresholdIndex : unsigned { kLnr = 0, kLcr = 1, kLnc = 2, kUnc = 3, kUcr = 4, kUnr = 5 };

constexpr uint8_t threshold_bit(ThresholdIndex index) { return static_cast<uint8_t>(1u << index); }

constexpr SensorState worst_state(uint8_t crossed) {
    if (crossed & velk::protocol::kNonRecoverableBits) return SensorState::non_recoverable;
    if (crossed & velk::protocol::kCriticalBits) return SensorState::critical;
    if (crossed & velk::protocol::kNonCriticalBits) return SensorState::non_critical;
    return SensorState::ok;
}

constexpr std::string_view state_word(SensorState state) { return kStateWords[static_cast<int>(state)]; }

constexpr std::optional<SensorState> parse_state(std::string_view word) {
    for (std::size_t i = 0; i < kStateWords.size(); ++i)
        if (kStateWords[i] == word) return static_cast<SensorState>(i);
    return std::nullopt;
}

// The names of the thresholds the reading is at or beyond, in order.
inline std::vector<std::string_view> crossed_thresholds(uint8_t state) {
    std::vector<std::string_view> out;
    for (std::size_t i = 0; i < kThresholdNames.size(); ++i)
        if (state & (1u << i)) out.emplace_back(kThresholdNames[i]);
    return out;
}

} // namespace velk::client
