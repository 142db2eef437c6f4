#include "daemon_client.h"

#include <fmt/format.h>

#include <algorithm>
#include <limits>
#include <cctype>
#include <cmath>
#include <cstring>
#include <new>
#include <utility>

#include "description_writer.h"
#include "library.h"
#include "record_bytes.h"
#include "sensor_bits.h"

namespace velkdirect {
namespace {

constexpr int kHandle = 0;

std::string text(const char* s) { return s == nullptr ? std::string() : std::string(s); }

std::string quoted(std::string_view what, const std::string& name) { return fmt::format("{} \"{}\"", what, name); }

Properties properties(const velkdirectfe_nvlist_t* list) {
    Properties out;
    for (; list != nullptr; list = list->next) out.emplace_back(text(list->name), text(list->value));
    return out;
}

template <typename Record>
void fill_info(ObjectInfo& info, const Record& record) {
    info.path = text(record.path);
    info.kind = record.kind;
    std::copy(std::begin(record.desc), std::end(record.desc), info.desc.begin());
    info.properties = properties(record.props);
}

Sensor to_sensor(const velkdirectfe_sensor_attr_t& r) {
    Sensor s;
    fill_info(s, r);
    s.id = text(r.aux_str);
    s.note = text(r.opt_str);
    velkd::record_bytes::get(r, s);
    return s;
}

Indicator to_indicator(const velkdirectfe_ind_attr_t& r) {
    Indicator ind;
    fill_info(ind, r);
    ind.name = text(r.aux_str);
    velkd::record_bytes::get(r, static_cast<velkd::IndicatorDesc&>(ind));
    velkd::record_bytes::TimedModeBytes timed;
    velkd::record_bytes::get(r, timed);
    if (timed.running == velkd::record_bytes::kTimedModeRuns)
        ind.timed = TimedMode{timed.lasting_mode, timed.seconds_left};
    return ind;
}

Fru to_fru(const velkdirectfe_fru_attr_t& r) {
    Fru fru;
    fill_info(fru, r);
    fru.name = text(r.aux_str);
    velkd::record_bytes::get(r, fru);
    return fru;
}

Component to_component(const velkdirectfe_comp_attr_t& r) {
    Component c;
    fill_info(c, r);
    return c;
}

Association to_association(const velkdirectfe_entity_assoc_t& r) {
    // The library widens each key byte; narrowing gives it back.
    auto key = [](auto key0, auto key1) { return EntityKey{static_cast<uint8_t>(key0), static_cast<uint8_t>(key1)}; };
    Association a{key(r.key0, r.key1), r.assoc_word, {}};
    if (r.members != nullptr)
        for (uint32_t i = 0; i < r.member_count; ++i) a.members.push_back(key(r.members[i].key0, r.members[i].key1));
    return a;
}

// A list query: every record of one kind, converted to plain values.
template <typename RecordList, typename Record, typename Convert>
auto fetch_list(int (*query)(int, uint32_t*, Record**), Convert convert, std::string_view what) {
    RecordList records;
    check(query(kHandle, records.count_out(), records.items_out()), what);
    std::vector<decltype(convert(std::declval<const Record&>()))> out;
    for (const Record& record : records.view()) out.push_back(convert(record));
    return out;
}

// A single query by name: the one record, converted.
template <typename RecordList, typename Record, typename Convert>
auto fetch_named(int (*query)(int, const char*, Record**), const std::string& name, Convert convert,
                 std::string_view what) {
    RecordList records;
    check(query(kHandle, name.c_str(), records.single_out()), quoted(what, name));
    return convert(records.view().front());
}

SensorReading to_reading(const velkdirectfe_sensor_data_t& d) {
    SensorReading r;
    r.reading = d.reading;
    r.value = d.normal_value;
    r.threshold_state = static_cast<uint8_t>(d.byte1);
    r.flags = static_cast<uint8_t>(d.byte2);
    r.type = static_cast<uint8_t>(d.byte3);
    r.hysteresis_positive = velk::protocol::hysteresis_positive(d.word1);
    r.hysteresis_negative = velk::protocol::hysteresis_negative(d.word1);
    r.poll_interval_ms = d.word2;
    std::copy(std::begin(d.thresholds), std::end(d.thresholds), r.thresholds.begin());
    return r;
}

std::string sensor_subject(const Sensor& sensor) { return quoted("sensor", sensor.id); }

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
    return {text};
}

std::string SensorRef::describe() const {
    if (const auto* number = std::get_if<uint32_t>(&name)) return fmt::format("sensor #{}", *number);
    return quoted("sensor", std::get<std::string>(name));
}

PlatformNames fetch_platform_names() {
    velkdirectfe_plat_names_t names{};
    check(velkdirectfe_get_platform_names(kHandle, &names), "platform names");
    HeapString name1(names.name1), name2(names.name2);
    return {text(name1.get()), text(name2.get()), names.lead_byte};
}

std::vector<Sensor> fetch_sensors() {
    return fetch_list<SensorRecords>(velkdirectfe_get_sensor_attrs, to_sensor, "sensor list");
}

Sensor fetch_sensor(const SensorRef& ref) {
    SensorRecords records;
    int status = 0;
    if (const auto* number = std::get_if<uint32_t>(&ref.name))
        status = velkdirectfe_get_sensor_attr_by_logical_num(kHandle, *number, records.single_out());
    else
        status = velkdirectfe_get_sensor_attr(kHandle, std::get<std::string>(ref.name).c_str(), records.single_out());
    check(status, ref.describe());
    return to_sensor(records.view().front());
}

SensorReading fetch_reading(const Sensor& sensor) {
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
    for (Sensor& sensor : fetch_sensors()) {
        SensorRow row{std::move(sensor), {}, {}};
        try {
            row.reading = fetch_reading(row.sensor);
        } catch (const CallError& e) {
            if (whole || e.status() == -1) throw;
            row.status = e.status();
            row.error = velk::protocol::describe_status(e.status());
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

Thresholds fetch_normalized_thresholds(const Sensor& sensor) {
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

Conversion convert_to_raw(const Sensor& sensor, float normal) {
    Conversion c;
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

void set_thresholds(const Sensor& sensor, uint16_t ctrl, const std::array<uint8_t, 6>& raw) {
    pollctrl_thresh_t settings{sensor.number, ctrl, raw[0], raw[1], raw[2], raw[3], raw[4], raw[5], 0, 0};
    check(velkdirectfe_set_threshold_vals_internal(kHandle, &settings), sensor_subject(sensor));
}

void set_reading(const Sensor& sensor, uint16_t raw) {
    check(velkdirectfe_set_sensor_reading(kHandle, sensor.number, raw), sensor_subject(sensor));
}

PollAnswer enable_polling(const Sensor& sensor) {
    PollAnswer answer;
    check(velkdirectfe_enable_sensor_polling(kHandle, sensor.number, &answer.interval_ms, &answer.generation),
          sensor_subject(sensor));
    return answer;
}

PollAnswer disable_polling(const Sensor& sensor, uint16_t generation) {
    PollAnswer answer{0, generation};
    check(velkdirectfe_disable_sensor_polling(kHandle, sensor.number, &answer.interval_ms, &answer.generation),
          sensor_subject(sensor));
    return answer;
}

void set_poll_state(bool on) { check(velkdirectfe_set_poll_state(kHandle, on ? 1 : 0), "poll state"); }

void reset_sensors() { check(velkdirectfe_reset_all_sensors_state(kHandle), "sensor reset"); }

std::vector<Indicator> fetch_indicators() {
    return fetch_list<IndicatorRecords>(velkdirectfe_get_indicator_attrs, to_indicator, "indicator list");
}

Indicator fetch_indicator(const std::string& name) {
    return fetch_named<IndicatorRecords>(velkdirectfe_get_indicator_attr, name, to_indicator, "indicator");
}

int fetch_indicator_mode(const std::string& name) {
    int32_t mode = 0;
    check(velkdirectfe_get_indicator_mode(kHandle, name.c_str(), &mode), quoted("indicator", name));
    return mode;
}

std::vector<IndicatorRow> fetch_indicator_rows() {
    std::vector<IndicatorRow> rows;
    for (Indicator& indicator : fetch_indicators()) {
        int mode = fetch_indicator_mode(indicator.name);
        rows.push_back({std::move(indicator), mode});
    }
    return rows;
}

void set_indicator_mode(const std::string& name, uint8_t mode, uint32_t duration_ms) {
    int status = duration_ms == 0
                     ? velkdirectfe_set_indicator_mode(kHandle, name.c_str(), mode)
                     : velkdirectfe_set_indicator_mode_for_duration(kHandle, name.c_str(), mode, duration_ms);
    check(status, quoted("indicator", name));
}

std::vector<Fru> fetch_frus() { return fetch_list<FruRecords>(velkdirectfe_get_fru_attrs, to_fru, "FRU list"); }

Fru fetch_fru(const std::string& name) {
    return fetch_named<FruRecords>(velkdirectfe_get_fru_attr, name, to_fru, "FRU");
}

std::vector<uint8_t> read_fru(const std::string& name, uint32_t offset, uint32_t length) {
    // Large areas are read in pieces so that no single answer is large.
    constexpr uint32_t kPiece = 4096;
    std::vector<uint8_t> data;
    while (data.size() < length) {
        uint32_t want = std::min<uint32_t>(kPiece, length - static_cast<uint32_t>(data.size()));
        std::size_t at = data.size();
        data.resize(at + want);
        uint32_t got = 0;
        check(velkdirectfe_read_fru_direct(kHandle, name.c_str(), offset + static_cast<uint32_t>(at), want,
                                           data.data() + at, &got),
              quoted("FRU", name));
        data.resize(at + got);
        if (got < want) break; // the daemon has no more
    }
    return data;
}

int32_t write_fru(const std::string& name, uint32_t offset, const std::vector<uint8_t>& bytes) {
    int32_t result = 0;
    check(velkdirectfe_write_fru_direct(kHandle, name.c_str(), offset, static_cast<uint32_t>(bytes.size()),
                                        bytes.data(), &result),
          quoted("FRU", name));
    return result;
}

std::vector<Component> fetch_components() {
    return fetch_list<ComponentRecords>(velkdirectfe_get_component_attrs, to_component, "component list");
}

std::vector<Association> fetch_associations() {
    return fetch_list<AssociationRecords>(velkdirectfe_get_entity_associations, to_association, "association list");
}

Association fetch_association(uint8_t key0, uint8_t key1) {
    AssociationRecords records;
    check(velkdirectfe_get_entity_association(kHandle, key0, key1, records.single_out()),
          fmt::format("association [{:#04x}, {:#04x}]", key0, key1));
    return to_association(records.view().front());
}

namespace {

// The walk hands nodes it could not place (a path without '/') null parent
// data; they are hung under the root, which the callback can only reach
// through this pointer, set for the length of one walk on this thread.
thread_local TreeNode* t_walk_root = nullptr;
thread_local bool t_walk_failed = false;

void* add_tree_node(const char* path, uint32_t kind, const uint8_t* desc, const velkdirectfe_nvlist_t* props,
                    void* parent_data) {
    // No exception may cross the library's C frames.
    try {
        auto* parent = parent_data != nullptr ? static_cast<TreeNode*>(parent_data) : t_walk_root;
        auto node = std::make_unique<TreeNode>();
        node->path = text(path);
        node->kind = kind;
        std::copy(desc, desc + node->desc.size(), node->desc.begin());
        node->properties = properties(props);
        parent->children.push_back(std::move(node));
        return parent->children.back().get();
    } catch (...) {
        t_walk_failed = true;
        return nullptr;
    }
}

} // namespace

TreeNode fetch_tree() {
    // One call first: without a daemon the walk's four queries would each
    // wait out the library's retries before saying so.
    fetch_platform_names();
    TreeNode root;
    t_walk_root = &root;
    t_walk_failed = false;
    int status = velkdirectfe_inventory_direct(kHandle, add_tree_node, &root);
    t_walk_root = nullptr;
    if (t_walk_failed) throw std::bad_alloc();
    // The daemon answered just now, so -1 means it lists no object at all.
    if (status != -1) check(status, "inventory");
    return root;
}

PlatformCapture capture_platform() {
    PlatformCapture capture;
    velkd::Description& d = capture.description;
    d.names = fetch_platform_names();
    for (Fru& fru : fetch_frus()) {
        fru.data = read_fru(fru.name, 0, fru.size);
        fru.data.resize(fru.size, 0xFF); // what a daemon could not read is left to the loader's padding
        d.frus.push_back(std::move(fru));
    }
    std::vector<SensorRow> rows = fetch_sensor_rows(true); // a capture is whole or nothing
    if (!rows.empty()) d.polling = rows.front().reading.daemon_polling();
    for (SensorRow& row : rows) {
        Sensor& s = row.sensor;
        const SensorReading& r = row.reading;
        s.type = r.type;
        s.thresholds = r.thresholds;
        for (std::size_t i = 0; i < s.thresholds.size(); ++i)
            if (std::isnan(s.thresholds[i])) { // "na": written as such
                s.absent_thresholds = static_cast<uint8_t>(s.absent_thresholds | 1u << i);
                s.thresholds[i] = 0;
            }
        s.hysteresis = {r.hysteresis_positive, r.hysteresis_negative};
        s.poll_interval_ms = r.poll_interval_ms;
        s.polling = r.polled();
        s.reading = velkd::Constant{velkd::float_decimal(r.value)}; // the value as velkdirect shows it
        d.sensors.push_back(std::move(s));
    }
    // A mode set for a while is not the indicator's mode: it keeps the one
    // it returns to, and the timed one is noted.
    for (IndicatorRow& row : fetch_indicator_rows()) {
        const auto& timed = row.indicator.timed;
        row.indicator.initial_mode = static_cast<uint8_t>(timed ? timed->lasting_mode : row.mode);
        capture.timed_modes.push_back(timed ? std::optional(std::pair(row.mode, *timed)) : std::nullopt);
        d.indicators.push_back(std::move(row.indicator));
    }
    d.components = fetch_components();
    d.associations = fetch_associations();
    return capture;
}

} // namespace velkdirect
