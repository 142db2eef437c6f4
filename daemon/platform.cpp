#include "platform.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "api/attribute_records.h"
#include "log.h"
#include "record_bytes.h"
#include "status.h"
#include "velkdirectfe_wire.h"
#include "wire/block_layout.h"

namespace velkd {
namespace {

char* text(const std::string& s) { return const_cast<char*>(s.c_str()); }

// Names and paths share one index per kind; the loader keeps names unique
// within the kind and paths unique overall, so a clash is a name equal to
// another object's path. The name wins.
template <typename Objects>
std::unordered_map<std::string_view, std::size_t> name_index(const Objects& objects) {
    std::unordered_map<std::string_view, std::size_t> index;
    for (std::size_t i = 0; i < objects.size(); ++i) index.emplace(objects[i].path, i);
    for (std::size_t i = 0; i < objects.size(); ++i) index.insert_or_assign(std::string_view(name_of(objects[i])), i);
    return index;
}

template <typename Map, typename Key>
std::optional<std::size_t> find_in(const Map& map, const Key& key) {
    auto it = map.find(key);
    if (it == map.end()) return std::nullopt;
    return it->second;
}

// One attribute record of any kind: the fields every object has, velkd-sim's
// own bytes where record_bytes.h puts them, laid out as the kind's wire block,
// then the strings. The strings and properties stay the description's.
template <typename Public, typename Desc>
void add_record(std::vector<typename vdfe::AttrKind<Public>::Wire>& records, const Desc& d,
                std::vector<prop_node>& props) {
    Public record{};
    record.kind = d.kind;
    std::memcpy(record.desc, d.desc.data(), d.desc.size());
    if constexpr (requires { record_bytes::put(record, d); }) record_bytes::put(record, d);
    auto& wire = records.emplace_back();
    vdfe::wire::block_from_record(vdfe::AttrKind<Public>::layout, &record, wire.block);
    wire.path = text(d.path);
    if constexpr (requires { wire.aux_str; }) wire.aux_str = text(name_of(d));
    if constexpr (requires { wire.opt_str; }) wire.opt_str = text(d.note);
    wire.prop_count = static_cast<uint32_t>(props.size());
    wire.props = props.data();
}

} // namespace

Platform::Platform(Description description, const FruStore* store)
    : description_(std::move(description)), faults_(description_.faults), store_(store) {
    const Description& d = description_;
    // Property arrays first: the records point into them.
    auto props_of = [&](const ObjectInfo& info) {
        std::vector<prop_node> nodes;
        for (const auto& [name, value] : info.properties) nodes.push_back(prop_node{text(name), text(value)});
        return &wire_.properties.emplace_back(std::move(nodes));
    };
    wire_.properties.reserve(d.sensors.size() + d.indicators.size() + d.frus.size() + d.components.size());

    for (const SensorDesc& s : d.sensors) add_record<velkdirectfe_sensor_attr_t>(wire_.sensors, s, *props_of(s));
    for (const IndicatorDesc& i : d.indicators) add_record<velkdirectfe_ind_attr_t>(wire_.indicators, i, *props_of(i));
    for (const FruDesc& f : d.frus) add_record<velkdirectfe_fru_attr_t>(wire_.frus, f, *props_of(f));
    for (const ComponentDesc& c : d.components) add_record<velkdirectfe_comp_attr_t>(wire_.components, c, *props_of(c));
    wire_.members.reserve(d.associations.size());
    for (const AssociationDesc& a : d.associations) {
        auto& nodes = wire_.members.emplace_back();
        for (EntityKey m : a.members) nodes.push_back(velkfe_mem_node{m.key0, m.key1});
        auto count = static_cast<uint32_t>(nodes.size());
        wire_.associations.push_back(velkfe_assoc_t{a.entity.key0, a.entity.key1, a.word, count, count, nodes.data()});
    }
    wire_.names = velkfe_plat_names_t{d.names.lead_byte, text(d.names.name), text(d.names.model)};

    sensor_names_ = name_index(d.sensors);
    indicator_names_ = name_index(d.indicators);
    fru_names_ = name_index(d.frus);
    for (std::size_t i = 0; i < d.sensors.size(); ++i) sensor_numbers_.emplace(d.sensors[i].number, i);

    polling_running_ = d.polling;
    for (const SensorDesc& s : d.sensors)
        sensors_.push_back(SensorState{ReadingSource(s.reading), {}, {}, s.thresholds, s.hysteresis, s.polling, 0});
    for (std::size_t i = 0; i < sensors_.size(); ++i) update_hold_locked(i);
    for (const IndicatorDesc& ind : d.indicators) indicators_.push_back(IndicatorState{ind.initial_mode, std::nullopt, {}});
    for (const FruDesc& fru : d.frus) {
        std::vector<uint8_t> data = fru.data;
        if (auto saved = store_ ? store_->load(fru.name, data.size()) : std::nullopt) data = std::move(*saved);
        fru_data_.push_back(std::move(data));
    }
}

bool Platform::may_wait(uint32_t procedure) const {
    if (procedure == VELKD_WRITE_FRU_DIRECT && store_ != nullptr) return true;
    for (const FaultDesc& f : description_.faults)
        if (f.delay_ms != 0 && (!f.procedure || static_cast<uint32_t>(*f.procedure) == procedure)) return true;
    return false;
}

std::optional<std::size_t> Platform::find_sensor(std::string_view name) const { return find_in(sensor_names_, name); }
std::optional<std::size_t> Platform::find_sensor(uint32_t number) const { return find_in(sensor_numbers_, number); }
std::optional<std::size_t> Platform::find_indicator(std::string_view name) const {
    return find_in(indicator_names_, name);
}
std::optional<std::size_t> Platform::find_fru(std::string_view name) const { return find_in(fru_names_, name); }

std::optional<std::size_t> Platform::find_association(EntityKey key) const {
    const auto& all = description_.associations;
    auto it = std::find_if(all.begin(), all.end(), [&](const AssociationDesc& a) { return a.entity == key; });
    if (it == all.end()) return std::nullopt;
    return static_cast<std::size_t>(it - all.begin());
}

double Platform::seconds_now() const {
    return std::chrono::duration<double>(Clock::now() - epoch_).count();
}

// ---- sensors ---------------------------------------------------------------

// A sensor that is not polled keeps the value it had when polling stopped.
void Platform::update_hold_locked(std::size_t i) {
    SensorState& s = sensors_[i];
    bool polled = s.polling && polling_running_;
    if (!polled && !s.held) s.held = s.source.value_at(seconds_now());
    if (polled) s.held.reset();
}

uint8_t Platform::raw_locked(std::size_t i) {
    SensorState& s = sensors_[i];
    if (s.override_raw) return *s.override_raw;
    double value = s.held ? *s.held : s.source.value_at(seconds_now());
    return description_.sensors[i].conversion.to_raw(value);
}

sensor_reading_values_t Platform::sensor_values(std::size_t i) {
    std::lock_guard lock(mutex_);
    uint8_t raw = raw_locked(i);
    return sensor_reading_values_t{raw, description_.sensors[i].conversion.to_normal(raw)};
}

sensor_reading_info_t Platform::sensor_info(std::size_t i) {
    const SensorDesc& d = description_.sensors[i];
    std::lock_guard lock(mutex_);
    const SensorState& s = sensors_[i];
    uint8_t raw = raw_locked(i);
    float normal = d.conversion.to_normal(raw);
    uint8_t crossed = 0;
    for (int t = 0; t < 3; ++t)
        if (normal <= s.thresholds[t]) crossed |= uint8_t(1u << t);
    for (int t = 3; t < 6; ++t)
        if (normal >= s.thresholds[t]) crossed |= uint8_t(1u << t);
    crossed &= static_cast<uint8_t>(~d.absent_thresholds); // a threshold it lacks is never crossed
    uint8_t flags = uint8_t((s.polling ? 1 : 0) | (polling_running_ ? 2 : 0) | (s.override_raw ? 4 : 0));
    const Thresholds& t = s.thresholds;
    return sensor_reading_info_t{raw,
                                 normal,
                                 crossed,
                                 flags,
                                 d.type,
                                 0,
                                 static_cast<uint16_t>(s.hysteresis.positive << 8 | s.hysteresis.negative),
                                 static_cast<uint16_t>(d.poll_interval_ms),
                                 norm_thresh_info_t{t[0], t[1], t[2], t[3], t[4], t[5]}};
}

Thresholds Platform::thresholds(std::size_t i) {
    std::lock_guard lock(mutex_);
    return sensors_[i].thresholds;
}

int Platform::set_thresholds(std::size_t i, const pollctrl_thresh_t& settings) {
    if (settings.ctrl & ~0xFFu) return kInvalidValue;
    if (settings.ctrl & description_.sensors[i].absent_thresholds) return kInvalidValue; // not available
    const Conversion& conversion = description_.sensors[i].conversion;
    const uint8_t raw[6] = {settings.val1, settings.val2, settings.val3, settings.val4, settings.val5, settings.val6};
    std::lock_guard lock(mutex_);
    SensorState& s = sensors_[i];
    Thresholds next = s.thresholds;
    for (int t = 0; t < 6; ++t)
        if (settings.ctrl & (1u << t)) next[t] = conversion.to_normal(raw[t]);
    const uint8_t absent = description_.sensors[i].absent_thresholds;
    for (int t = 0, previous = -1; t < 6; ++t) {
        if (absent >> t & 1u) continue;
        if (previous >= 0 && next[previous] > next[t]) return kInvalidValue;
        previous = t;
    }
    s.thresholds = next;
    if (settings.ctrl & 0x40) s.hysteresis.positive = settings.val7;
    if (settings.ctrl & 0x80) s.hysteresis.negative = settings.val8;
    return kOk;
}

int Platform::set_reading(std::size_t i, uint16_t reading) {
    if (reading > 0xFF) return kInvalidValue;
    std::lock_guard lock(mutex_);
    sensors_[i].override_raw = static_cast<uint8_t>(reading);
    return kOk;
}

int Platform::enable_polling(std::size_t i, sensor_poll_info_t& out) {
    std::lock_guard lock(mutex_);
    SensorState& s = sensors_[i];
    s.polling = true;
    if (++s.generation == 0) s.generation = 1; // 0 means "any" to disable
    update_hold_locked(i);
    out.poll_word = description_.sensors[i].poll_interval_ms;
    out.poll_short = s.generation;
    return kOk;
}

int Platform::disable_polling(std::size_t i, uint16_t generation, sensor_poll_info_t& out) {
    std::lock_guard lock(mutex_);
    SensorState& s = sensors_[i];
    if (generation != 0 && generation != s.generation) return kWrongState;
    s.polling = false;
    update_hold_locked(i);
    out.poll_word = description_.sensors[i].poll_interval_ms;
    return kOk;
}

int Platform::set_poll_state(uint8_t state) {
    if (state > 1) return kInvalidValue;
    std::lock_guard lock(mutex_);
    polling_running_ = state == 1;
    for (std::size_t i = 0; i < sensors_.size(); ++i) update_hold_locked(i);
    return kOk;
}

void Platform::reset_sensors() {
    std::lock_guard lock(mutex_);
    polling_running_ = description_.polling;
    for (std::size_t i = 0; i < sensors_.size(); ++i) {
        const SensorDesc& d = description_.sensors[i];
        SensorState& s = sensors_[i];
        s.override_raw.reset();
        s.held.reset();
        s.thresholds = d.thresholds;
        s.hysteresis = d.hysteresis;
        s.polling = d.polling;
        update_hold_locked(i);
    }
}

// ---- indicators ------------------------------------------------------------

uint8_t Platform::indicator_mode_locked(std::size_t i) {
    IndicatorState& ind = indicators_[i];
    if (ind.temporary && Clock::now() >= ind.until) ind.temporary.reset();
    return ind.temporary ? *ind.temporary : ind.mode;
}

uint8_t Platform::indicator_mode(std::size_t i) {
    std::lock_guard lock(mutex_);
    return indicator_mode_locked(i);
}

std::optional<Platform::TimedMode> Platform::indicator_timed_mode(std::size_t i) {
    std::lock_guard lock(mutex_);
    indicator_mode_locked(i); // a mode whose time has run out ends here
    const IndicatorState& ind = indicators_[i];
    if (!ind.temporary) return std::nullopt;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(ind.until - Clock::now());
    return TimedMode{ind.mode, std::max(left, std::chrono::milliseconds(0))};
}

velkfe_ind_attr Platform::indicator_record(std::size_t i) {
    velkfe_ind_attr record = wire_.indicators[i];
    auto timed = indicator_timed_mode(i);
    if (!timed) return record;
    auto seconds = std::min<int64_t>((timed->left.count() + 999) / 1000, 0xFFFF);
    velkdirectfe_ind_attr_t fields{};
    const auto& layout = vdfe::AttrKind<velkdirectfe_ind_attr_t>::layout;
    vdfe::wire::record_from_block(layout, record.block, &fields);
    record_bytes::put(fields, record_bytes::TimedModeBytes{record_bytes::kTimedModeRuns, timed->lasting_mode,
                                                           static_cast<uint16_t>(seconds)});
    vdfe::wire::block_from_record(layout, &fields, record.block);
    return record;
}

int Platform::set_indicator_mode(std::size_t i, uint8_t mode, uint32_t duration_ms) {
    const auto& modes = description_.indicators[i].modes;
    if (std::find(modes.begin(), modes.end(), mode) == modes.end()) return kInvalidValue;
    std::lock_guard lock(mutex_);
    IndicatorState& ind = indicators_[i];
    if (duration_ms == 0) {
        ind.mode = mode;
        ind.temporary.reset();
    } else {
        ind.temporary = mode;
        ind.until = Clock::now() + std::chrono::milliseconds(duration_ms);
    }
    return kOk;
}

// ---- FRU data --------------------------------------------------------------

namespace {
bool within(std::size_t area, uint32_t offset, uint32_t length) {
    return offset <= area && length <= area - offset;
}
} // namespace

int Platform::read_fru(std::size_t i, uint32_t offset, uint32_t length, std::vector<uint8_t>& out) {
    std::lock_guard lock(mutex_);
    const std::vector<uint8_t>& data = fru_data_[i];
    if (!within(data.size(), offset, length)) return kOutOfRange;
    out.assign(data.begin() + offset, data.begin() + offset + length);
    return kOk;
}

int Platform::write_fru(std::size_t i, uint32_t offset, uint32_t size, const uint8_t* bytes, uint32_t count) {
    const FruDesc& d = description_.frus[i];
    if (!d.writable) return kReadOnly;
    if (count != size) return kInvalidValue;
    if (!within(d.data.size(), offset, size)) return kOutOfRange;
    // Writes run one at a time from copy to save to install, so the saved
    // file always holds the data area as the last write left it.
    std::lock_guard order(fru_write_mutex_);
    std::vector<uint8_t> next;
    {
        std::lock_guard lock(mutex_);
        next = fru_data_[i];
    }
    std::copy(bytes, bytes + size, next.begin() + offset);
    if (store_ && !store_->save(d.name, next)) {
        log(LogLevel::info, "error: cannot save FRU \"{}\" to {}", d.name, store_->file_for(d.name).string());
        return kStorageError;
    }
    std::lock_guard lock(mutex_);
    fru_data_[i] = std::move(next);
    return kOk;
}

} // namespace velkd
