// Names for the numbers records carry, where something defines them: the
// object kinds velkd-sim gives (and kind 1, the parent that the library's
// inventory walk adds for a path whose parent no object has), and the usual
// platform-management codes for sensor types and entity ids that velkd-sim's
// descriptions follow (desc bytes and association keys start with an entity
// id and instance). Nothing here is known for other numbers: callers show
// those raw.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velk::client {

// The kind of an inventory node: "sensor", "indicator", "FRU", "component",
// "added parent"; nothing for another value.
std::optional<std::string_view> kind_name(uint32_t kind);
// A sensor type: "temperature", "voltage", "current", "fan"...
std::optional<std::string_view> sensor_type_name(uint8_t type);
// The type for a name (case-insensitive), or a number ("1", "0x01").
std::optional<uint8_t> parse_sensor_type(std::string_view text);
// An entity id: "processor", "system board", "power supply"...
std::optional<std::string_view> entity_name(uint8_t id);

// "temperature (0x01)", or "0x2a" for a type without a name.
std::string sensor_type_text(uint8_t type);
// "system board 1", or "0x55.1" for an id without a name.
std::string entity_text(uint8_t id, uint8_t instance);

} // namespace velk::client
