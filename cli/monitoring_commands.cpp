#include "monitoring_commands.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "call_failure.h"
#include "calls.h"
#include "exit_codes.h"
#include "exposition.h"
#include "platform_reading.h"
#include "text_format.h"

namespace velk::cli {
namespace {

// Writes all of `text` to `fd`.
bool write_all(int fd, const std::string& text) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        ssize_t n = write(fd, data, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

// Writes `text` to `path` so that a reader sees the old file or the whole
// new one: a temporary file in the same directory (a name the textfile
// collector ignores, as it reads only *.prom), synced, then renamed over.
// Only a regular file or a new path is replaced so; anything else there (a
// device such as /dev/null or /dev/stdout, a FIFO, a symbolic link) is
// written in place, through the link, and never replaced by a file.
void write_output(const std::string& path, const std::string& text) {
    struct stat st{};
    bool replace = lstat(path.c_str(), &st) != 0 ? errno == ENOENT : S_ISREG(st.st_mode);
    if (!replace) {
        int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) throw Failure(fmt::format("cannot write {}: {}", path, std::strerror(errno)));
        bool ok = write_all(fd, text);
        int saved = errno;
        if (close(fd) != 0 && ok) {
            ok = false;
            saved = errno;
        }
        if (!ok) throw Failure(fmt::format("cannot write {}: {}", path, std::strerror(saved)));
        return;
    }
    std::filesystem::path target(path);
    std::filesystem::path dir = target.has_parent_path() ? target.parent_path() : ".";
    std::string temp = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
    int fd = mkstemp(temp.data());
    if (fd < 0) throw Failure(fmt::format("cannot create a file in {}: {}", dir.string(), std::strerror(errno)));
    bool ok = fchmod(fd, 0644) == 0 && write_all(fd, text) && fsync(fd) == 0;
    int saved = errno;
    ok = close(fd) == 0 && ok;
    if (ok && rename(temp.c_str(), path.c_str()) == 0) return;
    saved = saved != 0 ? saved : errno;
    unlink(temp.c_str());
    throw Failure(fmt::format("cannot write {}: {}", path, std::strerror(saved)));
}

void add_metrics(CLI::App& app, Context& ctx) {
    auto* cmd = app.add_subcommand("metrics", "every reading once in the Prometheus text format");
    cmd->footer("For node_exporter's textfile collector: -o DIR/velkdirect.prom is replaced atomically (a "
                "regular file only: a device, FIFO or symbolic link is written in place, never replaced). "
                "Without a daemon the output still says velkdirect_up 0, and the exit status is 3.");
    auto output = std::make_shared<std::string>();
    cmd->add_option("-o,--output", *output, "write to FILE instead of stdout");
    on_run(cmd, ctx, [output] {
        metrics::PlatformReading reading = metrics::read_platform();
        std::string text = metrics::exposition(reading);
        if (output->empty())
            print_text(text);
        else
            write_output(*output, text);
        if (!reading.up)
            throw ExitStatus{velk::protocol::exit_code::no_daemon,
                             diagnose_local_failure("", {})};
    });
}

// A performance data label, quoted when it holds anything but plain characters.
std::string perf_label(const std::string& id) {
    bool plain = !id.empty() && std::all_of(id.begin(), id.end(), [](char c) {
        return c != ' ' && c != '\'' && c != '=' && c != ';' && c != '|' && static_cast<unsigned char>(c) > 0x20;
    });
    if (plain) return id;
    std::string out = "'";
    for (char c : id) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

// A monitoring-plugins range: alert outside low..high.
std::string perf_range(float low, float high) {
    bool has_low = std::isfinite(low), has_high = std::isfinite(high);
    if (has_low && has_high) return fmt::format("{}:{}", format_number(low), format_number(high));
    if (has_low) return fmt::format("{}:", format_number(low));
    if (has_high) return fmt::format("~:{}", format_number(high));
    return "";
}

std::string perf_data(const SensorRow& row) {
    std::string label = perf_label(row.sensor.id);
    if (!row.error.empty() || !std::isfinite(row.reading.value)) return label + "=U";
    const Thresholds& t = row.reading.thresholds;
    return fmt::format("{}={};{};{};;", label, format_number(row.reading.value), perf_range(t[2], t[3]),
                       perf_range(t[1], t[4]));
}

} // namespace

CheckResult check_sensors(const std::vector<SensorRow>& rows, bool warning_only) {
    struct Problem {
        int severity; // 1 warning, 2 critical
        std::string text;
    };
    std::vector<Problem> problems;
    std::vector<std::string> perf;
    for (const SensorRow& row : rows) {
        perf.push_back(perf_data(row));
        if (!row.error.empty()) {
            problems.push_back({2, fmt::format("{} reading refused: {}", row.sensor.id, row.error)});
            continue;
        }
        SensorState state = worst_state(row.reading.threshold_state);
        if (state == SensorState::ok) continue;
        std::string value = format_number(row.reading.value);
        if (auto unit = find_property(row.sensor.properties, "unit"); unit && !unit->empty()) value += " " + *unit;
        problems.push_back({state == SensorState::non_critical ? 1 : 2,
                            fmt::format("{} {} ({})", row.sensor.id, state_word(state), value)});
    }
    std::stable_sort(problems.begin(), problems.end(),
                     [](const Problem& a, const Problem& b) { return a.severity > b.severity; });
    int code = kPluginOk;
    for (const Problem& p : problems) code = std::max(code, p.severity);
    if (warning_only) code = std::min<int>(code, kPluginWarning);

    constexpr const char* kWords[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};
    std::string summary;
    if (rows.empty()) {
        summary = "the daemon lists no sensor";
    } else if (problems.empty()) {
        summary = fmt::format("{} sensor{} ok", rows.size(), rows.size() == 1 ? "" : "s");
    } else {
        std::vector<std::string> texts;
        for (const Problem& p : problems) texts.push_back(p.text);
        summary = fmt::format("{} of {} sensors: {}", problems.size(), rows.size(), fmt::join(texts, ", "));
    }
    std::string line = fmt::format("VELKDIRECT {} - {}", kWords[code], summary);
    if (!perf.empty()) line += fmt::format(" | {}", fmt::join(perf, " "));
    return {code, line};
}

namespace {

void add_check(CLI::App& app, Context& ctx) {
    auto* cmd = app.add_subcommand("check", "a monitoring-plugins check of every sensor reading");
    cmd->footer("One status line with performance data. Exit status, as monitoring plugins have it (and unlike "
                "every other command): 0 OK, 1 WARNING (a non-critical threshold crossed), 2 CRITICAL (a critical "
                "or non-recoverable threshold crossed, or a reading refused), 3 UNKNOWN (the daemon cannot be "
                "reached, bad usage).");
    auto warning_only = std::make_shared<bool>(false);
    cmd->add_flag("--warning-only", *warning_only, "never go beyond WARNING: report CRITICAL as WARNING");
    on_run(cmd, ctx, [warning_only] {
        std::vector<SensorRow> rows;
        try {
            rows = fetch_sensor_rows();
        } catch (const CallError& e) {
            // A local failure is told apart as everywhere (permission, an untrusted daemon...).
            std::string why = e.status() == -1 ? diagnose_local_failure(e.subject(), {}) : e.what();
            print_text(fmt::format("VELKDIRECT UNKNOWN - {}\n", why));
            throw ExitStatus{kPluginUnknown, {}};
        } catch (const std::exception& e) {
            print_text(fmt::format("VELKDIRECT UNKNOWN - {}\n", e.what()));
            throw ExitStatus{kPluginUnknown, {}};
        }
        CheckResult result = check_sensors(rows, *warning_only);
        print_text(result.line + "\n");
        throw ExitStatus{result.code, {}};
    });
}

} // namespace

void add_fail_on_option(CLI::App* command, std::optional<SensorState>& fail_on) {
    command
        ->add_option_function<std::string>(
            "--fail-on", [&fail_on](const std::string& word) { fail_on = parse_state(word); },
            "exit 1 when a sensor is in this state or worse")
        ->check(CLI::IsMember(std::vector<std::string>(kStateWords.begin() + 1, kStateWords.end()))); // all but ok
}

void enforce_fail_on(const std::vector<SensorRow>& rows, const std::optional<SensorState>& fail_on) {
    if (!fail_on) return;
    std::vector<std::string> ids;
    for (const SensorRow& row : rows)
        if (row.error.empty() && worst_state(row.reading.threshold_state) >= *fail_on) ids.push_back(row.sensor.id);
    if (!ids.empty())
        throw ExitStatus{velk::protocol::exit_code::failed, fmt::format("{} sensor{} {} or worse: {}", ids.size(),
                                                              ids.size() == 1 ? " is" : "s are", state_word(*fail_on),
                                                              fmt::join(ids, ", "))};
}

void add_monitoring_commands(CLI::App& app, Context& ctx) {
    add_metrics(app, ctx);
    add_check(app, ctx);
}

} // namespace velk::cli
