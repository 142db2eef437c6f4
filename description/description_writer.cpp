#include "description_writer.h"

#include <fmt/format.h>
#include <toml++/toml.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <sstream>
#include <string_view>

namespace velkd {
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

// Numbers in their shortest exact form (toml++ writes 17 digits: 2.97 would
// become 2.9700000000000002). A whole number keeps ".0" to stay a TOML float.
template <typename T>
std::string shortest(T value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    std::string text = fmt::format("{}", value);
    if (text.find_first_of(".e") == std::string::npos) text += ".0";
    return text;
}

double parse(const std::string& text) {
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

std::string toml_float(float value) { return shortest(value); }
// A double that is a float's decimal (float_decimal) in the float's form.
std::string toml_float(double value) {
    std::string as_float = shortest(static_cast<float>(value));
    return parse(as_float) == value ? as_float : shortest(value);
}

// Trailing zero bytes are left out: the loader fills them in.
std::string toml_desc(const DescBlock& desc) {
    auto end = std::find_if(desc.rbegin(), desc.rend(), [](uint8_t b) { return b != 0; }).base();
    return fmt::format("[{:#04x}]", fmt::join(desc.begin(), end, ", "));
}

std::string toml_key(const EntityKey& key) { return fmt::format("[{:#04x}, {}]", key.key0, key.key1); }

// The data area up to its last byte that is not 0xff, 16 bytes a line.
std::string toml_data(const std::vector<uint8_t>& data) {
    auto end = std::find_if(data.rbegin(), data.rend(), [](uint8_t b) { return b != 0xff; }).base();
    std::string hex;
    for (auto it = data.begin(); it != end; ++it) {
        std::size_t i = static_cast<std::size_t>(it - data.begin());
        hex += fmt::format("{}{:02x}", i == 0 ? "" : (i % 16 == 0 ? "\n" : " "), *it);
    }
    return toml_string(hex);
}

std::string toml_bool(bool value) { return value ? "true" : "false"; }

// "{ a = 1.0, b = 2.0 }" of named numbers.
template <typename... Pairs>
std::string inline_numbers(Pairs... pairs) {
    std::vector<std::string> parts;
    (parts.push_back(fmt::format("{} = {}", pairs.first, pairs.second)), ...);
    return fmt::format("{{ {} }}", fmt::join(parts, ", "));
}
std::pair<const char*, std::string> num(const char* name, double value) { return {name, toml_float(value)}; }
std::pair<const char*, std::string> num(const char* name, float value) { return {name, toml_float(value)}; }
std::pair<const char*, std::string> whole(const char* name, uint64_t value) { return {name, std::to_string(value)}; }

std::string toml_behaviour(const Behaviour& behaviour) {
    auto named = [](const char* kind) { return std::pair<const char*, std::string>{"behaviour", toml_string(kind)}; };
    struct Visit {
        decltype(named)& name;
        std::string operator()(const Constant& c) const {
            return inline_numbers(name("constant"), num("value", c.value));
        }
        std::string operator()(const Ramp& r) const {
            return inline_numbers(name("ramp"), num("from", r.from), num("to", r.to), num("period_s", r.period_s));
        }
        std::string operator()(const Sine& s) const {
            return inline_numbers(name("sine"), num("center", s.center), num("amplitude", s.amplitude),
                                  num("period_s", s.period_s));
        }
        std::string operator()(const RandomWalk& w) const {
            return inline_numbers(name("random_walk"), num("start", w.start), num("step", w.step), num("min", w.min),
                                  num("max", w.max), whole("seed", w.seed), whole("interval_ms", w.interval_ms));
        }
    };
    return std::visit(Visit{named}, behaviour);
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

void write_sensor(Writer& w, const SensorDesc& s) {
    w.entry("sensor");
    w.key("id", toml_string(s.id));
    w.key("number", std::to_string(s.number));
    w.object(s);
    w.key("type", fmt::format("{:#04x}", s.type));
    if (!s.note.empty()) w.key("note", toml_string(s.note));
    w.key("conversion", inline_numbers(num("m", s.conversion.m), num("b", s.conversion.b)));
    std::vector<std::string> thresholds;
    for (std::size_t i = 0; i < kThresholdNames.size(); ++i)
        thresholds.push_back(fmt::format("{} = {}", kThresholdNames[i],
                                         s.absent_thresholds >> i & 1u ? "\"na\"" : toml_float(s.thresholds[i])));
    w.key("thresholds", fmt::format("{{ {} }}", fmt::join(thresholds, ", ")));
    w.key("hysteresis",
          fmt::format("{{ positive = {}, negative = {} }}", s.hysteresis.positive, s.hysteresis.negative));
    w.key("poll_interval_ms", std::to_string(s.poll_interval_ms));
    w.key("polling", toml_bool(s.polling));
    w.key("reading", toml_behaviour(s.reading));
}

void write_fault(Writer& w, const FaultDesc& f) {
    w.entry("fault");
    if (f.procedure) w.key("procedure", std::to_string(*f.procedure));
    if (!f.object.empty()) w.key("object", toml_string(f.object));
    if (f.delay_ms != 0) w.key("delay_ms", std::to_string(f.delay_ms));
    if (f.status != 0) {
        w.key("status", std::to_string(f.status));
        if (f.failure_rate != 1.0) w.key("failure_rate", toml_float(f.failure_rate));
    }
    if (f.seed != 0) w.key("seed", std::to_string(f.seed));
}

} // namespace

double float_decimal(float value) { return parse(shortest(value)); }

std::string write_description(const Description& d, const WriteNotes& notes) {
    Writer w;
    w.comment(notes.header);

    w.section("platform");
    w.key("name", toml_string(d.names.name));
    w.key("model", toml_string(d.names.model));
    w.key("lead_byte", std::to_string(d.names.lead_byte));
    if (!d.polling) w.key("polling", "false");

    for (const FruDesc& fru : d.frus) {
        w.entry("fru");
        w.key("name", toml_string(fru.name));
        w.object(fru);
        w.key("data", toml_data(fru.data));
        w.key("size", std::to_string(fru.size));
        w.key("writable", toml_bool(fru.writable));
    }
    for (const SensorDesc& s : d.sensors) write_sensor(w, s);
    for (std::size_t i = 0; i < d.indicators.size(); ++i) {
        const IndicatorDesc& ind = d.indicators[i];
        w.entry("indicator");
        w.key("name", toml_string(ind.name));
        w.object(ind);
        if (!ind.modes.empty()) w.key("modes", fmt::format("[{}]", fmt::join(ind.modes, ", ")));
        if (i < notes.indicator_notes.size() && !notes.indicator_notes[i].empty()) w.comment(notes.indicator_notes[i]);
        w.key("mode", std::to_string(ind.initial_mode));
    }
    for (const ComponentDesc& c : d.components) {
        w.entry("component");
        w.object(c);
    }
    for (const AssociationDesc& a : d.associations) {
        w.entry("association");
        w.key("entity", toml_key(a.entity));
        w.key("word", std::to_string(a.word));
        std::vector<std::string> members;
        for (const EntityKey& m : a.members) members.push_back(toml_key(m));
        w.key("members", fmt::format("[{}]", fmt::join(members, ", ")));
    }
    for (const FaultDesc& f : d.faults) write_fault(w, f);
    return w.take();
}

} // namespace velkd
