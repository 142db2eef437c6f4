// Logging to stderr. The verbosity is chosen once at start: errors and
// lifecycle events always, each request with -v, connections and protocol
// errors with -vv. A line is written with one write(2), so lines from
// several threads never interleave.
#pragma once

#include <fmt/format.h>

#include <string_view>

namespace velkd {

enum class LogLevel { info = 0, request = 1, debug = 2 };

void set_log_verbosity(int verbosity);
bool log_enabled(LogLevel level);
void write_log_line(std::string_view line);

template <typename... Args>
void log(LogLevel level, fmt::format_string<Args...> format, Args&&... args) {
    if (log_enabled(level)) write_log_line(fmt::format(format, std::forward<Args>(args)...));
}

} // namespace velkd
