// Monitoring: `metrics` (Prometheus text once, for node_exporter's textfile
// collector), `check` (a monitoring-plugins check) and the `--fail-on`
// option of `sensors`.
#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "objects.h"
#include "platform_reading.h"
#include "sensor_state.h"

namespace velk::cli {

using namespace velk::client;
namespace metrics = ::velkdirect::metrics;

// Ends the tool with this exit status once the command's output is out,
// for commands whose status carries a result (check, sensors --fail-on).
struct ExitStatus {
    int code;
    std::string message; // for stderr; may be empty
};

// monitoring-plugins exit codes, which `check` alone follows.
enum PluginStatus : int { kPluginOk = 0, kPluginWarning = 1, kPluginCritical = 2, kPluginUnknown = 3 };

struct CheckResult {
    int code = kPluginUnknown;
    std::string line; // one status line with performance data, no newline
};

// The verdict on every sensor's reading: OK, WARNING for a non-critical
// threshold crossed, CRITICAL for a critical or non-recoverable one or a
// refused reading. `warning_only` turns CRITICAL into WARNING.
CheckResult check_sensors(const std::vector<SensorRow>& rows, bool warning_only);

void add_monitoring_commands(CLI::App& app, Context& ctx);

// `--fail-on STATE` on a sensor listing: after printing, fails when a sensor
// is in that state or worse.
void add_fail_on_option(CLI::App* command, std::optional<SensorState>& fail_on);
void enforce_fail_on(const std::vector<SensorRow>& rows, const std::optional<SensorState>& fail_on);

} // namespace velk::cli
