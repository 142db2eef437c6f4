// Logging to stderr. The verbosity is chosen once at start: errors, warnings
// and lifecycle events always, each request with -v, connections and
// protocol errors with -vv. A line is written with one write(2), so lines
// from several threads never interleave.
//
// On a terminal or a file each line starts with a UTC timestamp. When stderr
// is the journal's stream (systemd sets JOURNAL_STREAM to its device and
// inode) a line starts instead with the syslog priority in angle brackets
// ("<3>"), which the journal files the line under, and carries no timestamp
// of its own.
#pragma once

#include <fmt/format.h>

#include <string_view>

namespace velkd {

// The numeric value is the verbosity from which a level is shown.
enum class LogLevel { error = -2, warning = -1, info = 0, request = 1, debug = 2 };

// Also decides, from the environment, whether lines go to the journal.
void set_log_verbosity(int verbosity);
bool log_enabled(LogLevel level);
// The level alone says how a line is marked ("error: ", "warning: ", its
// journal priority); the text carries no marks of its own.
void write_log_line(LogLevel level, std::string_view line);

template <typename... Args>
void log(LogLevel level, fmt::format_string<Args...> format, Args&&... args) {
    if (log_enabled(level)) write_log_line(level, fmt::format(format, std::forward<Args>(args)...));
}

} // namespace velkd
