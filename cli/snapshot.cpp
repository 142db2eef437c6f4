#include "snapshot.h"

#include <fmt/format.h>

#include <cmath>

#include "calls.h"
#include "description_writer.h"
#include "text_format.h"

namespace velk::cli {

PlatformCapture capture_platform() {
    PlatformCapture capture;
    velkd::Description& d = capture.description;
    d.names = fetch_platform_names();
    for (FruDesc& fru : fetch_frus()) {
        fru.data = read_fru(fru.name, 0, fru.size);
        fru.data.resize(fru.size, 0xFF); // what a daemon could not read is left to the loader's padding
        d.frus.push_back(std::move(fru));
    }
    std::vector<SensorRow> rows = fetch_sensor_rows(true); // a capture is whole or nothing
    if (!rows.empty()) d.polling = rows.front().reading.daemon_polling();
    for (SensorRow& row : rows) {
        SensorDesc& s = row.sensor;
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


std::string description_file(const PlatformCapture& capture, const std::string& header) {
    velkd::WriteNotes notes{header, {}};
    for (const auto& timed : capture.timed_modes)
        notes.indicator_notes.push_back(
            timed ? fmt::format("mode {} ({}) was set for a while, with {} s left at capture", timed->first,
                                mode_name(timed->first), timed->second.seconds_left)
                  : "");
    return velkd::write_description(capture.description, notes);
}

} // namespace velk::cli
