#include "library.h"

#include <fmt/format.h>
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "protocol_limits.h"
#include "protocol_tables.h"

namespace velkdirect {
namespace {

std::string describe(int status, const std::string& subject) {
    if (status == -1)
        return fmt::format("cannot reach the management daemon at {}", velk::protocol::kSocketPath);
    std::string what = velk::protocol::describe_status(status);
    return subject.empty() ? what : fmt::format("{}: {}", subject, what);
}

std::string user_name(uid_t uid) {
    const passwd* entry = getpwuid(uid);
    return entry != nullptr ? entry->pw_name : std::to_string(uid);
}

std::string group_name(gid_t gid) {
    const group* entry = getgrgid(gid);
    return entry != nullptr ? entry->gr_name : std::to_string(gid);
}

// errno of a connection attempt to the socket path, 0 when it connects.
int try_connect() {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return errno;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, velk::protocol::kSocketPath, sizeof velk::protocol::kSocketPath - 1);
    int error = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? 0 : errno;
    ::close(fd);
    return error;
}

} // namespace

CallError::CallError(int status, const std::string& subject)
    : std::runtime_error(describe(status, subject)), status_(status), subject_(subject) {}

std::string explain_local_failure(const std::string& subject, std::chrono::milliseconds waited) {
    std::string unreachable = fmt::format("cannot reach the management daemon at {}", velk::protocol::kSocketPath);
    struct stat st{};
    if (::lstat(velk::protocol::kSocketPath, &st) != 0) {
        if (errno == ENOENT)
            return unreachable + ": there is no socket file (is the daemon running? velkd-sim starts one)";
        return fmt::format("{}: {}", unreachable, std::strerror(errno));
    }
    if (!S_ISSOCK(st.st_mode)) return unreachable + ": the path is not a socket";
    int error = try_connect();
    if (error == EACCES || error == EPERM) {
        std::string owner = user_name(st.st_uid), group = group_name(st.st_gid);
        std::string hint = (st.st_mode & S_IWGRP) != 0
                               ? fmt::format("connecting needs write permission on the socket: run as {} or as a "
                                             "member of group {} (usermod -aG {} USER, then log in again)",
                                             owner, group, group)
                               : fmt::format("connecting needs write permission on the socket, which only {} has: "
                                             "run as {}, or have the socket made group-writable (mode 0660) for a "
                                             "group you are in",
                                             owner, owner);
        return fmt::format("permission denied on {} ({}:{}, mode {:04o})\nhint: {}", velk::protocol::kSocketPath, owner, group,
                           st.st_mode & 07777, hint);
    }
    if (error == ECONNREFUSED)
        return unreachable + ": nothing is listening on the socket (a daemon that stopped left it behind?)";
    if (error != 0) return fmt::format("{}: {}", unreachable, std::strerror(error));
    // The socket answers: the daemon took the call and then failed it.
    std::string what = subject.empty() ? "the call" : fmt::format("the call about {}", subject);
    if (waited >= std::chrono::seconds(velk::protocol::kCallSeconds - 1))
        return fmt::format("the daemon at {} accepted {} but did not answer within {} s (timed out)", velk::protocol::kSocketPath,
                           what, velk::protocol::kCallSeconds);
    return fmt::format("the daemon at {} accepted {} but failed it: it answered something that is not this "
                       "protocol, or closed the connection",
                       velk::protocol::kSocketPath, what);
}

void check(int status, std::string_view subject) {
    if (status != 0) throw CallError(status, std::string(subject));
}

} // namespace velkdirect
