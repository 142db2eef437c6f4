#include "exposition.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <initializer_list>
#include <set>
#include <utility>
#include <vector>

#include "sensor_state.h"

namespace velkdirect::metrics {
namespace {

// A label value as the text format wants it: backslash, double quote and
// line feed escaped, and bytes that are not UTF-8 (Prometheus refuses the
// whole scrape for one such label) replaced by U+FFFD.
std::string label_value(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size();) {
        auto c = static_cast<unsigned char>(in[i]);
        if (c < 0x80) {
            if (c == '\\') out += "\\\\";
            else if (c == '"') out += "\\\"";
            else if (c == '\n') out += "\\n";
            else out += static_cast<char>(c);
            ++i;
            continue;
        }
        // Length of the sequence and the smallest code point it may encode.
        std::size_t n = c >= 0xf0 && c <= 0xf4 ? 4 : c >= 0xe0 ? 3 : c >= 0xc2 && c <= 0xdf ? 2 : 0;
        uint32_t code = n == 4 ? c & 0x07u : n == 3 ? c & 0x0fu : c & 0x1fu;
        bool valid = n != 0 && i + n <= in.size();
        for (std::size_t k = 1; valid && k < n; ++k) {
            auto cc = static_cast<unsigned char>(in[i + k]);
            valid = (cc & 0xc0) == 0x80;
            code = code << 6 | (cc & 0x3fu);
        }
        valid = valid && !(n == 3 && code < 0x800) && !(n == 4 && (code < 0x10000 || code > 0x10ffff)) &&
                !(code >= 0xd800 && code <= 0xdfff);
        if (valid) {
            out.append(in.substr(i, n));
            i += n;
        } else {
            out += "\xef\xbf\xbd";
            ++i;
        }
    }
    return out;
}

std::string sample_value(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
    return fmt::format("{}", value);
}

// Floats from the daemon keep their shortest text: 2.97, not 2.9700000286.
std::string sample_value(float value) {
    if (!std::isfinite(value)) return sample_value(static_cast<double>(value));
    return fmt::format("{}", value);
}

// Label pairs as the text between the braces, values escaped: built once
// per sensor and extended for each threshold.
std::string labels(std::initializer_list<std::pair<std::string_view, std::string_view>> pairs) {
    std::string out;
    for (const auto& [name, value] : pairs) {
        if (!out.empty()) out += ',';
        out += name;
        out += "=\"";
        out += label_value(value);
        out += '"';
    }
    return out;
}

// Families in the order they were first used, each with its samples.
class Writer {
public:
    // `label_text` is what labels() gives; empty for none.
    void sample(std::string_view family, std::string_view help, std::string_view label_text,
                std::string_view value) {
        auto it = std::find_if(families_.begin(), families_.end(), [&](const Family& f) { return f.name == family; });
        if (it == families_.end()) {
            families_.push_back({std::string(family), std::string(help), {}});
            it = families_.end() - 1;
        }
        std::string& out = it->samples;
        out += family;
        if (!label_text.empty()) {
            out += '{';
            out += label_text;
            out += '}';
        }
        out += ' ';
        out += value;
        out += '\n';
    }

    std::string text() const {
        std::size_t size = 0;
        for (const Family& f : families_) size += f.samples.size() + 2 * f.name.size() + f.help.size() + 24;
        std::string out;
        out.reserve(size);
        for (const Family& f : families_) {
            out.append("# HELP ").append(f.name).append(" ").append(f.help).append("\n# TYPE ");
            out.append(f.name).append(" gauge\n").append(f.samples);
        }
        return out;
    }

private:
    struct Family {
        std::string name;
        std::string help;
        std::string samples;
    };
    std::vector<Family> families_;
};

struct UnitName {
    std::string_view platform; // lower case
    BaseUnit base;
};
// Units a platform may name, each with its quantity and Prometheus base unit.
// Revolutions per minute have no base unit: they keep their own name, as
// Prometheus's own hardware exporters do.
constexpr UnitName kUnits[] = {
    {"degrees c", {"temperature", "celsius"}},   {"degree c", {"temperature", "celsius"}},
    {"celsius", {"temperature", "celsius"}},     {"degrees celsius", {"temperature", "celsius"}},
    {"\xc2\xb0" "c", {"temperature", "celsius"}}, {"c", {"temperature", "celsius"}},
    {"degrees f", {"temperature", "celsius", -32, 5, 9}},
    {"degree f", {"temperature", "celsius", -32, 5, 9}},
    {"fahrenheit", {"temperature", "celsius", -32, 5, 9}},
    {"degrees fahrenheit", {"temperature", "celsius", -32, 5, 9}},
    {"\xc2\xb0" "f", {"temperature", "celsius", -32, 5, 9}},
    {"volts", {"voltage", "volts"}},             {"volt", {"voltage", "volts"}},
    {"v", {"voltage", "volts"}},                 {"millivolts", {"voltage", "volts", 0, 1, 1000}},
    {"millivolt", {"voltage", "volts", 0, 1, 1000}}, {"mv", {"voltage", "volts", 0, 1, 1000}},
    {"amperes", {"current", "amperes"}},         {"ampere", {"current", "amperes"}},
    {"amps", {"current", "amperes"}},            {"a", {"current", "amperes"}},
    {"milliamperes", {"current", "amperes", 0, 1, 1000}}, {"milliamps", {"current", "amperes", 0, 1, 1000}},
    {"ma", {"current", "amperes", 0, 1, 1000}},      {"watts", {"power", "watts"}},
    {"watt", {"power", "watts"}},                {"w", {"power", "watts"}},
    {"joules", {"energy", "joules"}},            {"j", {"energy", "joules"}},
    {"hertz", {"frequency", "hertz"}},           {"hz", {"frequency", "hertz"}},
    {"bytes", {"size", "bytes"}},                {"rpm", {"fan_speed", "rpm"}},
    {"percent", {"sensor", "ratio", 0, 1, 100}},     {"%", {"sensor", "ratio", 0, 1, 100}},
};
// Any other unit: the value as the platform gives it; the unit is in
// velkdirect_sensor_info only.
constexpr BaseUnit kOtherUnit{"sensor", "value"};

// Divided rather than multiplied by a fraction: 3300 mV is 3.3, not 3.3000002.
float in_base_unit(float value, const BaseUnit& unit) {
    return (value + unit.offset) * unit.multiply / unit.divide;
}

void add_sensor(Writer& w, const SensorRow& row) {
    const SensorDesc& s = row.sensor;
    std::string unit = find_property(s.properties, "unit").value_or("");
    std::string number = std::to_string(s.number);
    w.sample("velkdirect_sensor_info", "Identity of a sensor: its logical number, unit and note.",
             labels({{"id", s.id}, {"path", s.path}, {"number", number}, {"unit", unit}, {"note", s.note}}), "1");
    if (!row.error.empty()) return; // refused: no reading this time

    const SensorReading& r = row.reading;
    const BaseUnit base = base_unit(unit).value_or(kOtherUnit);
    const bool known = base.unit != kOtherUnit.unit;
    const std::string plain = labels({{"id", s.id}, {"path", s.path}});
    const std::string value_family = fmt::format("velkdirect_{}_{}", base.quantity, base.unit);
    const std::string threshold_family = fmt::format("velkdirect_{}_threshold_{}", base.quantity, base.unit);
    w.sample(value_family,
             known ? fmt::format("Normalized sensor reading ({}) in {}.", base.quantity, base.unit)
                   : std::string("Normalized sensor reading in the sensor's unit (see velkdirect_sensor_info)."),
             plain, sample_value(in_base_unit(r.value, base)));
    w.sample("velkdirect_sensor_raw_reading", "Raw sensor reading, 0 to 255.", plain, std::to_string(r.reading));
    w.sample("velkdirect_sensor_state",
             "Worst threshold the reading is at or beyond: 0 ok, 1 non-critical, 2 critical, 3 non-recoverable.", plain,
             std::to_string(static_cast<int>(worst_state(r.threshold_state))));
    // A threshold the sensor does not have (NaN) has no series.
    for (std::size_t i = 0; i < kThresholdNames.size(); ++i)
        if (!std::isnan(r.thresholds[i]))
            w.sample("velkdirect_sensor_threshold_crossed",
                     "1 when the reading is at or beyond the threshold (lnr, lcr, lnc: at or below; unc, ucr, unr: at "
                     "or above).",
                     fmt::format("{},threshold=\"{}\"", plain, kThresholdNames[i]),
                     (r.threshold_state >> i) & 1u ? "1" : "0");
    const std::string threshold_help =
        known ? fmt::format("Sensor threshold ({}) in {}: lower and upper non-recoverable, critical, non-critical.",
                            base.quantity, base.unit)
              : std::string("Sensor threshold in the sensor's unit (see velkdirect_sensor_info).");
    for (std::size_t i = 0; i < kThresholdNames.size(); ++i)
        if (!std::isnan(r.thresholds[i]))
            w.sample(threshold_family, threshold_help, fmt::format("{},threshold=\"{}\"", plain, kThresholdNames[i]),
                     sample_value(in_base_unit(r.thresholds[i], base)));
}

} // namespace

std::optional<BaseUnit> base_unit(std::string_view platform_unit) {
    std::string lower;
    for (char c : platform_unit) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const UnitName& u : kUnits)
        if (u.platform == lower) return u.base;
    return std::nullopt;
}

std::string exposition(const PlatformReading& reading) {
    Writer w;
    w.sample("velkdirect_up", "1 when the management daemon answered the platform queries of this scrape, else 0.", "",
             reading.up ? "1" : "0");
    w.sample("velkdirect_scrape_duration_seconds", "Time spent reading the platform in this scrape.", "",
             sample_value(reading.duration_seconds));
    w.sample("velkdirect_scrape_calls", "Library calls made in this scrape.", "", std::to_string(reading.calls));
    w.sample("velkdirect_scrape_failed_calls", "Library calls that failed in this scrape.", "",
             std::to_string(reading.failed_calls));
    if (!reading.up) return w.text();

    w.sample("velkdirect_platform_info", "Names of the platform.",
             labels({{"name", reading.names.name}, {"model", reading.names.model}}), "1");
    // One series per id and path: a daemon that lists an object twice must
    // not make Prometheus reject the whole scrape for duplicate samples.
    std::set<std::pair<std::string_view, std::string_view>> seen;
    for (const SensorRow& row : reading.sensors)
        if (seen.emplace(row.sensor.id, row.sensor.path).second) add_sensor(w, row);
    seen.clear();
    for (const IndicatorSample& ind : reading.indicators) {
        if (!ind.mode || !seen.emplace(ind.indicator.name, ind.indicator.path).second) continue;
        w.sample("velkdirect_indicator_mode", "Mode of an indicator (by convention 0 off, 1 on, 2 slow, 3 fast blink).",
                 labels({{"name", ind.indicator.name}, {"path", ind.indicator.path}}), std::to_string(*ind.mode));
    }
    return w.text();
}

} // namespace velkdirect::metrics
