#include "platform_reading.h"

#include <fmt/format.h>

#include <chrono>
#include <exception>

#include "call_failure.h"
#include "calls.h"

namespace velkdirect::metrics {
namespace {

// Thrown out of a reading that cannot go on: the daemon did not answer.
struct DaemonGone {};

// Runs one library call through `fetch`, counting it. A refusal by the
// daemon gives nothing (and the status through `refused`); a local failure
// ends the whole reading.
template <typename Fetch>
auto counted(PlatformReading& reading, Fetch fetch, int* refused = nullptr)
    -> std::optional<decltype(fetch())> {
    ++reading.calls;
    try {
        return fetch();
    } catch (const CallError& e) {
        ++reading.failed_calls;
        if (e.status() == -1 || refused == nullptr) throw DaemonGone{};
        *refused = e.status();
        return std::nullopt;
    }
}

void read_into(PlatformReading& out) {
    out.names = *counted(out, fetch_platform_names);
    std::vector<SensorDesc> sensors = *counted(out, fetch_sensors);
    for (SensorDesc& sensor : sensors) {
        SensorRow row{std::move(sensor), {}, {}};
        int status = 0;
        if (auto reading = counted(out, [&] { return fetch_reading(row.sensor); }, &status)) {
            row.reading = *reading;
        } else {
            row.status = status;
            row.error = status_text(status);
        }
        out.sensors.push_back(std::move(row));
    }
    std::vector<Indicator> indicators = *counted(out, fetch_indicators);
    for (Indicator& indicator : indicators) {
        int status = 0;
        auto mode = counted(out, [&] { return fetch_indicator_mode(indicator.name); }, &status);
        out.indicators.push_back({std::move(indicator), mode});
    }
    out.up = true;
}

} // namespace

PlatformReading read_platform() noexcept {
    PlatformReading out;
    auto start = std::chrono::steady_clock::now();
    try {
        read_into(out);
    } catch (...) { // the daemon is gone, or memory ran out: nothing to show
        out.up = false;
        out.names = {};
        out.sensors.clear();
        out.indicators.clear();
    }
    out.duration_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return out;
}

} // namespace velkdirect::metrics
