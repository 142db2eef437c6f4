#include "codes.h"

#include <fmt/format.h>

#include <array>
#include <cctype>
#include <charconv>
#include <utility>

namespace velk::client {
namespace {

constexpr std::array<std::pair<uint32_t, std::string_view>, 5> kKinds = {{
    {1, "added parent"}, {2, "FRU"}, {3, "sensor"}, {4, "indicator"}, {5, "component"},
}};

constexpr std::array<std::pair<uint8_t, std::string_view>, 12> kSensorTypes = {{
    {0x01, "temperature"},
    {0x02, "voltage"},
    {0x03, "current"},
    {0x04, "fan"},
    {0x05, "physical security"},
    {0x06, "platform security"},
    {0x07, "processor"},
    {0x08, "power supply"},
    {0x09, "power unit"},
    {0x0a, "cooling device"},
    {0x0b, "other"},
    {0x0c, "memory"},
}};

constexpr std::array<std::pair<uint8_t, std::string_view>, 32> kEntities = {{
    {0x01, "other"},
    {0x02, "unknown"},
    {0x03, "processor"},
    {0x04, "disk bay"},
    {0x05, "peripheral bay"},
    {0x06, "management module"},
    {0x07, "system board"},
    {0x08, "memory module"},
    {0x09, "processor module"},
    {0x0a, "power supply"},
    {0x0b, "add-in card"},
    {0x0c, "front panel board"},
    {0x0d, "back panel board"},
    {0x0e, "power system board"},
    {0x0f, "drive backplane"},
    {0x10, "expansion board"},
    {0x11, "other system board"},
    {0x12, "processor board"},
    {0x13, "power unit"},
    {0x14, "power module"},
    {0x15, "power management"},
    {0x16, "chassis back panel board"},
    {0x17, "system chassis"},
    {0x18, "sub-chassis"},
    {0x19, "other chassis board"},
    {0x1a, "disk drive bay"},
    {0x1b, "peripheral bay"},
    {0x1c, "device bay"},
    {0x1d, "fan"},
    {0x1e, "cooling unit"},
    {0x1f, "cable"},
    {0x20, "memory device"},
}};

template <typename Table, typename Key>
std::optional<std::string_view> find(const Table& table, Key key) {
    for (const auto& [k, name] : table)
        if (k == key) return name;
    return std::nullopt;
}

} // namespace

std::optional<std::string_view> kind_name(uint32_t kind) { return find(kKinds, kind); }
std::optional<std::string_view> sensor_type_name(uint8_t type) { return find(kSensorTypes, type); }
std::optional<std::string_view> entity_name(uint8_t id) { return find(kEntities, id); }

std::optional<uint8_t> parse_sensor_type(std::string_view text) {
    std::string lower;
    for (char c : text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const auto& [type, name] : kSensorTypes)
        if (name == lower) return type;
    int base = lower.starts_with("0x") ? 16 : 10;
    std::string_view digits = base == 16 ? std::string_view(lower).substr(2) : std::string_view(lower);
    unsigned value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || value > 255)
        return std::nullopt;
    return static_cast<uint8_t>(value);
}

std::string sensor_type_text(uint8_t type) {
    auto name = sensor_type_name(type);
    return name ? fmt::format("{} ({:#04x})", *name, type) : fmt::format("{:#04x}", type);
}

std::string entity_text(uint8_t id, uint8_t instance) {
    auto name = entity_name(id);
    return name ? fmt::format("{} {}", *name, instance) : fmt::format("{:#04x}.{}", id, instance);
}

} // namespace velk::client
