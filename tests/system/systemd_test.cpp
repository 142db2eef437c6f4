// velkd-sim under systemd's own tools: socket activation through the real
// systemd-socket-activate, and the Type=notify state messages on a
// NOTIFY_SOCKET the test listens on.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "process_runner.h"
#include "velkdirectfe.h"

namespace {

using vdfe::test::Process;

constexpr char kSocket[] = "/tmp/velkdirect.sock";

// A Unix socket of `type`, bound to or connected to `path`.
int unix_socket(int type, const char* path, bool bind) {
    int fd = ::socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path);
    auto* a = reinterpret_cast<sockaddr*>(&address);
    EXPECT_EQ(bind ? ::bind(fd, a, sizeof address) : ::connect(fd, a, sizeof address), 0) << path;
    return fd;
}

// The datagram socket systemd would listen on, set as NOTIFY_SOCKET for the
// processes the test starts.
class NotifySocket {
public:
    NotifySocket() : fd_(unix_socket(SOCK_DGRAM, "/tmp/notify", true)) {
        ::setenv("NOTIFY_SOCKET", "/tmp/notify", 1);
    }
    ~NotifySocket() { ::close(fd_); }
    // The first line of the next message, or "" when none comes within `ms`.
    std::string next(int ms = 20000) {
        pollfd p{fd_, POLLIN, 0};
        char buffer[4096];
        ssize_t n = ::poll(&p, 1, ms) == 1 ? ::recv(fd_, buffer, sizeof buffer, 0) : 0;
        std::string message(buffer, n > 0 ? n : 0);
        return message.substr(0, message.find('\n'));
    }

private:
    int fd_;
};

bool platform_answers() {
    velkdirectfe_plat_names_t names{};
    if (velkdirectfe_get_platform_names(0, &names) != 0) return false;
    std::free(names.name1);
    std::free(names.name2);
    return true;
}

bool contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

bool exists(const char* path) {
    struct stat st{};
    return ::lstat(path, &st) == 0;
}

bool wait_for_path(const char* path) {
    for (int i = 0; i < 1000 && !exists(path); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return exists(path);
}

TEST(Systemd, ServesTheActivatedSocketAndReportsItsStates) {
    NotifySocket notify;
    Process daemon(SOCKET_ACTIVATE_PATH, {"-E", "NOTIFY_SOCKET", "-l", kSocket, VELKD_SIM_PATH});
    ASSERT_TRUE(wait_for_path(kSocket));
    // The first call starts the daemon on the socket the tool holds; the
    // daemon never binds a path of its own.
    EXPECT_TRUE(platform_answers()) << daemon.err();
    EXPECT_EQ(notify.next(), "READY=1");
    EXPECT_TRUE(contains(daemon.err(), "socket passed by the service manager")) << daemon.err();
    ::kill(daemon.pid(), SIGHUP);
    EXPECT_EQ(notify.next(), "RELOADING=1");
    EXPECT_EQ(notify.next(), "READY=1");
    EXPECT_TRUE(platform_answers());
    ::kill(daemon.pid(), SIGTERM);
    EXPECT_EQ(notify.next(), "STOPPING=1");
    EXPECT_EQ(daemon.wait(std::chrono::seconds(20)), 0) << daemon.err();
    EXPECT_TRUE(exists(kSocket)); // the path belongs to whoever made it
}

// Without activation the daemon claims the path itself; READY=1 comes once,
// when calls are answered (the socket's access then: socket_access_test.sh).
TEST(Systemd, ReadyOnceWhenCallsAreAnsweredAndItsOwnPathRemoved) {
    NotifySocket notify;
    Process daemon(VELKD_SIM_PATH, {});
    EXPECT_EQ(notify.next(), "READY=1") << daemon.err();
    EXPECT_TRUE(platform_answers());
    EXPECT_EQ(notify.next(100), "");
    ::kill(daemon.pid(), SIGTERM);
    EXPECT_EQ(notify.next(), "STOPPING=1");
    EXPECT_EQ(daemon.wait(std::chrono::seconds(20)), 0);
    EXPECT_FALSE(exists(kSocket));
}

TEST(Systemd, RefusesMoreThanOnePassedSocket) {
    Process daemon(SOCKET_ACTIVATE_PATH, {"-l", kSocket, "-l", "/tmp/second.sock", VELKD_SIM_PATH});
    ASSERT_TRUE(wait_for_path("/tmp/second.sock"));
    int probe = unix_socket(SOCK_STREAM, kSocket, false); // starts the daemon
    EXPECT_EQ(daemon.wait(std::chrono::seconds(20)), 4); // the socket cannot be claimed
    ::close(probe);
    EXPECT_TRUE(contains(daemon.err(), "passed 2 sockets")) << daemon.err();
}

} // namespace
