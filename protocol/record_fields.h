// velkd-sim's own bytes in the opaque runs of the attribute records: for each
// field it carries, the run, the offset and (from the field's type in the
// record it is read into or written from) the width. velkd-sim writes its
// records with PutField, velkdirect reads them back with GetField: both go
// through the one list below, so the two cannot drift. Values are in host
// byte order; every opaque byte no field names is 0 (the table in
// daemon/README.md shows the same list). description/record_bytes.h applies
// the lists to the description model.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include "velkdirectfe.h"

namespace velk::protocol::record_bytes {

template <std::size_t Offset>
struct At {
    static constexpr std::size_t offset = Offset;
};
template <std::size_t Offset>
inline constexpr At<Offset> at{};

// Each list calls `field(name, run, at<offset>, value)` once a field. A
// number or a float takes sizeof its type; a bool one byte (1 or 0); a byte
// list a count byte, then the bytes, as many as the run holds.
template <typename Record, typename Sensor, typename Field>
void sensor_fields(Record& r, Sensor& s, Field&& field) {
    field("number", r.opaque0, at<0>, s.number);                      // u32
    field("conversion.m", r.opaque1, at<0>, s.conversion.m);          // float
    field("conversion.b", r.opaque1, at<4>, s.conversion.b);          // float
    field("poll_interval_ms", r.opaque1, at<8>, s.poll_interval_ms);  // u32
    field("type", r.opaque1, at<12>, s.type);                         // u8
    field("absent_thresholds", r.opaque1, at<13>, s.absent_thresholds); // u8, bit i: threshold i "na"
}

template <typename Record, typename Indicator, typename Field>
void indicator_fields(Record& r, Indicator& ind, Field&& field) {
    field("modes", r.opaque1, at<0>, ind.modes); // count, then up to 13 modes
}

template <typename Record, typename Fru, typename Field>
void fru_fields(Record& r, Fru& fru, Field&& field) {
    field("size", r.opaque2, at<0>, fru.size);         // u32
    field("writable", r.opaque2, at<4>, fru.writable); // 1 or 0
}

// Not part of a description: an indicator's mode set for a duration, as
// velkd-sim shows it while it runs (all zero otherwise).
struct TimedModeBytes {
    uint8_t running = 0;       // kTimedModeRuns while such a mode runs
    uint8_t lasting_mode = 0;  // the mode the indicator returns to
    uint16_t seconds_left = 0; // whole seconds, rounded up, at most 65535
    bool operator==(const TimedModeBytes&) const = default;
};
inline constexpr uint8_t kTimedModeRuns = 1;

template <typename Record, typename Timed, typename Field>
void timed_mode_fields(Record& r, Timed& t, Field&& field) {
    field("running", r.opaque0, at<0>, t.running);           // u8
    field("lasting_mode", r.opaque0, at<1>, t.lasting_mode); // u8
    field("seconds_left", r.opaque0, at<2>, t.seconds_left); // u16
}

// An indicator's run holds the count and every mode it may accept.
inline constexpr std::size_t kMaxIndicatorModes = sizeof(velkdirectfe_ind_attr_t{}.opaque1) - 1;

// Writes one field into its run; fields never overlap a run's end.
struct PutField {
    template <std::size_t N, std::size_t Offset, typename T>
    void operator()(const char*, uint8_t (&run)[N], At<Offset>, const T& value) const {
        if constexpr (std::is_same_v<T, std::vector<uint8_t>>) {
            static_assert(Offset < N);
            std::size_t count = std::min(value.size(), N - Offset - 1);
            run[Offset] = static_cast<uint8_t>(count);
            std::copy_n(value.begin(), count, run + Offset + 1);
        } else if constexpr (std::is_same_v<T, bool>) {
            static_assert(Offset < N);
            run[Offset] = value ? 1 : 0;
        } else {
            static_assert(std::is_arithmetic_v<T> && Offset + sizeof(T) <= N);
            std::memcpy(run + Offset, &value, sizeof value);
        }
    }
};

// Reads one field from its run; a count beyond the run is cut to it.
struct GetField {
    template <std::size_t N, std::size_t Offset, typename T>
    void operator()(const char*, const uint8_t (&run)[N], At<Offset>, T& value) const {
        if constexpr (std::is_same_v<T, std::vector<uint8_t>>) {
            static_assert(Offset < N);
            std::size_t count = std::min<std::size_t>(run[Offset], N - Offset - 1);
            value.assign(run + Offset + 1, run + Offset + 1 + count);
        } else if constexpr (std::is_same_v<T, bool>) {
            static_assert(Offset < N);
            value = run[Offset] != 0;
        } else {
            static_assert(std::is_arithmetic_v<T> && Offset + sizeof(T) <= N);
            std::memcpy(&value, run + Offset, sizeof value);
        }
    }
};

} // namespace velk::protocol::record_bytes
