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
constexpr char kNotify[] = "/tmp/notify";

// The datagram socket systemd would listen on.
class NotifySocket {
public:
    NotifySocket() {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, kNotify);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);
    }
    ~NotifySocket() { ::close(fd_); }
    // The next message, or "" after a generous bound.
    std::string next() {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 20000) != 1) return "";
        char buffer[4096];
        ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        return n > 0 ? std::string(buffer, n) : "";
    }
    // True when nothing arrives within `ms`.
    bool quiet_for(int ms) {
        pollfd p{fd_, POLLIN, 0};
        return ::poll(&p, 1, ms) == 0;
    }

private:
    int fd_ = -1;
};

// velkd-sim or the activating tool, with a NOTIFY_SOCKET as systemd sets it.
Process start(const std::string& program, const std::vector<std::string>& args) {
    ::setenv("NOTIFY_SOCKET", kNotify, 1);
    return Process(program, args);
}

bool platform_answers() {
    velkdirectfe_plat_names_t names{};
    if (velkdirectfe_get_platform_names(0, &names) != 0) return false;
    std::free(names.name1);
    std::free(names.name2);
    return true;
}

bool wait_for_path(const char* path) {
    struct stat st{};
    for (int i = 0; i < 1000 && ::lstat(path, &st) != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return ::lstat(path, &st) == 0;
}

TEST(Systemd, ServesTheActivatedSocketAndReportsItsStates) {
    NotifySocket notify;
    Process daemon = start(SOCKET_ACTIVATE_PATH, {"-E", "NOTIFY_SOCKET", "-l", kSocket, VELKD_SIM_PATH});
    ASSERT_TRUE(wait_for_path(kSocket));
    // The first call starts the daemon on the socket the tool holds; the
    // daemon never binds a path of its own.
    EXPECT_TRUE(platform_answers()) << daemon.err();
    EXPECT_EQ(notify.next().substr(0, 8), "READY=1\n");
    EXPECT_TRUE(platform_answers());
    EXPECT_NE(daemon.err().find("socket passed by the service manager"), std::string::npos) << daemon.err();

    ::kill(daemon.pid(), SIGHUP);
    EXPECT_EQ(notify.next().substr(0, 12), "RELOADING=1\n");
    EXPECT_EQ(notify.next().substr(0, 8), "READY=1\n");
    EXPECT_TRUE(platform_answers());

    ::kill(daemon.pid(), SIGTERM);
    EXPECT_EQ(notify.next().substr(0, 11), "STOPPING=1\n");
    EXPECT_EQ(daemon.wait(std::chrono::seconds(20)), 0) << daemon.err();
    // The path belongs to whoever made it; the daemon leaves it in place.
    struct stat st{};
    EXPECT_EQ(::lstat(kSocket, &st), 0);
}

TEST(Systemd, ReadyComesOnlyWhenCallsAreAnsweredAndTheSocketHasItsAccess) {
    NotifySocket notify;
    // Without activation the daemon claims the path itself.
    Process daemon = start(VELKD_SIM_PATH, {"--socket-mode", "0640", "--socket-group", "1"});
    std::string ready = notify.next();
    EXPECT_EQ(ready.substr(0, 8), "READY=1\n") << daemon.err();
    struct stat st{};
    ASSERT_EQ(::lstat(kSocket, &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_gid, 1u);
    EXPECT_TRUE(platform_answers());
    EXPECT_TRUE(notify.quiet_for(100)); // READY=1 once, nothing else meanwhile
    ::kill(daemon.pid(), SIGTERM);
    EXPECT_EQ(notify.next().substr(0, 11), "STOPPING=1\n");
    EXPECT_EQ(daemon.wait(std::chrono::seconds(20)), 0);
    EXPECT_NE(::lstat(kSocket, &st), 0); // its own path it removes
}

TEST(Systemd, RefusesMoreThanOnePassedSocket) {
    Process daemon = start(SOCKET_ACTIVATE_PATH, {"-l", kSocket, "-l", "/tmp/second.sock", VELKD_SIM_PATH});
    ASSERT_TRUE(wait_for_path("/tmp/second.sock"));
    int probe = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, kSocket);
    ASSERT_EQ(::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(daemon.wait(std::chrono::seconds(20)), 4); // the socket cannot be claimed
    ::close(probe);
    EXPECT_NE(daemon.err().find("passed 2 sockets"), std::string::npos) << daemon.err();
}

} // namespace
