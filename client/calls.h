// Every request the tools make, through the library's public functions only.
// Each returns plain values and throws CallError when the call fails; the
// library's records are released before the function returns.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "objects.h"

namespace velk::client {

// A sensor named on the command line: its string id, or "#N" for logical number N.
struct SensorRef {
    std::variant<std::string, uint32_t> name;
    static SensorRef parse(const std::string& text);
    std::string describe() const; // `sensor "x"` or `sensor #3`
};

PlatformNames fetch_platform_names();

std::vector<SensorDesc> fetch_sensors();
SensorDesc fetch_sensor(const SensorRef& ref);
SensorReading fetch_reading(const SensorDesc& sensor);
// Every sensor with its reading. A reading the daemon refuses is marked in its
// row (`error`) unless `whole` asks for all of them; an unreachable daemon
// fails the list either way.
std::vector<SensorRow> fetch_sensor_rows(bool whole = false);
Thresholds fetch_normalized_thresholds(const SensorDesc& sensor);
std::string fetch_string_id(uint32_t number);
float convert_raw_to_normal(const std::string& sensor, uint8_t raw);
uint8_t convert_normal_to_raw(const std::string& sensor, float normal);

// A normalized value turned raw, and whether the daemon had to clamp it:
// `low` and `high` are what raw 0 and 255 read, `back` what `raw` reads.
struct RawEquivalent {
    uint8_t raw = 0;
    bool clamped = false;
    float low = 0, high = 0, back = 0;
};
RawEquivalent convert_to_raw(const SensorDesc& sensor, float normal);

// The thresholds whose bit is set in `ctrl` (bit i: threshold i, in the
// order of kThresholdNames) to the raw values of `raw`; the others are kept.
void set_thresholds(const SensorDesc& sensor, uint16_t ctrl, const std::array<uint8_t, 6>& raw);
// Overrides the reading until reset_sensors().
void set_reading(const SensorDesc& sensor, uint16_t raw);

struct PollAnswer {
    uint32_t interval_ms = 0; // the polling interval
    uint16_t generation = 0;  // the polling generation (enable only)
};
PollAnswer enable_polling(const SensorDesc& sensor);
PollAnswer disable_polling(const SensorDesc& sensor, uint16_t generation);
void set_poll_state(bool on);
void reset_sensors();

std::vector<Indicator> fetch_indicators();
Indicator fetch_indicator(const std::string& name);
int fetch_indicator_mode(const std::string& name);
std::vector<IndicatorRow> fetch_indicator_rows();
void set_indicator_mode(const std::string& name, uint8_t mode, uint32_t duration_ms);

std::vector<FruDesc> fetch_frus();
FruDesc fetch_fru(const std::string& name);
std::vector<uint8_t> read_fru(const std::string& name, uint32_t offset, uint32_t length);
// The daemon's write result: the number of bytes it wrote.
int32_t write_fru(const std::string& name, uint32_t offset, const std::vector<uint8_t>& bytes);

std::vector<ComponentDesc> fetch_components();
std::vector<AssociationDesc> fetch_associations();
AssociationDesc fetch_association(uint8_t key0, uint8_t key1);

// The inventory walk as a tree under an empty-path root.
TreeNode fetch_tree();

} // namespace velk::client
