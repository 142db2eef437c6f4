// A platform as its description file lays it out. Loaded once, never changed:
// the running state lives in Platform.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "behaviour.h"
#include "conversion.h"

namespace velkd {

using Properties = std::map<std::string, std::string>;
using DescBlock = std::array<uint8_t, 10>;

// Fields every inventory object carries.
struct ObjectInfo {
    std::string path;
    uint32_t kind = 0;
    DescBlock desc{};
    Properties properties;
};

// Thresholds in wire order: lower non-recoverable, lower critical, lower
// non-critical, upper non-critical, upper critical, upper non-recoverable.
using Thresholds = std::array<float, 6>;

struct Hysteresis {
    uint8_t positive = 0;
    uint8_t negative = 0;
};

struct SensorDesc : ObjectInfo {
    std::string id;
    uint32_t number = 0;
    uint8_t type = 0;
    std::string note;
    Conversion conversion;
    Thresholds thresholds{};
    Hysteresis hysteresis;
    uint16_t poll_interval_ms = 1000;
    bool polling = true;
    Behaviour reading = Constant{};
};

struct IndicatorDesc : ObjectInfo {
    std::string name;
    std::vector<uint8_t> modes;
    uint8_t initial_mode = 0;
};

struct FruDesc : ObjectInfo {
    std::string name;
    std::vector<uint8_t> data;
    bool writable = false;
};

struct ComponentDesc : ObjectInfo {};

struct EntityKey {
    uint8_t key0 = 0;
    uint8_t key1 = 0;
    auto operator<=>(const EntityKey&) const = default;
};

struct AssociationDesc {
    EntityKey entity;
    uint32_t word = 0;
    std::vector<EntityKey> members;
};

struct FaultDesc {
    std::optional<int> procedure; // procedure number
    std::string object;           // name or path; empty: any object
    uint32_t delay_ms = 0;
    int status = 0;               // 0: delay only
    double failure_rate = 1.0;
    uint64_t seed = 0;
};

struct PlatformNames {
    std::string name;
    std::string model;
    uint8_t lead_byte = 0;
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
};

// Limits the loader enforces.
inline constexpr std::size_t kMaxFruData = 65536;
inline constexpr std::size_t kMaxIndicatorModes = 13;
// Far above any real platform, low enough that no reply or load costs much.
inline constexpr std::size_t kMaxStringBytes = 4096;
inline constexpr std::size_t kMaxObjectsOfAKind = 10000; // sensors, FRUs, ... each
inline constexpr std::size_t kMaxTotalFruData = 16u << 20;

} // namespace velkd
