// The platform being served: its description, the wire attribute records
// built from it once (wire_records.h), and the state that clients change
// (readings, thresholds, polling, indicator modes, FRU data). Worker threads
// meet here; every state change and every read of state takes the one mutex.
//
// A reload builds a new Platform and swaps it in whole, so a call always sees
// one consistent platform.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "behaviour.h"
#include "description.h"
#include "faults.h"
#include "fru_store.h"
#include "velkdirectfe_wire.h"
#include "wire_records.h"

namespace velkd {

using Clock = std::chrono::steady_clock;

class Platform {
public:
    // Loads saved FRU data from `store` when given (a size mismatch is logged
    // and ignored). `store` must outlive the platform.
    Platform(Description description, const FruStore* store);

    const Description& description() const { return description_; }
    const WireRecords& wire() const { return wire_; }
    FaultInjector& faults() { return faults_; }
    // Whether a call of this procedure may wait: a fault may delay it, or it
    // writes FRU data that is synced to the state directory. The server
    // answers such calls off its event loop.
    bool may_wait(uint32_t procedure) const;

    // ---- lookups (description only, no lock) --------------------------------
    // Sensors by string id or path, indicators and FRUs by name or path.
    std::optional<std::size_t> find_sensor(std::string_view name) const;
    std::optional<std::size_t> find_sensor(uint32_t number) const;
    std::optional<std::size_t> find_indicator(std::string_view name) const;
    std::optional<std::size_t> find_fru(std::string_view name) const;
    std::optional<std::size_t> find_association(EntityKey key) const;

    // ---- sensors --------------------------------------------------------------
    sensor_reading_values_t sensor_values(std::size_t sensor);
    sensor_reading_info_t sensor_info(std::size_t sensor);
    Thresholds thresholds(std::size_t sensor);
    int set_thresholds(std::size_t sensor, const pollctrl_thresh_t& settings);
    int set_reading(std::size_t sensor, uint16_t reading);
    // Fill out.poll_word and out.poll_short.
    int enable_polling(std::size_t sensor, sensor_poll_info_t& out);
    int disable_polling(std::size_t sensor, uint16_t generation, sensor_poll_info_t& out);
    int set_poll_state(uint8_t state);
    void reset_sensors();

    // ---- indicators -----------------------------------------------------------
    uint8_t indicator_mode(std::size_t indicator);
    // A duration (milliseconds) other than 0 returns to the present permanent
    // mode when it has passed.
    int set_indicator_mode(std::size_t indicator, uint8_t mode, uint32_t duration_ms);
    // A mode set for a duration that is still running: the mode the
    // indicator returns to and the time left.
    struct TimedMode {
        uint8_t lasting_mode;
        std::chrono::milliseconds left;
    };
    std::optional<TimedMode> indicator_timed_mode(std::size_t indicator);
    // The indicator's record as described; while a mode set for a duration
    // runs, its opaque bytes tell so (record_bytes.h, TimedModeBytes). The
    // strings stay the platform's.
    velkfe_ind_attr indicator_record(std::size_t indicator);

    // ---- FRU data -------------------------------------------------------------
    int read_fru(std::size_t fru, uint32_t offset, uint32_t length, std::vector<uint8_t>& out);
    int write_fru(std::size_t fru, uint32_t offset, uint32_t size, const uint8_t* bytes, uint32_t count);

private:
    struct SensorState {
        ReadingSource source;
        std::optional<uint8_t> override_raw;
        std::optional<double> held; // the value kept while the sensor is not polled
        Thresholds thresholds;
        Hysteresis hysteresis;
        bool polling;
        uint16_t generation = 0;
    };
    struct IndicatorState {
        uint8_t mode;                 // the permanent mode
        std::optional<uint8_t> temporary;
        Clock::time_point until{};
    };

    double seconds_now() const;
    void update_hold_locked(std::size_t sensor);
    uint8_t raw_locked(std::size_t sensor);
    uint8_t indicator_mode_locked(std::size_t indicator);

    Description description_;
    WireRecords wire_;
    FaultInjector faults_;
    const FruStore* store_;
    Clock::time_point epoch_ = Clock::now();

    std::unordered_map<std::string_view, std::size_t> sensor_names_, indicator_names_, fru_names_;
    std::unordered_map<uint32_t, std::size_t> sensor_numbers_;

    std::mutex mutex_; // guards everything below
    std::vector<SensorState> sensors_;
    std::vector<IndicatorState> indicators_;
    std::vector<std::vector<uint8_t>> fru_data_;
    bool polling_running_ = true;

    std::mutex fru_write_mutex_; // orders FRU writes with their saving
};

} // namespace velkd
