#include "log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace velkd {
namespace {

std::atomic<int> g_verbosity{0};
std::atomic<bool> g_journal{false};

// JOURNAL_STREAM is "device:inode" of the stream systemd connected; it only
// counts while stderr still is that stream (not redirected by a wrapper).
bool stderr_is_journal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    if (stream == nullptr) return false;
    unsigned long long device = 0, inode = 0;
    if (std::sscanf(stream, "%llu:%llu", &device, &inode) != 2) return false;
    struct stat st{};
    return ::fstat(STDERR_FILENO, &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

// syslog(3) priorities.
int priority_of(LogLevel level) {
    switch (level) {
    case LogLevel::error: return 3;
    case LogLevel::warning: return 4;
    case LogLevel::info: return 5;
    case LogLevel::request: return 6;
    case LogLevel::debug: return 7;
    }
    return 6;
}

std::string_view label_of(LogLevel level) {
    switch (level) {
    case LogLevel::error: return "error: ";
    case LogLevel::warning: return "warning: ";
    default: return {};
    }
}

void append_timestamp(std::string& out) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm utc{};
    ::gmtime_r(&now.tv_sec, &utc);
    char text[40];
    size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    out.append(text, n);
    out += fmt::format(".{:03}Z ", now.tv_nsec / 1000000);
}

} // namespace

void set_log_verbosity(int verbosity) {
    g_verbosity.store(verbosity, std::memory_order_relaxed);
    g_journal.store(stderr_is_journal(), std::memory_order_relaxed);
}

bool log_enabled(LogLevel level) {
    return static_cast<int>(level) <= g_verbosity.load(std::memory_order_relaxed);
}

void write_log_line(LogLevel level, std::string_view line) {
    std::string out;
    if (g_journal.load(std::memory_order_relaxed)) {
        out = fmt::format("<{}>", priority_of(level));
    } else {
        append_timestamp(out);
        out += "velkd-sim: ";
    }
    out += label_of(level);
    out += line;
    out += '\n';
    // stderr may be a closed pipe; the daemon keeps serving regardless.
    [[maybe_unused]] ssize_t written = ::write(STDERR_FILENO, out.data(), out.size());
}

} // namespace velkd
