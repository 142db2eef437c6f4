#include "connection.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "bounded_copy.h"
#include "call_client.h"
#include "call_limits.h"
#include "velkdirectfe_wire.h"

#ifndef VELKDIRECTFE_DAEMON_USER
#define VELKDIRECTFE_DAEMON_USER ""
#endif

namespace vdfe {

namespace {

// libtirpc 1.3.3 makes its shared AUTH_NONE handle lazily and racily: threads
// that create their first clients at the same moment each allocate one, and
// all but one are lost. Making it once, when the library is loaded, closes
// that window; the handle is libtirpc's and lives as long as the process.
__attribute__((constructor)) void create_shared_null_auth() { authnone_create(); }

enum class Attempt { connected, retry, refused };

long long nanoseconds_until(const timespec& deadline) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (static_cast<long long>(deadline.tv_sec) - now.tv_sec) * 1000000000LL + (deadline.tv_nsec - now.tv_nsec);
}

timeval time_until(const timespec& deadline) {
    long long ns = nanoseconds_until(deadline);
    if (ns < 1000) ns = 1000; // SO_SNDTIMEO of zero would mean no limit
    return timeval{static_cast<time_t>(ns / 1000000000LL), static_cast<suseconds_t>(ns % 1000000000LL / 1000)};
}

// One connection attempt. A daemon whose backlog is full is waited for until
// the deadline, not longer (a blocking connect on a Unix socket honours the
// send timeout).
Attempt connect_once(const timespec& deadline, int* fd_out) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return Attempt::retry;
    sockaddr_un address;
    std::memset(&address, 0, sizeof address);
    bounded_copy(address.sun_path, VELKD_SOCKET_PATH, sizeof address.sun_path);
    address.sun_family = AF_UNIX;
    timeval wait = time_until(deadline);
    int rc = setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    if (rc == 0) {
        do rc = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        while (rc != 0 && errno == EINTR);
    }
    if (rc != 0) {
        close(fd);
        return Attempt::retry;
    }
    // Whoever bound the path first answers; the kernel says who that is.
    ucred peer{};
    socklen_t length = sizeof peer;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || length != sizeof peer ||
        !peer_is_trusted(peer.uid)) {
        close(fd);
        return Attempt::refused;
    }
    *fd_out = fd;
    return Attempt::connected;
}

bool is_build_time_daemon_user(uid_t uid) {
    const char* name = VELKDIRECTFE_DAEMON_USER;
    if (name[0] == '\0') return false;
    passwd entry;
    passwd* found = nullptr;
    char buffer[4096];
    return getpwnam_r(name, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr && found->pw_uid == uid;
}

} // namespace

bool peer_is_trusted(uid_t peer) noexcept {
    return peer == 0 || peer == geteuid() || is_build_time_daemon_user(peer);
}

Client connect_with_retry() noexcept {
    timespec deadline = deadline_after(kCallSeconds);
    for (int attempt = 1; attempt <= kConnectAttempts; ++attempt) {
        int fd = -1;
        switch (connect_once(deadline, &fd)) {
        case Attempt::connected: return Client(call_client_create(fd, VELKD_PROG, VELKD_VERS, deadline));
        case Attempt::refused: return Client();
        case Attempt::retry: break;
        }
        if (attempt == kConnectAttempts || nanoseconds_until(deadline) <= kRetryPauseSeconds * 1000000000LL) break;
        sleep(static_cast<unsigned>(kRetryPauseSeconds));
    }
    return Client();
}

} // namespace vdfe
