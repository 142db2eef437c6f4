// The library against a peer that is broken or hostile: every call ends
// within its time limit with bounded memory, and only a trusted daemon is
// spoken to.
#include <gtest/gtest.h>

#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "test_daemon.h"
#include "transport/call_limits.h"
#include "velkdirectfe.h"

using namespace vdfe::test;
using namespace std::chrono;

namespace {

constexpr uint32_t kPlatformNames = 8;

// The largest resident size this process has had, in bytes.
size_t peak_resident_bytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stoul(line.substr(6)) * 1024;
    return 0;
}

// A platform-names result whose first name is `length` bytes of 'n'.
// Streams the reply in pieces so that the server itself stays small.
bool send_names_reply(int fd, uint32_t xid, uint32_t length) {
    Bytes head = success_reply_head(xid) + words({0, 1, length});
    uint32_t padded = (length + 3) / 4 * 4;
    Bytes tail = xdr_str("b");
    uint32_t total = static_cast<uint32_t>(head.size() + padded + tail.size());
    if (!send_bytes(fd, record_mark(total, true) + head)) return false;
    Bytes chunk(1 << 16, 'n');
    for (uint32_t left = length; left > 0;) {
        uint32_t n = left < chunk.size() ? left : static_cast<uint32_t>(chunk.size());
        if (!send_bytes(fd, Bytes(chunk.begin(), chunk.begin() + n))) return false;
        left -= n;
    }
    return send_bytes(fd, Bytes(padded - length, 0) + tail);
}

// The whole record of a reply to get_platform_names, marks included, for a
// first name of `length` bytes (a multiple of 4): mark 4, reply head 24,
// status and lead byte 8, two string lengths 8, "b" padded 4.
constexpr size_t names_record_bytes(size_t length) { return 48 + length; }

struct HostileCase {
    const char* name;
    RawServer::Script script;
    seconds at_least{0}, within{30}; // a malformed reply fails at once; time limits take 25 s
};
void PrintTo(const HostileCase& c, std::ostream* out) { *out << c.name; }

const HostileCase kHostile[] = {
    {"WrongTransactionIdsWithoutEnd",
     [](int fd, const CallRecord& call) {
         for (uint32_t i = 1; send_bytes(fd, one_record(success_reply_head(call.xid + i) + words({5}))); ++i) {}
     },
     seconds(0), seconds(10)},
    {"GarbageRecordsWithoutEnd",
     [](int fd, const CallRecord&) {
         Bytes garbage(4096, 0xA5);
         while (send_bytes(fd, one_record(garbage))) {}
     },
     seconds(0), seconds(10)},
    {"ValidReplyTrickledPastTheLimit",
     [](int fd, const CallRecord& call) {
         Bytes reply = one_record(success_reply_head(call.xid) + words({0, 1}) + xdr_str("a") + xdr_str("b"));
         for (uint8_t byte : reply) { // 52 bytes, one each 600 ms: 31 s
             if (!send_bytes(fd, Bytes{byte})) return;
             std::this_thread::sleep_for(milliseconds(600));
         }
     },
     seconds(24)},
    {"SilentUntilTheCallerGivesUp",
     [](int fd, const CallRecord&) {
         char byte;
         while (recv(fd, &byte, 1, 0) > 0) {}
     },
     seconds(24)},
    {"FragmentsWithoutEnd",
     [](int fd, const CallRecord& call) {
         Bytes first = success_reply_head(call.xid) + words({0, 1});
         if (!send_bytes(fd, record_mark(static_cast<uint32_t>(first.size()), false) + first)) return;
         Bytes fragment = record_mark(1 << 16, false) + Bytes(1 << 16, 'f');
         while (send_bytes(fd, fragment)) {}
     }},
    {"StringClaimStreamedWithoutEnd",
     [](int fd, const CallRecord& call) {
         Bytes head = success_reply_head(call.xid) + words({0, 1, 0xFFFFFFF0u});
         if (!send_bytes(fd, record_mark(0x7FFFFFFF, true) + head)) return;
         Bytes chunk(1 << 16, 's');
         while (send_bytes(fd, chunk)) {}
     }},
    {"ReplyJustOverTheSizeLimit",
     [](int fd, const CallRecord& call) {
         send_names_reply(fd, call.xid, static_cast<uint32_t>(vdfe::kReplyByteLimit - names_record_bytes(0) + 4));
     }},
};

class HostileDaemon : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileDaemon, CallFailsWithinTheLimitInBoundedMemory) {
    RawServer server(GetParam().script);
    velkdirectfe_plat_names_t names{9, nullptr, nullptr};
    auto start = steady_clock::now();
    EXPECT_EQ(velkdirectfe_get_platform_names(0, &names), -1);
    EXPECT_GE(steady_clock::now() - start, GetParam().at_least);
    EXPECT_LT(steady_clock::now() - start, GetParam().within);
    EXPECT_EQ(names.lead_byte, 9);
    EXPECT_EQ(names.name1, nullptr);
    EXPECT_EQ(server.connections(), 1); // no retry once connected
    EXPECT_LT(peak_resident_bytes(), 4 * vdfe::kReplyByteLimit);
}

INSTANTIATE_TEST_SUITE_P(Peers, HostileDaemon, testing::ValuesIn(kHostile),
                         [](const testing::TestParamInfo<HostileCase>& info) { return info.param.name; });

TEST(ReplySizeLimit, ReplyOfExactlyTheLimitIsDecoded) {
    constexpr uint32_t length = static_cast<uint32_t>(vdfe::kReplyByteLimit - names_record_bytes(0));
    static_assert(names_record_bytes(length) == vdfe::kReplyByteLimit);
    RawServer server([](int fd, const CallRecord& call) { send_names_reply(fd, call.xid, length); });
    velkdirectfe_plat_names_t names{};
    ASSERT_EQ(velkdirectfe_get_platform_names(0, &names), 0);
    ASSERT_NE(names.name1, nullptr);
    EXPECT_EQ(std::strlen(names.name1), length);
    EXPECT_STREQ(names.name2, "b");
    std::free(names.name1);
    std::free(names.name2);
    // the record buffer, the decoded string and the caller's copy
    EXPECT_LT(peak_resident_bytes(), 4 * vdfe::kReplyByteLimit);
}

// ---- who may answer --------------------------------------------------------

// Runs body in a child process as `user`; the child's pid.
pid_t fork_as(const TestUser& user, const std::function<int()>& body) {
    pid_t pid = fork();
    if (pid == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(user.gid) != 0 || setuid(user.uid) != 0) _exit(90);
        _exit(body());
    }
    return pid;
}

int exit_status(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A daemon running as `user` that answers one call with status 0. It exits
// with what it saw: 0 a call, 1 a connection that closed with nothing sent,
// 2 no connection at all.
pid_t daemon_as(const TestUser& user) {
    int ready[2];
    if (pipe(ready) != 0) abort();
    pid_t pid = fork_as(user, [&] {
        std::atomic<bool> called{false};
        int connections = 0;
        {
            RawServer server([&](int fd, const CallRecord& call) {
                called = send_bytes(fd, one_record(success_reply_head(call.xid) + words({0})));
            });
            if (write(ready[1], "r", 1) != 1) return 92;
            for (int i = 0; i < 2000 && server.connections() == 0; ++i) std::this_thread::sleep_for(milliseconds(10));
            connections = server.connections();
        } // the connection is done with
        return called ? 0 : connections ? 1 : 2;
    });
    char byte;
    if (read(ready[0], &byte, 1) != 1) ADD_FAILURE() << "the daemon did not start";
    close(ready[0]);
    close(ready[1]);
    return pid;
}

int call_as(const TestUser& user) {
    return exit_status(fork_as(user, [] { return velkdirectfe_reset_all_sensors_state(0) == 0 ? 0 : 1; }));
}

TEST(PeerCheck, DaemonOfAnotherUserIsRefusedWithNothingSent) {
    pid_t daemon = daemon_as(test_user("vdt10peer"));
    auto start = steady_clock::now();
    EXPECT_EQ(velkdirectfe_reset_all_sensors_state(0), -1);
    EXPECT_LT(steady_clock::now() - start, milliseconds(900)); // refused at once, not retried
    EXPECT_EQ(exit_status(daemon), 1);
}

TEST(PeerCheck, DaemonOfTheCallersOwnUserIsAccepted) {
    TestUser user = test_user("vdt10peer");
    pid_t daemon = daemon_as(user);
    EXPECT_EQ(call_as(user), 0);
    EXPECT_EQ(exit_status(daemon), 0);
}

TEST(PeerCheck, DaemonOfRootIsAcceptedByAnyUser) {
    TestUser user = test_user("vdt10peer");
    TestDaemon daemon;
    daemon.reply_status(19, 0);
    chmod(VELKD_SOCKET_PATH, 0777); // let the user connect at all
    EXPECT_EQ(call_as(user), 0);
    EXPECT_EQ(daemon.call_count(), 1u);
}

} // namespace
