#include "connection.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "call_limits.h"
#include "heap_buffer.h"
#include "velkdirectfe_wire.h"

#ifndef VELKDIRECTFE_DAEMON_USER
#define VELKDIRECTFE_DAEMON_USER ""
#endif

namespace vdfe {

namespace {

enum class Attempt { connected, retry, refused };

constexpr sockaddr_un kDaemonAddress{AF_UNIX, VELKD_SOCKET_PATH};
static_assert(std::string_view(VELKD_SOCKET_PATH) == VELKDIRECTFE_SOCKET_PATH,
              "daemon authors and callers are told the same path");

// The socket this call goes to: the one the environment names, else the
// fixed path. secure_getenv ignores the environment in set-id programs. A
// name that does not fit a socket address leaves the sun_path empty, which
// no connect reaches.
sockaddr_un daemon_address() {
    const char* named = secure_getenv(VELKDIRECTFE_SOCKET_ENV);
    if (named == nullptr || named[0] == '\0') return kDaemonAddress;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::size_t length = std::strlen(named);
    if (length < sizeof address.sun_path) std::memcpy(address.sun_path, named, length);
    return address;
}

// Pauses between connects to a daemon whose backlog is full.
constexpr long long kFirstBusyPauseNs = 1000000;
constexpr long long kLongestBusyPauseNs = 50000000;

// The longest passwd entry the build-time account may have.
constexpr size_t kLongestAccountEntry = size_t{1} << 20;

long long nanoseconds_until(const timespec& deadline) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (static_cast<long long>(deadline.tv_sec) - now.tv_sec) * 1000000000LL + (deadline.tv_nsec - now.tv_nsec);
}

// Connects the non-blocking socket. A Unix socket whose listener's backlog is
// full refuses a non-blocking connect with EAGAIN (it never answers
// EINPROGRESS): the daemon is there but busy, so the connect is made again
// after a pause, 1 ms doubling up to 50 ms, until the deadline. The socket
// stays unconnected meanwhile and serves again.
bool connect_by(int fd, const timespec& deadline) {
    const sockaddr_un address = daemon_address();
    if (address.sun_path[0] == '\0') return false;
    long long pause = kFirstBusyPauseNs;
    for (;;) {
        if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return true;
        if (errno != EAGAIN && errno != EINTR) return false;
        long long left = nanoseconds_until(deadline);
        if (left <= 0) return false;
        timespec wait{0, static_cast<long>(std::min(pause, left))};
        clock_nanosleep(CLOCK_MONOTONIC, 0, &wait, nullptr);
        pause = std::min(pause * 2, kLongestBusyPauseNs);
    }
}

// One connection attempt, into socket.
Attempt connect_once(const timespec& deadline, Descriptor& socket) {
    socket = Descriptor(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket || !connect_by(socket.get(), deadline)) return Attempt::retry;
    // Whoever bound the path first answers; the kernel says who that is.
    ucred peer{};
    socklen_t length = sizeof peer;
    if (getsockopt(socket.get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || length != sizeof peer ||
        !peer_is_trusted(peer.uid)) {
        return Attempt::refused;
    }
    return Attempt::connected;
}

// The lookup buffer starts at the size the system suggests and doubles while
// the entry does not fit (a long comment field, say). It is owned: reading
// the account database may be a cancellation point.
bool is_build_time_daemon_user(uid_t uid) {
    const char* name = VELKDIRECTFE_DAEMON_USER;
    if (name[0] == '\0') return false;
    long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    for (size_t size = suggested > 0 ? static_cast<size_t>(suggested) : 1024; size <= kLongestAccountEntry;
         size *= 2) {
        HeapBuffer buffer = allocate_buffer(size);
        if (!buffer) return false;
        passwd entry;
        passwd* found = nullptr;
        int rc = getpwnam_r(name, &entry, buffer.get(), size, &found);
        if (rc != ERANGE) return rc == 0 && found != nullptr && found->pw_uid == uid;
    }
    return false;
}

} // namespace

bool peer_is_trusted(uid_t peer) {
    return peer == 0 || peer == geteuid() || is_build_time_daemon_user(peer);
}

Descriptor connect_with_retry(const timespec& deadline) {
    for (int attempt = 1; attempt <= kConnectAttempts; ++attempt) {
        if (attempt > 1) {
            if (nanoseconds_until(deadline) <= kRetryPauseSeconds * 1000000000LL) break;
            sleep(static_cast<unsigned>(kRetryPauseSeconds));
        }
        Descriptor socket;
        switch (connect_once(deadline, socket)) {
        case Attempt::connected: return socket;
        case Attempt::refused: return Descriptor();
        case Attempt::retry: break; // the socket is closed before the pause
        }
    }
    return Descriptor();
}

} // namespace vdfe
