// The Prometheus text exposition (format 0.0.4) of a platform reading.
//
// Families, all gauges:
//   velkdirect_up                              1 when the daemon answered
//   velkdirect_scrape_duration_seconds         time the reading took
//   velkdirect_scrape_calls                    library calls it made
//   velkdirect_scrape_failed_calls             of which failed
//   velkdirect_platform_info{name,model}       1
//   velkdirect_sensor_info{id,path,number,unit,note}  1, for every listed sensor
//   velkdirect_<quantity>_<unit>{id,path}      normalized value in the base
//                                              unit (base_unit() below):
//                                              velkdirect_temperature_celsius,
//                                              velkdirect_voltage_volts, ...;
//                                              velkdirect_sensor_value for a
//                                              unit it does not know
//   velkdirect_<quantity>_threshold_<unit>{id,path,threshold}   the six
//                                              thresholds, in the same unit
//   velkdirect_sensor_raw_reading{id,path}     raw reading, 0 to 255
//   velkdirect_sensor_state{id,path}           0 ok, 1 non-critical, 2 critical,
//                                              3 non-recoverable
//   velkdirect_sensor_threshold_crossed{id,path,threshold}  1 at or beyond it
//   velkdirect_indicator_mode{name,path}       the indicator's mode byte
// `threshold` is lnr, lcr, lnc, unc, ucr or unr. A sensor whose reading was
// refused keeps only its info series; an indicator whose mode was refused
// has none.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform_reading.h"

namespace velkdirect::metrics {

inline constexpr std::string_view kContentType = "text/plain; version=0.0.4; charset=utf-8";

std::string exposition(const PlatformReading& reading);

// What a sensor's unit measures and its Prometheus base unit, with the
// conversion to it: base = (value + offset) * multiply / divide.
struct BaseUnit {
    std::string_view quantity; // "temperature"
    std::string_view unit;     // "celsius"
    float offset = 0;
    float multiply = 1;
    float divide = 1;
};

// The base unit of a unit as the platform names it, any case ("degrees F"
// is temperature in celsius, "mV" voltage in volts, "percent" a ratio, "RPM"
// a fan speed in rpm), or nothing for a unit it does not know.
std::optional<BaseUnit> base_unit(std::string_view platform_unit);

} // namespace velkdirect::metrics
