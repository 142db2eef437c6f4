#include "systemd_notify.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#if VELKD_WITH_LIBSYSTEMD
#include <systemd/sd-daemon.h>
#else
// Built where libsystemd is missing (a cross target): no service manager
// ever passes a socket or listens for notifications.
namespace {
constexpr int SD_LISTEN_FDS_START = 3;
int sd_listen_fds(int) { return 0; }
int sd_is_socket_unix(int, int, int, const char*, size_t) { return 0; }
int sd_notify(int, const char*) { return 0; }
int sd_notifyf(int, const char*, ...) { return 0; }
} // namespace
#endif

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace velkd {

std::optional<int> take_activated_socket() {
    int count = sd_listen_fds(1); // also clears LISTEN_FDS for any child
    if (count < 0) throw std::runtime_error(std::string("LISTEN_FDS: ") + std::strerror(-count));
    if (count == 0) return std::nullopt;
    if (count != 1) {
        for (int i = 0; i < count; ++i) ::close(SD_LISTEN_FDS_START + i);
        throw std::runtime_error("the service manager passed " + std::to_string(count) +
                                 " sockets; velkd-sim serves exactly one");
    }
    int fd = SD_LISTEN_FDS_START;
    if (sd_is_socket_unix(fd, SOCK_STREAM, 1, nullptr, 0) <= 0) {
        ::close(fd);
        throw std::runtime_error("the socket the service manager passed is not a listening Unix stream socket");
    }
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
}

std::string socket_path_of(int fd) {
    sockaddr_un address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        length <= offsetof(sockaddr_un, sun_path) || address.sun_path[0] == '\0')
        return "an unnamed socket";
    return std::string(address.sun_path, strnlen(address.sun_path, length - offsetof(sockaddr_un, sun_path)));
}

void notify_ready(const std::string& status) { sd_notifyf(0, "READY=1\nSTATUS=%s", status.c_str()); }

void notify_reloading() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    unsigned long long usec = static_cast<unsigned long long>(now.tv_sec) * 1000000ULL + now.tv_nsec / 1000;
    sd_notifyf(0, "RELOADING=1\nMONOTONIC_USEC=%llu\nSTATUS=reloading the platform description", usec);
}

void notify_stopping() { sd_notify(0, "STOPPING=1\nSTATUS=stopping"); }

std::optional<int> relay_ready(std::optional<int> ready_fd, const std::string& status) {
    const char* notify_socket = std::getenv("NOTIFY_SOCKET");
    if (notify_socket == nullptr || *notify_socket == '\0') return ready_fd;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    // Detached: it ends once the server announces, and a daemon that never
    // gets that far exits with it still waiting.
    std::thread([read_end = ends[0], ready_fd, status] {
        char byte;
        ssize_t n;
        do n = ::read(read_end, &byte, 1);
        while (n < 0 && errno == EINTR);
        ::close(read_end);
        if (n != 1) return;
        notify_ready(status);
        if (ready_fd) {
            static constexpr char kReady[] = "ready\n";
            [[maybe_unused]] ssize_t written = ::write(*ready_fd, kReady, sizeof kReady - 1);
            ::close(*ready_fd);
        }
    }).detach();
    return ends[1];
}

} // namespace velkd
