#include "log.h"

#include <unistd.h>

#include <atomic>
#include <string>

namespace velkd {
namespace {

std::atomic<int> g_verbosity{0};

} // namespace

void set_log_verbosity(int verbosity) { g_verbosity.store(verbosity, std::memory_order_relaxed); }

bool log_enabled(LogLevel level) {
    return static_cast<int>(level) <= g_verbosity.load(std::memory_order_relaxed);
}

void write_log_line(std::string_view line) {
    std::string out = "velkd-sim: ";
    out += line;
    out += '\n';
    // stderr may be a closed pipe; the daemon keeps serving regardless.
    [[maybe_unused]] ssize_t written = ::write(STDERR_FILENO, out.data(), out.size());
}

} // namespace velkd
