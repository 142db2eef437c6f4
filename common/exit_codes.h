// The exit statuses of velkdirect and velkd-sim: one table, one meaning per
// number, printed by both tools' --help. velkdirect-exporter uses ok, failed
// (the address cannot be bound) and usage from it.
#pragma once

#include <string_view>

namespace velk::exit_code {

inline constexpr int ok = 0;
// velkdirect: the daemon refused the request, the request did not complete,
// or the output could not be written. velkd-sim: the description does not
// load (or --check found problems).
inline constexpr int failed = 1;
inline constexpr int usage = 2;      // bad command line (both tools)
inline constexpr int no_daemon = 3;  // velkdirect: the daemon cannot be reached, or the call to it broke
inline constexpr int socket_busy = 4; // velkd-sim: the socket path cannot be claimed

inline constexpr std::string_view table =
    "Exit status (shared by velkdirect and velkd-sim):\n"
    "  0  success\n"
    "  1  failed: the daemon refused or the request did not complete, or the output\n"
    "     could not be written; for velkd-sim, the description does not load\n"
    "  2  bad command-line usage\n"
    "  3  velkdirect: the daemon cannot be reached, or the call to it broke\n"
    "  4  velkd-sim: the socket path cannot be claimed";

} // namespace velk::exit_code
