// sensors, sensor, convert, poll, reset-sensors, watch.
#include <fmt/chrono.h>
#include <fmt/format.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <optional>
#include <thread>

#include "commands.h"
#include "daemon_client.h"
#include "library.h"
#include "monitoring_commands.h"
#include "text_format.h"

namespace velkdirect {
namespace {

const CLI::Validator kSensorName = checked_by(SensorRef::parse, "NAME|#NUM");

void add_sensor(CLI::App& app, Context& ctx) {
    auto* cmd = app.add_subcommand("sensor", "everything about one sensor");
    auto name = std::make_shared<std::string>();
    cmd->add_option("sensor", *name, "string id, or #N for logical number N")->required()->check(kSensorName);
    add_json_flag(cmd, ctx);
    on_run(cmd, ctx, [&ctx, name] {
        SensorRef ref = SensorRef::parse(*name);
        Sensor sensor = fetch_sensor(ref);
        if (std::holds_alternative<uint32_t>(ref.name)) {
            // By number the daemon also names the sensor; the two must agree.
            std::string id = fetch_string_id(sensor.number);
            if (id != sensor.id) throw Failure(fmt::format("{} is called \"{}\" by number and \"{}\" by attributes",
                                                           ref.describe(), id, sensor.id));
        }
        SensorReading reading = fetch_reading(sensor);
        Thresholds normalized = fetch_normalized_thresholds(sensor);
        print(ctx, sensor_details(sensor, reading, normalized), sensor_details_json(sensor, reading, normalized));
    });
}

void add_convert(CLI::App& app, Context& ctx) {
    auto* cmd = app.add_subcommand("convert", "turn a raw reading into a normalized value, or back");
    struct Args {
        std::string sensor;
        std::optional<unsigned> raw;
        std::optional<float> normal;
    };
    auto args = std::make_shared<Args>();
    cmd->add_option("sensor", args->sensor, "the sensor's string id")->required();
    auto* raw = cmd->add_option("--raw", args->raw, "a raw reading (0 to 255)")->check(CLI::Range(0, 255));
    auto* normal = cmd->add_option("--normal", args->normal, "a normalized value");
    raw->excludes(normal);
    add_json_flag(cmd, ctx);
    on_run(cmd, ctx, [&ctx, args] {
        if (!args->raw && !args->normal) throw CLI::RequiredError("--raw or --normal");
        Json doc = {{"sensor", args->sensor}};
        std::string text;
        if (args->raw) {
            float normal = convert_raw_to_normal(args->sensor, static_cast<uint8_t>(*args->raw));
            doc["raw"] = *args->raw;
            doc["normal"] = std::stod(format_number(normal));
            text = fmt::format("raw {} = {}\n", *args->raw, format_number(normal));
        } else {
            uint8_t raw_value = convert_normal_to_raw(args->sensor, *args->normal);
            doc["normal"] = std::stod(format_number(*args->normal));
            doc["raw"] = raw_value;
            text = fmt::format("{} = raw {}\n", format_number(*args->normal), raw_value);
        }
        print(ctx, text, doc);
    });
}

void add_poll(CLI::App& app, Context& ctx) {
    auto* poll = app.add_subcommand("poll", "polling of one sensor, or of all of them");
    poll->require_subcommand(1);

    auto sensor = std::make_shared<std::string>();
    auto* enable = poll->add_subcommand("enable", "start polling a sensor");
    enable->add_option("sensor", *sensor, "string id, or #N")->required()->check(kSensorName);
    on_run(enable, ctx, [sensor] {
        Sensor s = fetch_sensor(SensorRef::parse(*sensor));
        PollAnswer answer = enable_polling(s);
        fmt::print("{}: polled every {} ms (generation {})\n", s.id, answer.poll_word, answer.poll_short);
    });

    auto* disable = poll->add_subcommand("disable", "stop polling a sensor");
    auto generation = std::make_shared<uint16_t>(0);
    disable->add_option("sensor", *sensor, "string id, or #N")->required()->check(kSensorName);
    disable->add_option("--generation", *generation,
                        "only if polling is still in the generation that enabling printed (default: any)");
    on_run(disable, ctx, [sensor, generation] {
        Sensor s = fetch_sensor(SensorRef::parse(*sensor));
        PollAnswer answer = disable_polling(s, *generation);
        fmt::print("{}: polling stopped (it was every {} ms)\n", s.id, answer.poll_word);
    });

    auto* state = poll->add_subcommand("state", "show daemon-wide polling, or turn it on or off");
    auto wanted = std::make_shared<std::string>();
    state->add_option("state", *wanted, "on or off")->check(CLI::IsMember({"on", "off"}));
    add_json_flag(state, ctx);
    on_run(state, ctx, [&ctx, wanted] {
        if (!wanted->empty()) {
            set_poll_state(*wanted == "on");
            fmt::print("daemon-wide polling {}\n", *wanted);
            return;
        }
        // No call reads it directly; every sensor's reading carries it.
        auto sensors = fetch_sensors();
        if (sensors.empty()) throw Failure("the daemon lists no sensor to read the polling state from");
        bool on = fetch_reading(sensors.front()).daemon_polling();
        print(ctx, fmt::format("daemon-wide polling {}\n", on ? "on" : "off"), Json{{"polling", on}});
    });
}

void add_reset(CLI::App& app, Context& ctx) {
    auto* cmd = app.add_subcommand("reset-sensors",
                                   "drop reading overrides, restore thresholds and polling of every sensor");
    on_run(cmd, ctx, [] {
        reset_sensors();
        fmt::print("every sensor is back to its described state\n");
    });
}

std::atomic<bool> g_stop_watch{false};

void stop_watch(int) { g_stop_watch = true; }

// Sleeps in short steps so that Ctrl-C ends the wait at once.
void wait_interval(std::chrono::milliseconds interval) {
    auto until = std::chrono::steady_clock::now() + interval;
    while (!g_stop_watch && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

void add_watch(CLI::App& app, Context& ctx) {
    auto* cmd = app.add_subcommand("watch", "the sensor table, refreshed until interrupted");
    struct Args {
        double interval = 2;
        unsigned count = 0;
    };
    auto args = std::make_shared<Args>();
    cmd->add_option("-n,--interval", args->interval, "seconds between refreshes")
        ->check(CLI::Range(0.1, 86400.0))->capture_default_str();
    cmd->add_option("-c,--count", args->count, "stop after this many refreshes (default: never)");
    cmd->add_flag("--json", ctx.json, "print each refresh as one JSON document on one line");
    on_run(cmd, ctx, [&ctx, args] {
        struct sigaction action = {};
        action.sa_handler = stop_watch;
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
        bool terminal = isatty(STDOUT_FILENO) == 1;
        auto interval = std::chrono::milliseconds(static_cast<long>(args->interval * 1000));
        for (unsigned n = 1; !g_stop_watch; ++n) {
            std::vector<SensorRow> rows;
            try {
                rows = fetch_sensor_rows();
            } catch (const CallError&) {
                if (g_stop_watch) break; // the interrupt cut a call short
                throw;
            }
            if (ctx.json) {
                print_text(Json{{"time", std::time(nullptr)}, {"sensors", json_array(rows)}}.dump() + "\n");
            } else {
                std::string heading =
                    fmt::format("{:%Y-%m-%d %H:%M:%S}, every {} s", fmt::localtime(std::time(nullptr)), args->interval);
                // On a terminal the table replaces the last one.
                print_text(terminal ? "\x1b[H\x1b[2J" + heading + "\n\n" + sensor_table(rows)
                                    : (n > 1 ? "\n" : "") + heading + "\n" + sensor_table(rows));
            }
            std::fflush(stdout);
            if (args->count != 0 && n >= args->count) break;
            wait_interval(interval);
        }
    });
}

// The sensor table. A reading the daemon refused is shown in its row, and
// then the command fails after printing the rest.
void add_sensors(CLI::App& app, Context& ctx) {
    auto* cmd = app.add_subcommand("sensors", "every sensor: reading, value, thresholds and polling");
    add_json_flag(cmd, ctx);
    auto fail_on = std::make_shared<std::optional<SensorState>>();
    add_fail_on_option(cmd, *fail_on);
    on_run(cmd, ctx, [&ctx, fail_on] {
        std::vector<SensorRow> rows = fetch_sensor_rows();
        print(ctx, sensor_table(rows), json_array(rows));
        enforce_fail_on(rows, *fail_on);
        auto failed = std::count_if(rows.begin(), rows.end(), [](const SensorRow& row) { return !row.error.empty(); });
        if (failed != 0) throw Failure(fmt::format("{} of {} sensor readings could not be read", failed, rows.size()));
    });
}

} // namespace

void add_sensor_commands(CLI::App& app, Context& ctx) {
    add_sensors(app, ctx);
    add_sensor(app, ctx);
    add_convert(app, ctx);
    add_poll(app, ctx);
    add_reset(app, ctx);
    add_watch(app, ctx);
}

} // namespace velkdirect
