#include "library.h"

#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <fmt/format.h>

#include <cerrno>
#include <cstring>

namespace velkdirect {
namespace {

std::string user_name(uid_t uid) {
    const passwd* entry = ::getpwuid(uid);
    return entry != nullptr ? entry->pw_name : std::to_string(uid);
}

std::string group_name(gid_t gid) {
    const group* entry = ::getgrgid(gid);
    return entry != nullptr ? entry->gr_name : std::to_string(gid);
}

// The library reports any local failure as -1. When the socket is there but
// this user may not connect, say so: that is fixed by access, not by
// starting a daemon.
std::string unreachable() {
    std::string path(kSocketPath);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool denied = probe >= 0 && ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
                  (errno == EACCES || errno == EPERM);
    if (probe >= 0) ::close(probe);
    if (!denied) return fmt::format("cannot reach the management daemon at {}", path);
    struct stat st{};
    std::string details = ::stat(path.c_str(), &st) == 0
        ? fmt::format(" ({}:{}, mode {:04o})", user_name(st.st_uid), group_name(st.st_gid), st.st_mode & 07777)
        : std::string();
    std::string hint = ::stat(path.c_str(), &st) == 0
        ? fmt::format("run as a member of group {}, or have velkd-sim started with --socket-group or --socket-mode",
                      group_name(st.st_gid))
        : "the directory of the socket cannot be searched";
    return fmt::format("permission denied on {}{}\nhint: {}", path, details, hint);
}

std::string describe(int status, const std::string& subject) {
    if (status == -1) return unreachable();
    std::string_view words = status_words(status);
    std::string what = words.empty() ? fmt::format("failed with status {}", status)
                                     : fmt::format("{} (status {})", words, status);
    return subject.empty() ? what : fmt::format("{}: {}", subject, what);
}

} // namespace

CallError::CallError(int status, const std::string& subject)
    : std::runtime_error(describe(status, subject)), status_(status) {}

void check(int status, std::string_view subject) {
    if (status != 0) throw CallError(status, std::string(subject));
}

std::string_view status_words(int status) {
    switch (status) {
    case 1: return "unknown object";
    case 2: return "out of range";
    case 3: return "invalid value";
    case 4: return "read only";
    case 5: return "injected fault";
    case 6: return "storage error";
    case 7: return "wrong state";
    default: return {};
    }
}

} // namespace velkdirect
