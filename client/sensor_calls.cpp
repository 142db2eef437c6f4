// Sensor calls: lists, readings, thresholds, conversions and polling.
#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <limits>
#include <utility>

#include "calls.h"
#include "record_conversion.h"

namespace velk::client {
namespace {

std::string sensor_subject(const SensorDesc& sensor) { return quoted("sensor", sensor.id); }

} // namespace

SensorRef SensorRef::parse(const std::string& text) {
    if (text.size() > 1 && text[0] == '#') {
        std::size_t used = 0;
        unsigned long long number = 0;
        try {
            number = std::stoull(text.substr(1), &used, 0);
        } catch (const std::exception&) {
            used = 0;
        }
        // stoull alone would also take a sign or leading blanks.
        if (used == text.size() - 1 && std::isdigit(static_cast<unsigned char>(text[1])) && number <= UINT32_MAX)
            return {static_cast<uint32_t>(number)};
        throw std::invalid_argument(fmt::format("\"{}\" is not a sensor number (#0 to #{})", text, UINT32_MAX));
    }
    // No daemon names a sensor so: refused here rather than sent.
    if (text.size() > velkd::kMaxStringBytes)
        throw std::invalid_argument(fmt::format("a sensor name is at most {} bytes; this one has {}",
                                                velkd::kMaxStringBytes, text.size()));
    return {text};
}

std::string SensorRef::describe() const {
    if (const auto* number = std::get_if<uint32_t>(&name)) return fmt::format("sensor #{}", *number);
    return quoted("sensor", std::get<std::string>(name));
}

std::vector<SensorDesc> fetch_sensors() {
    return fetch_list<SensorRecords>(velkdirectfe_get_sensor_attrs, to_sensor, "sensor list");
}

SensorDesc fetch_sensor(const SensorRef& ref) {
    SensorRecords records;
    int status = 0;
    if (const auto* number = std::get_if<uint32_t>(&ref.name))
        status = velkdirectfe_get_sensor_attr_by_logical_num(kHandle, *number, records.single_out());
    else
        status = velkdirectfe_get_sensor_attr(kHandle, std::get<std::string>(ref.name).c_str(), records.single_out());
    check(status, ref.describe());
    return to_sensor(records.view().front());
}

SensorReading fetch_reading(const SensorDesc& sensor) {
    velkdirectfe_sensor_data_t data{};
    check(velkdirectfe_get_sensor_data(kHandle, sensor.id.c_str(), &data), sensor_subject(sensor));
    SensorReading r = to_reading(data);
    // The thresholds the sensor's attributes say it does not have, shown as
    // "na" (null in JSON).
    for (std::size_t i = 0; i < r.thresholds.size(); ++i)
        if (sensor.absent_thresholds >> i & 1u) r.thresholds[i] = std::numeric_limits<float>::quiet_NaN();
    return r;
}

std::vector<SensorRow> fetch_sensor_rows(bool whole) {
    std::vector<SensorRow> rows;
    for (SensorDesc& sensor : fetch_sensors()) {
        SensorRow row{std::move(sensor), {}, {}};
        try {
            row.reading = fetch_reading(row.sensor);
        } catch (const CallError& e) {
            if (whole || e.status() == -1) throw;
            row.status = e.status();
            row.error = status_text(e.status());
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

Thresholds fetch_normalized_thresholds(const SensorDesc& sensor) {
    Thresholds out{};
    check(velkdirectfe_get_normalized_thresholds(kHandle, static_cast<int>(sensor.number), out.data()),
          sensor_subject(sensor));
    return out;
}

std::string fetch_string_id(uint32_t number) {
    char* raw = nullptr;
    check(velkdirectfe_logical_num_to_strid(kHandle, static_cast<int>(number), &raw),
          fmt::format("sensor #{}", number));
    HeapString id(raw);
    return text(id.get());
}

float convert_raw_to_normal(const std::string& sensor, uint8_t raw) {
    float normal = 0;
    check(velkdirectfe_convert_raw_to_normal(kHandle, sensor.c_str(), raw, &normal), quoted("sensor", sensor));
    return normal;
}

uint8_t convert_normal_to_raw(const std::string& sensor, float normal) {
    uint8_t raw = 0;
    check(velkdirectfe_convert_normal_to_raw(kHandle, sensor.c_str(), normal, &raw), quoted("sensor", sensor));
    return raw;
}

RawEquivalent convert_to_raw(const SensorDesc& sensor, float normal) {
    RawEquivalent c;
    c.raw = convert_normal_to_raw(sensor.id, normal);
    c.back = convert_raw_to_normal(sensor.id, c.raw);
    c.low = convert_raw_to_normal(sensor.id, 0);
    c.high = convert_raw_to_normal(sensor.id, 255);
    if (c.low > c.high) std::swap(c.low, c.high);
    // Within the range, the raw value is the nearest step; beyond it by more
    // than half a step, the daemon clamped.
    float half_step = (c.high - c.low) / 255 / 2 * 1.001f;
    c.clamped = (c.raw == 0 || c.raw == 255) && (normal < c.low - half_step || normal > c.high + half_step);
    return c;
}

void set_thresholds(const SensorDesc& sensor, uint16_t ctrl, const std::array<uint8_t, 6>& raw) {
    pollctrl_thresh_t settings{sensor.number, ctrl, raw[0], raw[1], raw[2], raw[3], raw[4], raw[5], 0, 0};
    check(velkdirectfe_set_threshold_vals_internal(kHandle, &settings), sensor_subject(sensor));
}

void set_reading(const SensorDesc& sensor, uint16_t raw) {
    check(velkdirectfe_set_sensor_reading(kHandle, sensor.number, raw), sensor_subject(sensor));
}

PollAnswer enable_polling(const SensorDesc& sensor) {
    PollAnswer answer;
    check(velkdirectfe_enable_sensor_polling(kHandle, sensor.number, &answer.interval_ms, &answer.generation),
          sensor_subject(sensor));
    return answer;
}

PollAnswer disable_polling(const SensorDesc& sensor, uint16_t generation) {
    PollAnswer answer{0, generation};
    check(velkdirectfe_disable_sensor_polling(kHandle, sensor.number, &answer.interval_ms, &answer.generation),
          sensor_subject(sensor));
    return answer;
}

void set_poll_state(bool on) { check(velkdirectfe_set_poll_state(kHandle, on ? 1 : 0), "poll state"); }

void reset_sensors() { check(velkdirectfe_reset_all_sensors_state(kHandle), "sensor reset"); }

} // namespace velk::client
