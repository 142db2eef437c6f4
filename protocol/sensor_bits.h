// What the bits of a sensor's reading record and of a threshold setting
// mean, for velkd-sim, which sets them, and the tools, which read them.
#pragma once

#include <cstdint>

namespace velk::protocol {

// sensor_reading_info_t.byte1, the threshold state: bit i is set when the
// reading is at or beyond threshold i (kThresholdNames' order). The first
// three thresholds are lower ones (crossed at or below), the rest upper ones.
constexpr std::uint8_t threshold_bit(int threshold) { return static_cast<std::uint8_t>(1u << threshold); }
inline constexpr int kLowerThresholds = 3;
inline constexpr int kThresholdCount = 6;
// The severities, each a lower and an upper threshold: lnr and unr, lcr and
// ucr, lnc and unc.
inline constexpr std::uint8_t kNonRecoverableBits = threshold_bit(0) | threshold_bit(5);
inline constexpr std::uint8_t kCriticalBits = threshold_bit(1) | threshold_bit(4);
inline constexpr std::uint8_t kNonCriticalBits = threshold_bit(2) | threshold_bit(3);

// sensor_reading_info_t.byte2, the sensor's flags.
namespace sensor_flag {
inline constexpr std::uint8_t polled = 0x01;          // the sensor is polled
inline constexpr std::uint8_t daemon_polling = 0x02;  // polling runs daemon-wide
inline constexpr std::uint8_t overridden = 0x04;      // a set reading replaces the behaviour
} // namespace sensor_flag

// sensor_reading_info_t.word1: the hysteresis, positive in the high byte.
constexpr std::uint16_t pack_hysteresis(std::uint8_t positive, std::uint8_t negative) {
    return static_cast<std::uint16_t>(positive << 8 | negative);
}
constexpr std::uint8_t hysteresis_positive(std::uint16_t word) { return static_cast<std::uint8_t>(word >> 8); }
constexpr std::uint8_t hysteresis_negative(std::uint16_t word) { return static_cast<std::uint8_t>(word & 0xFF); }

// pollctrl_thresh_t.ctrl: which of val1..val8 a threshold setting sets.
// Bit i (0 to 5) sets threshold i from val(i+1); the two hysteresis bits set
// it from val7 and val8. Any other bit makes the setting invalid.
namespace threshold_ctrl {
constexpr std::uint32_t threshold(int i) { return 1u << i; }
inline constexpr std::uint32_t hysteresis_positive = 0x40;
inline constexpr std::uint32_t hysteresis_negative = 0x80;
inline constexpr std::uint32_t known = 0xFF;
} // namespace threshold_ctrl

} // namespace velk::protocol
