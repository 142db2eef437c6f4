#include "platform.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "log.h"
#include "daemon_status.h"
#include "sensor_bits.h"
#include "velkdirectfe_wire.h"

namespace velkd {

using enum velk::protocol::Status;
using velk::protocol::kLowerThresholds;
using velk::protocol::kThresholdCount;
using velk::protocol::pack_hysteresis;
using velk::protocol::threshold_bit;
namespace sensor_flag = velk::protocol::sensor_flag;
namespace threshold_ctrl = velk::protocol::threshold_ctrl;
namespace {

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

} // namespace

Platform::Platform(Description description, const FruStore* store)
    : description_(std::move(description)), wire_(build_wire_records(description_)), faults_(description_.faults),
      store_(store) {
    const Description& d = description_;
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
    for (int t = 0; t < kThresholdCount; ++t)
        if (t < kLowerThresholds ? normal <= s.thresholds[t] : normal >= s.thresholds[t]) crossed |= threshold_bit(t);
    crossed &= static_cast<uint8_t>(~d.absent_thresholds); // a threshold it lacks is never crossed
    uint8_t flags = uint8_t((s.polling ? sensor_flag::polled : 0) | (polling_running_ ? sensor_flag::daemon_polling : 0) |
                            (s.override_raw ? sensor_flag::overridden : 0));
    const Thresholds& t = s.thresholds;
    return sensor_reading_info_t{raw,
                                 normal,
                                 crossed,
                                 flags,
                                 d.type,
                                 0,
                                 pack_hysteresis(s.hysteresis.positive, s.hysteresis.negative),
                                 static_cast<uint16_t>(d.poll_interval_ms),
                                 norm_thresh_info_t{t[0], t[1], t[2], t[3], t[4], t[5]}};
}

Thresholds Platform::thresholds(std::size_t i) {
    std::lock_guard lock(mutex_);
    return sensors_[i].thresholds;
}

int Platform::set_thresholds(std::size_t i, const pollctrl_thresh_t& settings) {
    if (settings.ctrl & ~threshold_ctrl::known) return kInvalidValue;
    if (settings.ctrl & description_.sensors[i].absent_thresholds) return kInvalidValue; // not available
    const Conversion& conversion = description_.sensors[i].conversion;
    const uint8_t raw[6] = {settings.val1, settings.val2, settings.val3, settings.val4, settings.val5, settings.val6};
    std::lock_guard lock(mutex_);
    SensorState& s = sensors_[i];
    Thresholds next = s.thresholds;
    for (int t = 0; t < 6; ++t)
        if (settings.ctrl & threshold_ctrl::threshold(t)) next[t] = conversion.to_normal(raw[t]);
    const uint8_t absent = description_.sensors[i].absent_thresholds;
    for (int t = 0, previous = -1; t < 6; ++t) {
        if (absent >> t & 1u) continue;
        if (previous >= 0 && next[previous] > next[t]) return kInvalidValue;
        previous = t;
    }
    s.thresholds = next;
    if (settings.ctrl & threshold_ctrl::hysteresis_positive) s.hysteresis.positive = settings.val7;
    if (settings.ctrl & threshold_ctrl::hysteresis_negative) s.hysteresis.negative = settings.val8;
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
    auto timed = indicator_timed_mode(i);
    if (!timed) return wire_.indicators[i];
    return with_timed_mode(wire_.indicators[i], timed->lasting_mode, timed->left);
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
        log(LogLevel::error, "cannot save FRU \"{}\" to {}", d.name, store_->file_for(d.name).string());
        return kStorageError;
    }
    std::lock_guard lock(mutex_);
    fru_data_[i] = std::move(next);
    return kOk;
}

} // namespace velkd
