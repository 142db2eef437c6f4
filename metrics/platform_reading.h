// One reading of the whole platform for monitoring: names, every sensor with
// its full reading, every indicator with its mode, and what the reading cost
// (library calls made and failed, time taken). `velkdirect metrics`, `check`
// and velkdirect-exporter all start from this.
#pragma once

#include <optional>
#include <vector>

#include "objects.h"

namespace velkdirect::metrics {

using namespace velk::client;

struct IndicatorSample {
    Indicator indicator;
    std::optional<int> mode; // absent when the daemon refused it
};

struct PlatformReading {
    // The daemon answered the names and both lists. When it did not, nothing
    // below but the call counts and the duration is filled.
    bool up = false;
    PlatformNames names;
    std::vector<SensorRow> sensors; // a row with an `error` has no reading
    std::vector<IndicatorSample> indicators;
    unsigned calls = 0;        // library calls made
    unsigned failed_calls = 0; // of which failed, for whatever reason
    double duration_seconds = 0;
};

// Reads the platform through the library's public functions: 3 calls plus
// one per sensor and one per indicator. A single reading or mode the daemon
// refuses is left out and counted; a call that fails locally (no daemon, a
// broken or garbled answer) ends the reading with `up` false rather than
// waiting out the connection retries of every remaining call. Never throws.
PlatformReading read_platform() noexcept;

} // namespace velkdirect::metrics
