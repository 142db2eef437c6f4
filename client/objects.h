// What a tool knows about a platform, in plain values: the record conversion
// fills these, the tools' writers read them. Objects are the description
// model's (description/description.h), filled from their records; what only
// a running daemon has (readings, a mode set for a while) sits on top.
#pragma once

#include <cstdint>
#include <optional>
#include <memory>
#include <string>
#include <vector>

#include "description.h"
#include "sensor_bits.h"
#include "threshold_names.h"

namespace velk::client {

using velkd::EntityKey;
using velkd::find_property;
using velk::protocol::kThresholdNames;
using velkd::ObjectInfo;
using velkd::PlatformNames;
using velkd::Properties;
using velkd::Thresholds;
using Desc = velkd::DescBlock;

// From its record: id, number, type, note, conversion, polling interval. The
// thresholds, hysteresis and polling a daemon has now come with a reading.
using velkd::SensorDesc;
// From its record: name, size (the data is read apart) and writability.
using velkd::FruDesc;
using velkd::ComponentDesc;
using velkd::AssociationDesc;

struct SensorReading {
    uint16_t reading = 0;
    float value = 0;
    uint8_t threshold_state = 0; // bit i: at or beyond threshold i
    uint8_t flags = 0;           // velk::protocol::sensor_flag bits
    uint8_t type = 0;
    uint8_t hysteresis_positive = 0;
    uint8_t hysteresis_negative = 0;
    uint16_t poll_interval_ms = 0;
    Thresholds thresholds{}; // NaN for a threshold the sensor does not have ("na")

    bool polled() const { return (flags & velk::protocol::sensor_flag::polled) != 0; }
    bool daemon_polling() const { return (flags & velk::protocol::sensor_flag::daemon_polling) != 0; }
    bool overridden() const { return (flags & velk::protocol::sensor_flag::overridden) != 0; }
};

struct SensorRow {
    SensorDesc sensor;
    SensorReading reading;
    std::string error; // why the reading could not be had; empty when it was
    int status = 0;    // the daemon's status when it refused the reading
};

// A mode set for a duration that has not run out yet.
struct TimedMode {
    uint8_t lasting_mode = 0; // the mode the indicator returns to
    uint32_t seconds_left = 0;
};

// From its record: name and accepted modes; initial_mode is not filled.
struct Indicator : velkd::IndicatorDesc {
    std::optional<TimedMode> timed;
};

struct IndicatorRow {
    Indicator indicator;
    int mode = 0;
};

// One node of the inventory walk; the root has an empty path.
struct TreeNode : ObjectInfo {
    std::vector<std::unique_ptr<TreeNode>> children;
};

} // namespace velk::client
