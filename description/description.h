// A platform as its description file (TOML, daemon/README.md) lays it out:
// velkd-sim loads one and serves it, never changing it (the running state
// lives in its Platform); velkdirect fills one from what a daemon answers and
// writes it as a snapshot. description_loader.h reads the file,
// description_writer.h writes it, record_bytes.h says where the fields travel
// in the attribute records' opaque runs.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "protocol_limits.h"
#include "threshold_names.h"

#include "conversion.h"

namespace velkd {

// Name/value pairs in the order given (a file's come in key order); a daemon
// may repeat a name.
using Properties = std::vector<std::pair<std::string, std::string>>;
using DescBlock = std::array<uint8_t, 10>;

// The value of the first property called `name`, if any.
inline std::optional<std::string> find_property(const Properties& properties, std::string_view name) {
    for (const auto& [key, value] : properties)
        if (key == name) return value;
    return std::nullopt;
}

// Fields every inventory object carries.
struct ObjectInfo {
    std::string path;
    uint32_t kind = 0;
    DescBlock desc{};
    Properties properties;
    bool operator==(const ObjectInfo&) const = default;
};

// Thresholds in wire order, under the keys velk::kThresholdNames gives.
using Thresholds = std::array<float, 6>;
using velk::protocol::kThresholdNames;

struct Hysteresis {
    uint8_t positive = 0;
    uint8_t negative = 0;
    bool operator==(const Hysteresis&) const = default;
};

// How a sensor's reading moves over time, in normalized units.
struct Constant {
    double value = 0;
    bool operator==(const Constant&) const = default;
};
// Rises linearly from `from` to `to` over one period, then starts again.
struct Ramp {
    double from = 0, to = 0, period_s = 1;
    bool operator==(const Ramp&) const = default;
};
struct Sine {
    double center = 0, amplitude = 0, period_s = 1;
    bool operator==(const Sine&) const = default;
};
// Every interval moves by up to `step` either way, kept within [min, max].
struct RandomWalk {
    double start = 0, step = 0, min = 0, max = 0;
    uint64_t seed = 0;
    uint32_t interval_ms = 1000;
    bool operator==(const RandomWalk&) const = default;
};

using Behaviour = std::variant<Constant, Ramp, Sine, RandomWalk>;

struct SensorDesc : ObjectInfo {
    std::string id;
    uint32_t number = 0;
    uint8_t type = 0;
    std::string note;
    Conversion conversion;
    Thresholds thresholds{};
    Hysteresis hysteresis;
    uint32_t poll_interval_ms = 1000; // a file gives 1 to 65535 (the reading carries 16 bits)
    bool polling = true;
    Behaviour reading = Constant{};
    // Bit i: threshold i is not available (the description says "na"); its
    // value in `thresholds` is 0 and means nothing.
    uint8_t absent_thresholds = 0;
    bool operator==(const SensorDesc&) const = default;
};

struct IndicatorDesc : ObjectInfo {
    std::string name;
    std::vector<uint8_t> modes;
    uint8_t initial_mode = 0;
    bool operator==(const IndicatorDesc&) const = default;
};

struct FruDesc : ObjectInfo {
    std::string name;
    std::vector<uint8_t> data; // `size` bytes once loaded; a FRU's record carries only the size
    uint32_t size = 0;
    bool writable = false;
    bool operator==(const FruDesc&) const = default;
};

struct ComponentDesc : ObjectInfo {
    bool operator==(const ComponentDesc&) const = default;
};

// The name clients ask an object by.
inline const std::string& name_of(const SensorDesc& s) { return s.id; }
inline const std::string& name_of(const IndicatorDesc& i) { return i.name; }
inline const std::string& name_of(const FruDesc& f) { return f.name; }

// An entity is two bytes on the wire and in the file; the public C records
// widen them to 32 bits, but never beyond 255.
struct EntityKey {
    uint8_t key0 = 0;
    uint8_t key1 = 0;
    auto operator<=>(const EntityKey&) const = default;
};

struct AssociationDesc {
    EntityKey entity;
    uint32_t word = 0;
    std::vector<EntityKey> members;
    bool operator==(const AssociationDesc&) const = default;
};

struct FaultDesc {
    std::optional<int> procedure; // procedure number
    std::string object;           // name or path; empty: any object
    uint32_t delay_ms = 0;
    int status = 0;               // 0: delay only
    double failure_rate = 1.0;
    uint64_t seed = 0;
    bool operator==(const FaultDesc&) const = default;
};

struct PlatformNames {
    std::string name;
    std::string model;
    uint8_t lead_byte = 0;
    bool operator==(const PlatformNames&) const = default;
};

struct Description {
    std::string source; // file name, or "(built-in)"
    PlatformNames names;
    std::vector<FruDesc> frus;
    std::vector<SensorDesc> sensors;
    std::vector<IndicatorDesc> indicators;
    std::vector<ComponentDesc> components;
    std::vector<AssociationDesc> associations;
    std::vector<FaultDesc> faults;
    bool polling = true; // daemon-wide polling at start and after a reset
    bool operator==(const Description&) const = default;
};

// Limits the loader enforces.
inline constexpr std::size_t kMaxFruData = 65536;
inline constexpr std::size_t kMaxIndicatorModes = 13;
// Far above any real platform, low enough that no reply or load costs much.
inline constexpr std::size_t kMaxStringBytes = 4096;
inline constexpr std::size_t kMaxObjectsOfAKind = velk::protocol::kMaxObjectsOfAKind; // sensors, FRUs, ... each
inline constexpr std::size_t kMaxTotalFruData = 16u << 20;
// What one object or the whole file may hold. The file's size bounds what
// parsing it costs (every value in it becomes a node in memory); the two
// counts bound what one object's record costs in a reply.
inline constexpr std::size_t kMaxPropertiesPerObject = 256;
inline constexpr std::size_t kMaxAssociationMembers = 1024;
inline constexpr std::size_t kMaxDescriptionBytes = 16u << 20;

} // namespace velkd
