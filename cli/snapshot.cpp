#include "snapshot.h"

#include <fmt/format.h>
#include <toml++/toml.h>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "text_format.h"

namespace velkdirect {
namespace {

constexpr auto kTomlFlags = toml::format_flags::allow_multi_line_strings | toml::format_flags::allow_unicode_strings;

// Strings, keys and tables go through toml++, which knows the quoting rules.
std::string toml_text(const toml::node& node) {
    std::ostringstream out;
    out << toml::toml_formatter{node, kTomlFlags};
    return out.str();
}

std::string toml_string(const std::string& text) { return toml_text(toml::value<std::string>(text)); }

std::string toml_properties(const Properties& properties) {
    toml::table table;
    for (const auto& [name, value] : properties) table.emplace(name, value); // a repeated name keeps its first value
    table.is_inline(true);
    return toml_text(table);
}

// Floats in their shortest exact form (toml++ writes 17 digits: 2.97 would
// become 2.9700000000000002). A whole number keeps ".0" to stay a TOML float.
std::string toml_float(float value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    std::string text = format_number(value);
    if (text.find_first_of(".e") == std::string::npos) text += ".0";
    return text;
}

// Trailing zero bytes are left out: the daemon fills them in.
std::string toml_desc(const Desc& desc) {
    auto end = std::find_if(desc.rbegin(), desc.rend(), [](uint8_t b) { return b != 0; }).base();
    return fmt::format("[{:#04x}]", fmt::join(desc.begin(), end, ", "));
}

std::string toml_key(const EntityKey& key) { return fmt::format("[{:#04x}, {}]", key.key0, key.key1); }

// The data area up to its last byte that is not 0xff (the daemon pads with
// 0xff up to `size`), 16 bytes a line.
std::string toml_data(const std::vector<uint8_t>& data) {
    auto end = std::find_if(data.rbegin(), data.rend(), [](uint8_t b) { return b != 0xff; }).base();
    std::string hex;
    for (auto it = data.begin(); it != end; ++it) {
        std::size_t i = static_cast<std::size_t>(it - data.begin());
        hex += fmt::format("{}{:02x}", i == 0 ? "" : (i % 16 == 0 ? "\n" : " "), *it);
    }
    return toml_string(hex);
}

class Writer {
public:
    void comment(const std::string& text) {
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) out_ += line.empty() ? "#\n" : "# " + line + "\n";
    }
    void section(std::string_view name) { out_ += fmt::format("\n[{}]\n", name); }
    void entry(std::string_view name) { out_ += fmt::format("\n[[{}]]\n", name); }
    void key(std::string_view name, const std::string& value) { out_ += fmt::format("{} = {}\n", name, value); }
    void object(const ObjectInfo& info) {
        key("path", toml_string(info.path));
        key("kind", std::to_string(info.kind));
        if (std::any_of(info.desc.begin(), info.desc.end(), [](uint8_t b) { return b != 0; }))
            key("desc", toml_desc(info.desc));
        if (!info.properties.empty()) key("properties", toml_properties(info.properties));
    }
    std::string take() { return std::move(out_); }

private:
    std::string out_;
};

void write_sensor(Writer& w, const SensorRow& row) {
    const Sensor& s = row.sensor;
    const SensorReading& r = row.reading;
    w.entry("sensor");
    w.key("id", toml_string(s.id));
    w.key("number", std::to_string(s.number));
    w.object(s);
    w.key("type", fmt::format("{:#04x}", r.type));
    if (!s.note.empty()) w.key("note", toml_string(s.note));
    w.key("conversion", fmt::format("{{ m = {}, b = {} }}", toml_float(s.m), toml_float(s.b)));
    std::vector<std::string> thresholds;
    for (std::size_t i = 0; i < kThresholdNames.size(); ++i)
        thresholds.push_back(fmt::format("{} = {}", kThresholdNames[i], toml_float(r.thresholds[i])));
    w.key("thresholds", fmt::format("{{ {} }}", fmt::join(thresholds, ", ")));
    w.key("hysteresis",
          fmt::format("{{ positive = {}, negative = {} }}", r.hysteresis_positive, r.hysteresis_negative));
    w.key("poll_interval_ms", std::to_string(r.poll_interval_ms));
    w.key("polling", r.polled() ? "true" : "false");
    w.key("reading", fmt::format("{{ behaviour = \"constant\", value = {} }}", toml_float(r.value)));
}

} // namespace

std::string description_file(const PlatformCapture& capture, const std::string& header) {
    Writer w;
    w.comment(header);

    w.section("platform");
    w.key("name", toml_string(capture.names.name));
    w.key("model", toml_string(capture.names.model));
    w.key("lead_byte", std::to_string(capture.names.lead_byte));
    if (!capture.polling) w.key("polling", "false"); // daemon-wide polling was off

    for (const auto& [fru, data] : capture.frus) {
        w.entry("fru");
        w.key("name", toml_string(fru.name));
        w.object(fru);
        w.key("data", toml_data(data));
        w.key("size", std::to_string(fru.size));
        w.key("writable", fru.writable ? "true" : "false");
    }
    for (const SensorRow& row : capture.sensors) write_sensor(w, row);
    for (const auto& [ind, mode] : capture.indicators) {
        w.entry("indicator");
        w.key("name", toml_string(ind.name));
        w.object(ind);
        if (!ind.modes.empty()) w.key("modes", fmt::format("[{}]", fmt::join(ind.modes, ", ")));
        // A mode set for a while is not the indicator's mode: it keeps the
        // one it returns to, and the timed one is noted.
        if (ind.timed)
            w.comment(fmt::format("mode {} ({}) was set for a while, with {} s left at capture", mode,
                                  mode_name(mode), ind.timed->seconds_left));
        w.key("mode", std::to_string(ind.timed ? ind.timed->lasting_mode : mode));
    }
    for (const Component& c : capture.components) {
        w.entry("component");
        w.object(c);
    }
    for (const Association& a : capture.associations) {
        w.entry("association");
        w.key("entity", toml_key(a.entity));
        w.key("word", std::to_string(a.word));
        std::vector<std::string> members;
        for (const EntityKey& m : a.members) members.push_back(toml_key(m));
        w.key("members", fmt::format("[{}]", fmt::join(members, ", ")));
    }
    return w.take();
}

} // namespace velkdirect
