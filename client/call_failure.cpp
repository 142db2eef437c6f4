#include "call_failure.h"

#include <fmt/format.h>
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#ifndef VELKDIRECTFE_DAEMON_USER
#define VELKDIRECTFE_DAEMON_USER ""
#endif

namespace velk::client {
namespace {

std::string describe(int status, const std::string& subject) {
    if (status == -1) return unreachable_text();
    std::string what = status_words(status).empty() ? fmt::format("failed with status {}", status)
                                                    : velk::protocol::describe_status(status);
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

// A connection attempt to the library's socket: errno, 0 when it connects,
// and then the serving process's user.
struct Attempt {
    int error = 0;
    std::optional<uid_t> peer;
};

// The probe's socket, closed on every path.
struct ProbeSocket {
    int fd;
    ~ProbeSocket() {
        if (fd >= 0) ::close(fd);
    }
};

Attempt try_connect() {
    std::string path = socket_path();
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) return {ENAMETOOLONG, {}};
    ProbeSocket probe{::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    if (probe.fd < 0) return {errno, {}};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    if (::connect(probe.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return {errno, {}};
    ucred peer{};
    socklen_t length = sizeof peer;
    if (getsockopt(probe.fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || length != sizeof peer) return {};
    return {0, peer.uid};
}

// The library's peer rule (it talks to root, to the caller's effective user,
// and to the account it was built to trust), as the users it names.
std::vector<std::string> trusted_users() {
    std::vector<std::string> users = {"root"};
    if (geteuid() != 0) users.push_back(user_name(geteuid()) + " (this program's user)");
    std::string built = VELKDIRECTFE_DAEMON_USER;
    if (!built.empty() && built != "root" && built != user_name(geteuid())) users.push_back(built);
    return users;
}

bool trusted(uid_t uid) {
    std::string built = VELKDIRECTFE_DAEMON_USER;
    return uid == 0 || uid == geteuid() || (!built.empty() && user_name(uid) == built);
}

std::string untrusted_text(uid_t peer) {
    std::vector<std::string> users = trusted_users();
    std::string list = users.size() == 1 ? users[0]
                                         : fmt::format("{} or {}", fmt::join(users.begin(), users.end() - 1, ", "),
                                                       users.back());
    return fmt::format("the daemon at {} runs as user {}, which this library does not talk to: it trusts only {}. "
                       "Run the daemon as one of them, or this program as {}",
                       socket_path(), user_name(peer), list, user_name(peer));
}

std::string permission_hint(const struct stat& st) {
    std::string owner = user_name(st.st_uid);
    if ((st.st_mode & S_IWGRP) != 0 && st.st_gid != 0) {
        std::string group = group_name(st.st_gid);
        return fmt::format("connecting needs write permission on the socket: run as {} or as a member of group {} "
                           "(usermod -aG {} USER, then log in again)",
                           owner, group, group);
    }
    if (st.st_uid == 0)
        return "connecting needs write permission on the socket, which only root has: run as root, or have the "
               "daemon serve the socket to the service's group (velkd-sim --socket-group velkdirect --socket-mode "
               "0660, as the packaged unit does) and join that group";
    return fmt::format("connecting needs write permission on the socket, which only {} has: run as {}, or have "
                       "the daemon serve the socket to a group you are in (velkd-sim --socket-group GROUP "
                       "--socket-mode 0660)",
                       owner, owner);
}

} // namespace

CallError::CallError(int status, const std::string& subject)
    : std::runtime_error(describe(status, subject)), status_(status), subject_(subject) {}

void check(int status, std::string_view subject) {
    if (status != 0) throw CallError(status, std::string(subject));
}

std::string status_text(int status) { return velk::protocol::describe_status(status); }

std::string socket_path() {
    const char* named = secure_getenv(VELKDIRECTFE_SOCKET_ENV);
    return named != nullptr && named[0] != '\0' ? named : VELKDIRECTFE_SOCKET_PATH;
}

std::string unreachable_text() { return fmt::format("cannot reach the management daemon at {}", socket_path()); }

std::optional<std::string> untrusted_daemon() {
    Attempt attempt = try_connect();
    if (attempt.error != 0 || !attempt.peer || trusted(*attempt.peer)) return std::nullopt;
    return untrusted_text(*attempt.peer);
}

std::string diagnose_local_failure(const std::string& subject, std::chrono::milliseconds waited) {
    const std::string path = socket_path();
    const std::string unreachable = unreachable_text();
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT)
            return unreachable + ": there is no socket file (is the daemon running? velkd-sim starts one)";
        return fmt::format("{}: {}", unreachable, std::strerror(errno));
    }
    if (!S_ISSOCK(st.st_mode)) return unreachable + ": the path is not a socket";
    Attempt attempt = try_connect();
    if (attempt.error == EACCES || attempt.error == EPERM)
        return fmt::format("{}: permission denied ({}:{}, mode {:04o})\nhint: {}", unreachable, user_name(st.st_uid),
                           group_name(st.st_gid), st.st_mode & 07777, permission_hint(st));
    if (attempt.error == ECONNREFUSED)
        return unreachable + ": nothing is listening on the socket (a daemon that stopped left it behind?)";
    if (attempt.error != 0) return fmt::format("{}: {}", unreachable, std::strerror(attempt.error));
    if (attempt.peer && !trusted(*attempt.peer)) return fmt::format("{}: {}", unreachable, untrusted_text(*attempt.peer));
    // The socket answers: the daemon took the call and then failed it.
    std::string what = subject.empty() ? "the call" : fmt::format("the call about {}", subject);
    if (waited >= kCallLimit - std::chrono::seconds(1))
        return fmt::format("the daemon at {} accepted {} but did not answer within {} s (timed out)", path, what,
                           kCallLimit.count());
    return fmt::format("the daemon at {} accepted {} but failed it: it answered something that is not this "
                       "protocol, or closed the connection",
                       path, what);
}

} // namespace velk::client
