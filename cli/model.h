// What the tool knows about a platform, in plain values: the daemon client
// fills these, the text, JSON and snapshot writers read them.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "threshold_names.h"

namespace velkdirect {

// Name/value pairs in the daemon's order; names may repeat.
using Properties = std::vector<std::pair<std::string, std::string>>;
using Desc = std::array<uint8_t, 10>;

// The value of the first property called `name`, if any.
inline std::optional<std::string> find_property(const Properties& properties, std::string_view name) {
    for (const auto& [key, value] : properties)
        if (key == name) return value;
    return std::nullopt;
}

struct ObjectInfo {
    std::string path;
    uint32_t kind = 0;
    Desc desc{};
    Properties properties;
};

// Threshold names in the daemon's order: lower non-recoverable, lower
// critical, lower non-critical, upper non-critical, critical, non-recoverable.
using velk::kThresholdNames;
using Thresholds = std::array<float, 6>;

struct Sensor : ObjectInfo {
    std::string id;
    uint32_t number = 0;
    uint8_t type = 0;
    std::string note;
    float m = 0; // normalized = m * raw + b
    float b = 0;
    uint32_t poll_interval_ms = 0;
};

struct SensorReading {
    uint16_t reading = 0;
    float value = 0;
    uint8_t threshold_state = 0; // bit i: at or beyond threshold i
    uint8_t flags = 0;           // bit 0 polled, bit 1 daemon-wide polling, bit 2 overridden
    uint8_t type = 0;
    uint8_t hysteresis_positive = 0;
    uint8_t hysteresis_negative = 0;
    uint16_t poll_interval_ms = 0;
    Thresholds thresholds{};

    bool polled() const { return (flags & 1) != 0; }
    bool daemon_polling() const { return (flags & 2) != 0; }
    bool overridden() const { return (flags & 4) != 0; }
};

struct SensorRow {
    Sensor sensor;
    SensorReading reading;
    std::string error; // why the reading could not be had; empty when it was
    int status = 0;    // the daemon's status when it refused the reading
};

// A mode set for a duration that has not run out yet.
struct TimedMode {
    uint8_t lasting_mode = 0; // the mode the indicator returns to
    uint32_t seconds_left = 0;
};

struct Indicator : ObjectInfo {
    std::string name;
    std::vector<uint8_t> modes; // the modes it accepts
    std::optional<TimedMode> timed;
};

struct IndicatorRow {
    Indicator indicator;
    int mode = 0;
};

struct Fru : ObjectInfo {
    std::string name;
    uint32_t size = 0;
    bool writable = false;
};

struct Component : ObjectInfo {};

struct EntityKey {
    uint32_t key0 = 0;
    uint32_t key1 = 0;
};

struct Association {
    EntityKey entity;
    uint32_t word = 0;
    std::vector<EntityKey> members;
};

struct PlatformNames {
    std::string name;
    std::string model;
    uint8_t lead_byte = 0;
};

// One node of the inventory walk; the root has an empty path.
struct TreeNode : ObjectInfo {
    std::vector<std::unique_ptr<TreeNode>> children;
};

// Everything a description file holds, as one running daemon serves it.
struct PlatformCapture {
    PlatformNames names;
    std::vector<std::pair<Fru, std::vector<uint8_t>>> frus; // with their data areas
    std::vector<SensorRow> sensors;
    std::vector<IndicatorRow> indicators;
    std::vector<Component> components;
    std::vector<Association> associations;
    bool polling = true; // daemon-wide polling, as every sensor reading carries it
};

} // namespace velkdirect
