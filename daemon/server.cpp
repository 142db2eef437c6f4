#include "server.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

#include "log.h"

namespace velkd {
namespace {

sigset_t daemon_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

void accept_loop(int listen_fd, const ServerOptions& options, const PlatformHolder& platforms,
                 const std::atomic<bool>& stopping) {
    while (!stopping.load(std::memory_order_relaxed)) {
        int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            serve_connection(fd, options.limits, platforms, stopping);
        } else if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            log(LogLevel::info, "error: accept: {}", std::strerror(errno));
            std::this_thread::sleep_for(std::chrono::milliseconds(50)); // let connections finish
        }
        // EINTR, ECONNABORTED, the wake-up slice and the shutdown at stop
        // all just loop back to the stop check.
    }
}

void announce_ready(std::optional<int> fd) {
    if (!fd) return;
    static constexpr char kReady[] = "ready\n";
    [[maybe_unused]] ssize_t n = ::write(*fd, kReady, sizeof kReady - 1);
    ::close(*fd);
}

} // namespace

void block_daemon_signals() {
    sigset_t set = daemon_signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

void run_server(int listen_fd, const ServerOptions& options, PlatformHolder& platforms, const Reloader& reload) {
    sigset_t set = daemon_signals();
    int signals = ::signalfd(-1, &set, SFD_CLOEXEC);
    if (signals < 0) throw std::runtime_error(std::string("signalfd: ") + std::strerror(errno));
    // Workers blocked in accept wake up this often to see the stop flag.
    timeval slice{0, 200 * 1000};
    ::setsockopt(listen_fd, SOL_SOCKET, SO_RCVTIMEO, &slice, sizeof slice);

    std::atomic<bool> stopping{false};
    std::vector<std::thread> workers;
    for (int i = 0; i < options.workers; ++i)
        workers.emplace_back(accept_loop, listen_fd, std::cref(options), std::cref(platforms), std::cref(stopping));
    announce_ready(options.ready_fd);

    while (!stopping) {
        signalfd_siginfo info{};
        if (::read(signals, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) {
            if (errno == EINTR) continue;
            log(LogLevel::info, "error: reading signals: {}", std::strerror(errno));
            break;
        }
        if (info.ssi_signo == SIGHUP) {
            if (auto next = reload()) {
                platforms.replace(std::move(next));
                log(LogLevel::info, "reloaded the platform description");
            }
        } else {
            log(LogLevel::info, "stopping on signal {}", info.ssi_signo);
            stopping = true;
        }
    }
    stopping = true;
    ::shutdown(listen_fd, SHUT_RDWR);
    for (std::thread& worker : workers) worker.join();
    ::close(signals);
}

} // namespace velkd
