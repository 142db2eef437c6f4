// Clients that do not play by the rules: garbage, calls cut short, length
// claims beyond what is sent, silent and trickling connections, calls for what
// the daemon does not serve. Each is answered with an RPC error or dropped,
// and the many clients that do play by them are still served.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <rpc/rpc.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "daemon_process.h"
#include "description_file.h"
#include "test_daemon.h"
#include "velkdirectfe.h"
#include "wire_codec.h"

namespace velkd::test {
namespace {

using vdfe::test::Bytes;
using vdfe::test::one_record;
using vdfe::test::record_mark;
using vdfe::test::words;
using vdfe::test::xdr_str;
using vdfe::test::operator+;
using vdfe::test::operator+=;
using Words = std::vector<uint32_t>;
using Clock = std::chrono::steady_clock;

int connect_raw() {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, VELKD_SOCKET_PATH);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A call's header (xid 0x1234, RPC version 2, no credentials) and arguments.
Bytes call(uint32_t procedure, const Bytes& args = {}, uint32_t program = VELKD_PROG,
           uint32_t version = VELKD_VERS, uint32_t rpc_version = 2) {
    return words({0x1234, 0 /* CALL */, rpc_version, program, version, procedure, 0, 0, 0, 0}) +
           args;
}

Bytes rec(uint32_t procedure, const Bytes& args = {}) { return one_record(call(procedure, args)); }

// A write of `count` bytes of 0xFF at offset 0 of the mainboard FRU.
Bytes fru_write_of(uint32_t count) {
    Bytes data = words({0, count, count});
    for (uint32_t i = 0; i < count; ++i) data += words({0xFF});
    return rec(VELKD_WRITE_FRU_DIRECT, xdr_str("mainboard") + data);
}

// The next reply's words after its xid, up to an accept_stat; none when the
// daemon closes the connection first, ~0 when it does neither.
Words read_reply(int fd) {
    pollfd wait{fd, POLLIN, 0};
    if (::poll(&wait, 1, 30000) != 1) return {~0u};
    uint32_t marker = 0;
    if (::recv(fd, &marker, 4, MSG_WAITALL) != 4) return {};
    Words words(std::min(ntohl(marker) & 0x7FFFFFFFu, 1u << 20) / 4);
    auto size = static_cast<ssize_t>(words.size() * 4);
    if (::recv(fd, words.data(), words.size() * 4, MSG_WAITALL) != size) return {};
    for (uint32_t& w : words) w = ntohl(w);
    if (words.size() > 6) words.resize(6);
    return words.empty() ? words : Words(words.begin() + 1, words.end());
}

// What follows the xid in an accepted reply: REPLY, MSG_ACCEPTED, verifier (2), accept_stat.
Words accepted(uint32_t stat) { return {1, 0, 0, 0, stat}; }

// One of a mix of calls from well-behaved clients: its status.
int one_call(int t, int i) {
    uint16_t raw = 0;
    float value = 0;
    uint8_t byte = 0;
    uint32_t got = 0, count = 0;
    velkdirectfe_sensor_attr_t* sensors = nullptr;
    switch (i % 4) {
    case 0: return velkdirectfe_get_sensor_vals_by_logical_num(0, 1 + (t + i) % 10, &raw, &value);
    case 1: return velkdirectfe_read_fru_direct(0, "mainboard", uint32_t(i % 512), 1, &byte, &got);
    case 2: return velkdirectfe_set_indicator_mode(0, "fault_led", uint8_t(i % 3));
    }
    int status = velkdirectfe_get_sensor_attrs(0, &count, &sensors);
    if (status == 0) velkdirectfe_free_sensor_attrs(0, count, sensors);
    return status;
}

bool others_are_served() {
    char* strid = nullptr;
    int status = velkdirectfe_logical_num_to_strid(0, 4, &strid);
    std::free(strid);
    return status == 0;
}

class HostileClients : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(daemon_.ready()) << daemon_.log(); }
    DaemonProcess daemon_{{"--read-timeout-ms", "1000", "--workers", "4"}};
};

// Each case is sent on one connection, opened again after a case the daemon
// closes it for. Decoding narrows silently and stops a string at its first
// NUL: such arguments are refused, never truncated into another value or
// name; so are length claims beyond the record.
TEST_F(HostileClients, BadBytesAndCallsGetAnRpcErrorOrAreDropped) {
    Bytes cut_short = call(VELKD_GET_SENS_VAL);
    cut_short.resize(24); // the credentials never come
    auto fru_write = [](uint32_t byte) {
        return rec(VELKD_WRITE_FRU_DIRECT, xdr_str("mainboard") + words({0, 1, 1, byte}));
    };
    auto name_of = [](std::size_t n) {
        return rec(VELKD_GET_SENSOR_ATTR, xdr_str(std::string(n, 'A').c_str()));
    };
    const std::string http = "GET / HTTP/1.1\r\nHost: velkd\r\n\r\n";
    // A null call whose header comes in a fragment of its own, then empty
    // fragments without end: each counts, and the record overruns its limit.
    const Bytes null_call = call(0);
    Bytes empty_fragments = record_mark(24, false) + Bytes(null_call.begin(), null_call.begin() + 24);
    for (int i = 0; i < 300; ++i) empty_fragments += record_mark(0, false);
    empty_fragments += record_mark(16, true) + Bytes(null_call.begin() + 24, null_call.end());
    Bytes name_and_more = xdr_str(std::string(4000, 'A').c_str()) + Bytes(5000, 0);
    const Words dropped, ok = accepted(SUCCESS), refused = accepted(GARBAGE_ARGS);
    const struct {
        const char* what;
        Bytes bytes;
        Words reply;
    } cases[] = {
        {"HTTP", Bytes(http.begin(), http.end()), dropped},
        {"a call cut short", record_mark(200, true) + cut_short, dropped},
        {"a record too long", record_mark(0x7FFFFFFF, true) + call(VELKD_RAW_TO_NORM), dropped},
        {"a name call of 9 KB", rec(VELKD_GET_SENSOR_ATTR, name_and_more), dropped},
        {"endless empty fragments", empty_fragments, dropped},
        {"a write of the largest data area", fru_write_of(65536), ok},
        {"a write beyond it", fru_write_of(65536 + 1300), dropped},
        {"a 4096-byte name", name_of(4096), ok},
        {"a 4097-byte name", name_of(4097), refused},
        {"FRU byte 0x1FF", fru_write(0x1FF), refused},
        {"FRU byte 0xFF", fru_write(0xFF), ok},
        {"reading 0x10000", rec(VELKD_SET_SENSOR_READING, words({4, 0x10000})), refused},
        {"reading 0xFFFF", rec(VELKD_SET_SENSOR_READING, words({4, 0xFFFF})), ok},
        {"poll state 256", rec(VELKD_SET_POLL_STATE, words({256})), refused},
        {"poll state 1", rec(VELKD_SET_POLL_STATE, words({1})), ok},
        {"\"mb_12v\\0x\"", rec(VELKD_GET_SENSOR_ATTR, words({8, 0x6d625f31, 0x32760078})), refused},
        {"\"mb_12v\"", rec(VELKD_GET_SENSOR_ATTR, xdr_str("mb_12v")), ok},
        {"padding 0001", rec(VELKD_GET_SENSOR_ATTR, words({6, 0x6d625f31, 0x32760001})), refused},
        {"a 4 GB name", rec(VELKD_GET_SENSOR_ATTR, words({0xFFFFFFF0u, 0x41414141, 0})), refused},
        {"a 4 GB sensor id", rec(VELKD_RAW_TO_NORM, words({0xFFFFFFFFu, 0x41414141})), refused},
        {"a write of 4 G bytes",
         rec(VELKD_WRITE_FRU_DIRECT, xdr_str("psu0") + words({0, ~0u, ~0u, 1, 2})), refused},
        {"the null procedure", rec(0), ok},
        {"procedure 30", rec(30), accepted(PROC_UNAVAIL)},
        {"version 2", one_record(call(1, {}, VELKD_PROG, 2)), accepted(PROG_MISMATCH)},
        {"another program", one_record(call(1, {}, 0x20000004u)), accepted(PROG_UNAVAIL)},
        {"RPC version 3", one_record(call(1, {}, VELKD_PROG, VELKD_VERS, 3)),
         {1, 1 /* MSG_DENIED */, 0 /* RPC_MISMATCH */, 2, 2}},
    };
    int fd = connect_raw();
    for (const auto& c : cases) {
        // A record dropped at its mark may leave the rest unsendable.
        bool sent = vdfe::test::send_bytes(fd, c.bytes);
        if (!c.reply.empty()) {
            ASSERT_TRUE(sent) << c.what;
        }
        EXPECT_EQ(read_reply(fd), c.reply) << c.what;
        if (c.reply.empty()) {
            ::close(fd);
            fd = connect_raw();
        }
    }
    ::close(fd);
    EXPECT_TRUE(others_are_served());
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Seconds until the daemon closes each connection (-1: not within `limit`
// seconds), discarding whatever it sends meanwhile.
std::vector<double> seconds_until_closed(const std::vector<int>& fds, Clock::time_point start, double limit = 10) {
    std::vector<double> closed(fds.size(), -1);
    for (std::size_t open = fds.size(); open > 0 && seconds_since(start) < limit;) {
        std::vector<pollfd> waits;
        for (std::size_t i = 0; i < fds.size(); ++i)
            if (closed[i] < 0) waits.push_back({fds[i], POLLIN, 0});
        if (::poll(waits.data(), waits.size(), 100) <= 0) continue;
        for (const pollfd& w : waits) {
            char buffer[4096];
            if (w.revents == 0 || ::recv(w.fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) continue;
            closed[std::size_t(std::find(fds.begin(), fds.end(), w.fd) - fds.begin())] =
                seconds_since(start);
            --open;
        }
    }
    return closed;
}

// Idle connections and ones trickling a call a byte at a time hold no worker:
// sixteen threads of well-behaved clients are served meanwhile, and each
// hostile one is dropped at its deadline.
TEST(Starvation, TricklingAndIdleClientsStarveNoOneAndAreDroppedAtTheirDeadlines) {
    DaemonProcess daemon({"--first-byte-timeout-ms", "500", "--read-timeout-ms", "1500"});
    ASSERT_TRUE(daemon.ready()) << daemon.log();
    const Bytes bytes = rec(VELKD_GET_NORM_THRESHOLD, words({4}));
    auto opened = Clock::now();
    std::vector<int> fds(128); // 64 idle, then 64 trickling
    for (int& fd : fds) ASSERT_GE(fd = connect_raw(), 0);
    // A byte on each trickling connection every 200 ms: the call would take 9 s.
    std::atomic<bool> done{false};
    std::thread trickler([&] {
        for (std::size_t sent = 0; sent < bytes.size() && !done; ++sent) {
            for (std::size_t i = 64; i < fds.size(); ++i)
                ::send(fds[i], &bytes[sent], 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    });
    std::atomic<int> failures{0}, slow{0}, calls{0};
    std::vector<std::thread> clients;
    for (int t = 0; t < 16; ++t) {
        clients.emplace_back([&, t] {
            for (int i = 0; seconds_since(opened) < 2.5; ++i) {
                auto start = Clock::now();
                if (one_call(t, i) != 0) ++failures;
                if (seconds_since(start) > 1) ++slow;
                ++calls;
            }
        });
    }
    std::vector<double> closed = seconds_until_closed(fds, opened);
    done = true;
    trickler.join();
    for (std::thread& c : clients) c.join();
    for (int fd : fds) ::close(fd);
    EXPECT_EQ(failures.load(), 0);
    EXPECT_GT(calls.load(), 16);
    EXPECT_EQ(slow.load(), 0) << "well-behaved calls that took over a second";
    // 0.5 s after connecting, 1.5 s after the first byte (plus a generous
    // second for a loaded machine).
    for (std::size_t i = 0; i < closed.size(); ++i) {
        double deadline = i < 64 ? 0.5 : 1.5;
        EXPECT_TRUE(closed[i] >= deadline - 0.05 && closed[i] < deadline + 1) << closed[i];
    }
    EXPECT_EQ(daemon.stop(SIGTERM), 0) << daemon.log();
}

// Beyond a cap the newest connection is closed; those already open go on.
TEST(Starvation, ConnectionsBeyondACapAreClosedNewestFirst) {
    for (const char* cap : {"--max-connections", "--max-connections-per-user"}) {
        DaemonProcess daemon({cap, "3", "--first-byte-timeout-ms", "60000"});
        ASSERT_TRUE(daemon.ready()) << daemon.log();
        std::vector<int> open;
        for (int i = 0; i < 3; ++i) open.push_back(connect_raw());
        int newest = connect_raw();
        EXPECT_TRUE(read_reply(newest).empty()) << cap << daemon.log();
        ::close(newest);
        EXPECT_TRUE(daemon.wait_for_log("refusing a connection of uid 0: 3 open")) << daemon.log();
        ASSERT_TRUE(vdfe::test::send_bytes(open[0], rec(VELKD_GET_NORM_THRESHOLD, words({4}))));
        EXPECT_EQ(read_reply(open[0]), accepted(SUCCESS)) << cap;
        for (int fd : open) ::close(fd);
    }
}

// Beyond the unreserved slots another user's connections are closed, and
// root, whose slots they cannot take, is still served.
TEST(Starvation, OtherUsersCannotTakeTheSlotsKeptForRoot) {
    DaemonProcess daemon({"--max-connections", "8", "--reserved-connections", "2", "--socket-mode", "0666",
                          "--first-byte-timeout-ms", "60000"});
    ASSERT_TRUE(daemon.ready()) << daemon.log();
    const uid_t other = vdfe::test::test_user("vdt10peer").uid;
    ASSERT_EQ(::seteuid(other), 0); // the daemon sees the connecting process's effective user
    std::vector<int> theirs(8);
    for (int& fd : theirs) fd = connect_raw();
    ASSERT_EQ(::seteuid(0), 0);
    std::vector<double> closed = seconds_until_closed(theirs, Clock::now(), 0.5);
    for (std::size_t i = 0; i < theirs.size(); ++i) EXPECT_EQ(closed[i] >= 0, i >= 6) << i << daemon.log();
    std::vector<int> roots = {connect_raw(), connect_raw()};
    for (int fd : roots) {
        ASSERT_TRUE(vdfe::test::send_bytes(fd, rec(VELKD_GET_NORM_THRESHOLD, words({4}))));
        EXPECT_EQ(read_reply(fd), accepted(SUCCESS));
    }
    for (int fd : theirs) ::close(fd);
    for (int fd : roots) ::close(fd);
}

// Calls received but not yet answered are held to one budget: past it the
// largest holder is dropped at once. A large call that stops arriving is
// dropped within seconds, long before its read deadline; a small one is not.
TEST(Starvation, CallsBeyondTheirBudgetOrArrivingTooSlowlyAreDropped) {
    DaemonProcess daemon({"--call-budget-mib", "1", "--read-timeout-ms", "30000"});
    ASSERT_TRUE(daemon.ready()) << daemon.log();
    const Bytes write = fru_write_of(65536);
    auto start = Clock::now();
    int small = connect_raw();
    ASSERT_TRUE(vdfe::test::send_bytes(small, Bytes(write.begin(), write.begin() + 40000)));
    std::vector<int> large(5); // 200 KB each: together past the budget
    for (int& fd : large) {
        fd = connect_raw();
        vdfe::test::send_bytes(fd, Bytes(write.begin(), write.begin() + 200000));
    }
    std::vector<double> closed = seconds_until_closed(large, start, 4);
    EXPECT_LT(*std::min_element(closed.begin(), closed.end()), 0.5) << "none dropped for the budget";
    for (double seconds : closed) EXPECT_TRUE(seconds >= 0 && seconds < 3.5) << seconds;
    EXPECT_GE(*std::max_element(closed.begin(), closed.end()), 1.5) << "none dropped for its rate";
    ASSERT_TRUE(vdfe::test::send_bytes(small, Bytes(write.begin() + 40000, write.end())));
    EXPECT_EQ(read_reply(small), accepted(SUCCESS));
    for (int fd : large) ::close(fd);
    ::close(small);
}

// 1,000 sensors whose ids take 1,000 bytes each: a reply of over 2 MB.
std::string wide_description() {
    Description wide;
    for (int i = 1; i <= 1000; ++i) wide.sensor(std::to_string(i) + std::string(1000, 'x'), i);
    return wide.write("wide.toml");
}

// The body size of one reply record read in pieces of at most `piece` bytes,
// `pause` apart; 0 when the daemon closes the connection first.
std::size_t read_record_slowly(int fd, std::size_t piece, std::chrono::milliseconds pause) {
    std::vector<char> buffer(piece);
    std::size_t body = 0;
    for (uint32_t mark = 0; (mark & 0x80000000u) == 0;) {
        if (::recv(fd, &mark, 4, MSG_WAITALL) != 4) return 0;
        mark = ntohl(mark);
        for (std::size_t left = mark & 0x7FFFFFFFu; left > 0;) {
            ssize_t n = ::recv(fd, buffer.data(), std::min(left, piece), MSG_WAITALL);
            if (n <= 0) return 0;
            left -= std::size_t(n);
            body += std::size_t(n);
            std::this_thread::sleep_for(pause);
        }
    }
    return body;
}

// A reader of a large reply that stalls is dropped at its deadline; one that
// reads slowly but steadily is served to the end, three times as long.
TEST(Starvation, AStalledReaderIsDroppedAndASteadyOneServedToTheEnd) {
    DaemonProcess daemon({"--config", wide_description(), "--reply-timeout-ms", "1000"});
    ASSERT_TRUE(daemon.ready()) << daemon.log();
    int stalled = connect_raw(), steady = connect_raw();
    ASSERT_TRUE(vdfe::test::send_bytes(stalled, rec(VELKD_GET_SENSOR_ATTRS)));
    ASSERT_TRUE(vdfe::test::send_bytes(steady, rec(VELKD_GET_SENSOR_ATTRS)));
    auto asked = Clock::now();
    EXPECT_GT(read_record_slowly(steady, 64 * 1024, std::chrono::milliseconds(100)), 2000000u);
    EXPECT_GT(seconds_since(asked), 3);
    EXPECT_TRUE(others_are_served());
    std::size_t received = 0;
    char buffer[65536];
    for (ssize_t n; (n = ::recv(stalled, buffer, sizeof buffer, 0)) > 0;) received += std::size_t(n);
    EXPECT_GT(received, 0u);
    EXPECT_LT(received, 2000000u) << "the stalled reader's reply was cut off";
    ::close(stalled);
    ::close(steady);
}

// Time the daemon spends busy counts against no client: a call that waits
// unread past the first-byte deadline, behind others whose large replies
// the event loops build one after another, is still answered.
TEST(Starvation, TimeTheDaemonSpendsBusyCountsAgainstNoClient) {
    DaemonProcess daemon({"--config", wide_description(), "--first-byte-timeout-ms", "100"});
    ASSERT_TRUE(daemon.ready()) << daemon.log();
    std::vector<int> busy(40); // each asks for 2 MB, all ahead of the late call
    for (int& fd : busy) fd = connect_raw();
    auto connected = Clock::now();
    int late = connect_raw();
    std::this_thread::sleep_for(std::chrono::milliseconds(30)); // accepted, and waiting for a call
    for (int fd : busy) ASSERT_TRUE(vdfe::test::send_bytes(fd, rec(VELKD_GET_SENSOR_ATTRS)));
    ASSERT_TRUE(vdfe::test::send_bytes(late, rec(VELKD_GET_NORM_THRESHOLD, words({4}))));
    if (seconds_since(connected) > 0.08) GTEST_SKIP() << "this test was too slow to send before the deadline";
    EXPECT_EQ(read_reply(late), accepted(SUCCESS));
    for (int fd : busy) ::close(fd);
    ::close(late);
}

// Replies not yet read are held to one budget: past it a new reply waits,
// and the call is answered once a reader makes room.
TEST(Starvation, NewRepliesWaitWhileRepliesNotYetReadFillTheirBudget) {
    DaemonProcess daemon({"--config", wide_description(), "--reply-budget-mib", "1"});
    ASSERT_TRUE(daemon.ready()) << daemon.log();
    int unread = connect_raw(), waiting = connect_raw();
    ASSERT_TRUE(vdfe::test::send_bytes(unread, rec(VELKD_GET_SENSOR_ATTRS)));
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // built, and its 2 MB fill the budget
    ASSERT_TRUE(vdfe::test::send_bytes(waiting, rec(VELKD_GET_NORM_THRESHOLD, words({4}))));
    pollfd answered{waiting, POLLIN, 0};
    EXPECT_EQ(::poll(&answered, 1, 500), 0) << "answered while the budget was spent";
    EXPECT_GT(read_record_slowly(unread, 1 << 20, std::chrono::milliseconds(0)), 2000000u);
    EXPECT_EQ(read_reply(waiting), accepted(SUCCESS));
    ::close(unread);
    ::close(waiting);
}

} // namespace
} // namespace velkd::test
