// Clients that do not play by the rules: garbage, a call cut short, length
// claims far beyond what is sent, connections that never send, and calls for
// programs, versions and procedures the daemon does not serve. Each is
// answered with an RPC error or dropped, and everyone else is still served.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <rpc/rpc.h>
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
#include "velkdirectfe.h"
#include "velkdirectfe_wire.h"
#include "wire/xdr_routine.h"

namespace velkd::test {
namespace {

using Words = std::vector<uint32_t>;

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

void send_bytes(int fd, const void* data, std::size_t size) {
    ASSERT_EQ(::send(fd, data, size, MSG_NOSIGNAL), static_cast<ssize_t>(size));
}

// One record: the marker (last fragment, `claimed` bytes) and the words.
void send_record(int fd, const Words& words, uint32_t claimed) {
    std::vector<uint32_t> wire{htonl(0x80000000u | claimed)};
    for (uint32_t w : words) wire.push_back(htonl(w));
    send_bytes(fd, wire.data(), wire.size() * 4);
}

Words call_header(uint32_t procedure, const Words& args = {}) {
    Words call{0x1234, 0 /* CALL */, 2, VELKD_PROG, VELKD_VERS, procedure, 0, 0, 0, 0};
    call.insert(call.end(), args.begin(), args.end());
    return call;
}

// A whole call in one record.
void send_call(int fd, const Words& call) { send_record(fd, call, static_cast<uint32_t>(call.size() * 4)); }

// The reply's words after the record marker, or empty when the daemon
// closed the connection without one.
Words read_reply(int fd) {
    uint32_t buffer[64];
    pollfd wait{fd, POLLIN, 0};
    if (::poll(&wait, 1, 30000) != 1) return {};
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    Words words;
    for (ssize_t i = 1; i < n / 4; ++i) words.push_back(ntohl(buffer[i]));
    return words;
}

// accept_stat of an accepted reply: xid, REPLY, MSG_ACCEPTED, verifier (2), stat.
uint32_t accept_status(const Words& reply) { return reply.size() >= 6 ? reply[5] : ~0u; }

bool closed_by_daemon(int fd) {
    char byte;
    pollfd wait{fd, POLLIN, 0};
    return ::poll(&wait, 1, 30000) == 1 && ::recv(fd, &byte, 1, 0) <= 0;
}

bool others_are_served() {
    char* strid = nullptr;
    int status = velkdirectfe_logical_num_to_strid(0, 4, &strid);
    bool served = status == 0 && std::strcmp(strid, "mb_12v") == 0;
    std::free(strid);
    return served;
}

class HostileClients : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(daemon_.ready()) << daemon_.log(); }
    DaemonProcess daemon_{{"--read-timeout-ms", "1000", "--workers", "4"}};
};

TEST_F(HostileClients, GarbageAndCutShortCallsAreDropped) {
    int fd = connect_raw();
    const char garbage[] = "GET / HTTP/1.1\r\nHost: velkd\r\n\r\n";
    send_bytes(fd, garbage, sizeof garbage);
    EXPECT_TRUE(closed_by_daemon(fd));
    ::close(fd);
    fd = connect_raw();
    Words header = call_header(VELKD_GET_SENS_VAL);
    header.resize(6); // the credentials never come
    send_record(fd, header, 200);
    ::shutdown(fd, SHUT_WR);
    EXPECT_TRUE(closed_by_daemon(fd));
    ::close(fd);
    EXPECT_TRUE(others_are_served());
}

TEST_F(HostileClients, HugeClaimsInsideRecordsCostNothingLasting) {
    // A conversion naming a 4 GB sensor id, and a FRU write of 4 G bytes.
    Words conversion = call_header(VELKD_RAW_TO_NORM, {0xFFFFFFFFu, 0x41414141});
    Words write = call_header(VELKD_WRITE_FRU_DIRECT, {4, 0x70737530 /* "psu0" */, 0, 0xFFFFFFFFu, 0xFFFFFFFFu, 1, 2});
    for (const Words& call : {conversion, write}) {
        // A record whose bytes stop coming (complete, it is refused as
        // garbage, below): the client is dropped at its deadline, without a
        // reply, and others are served meanwhile.
        int fd = connect_raw();
        send_record(fd, call, 4096);
        EXPECT_TRUE(others_are_served());
        EXPECT_TRUE(read_reply(fd).empty());
        EXPECT_TRUE(closed_by_daemon(fd));
        ::close(fd);
        // A record longer than any call is refused at its marker.
        fd = connect_raw();
        send_record(fd, call, 0x7FFFFFFFu);
        EXPECT_TRUE(closed_by_daemon(fd));
        ::close(fd);
    }
    EXPECT_TRUE(others_are_served());
}

TEST_F(HostileClients, SilentClientsAreDroppedAndDoNotStallOthers) {
    std::vector<int> silent;
    for (int i = 0; i < 8; ++i) silent.push_back(connect_raw()); // twice the workers
    EXPECT_TRUE(others_are_served());
    for (int fd : silent) {
        EXPECT_TRUE(closed_by_daemon(fd));
        ::close(fd);
    }
    EXPECT_TRUE(others_are_served());
}

TEST_F(HostileClients, SeveralCallsOnOneConnectionAreAllAnswered) {
    int fd = connect_raw();
    for (int i = 0; i < 3; ++i) {
        send_call(fd, call_header(VELKD_GET_NORM_THRESHOLD, {4}));
        Words reply = read_reply(fd);
        ASSERT_EQ(accept_status(reply), static_cast<uint32_t>(SUCCESS));
        EXPECT_EQ(reply.at(6), 0u) << "status";
    }
    ::close(fd);
}

// Decoding narrows silently and stops a string at its first NUL: such
// arguments are refused, never truncated into another value or name; so are
// length claims beyond the record.
TEST_F(HostileClients, ArgumentsOutOfTheirFieldsRangeAreGarbageArgs) {
    struct Case {
        const char* what;
        uint32_t procedure;
        Words args;
        accept_stat expected;
    };
    const uint32_t mainboard[] = {9, 0x6d61696e, 0x626f6172, 0x64000000};
    auto fru_write = [&](uint32_t byte) {
        return Words{mainboard[0], mainboard[1], mainboard[2], mainboard[3], 0, 1, 1, byte};
    };
    // A name of n 'A's; the padding after it is zero.
    auto name_of = [](uint32_t n) {
        Words w(1 + (n + 3) / 4, 0x41414141u);
        w[0] = n;
        if (n % 4) w.back() = 0x41414141u << (8 * (4 - n % 4));
        return w;
    };
    const Case cases[] = {
        {"a 4096-byte name", VELKD_GET_SENSOR_ATTR, name_of(4096), SUCCESS},
        {"a 4097-byte name", VELKD_GET_SENSOR_ATTR, name_of(4097), GARBAGE_ARGS},
        {"FRU byte 0x1FF", VELKD_WRITE_FRU_DIRECT, fru_write(0x1FF), GARBAGE_ARGS},
        {"FRU byte 0xFF", VELKD_WRITE_FRU_DIRECT, fru_write(0xFF), SUCCESS},
        {"reading 0x10000", VELKD_SET_SENSOR_READING, {4, 0x10000}, GARBAGE_ARGS},
        {"reading 0xFFFF", VELKD_SET_SENSOR_READING, {4, 0xFFFF}, SUCCESS},
        {"poll state 256", VELKD_SET_POLL_STATE, {256}, GARBAGE_ARGS},
        {"poll state 1", VELKD_SET_POLL_STATE, {1}, SUCCESS},
        {"\"mb_12v\\0x\"", VELKD_GET_SENSOR_ATTR, {8, 0x6d625f31, 0x32760078}, GARBAGE_ARGS},
        {"\"mb_12v\"", VELKD_GET_SENSOR_ATTR, {6, 0x6d625f31, 0x32760000}, SUCCESS},
        {"non-zero padding", VELKD_GET_SENSOR_ATTR, {6, 0x6d625f31, 0x32760001}, GARBAGE_ARGS},
        {"a 4 GB name", VELKD_GET_SENSOR_ATTR, {0xFFFFFFF0u, 0x41414141, 0x41414141}, GARBAGE_ARGS},
        {"a 4 GB sensor id", VELKD_RAW_TO_NORM, {0xFFFFFFFFu, 0x41414141}, GARBAGE_ARGS},
        {"a write of 4 G bytes", VELKD_WRITE_FRU_DIRECT, {4, 0x70737530, 0, 0xFFFFFFFFu, 0xFFFFFFFFu, 1, 2},
         GARBAGE_ARGS},
    };
    for (const Case& c : cases) {
        int fd = connect_raw();
        send_call(fd, call_header(c.procedure, c.args));
        EXPECT_EQ(accept_status(read_reply(fd)), static_cast<uint32_t>(c.expected)) << c.what;
        ::close(fd);
    }
    EXPECT_TRUE(others_are_served());
}

// What a stock libtirpc client sees for calls the daemon does not serve.
enum clnt_stat call_with(rpcprog_t program, rpcvers_t version, rpcproc_t procedure) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, VELKD_SOCKET_PATH);
    int sock = RPC_ANYSOCK;
    CLIENT* client = clntunix_create(&address, program, version, &sock, 0, 0);
    if (client == nullptr) return RPC_CANTSEND;
    timeval timeout{25, 0};
    xdrproc_t none = vdfe::wire::xdr_routine(xdr_void);
    enum clnt_stat status = clnt_call(client, procedure, none, nullptr, none, nullptr, timeout);
    clnt_destroy(client);
    return status;
}

TEST_F(HostileClients, UnservedProgramsVersionsProceduresAndRpcVersionsGetRpcErrors) {
    EXPECT_EQ(call_with(VELKD_PROG, VELKD_VERS, 0), RPC_SUCCESS) << "the null procedure";
    EXPECT_EQ(call_with(VELKD_PROG, VELKD_VERS, 30), RPC_PROCUNAVAIL);
    EXPECT_EQ(call_with(VELKD_PROG, 2, 1), RPC_PROGVERSMISMATCH);
    EXPECT_EQ(call_with(0x20000004u, VELKD_VERS, 1), RPC_PROGUNAVAIL);
    // Another RPC version: xid, REPLY, MSG_DENIED, RPC_MISMATCH, lowest and highest version.
    int fd = connect_raw();
    Words call = call_header(VELKD_GET_NORM_THRESHOLD, {4});
    call[2] = 3;
    send_call(fd, call);
    EXPECT_EQ(read_reply(fd), (Words{0x1234, 1, 1, 0, 2, 2}));
    ::close(fd);
    EXPECT_TRUE(others_are_served());
}

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Seconds until the daemon closes each connection (bounded wait), reading
// and discarding whatever it sends meanwhile.
std::vector<double> seconds_until_closed(const std::vector<int>& fds, Clock::time_point start, double give_up) {
    std::vector<double> closed(fds.size(), -1);
    std::size_t open = fds.size();
    while (open > 0 && seconds_since(start) < give_up) {
        std::vector<pollfd> waits;
        for (std::size_t i = 0; i < fds.size(); ++i)
            if (closed[i] < 0) waits.push_back({fds[i], POLLIN, 0});
        if (::poll(waits.data(), waits.size(), 100) <= 0) continue;
        for (const pollfd& w : waits) {
            if (w.revents == 0) continue;
            char buffer[4096];
            if (::recv(w.fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) continue;
            auto i = static_cast<std::size_t>(std::find(fds.begin(), fds.end(), w.fd) - fds.begin());
            closed[i] = seconds_since(start);
            --open;
        }
    }
    return closed;
}

TEST(Starvation, TricklingAndIdleClientsStarveNoOneAndAreDroppedAtTheirDeadlines) {
    DaemonProcess daemon({"--first-byte-timeout-ms", "500", "--read-timeout-ms", "1500"});
    ASSERT_TRUE(daemon.ready()) << daemon.log();
    constexpr int kEach = 64, kClients = 8;
    Words call = call_header(VELKD_GET_NORM_THRESHOLD, {4});
    std::vector<uint32_t> record{htonl(0x80000000u | static_cast<uint32_t>(call.size() * 4))};
    for (uint32_t w : call) record.push_back(htonl(w));
    const char* bytes = reinterpret_cast<const char*>(record.data());

    auto opened = Clock::now();
    std::vector<int> idle, trickling;
    for (int i = 0; i < kEach; ++i) {
        idle.push_back(connect_raw());
        trickling.push_back(connect_raw());
        ASSERT_GE(idle.back(), 0);
        ASSERT_GE(trickling.back(), 0);
    }
    // One byte of the call on each trickling connection every 200 ms: the
    // whole call would take 9 s.
    std::atomic<bool> done{false};
    std::thread trickler([&] {
        for (std::size_t sent = 0; sent < record.size() * 4 && !done; ++sent) {
            for (int fd : trickling) ::send(fd, bytes + sent, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    });
    std::atomic<int> failures{0}, calls{0};
    std::atomic<int32_t> slowest_us{0}; // 32 bits: the target has no 64-bit atomics
    std::vector<std::thread> clients;
    for (int t = 0; t < kClients; ++t) {
        clients.emplace_back([&] {
            while (seconds_since(opened) < 2.5) {
                auto start = Clock::now();
                char* strid = nullptr;
                if (velkdirectfe_logical_num_to_strid(0, 4, &strid) != 0) ++failures;
                std::free(strid);
                auto us = static_cast<int32_t>(
                    std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
                for (int32_t was = slowest_us; us > was && !slowest_us.compare_exchange_weak(was, us);) {
                }
                ++calls;
            }
        });
    }
    std::vector<double> idle_closed = seconds_until_closed(idle, opened, 10);
    std::vector<double> trickling_closed = seconds_until_closed(trickling, opened, 10);
    done = true;
    trickler.join();
    for (std::thread& c : clients) c.join();
    for (int fd : idle) ::close(fd);
    for (int fd : trickling) ::close(fd);

    EXPECT_EQ(failures.load(), 0);
    EXPECT_GT(calls.load(), kClients);
    EXPECT_LT(slowest_us.load(), 1000000) << "the slowest well-behaved call, in us";
    // Dropped at their deadlines: 0.5 s after connecting, 1.5 s after the
    // first byte (with a generous second for the loaded test machine).
    for (double s : idle_closed) EXPECT_TRUE(s >= 0.45 && s < 1.5) << s;
    for (double s : trickling_closed) EXPECT_TRUE(s >= 1.45 && s < 2.5) << s;
}

// Beyond a cap the newest connection is closed; those already open go on.
TEST(Starvation, ConnectionsBeyondACapAreClosedNewestFirst) {
    for (const char* cap : {"--max-connections", "--max-connections-per-user"}) {
        DaemonProcess daemon({cap, "3", "--first-byte-timeout-ms", "60000"});
        ASSERT_TRUE(daemon.ready()) << daemon.log();
        std::vector<int> open;
        for (int i = 0; i < 3; ++i) open.push_back(connect_raw());
        int newest = connect_raw();
        EXPECT_TRUE(closed_by_daemon(newest)) << cap << daemon.log();
        ::close(newest);
        EXPECT_TRUE(daemon.wait_for_log("refusing a connection of uid 0: 3 open")) << daemon.log();
        // The first three still hold a place: a call on one is answered.
        send_call(open[0], call_header(VELKD_GET_NORM_THRESHOLD, {4}));
        EXPECT_EQ(accept_status(read_reply(open[0])), static_cast<uint32_t>(SUCCESS)) << cap;
        for (int fd : open) ::close(fd);
    }
}

TEST(Starvation, ASlowReaderOfALargeReplyIsDroppedAtItsDeadline) {
    // 1,000 sensors whose ids take 1,000 bytes each: a reply of over 2 MB.
    Description wide;
    for (int i = 1; i <= 1000; ++i) wide.sensor(std::to_string(i) + std::string(1000, 'x'), i);
    DaemonProcess daemon({"--config", wide.write("wide.toml"), "--reply-timeout-ms", "1000"});
    ASSERT_TRUE(daemon.ready()) << daemon.log();
    int fd = connect_raw();
    send_call(fd, call_header(VELKD_GET_SENSOR_ATTRS));
    auto asked = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the reply fills the socket
    char* strid = nullptr;
    EXPECT_EQ(velkdirectfe_logical_num_to_strid(0, 4, &strid), 0) << "others are served meanwhile";
    std::free(strid);
    std::this_thread::sleep_for(std::chrono::milliseconds(1700)); // past the deadline
    std::size_t received = 0;
    char buffer[65536];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) received += static_cast<std::size_t>(n);
    EXPECT_GT(seconds_since(asked), 1.9);
    EXPECT_GT(received, 0u);
    EXPECT_LT(received, 2000000u) << "the reply was cut off";
    ::close(fd);
}

} // namespace
} // namespace velkd::test
