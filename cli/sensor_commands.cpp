// sensors, sensor, convert, poll, reset-sensors, watch.
#include <fmt/chrono.h>
#include <fmt/format.h>
#include <fnmatch.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <array>
#include <atomic>
#include <cfloat>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <thread>

#include "commands.h"
#include "calls.h"
#include "sensor_bits.h"
#include "codes.h"
#include "call_failure.h"
#include "monitoring_commands.h"
#include "text_format.h"

namespace velk::cli {
namespace {

const CLI::Validator kSensorName = checked_by(SensorRef::parse, "NAME|\"#N\"");
constexpr const char* kSensorHelp = "string id, or \"#N\" (quoted in a shell) for logical number N";

std::string unit_of(const SensorDesc& sensor) { return find_property(sensor.properties, "unit").value_or(""); }

std::string with_unit(const std::string& number, const std::string& unit) {
    return unit.empty() ? number : number + " " + unit;
}

Json number_json(float value) { return std::stod(format_number(value)); }

// A threshold typed on the command line: a finite number that a float holds
// (1e40 would become infinity).
float parse_threshold(const std::string& text) {
    char* end = nullptr;
    errno = 0;
    double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size())
        throw std::invalid_argument(fmt::format("\"{}\" is not a number", text));
    if (!std::isfinite(value) || std::fabs(value) > FLT_MAX || errno == ERANGE)
        throw std::invalid_argument(fmt::format("{} is not a finite number a sensor can hold (at most {:g} either way)",
                                                text, FLT_MAX));
    return static_cast<float>(value);
}

// A raw reading typed on the command line: 0 to 255.
unsigned parse_raw(const std::string& text) {
    unsigned value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error == std::errc::invalid_argument || end != text.data() + text.size())
        throw std::invalid_argument(fmt::format("\"{}\" is not a number (a raw reading is 0 to 255)", text));
    if (error != std::errc() || value > 255)
        throw std::invalid_argument(fmt::format("{} is out of range: a raw reading is 0 to 255", text));
    return value;
}

Json crossed_json(uint8_t state) {
    Json out = Json::array();
    for (std::string_view name : crossed_thresholds(state)) out.push_back(std::string(name));
    return out;
}

// sensor NAME set-thresholds: any of the six by name, in the sensor's unit;
// the others keep their values. The daemon stores raw values, so each is
// converted first, and one outside the sensor's range is refused rather than
// clamped.
void add_set_thresholds(CLI::App* sensor_cmd, Context& ctx, std::shared_ptr<std::string> name) {
    auto* cmd = sensor_cmd->add_subcommand(
        "set-thresholds", "set any of the six thresholds, in the sensor's unit; the others are kept");
    auto values = std::make_shared<std::array<std::optional<float>, 6>>();
    const std::array<const char*, 6> help = {"lower non-recoverable", "lower critical", "lower non-critical",
                                             "upper non-critical",    "upper critical", "upper non-recoverable"};
    for (std::size_t i = 0; i < kThresholdNames.size(); ++i)
        cmd->add_option(fmt::format("--{}", kThresholdNames[i]), (*values)[i], help[i])
            ->check(checked_by(parse_threshold, "VALUE"));
    add_json_flag(cmd, ctx);
    on_run(cmd, ctx, [&ctx, name, values] {
        if (std::none_of(values->begin(), values->end(), [](const auto& v) { return v.has_value(); }))
            throw CLI::RequiredError(fmt::format("at least one of --{}", fmt::join(kThresholdNames, ", --")));
        SensorDesc sensor = fetch_sensor(SensorRef::parse(*name));
        std::array<uint8_t, 6> raw{};
        uint16_t ctrl = 0;
        Thresholds after = fetch_reading(sensor).thresholds;
        for (std::size_t i = 0; i < values->size(); ++i) {
            if (!(*values)[i]) continue;
            RawEquivalent c = convert_to_raw(sensor, *(*values)[i]);
            if (c.clamped)
                throw Failure(fmt::format("sensor \"{}\": {} {} is outside what the sensor can read ({} to {})",
                                          sensor.id, kThresholdNames[i], with_unit(format_number(*(*values)[i]),
                                          unit_of(sensor)), format_number(c.low), format_number(c.high)));
            raw[i] = c.raw;
            after[i] = c.back;
            ctrl = static_cast<uint16_t>(ctrl | velk::protocol::threshold_ctrl::threshold(static_cast<int>(i)));
        }
        // The daemon refuses thresholds that decrease from one to the next; say which.
        for (std::size_t i = 1; i < after.size(); ++i)
            if (after[i - 1] > after[i])
                throw Failure(fmt::format("sensor \"{}\": {} ({}) would be below {} ({}): thresholds must not "
                                          "decrease (lnr <= lcr <= lnc <= unc <= ucr <= unr)",
                                          sensor.id, kThresholdNames[i], format_number(after[i]),
                                          kThresholdNames[i - 1], format_number(after[i - 1])));
        set_thresholds(sensor, ctrl, raw);
        SensorReading now = fetch_reading(sensor);
        std::string text = fmt::format("{}: thresholds", sensor.id);
        Json doc = {{"sensor", sensor.id}, {"unit", unit_of(sensor)}};
        Json set = Json::object();
        for (std::size_t i = 0; i < kThresholdNames.size(); ++i) {
            text += fmt::format(" {} {}", kThresholdNames[i], format_number(now.thresholds[i]));
            set[kThresholdNames[i]] = number_json(now.thresholds[i]);
        }
        doc["thresholds"] = set;
        print(ctx, text + (unit_of(sensor).empty() ? "" : " (" + unit_of(sensor) + ")") + "\n", doc);
    });
}

// sensor NAME set-reading RAW: overrides the reading until reset-sensors,
// the way operators test their alerts.
void add_set_reading(CLI::App* sensor_cmd, Context& ctx, std::shared_ptr<std::string> name) {
    auto* cmd = sensor_cmd->add_subcommand(
        "set-reading", "override the sensor's reading with a raw value until `velkdirect reset-sensors`");
    auto raw = std::make_shared<unsigned>(0);
    cmd->add_option("raw", *raw, "the raw reading, 0 to 255")->required()->check(checked_by(parse_raw, "RAW"));
    add_json_flag(cmd, ctx);
    on_run(cmd, ctx, [&ctx, name, raw] {
        SensorDesc sensor = fetch_sensor(SensorRef::parse(*name));
        set_reading(sensor, static_cast<uint16_t>(*raw));
        SensorReading now = fetch_reading(sensor);
        print(ctx,
              fmt::format("{}: reading overridden: raw {} = {}, state {} (until velkdirect reset-sensors)\n",
                          sensor.id, now.reading, with_unit(format_number(now.value), unit_of(sensor)),
                          state_text(now.threshold_state)),
              Json{{"sensor", sensor.id},
                   {"reading", now.reading},
                   {"value", number_json(now.value)},
                   {"unit", unit_of(sensor)},
                   {"state", state_word(worst_state(now.threshold_state))},
                   {"crossed", crossed_json(now.threshold_state)},
                   {"overridden", now.overridden()}});
    });
}

void add_sensor(CLI::App& app, Context& ctx) {
    auto* cmd = app.add_subcommand("sensor", "everything about one sensor, or set its thresholds or reading");
    auto name = std::make_shared<std::string>();
    cmd->add_option("sensor", *name, kSensorHelp)->required()->check(kSensorName);
    add_json_flag(cmd, ctx);
    add_set_thresholds(cmd, ctx, name);
    add_set_reading(cmd, ctx, name);
    // CLI11 runs this after a chosen subcommand's own callback: only plain
    // `sensor NAME` shows the sensor.
    cmd->callback([&ctx, cmd, name] {
        if (!cmd->get_subcommands().empty()) return;
        ctx.action = [&ctx, name] {
        SensorRef ref = SensorRef::parse(*name);
        SensorDesc sensor = fetch_sensor(ref);
        if (std::holds_alternative<uint32_t>(ref.name)) {
            // By number the daemon also names the sensor; the two must agree.
            std::string id = fetch_string_id(sensor.number);
            if (id != sensor.id) throw Failure(fmt::format("{} is called \"{}\" by number and \"{}\" by attributes",
                                                           ref.describe(), id, sensor.id));
        }
        SensorReading reading = fetch_reading(sensor);
        Thresholds normalized = fetch_normalized_thresholds(sensor);
        print(ctx, sensor_details(sensor, reading, normalized), sensor_details_json(sensor, reading, normalized));
        };
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
    cmd->add_option("sensor", args->sensor, kSensorHelp)->required()->check(kSensorName);
    auto* raw = cmd->add_option("--raw", args->raw, "a raw reading (0 to 255)")->check(CLI::Range(0, 255));
    auto* normal = cmd->add_option("--normal", args->normal,
                                   "a normalized value, in the sensor's unit; one beyond what the sensor can read "
                                   "gives raw 0 or 255, and the output says it was clamped");
    raw->excludes(normal);
    add_json_flag(cmd, ctx);
    on_run(cmd, ctx, [&ctx, args] {
        if (!args->raw && !args->normal) throw CLI::RequiredError("--raw or --normal");
        SensorDesc sensor = fetch_sensor(SensorRef::parse(args->sensor));
        std::string unit = unit_of(sensor);
        Json doc = {{"sensor", sensor.id}, {"unit", unit}};
        std::string text;
        if (args->raw) {
            float value = convert_raw_to_normal(sensor.id, static_cast<uint8_t>(*args->raw));
            doc["raw"] = *args->raw;
            doc["normal"] = number_json(value);
            text = fmt::format("raw {} = {}\n", *args->raw, with_unit(format_number(value), unit));
        } else {
            RawEquivalent c = convert_to_raw(sensor, *args->normal);
            doc["normal"] = number_json(*args->normal);
            doc["raw"] = c.raw;
            doc["clamped"] = c.clamped;
            text = fmt::format("{} = raw {}\n", with_unit(format_number(*args->normal), unit), c.raw);
            if (c.clamped) {
                doc["range"] = {{"low", number_json(c.low)}, {"high", number_json(c.high)}};
                text += fmt::format("note: clamped: the sensor reads {} to {}; raw {} is {}\n",
                                    format_number(c.low), with_unit(format_number(c.high), unit), c.raw,
                                    with_unit(format_number(c.back), unit));
            }
        }
        print(ctx, text, doc);
    });
}

void add_poll(CLI::App& app, Context& ctx) {
    auto* poll = app.add_subcommand("poll", "polling of one sensor, or of all of them");
    poll->require_subcommand(1);

    auto sensor = std::make_shared<std::string>();
    auto* enable = poll->add_subcommand("enable", "start polling a sensor");
    enable->add_option("sensor", *sensor, kSensorHelp)->required()->check(kSensorName);
    add_json_flag(enable, ctx);
    on_run(enable, ctx, [&ctx, sensor] {
        SensorDesc s = fetch_sensor(SensorRef::parse(*sensor));
        PollAnswer answer = enable_polling(s);
        // The generation on a line of its own: `poll disable --generation` takes it.
        print(ctx, fmt::format("{}: polled every {} ms\ngeneration {}\n", s.id, answer.interval_ms, answer.generation),
              Json{{"sensor", s.id}, {"interval_ms", answer.interval_ms}, {"generation", answer.generation}});
    });

    auto* disable = poll->add_subcommand("disable", "stop polling a sensor");
    auto generation = std::make_shared<uint16_t>(0);
    disable->add_option("sensor", *sensor, kSensorHelp)->required()->check(kSensorName);
    disable->add_option("--generation", *generation,
                        "only if polling is still in the generation that enabling printed (default: any)");
    add_json_flag(disable, ctx);
    on_run(disable, ctx, [&ctx, sensor, generation] {
        SensorDesc s = fetch_sensor(SensorRef::parse(*sensor));
        PollAnswer answer = disable_polling(s, *generation);
        print(ctx, fmt::format("{}: polling stopped (it was every {} ms)\n", s.id, answer.interval_ms),
              Json{{"sensor", s.id}, {"interval_ms", answer.interval_ms}, {"polling", false}});
    });

    auto* state = poll->add_subcommand("state", "show daemon-wide polling, or turn it on or off");
    auto wanted = std::make_shared<std::string>();
    state->add_option("state", *wanted, "on or off")->check(CLI::IsMember({"on", "off"}));
    add_json_flag(state, ctx);
    on_run(state, ctx, [&ctx, wanted] {
        if (!wanted->empty()) {
            set_poll_state(*wanted == "on");
            print(ctx, fmt::format("daemon-wide polling {}\n", *wanted), Json{{"polling", *wanted == "on"}});
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
    add_json_flag(cmd, ctx);
    on_run(cmd, ctx, [&ctx] {
        reset_sensors();
        print(ctx, "every sensor is back to its described state\n", Json{{"reset", true}});
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
            } catch (const CallError& e) {
                if (g_stop_watch) break; // the interrupt cut a call short
                if (e.status() != -1) throw;
                // The daemon is away (restarting, say): say so and try again.
                fmt::print(stderr, "velkdirect: {}; trying again in {} s\n",
                           diagnose_local_failure(e.subject(), {}), args->interval);
                if (args->count != 0 && n >= args->count) throw;
                wait_interval(interval);
                continue;
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
            flush_output();
            if (output_error() == EPIPE) break; // the reader is gone
            if (args->count != 0 && n >= args->count) break;
            wait_interval(interval);
        }
    });
}

// The sensor table. A reading the daemon refused is shown in its row, and
// then the command fails after printing the rest.
void add_sensors(CLI::App& app, Context& ctx) {
    auto* cmd = app.add_subcommand("sensors", "every sensor (or those that PATTERN, --type and --state "
                                              "choose): reading, value, state and thresholds");
    struct Filter {
        std::vector<std::string> patterns;
        std::optional<uint8_t> type;
        std::optional<SensorState> state;
    };
    auto filter = std::make_shared<Filter>();
    cmd->add_option("pattern", filter->patterns,
                    "only sensors whose id or path matches one of these shell patterns (quote them: 'cpu*')");
    cmd->add_option_function<std::string>(
           "-t,--type", [filter](const std::string& type) { filter->type = parse_sensor_type(type); },
           "only sensors of this type: temperature, voltage, current, fan... or a number")
        ->check(checked_by(
            [](const std::string& text) {
                if (!parse_sensor_type(text))
                    throw std::invalid_argument(fmt::format("\"{}\" is not a sensor type", text));
            },
            "TYPE"));
    cmd->add_option_function<std::string>(
           "--state", [filter](const std::string& word) { filter->state = parse_state(word); },
           "only sensors in this state: ok, non-critical, critical or non-recoverable")
        ->check(CLI::IsMember(std::vector<std::string>(kStateWords.begin(), kStateWords.end())));
    add_json_flag(cmd, ctx);
    add_table_flags(cmd, ctx);
    auto fail_on = std::make_shared<std::optional<SensorState>>();
    add_fail_on_option(cmd, *fail_on);
    on_run(cmd, ctx, [&ctx, fail_on, filter] {
        std::vector<SensorRow> rows = fetch_sensor_rows();
        std::erase_if(rows, [&](const SensorRow& row) {
            const SensorDesc& s = row.sensor;
            auto matches = [&](const std::string& p) {
                return fnmatch(p.c_str(), s.id.c_str(), 0) == 0 || fnmatch(p.c_str(), s.path.c_str(), 0) == 0;
            };
            if (!filter->patterns.empty() && std::none_of(filter->patterns.begin(), filter->patterns.end(), matches))
                return true;
            uint8_t type = row.error.empty() ? row.reading.type : s.type;
            if (filter->type && type != *filter->type) return true;
            if (filter->state && (!row.error.empty() || worst_state(row.reading.threshold_state) != *filter->state))
                return true;
            return false;
        });
        print(ctx, sensor_table(rows, ctx.style), json_array(rows));
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

} // namespace velk::cli
