// The call frame against real peers: connecting with retry, the bytes of a
// call, SIGPIPE; peers that are broken or hostile, against which every call
// ends within its time limit with bounded memory; and who may answer at all.
// (What each call sends and returns, and that every path closes its socket,
// is proven over the call table in tests/api.)
#include <gtest/gtest.h>

#include <grp.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

#include "cancellable_thread.h"
#include "test_daemon.h"
#include "transport/call_limits.h"
#include "velkdirectfe.h"

using namespace vdfe::test;
using namespace std::chrono;
using vdfe::kReplyByteLimit;

// Without a daemon a call gives -1 after three attempts, writes nothing, and
// reads no input it has no use for: disabling polling leaves its poll short,
// in a page that cannot be read, alone. Opening and closing need no daemon.
TEST(Connection, NoDaemonGivesMinusOneAfterThreeAttemptsAndWritesNothing) {
    auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void* guard = mmap(nullptr, page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(guard, MAP_FAILED);
    uint32_t word = 5;
    auto start = steady_clock::now();
    auto* unreadable = static_cast<const uint16_t*>(guard);
    EXPECT_EQ(velkdirectfe_disable_sensor_polling(0, 1, &word, unreadable), -1);
    EXPECT_GE(steady_clock::now() - start, milliseconds(1900)); // two pauses of a second
    EXPECT_EQ(word, 5u);
    munmap(guard, page);
    int handle = 42;
    EXPECT_EQ(velkdirectfe_open(&handle), 0);
    EXPECT_EQ(handle, 0);
    EXPECT_EQ(velkdirectfe_close(handle), 0);
    EXPECT_EQ(velkdirectfe_close(-5), 0);
}

TEST(Connection, DaemonThatStartsBetweenAttemptsIsReached) {
    TestDaemon daemon(milliseconds(500));
    daemon.reply_status(19, 0);
    EXPECT_EQ(velkdirectfe_reset_all_sensors_state(0), 0);
}

namespace {

// A listener on the daemon's path holding one connection it has not
// accepted: with a backlog of 0 the kernel refuses any other until then.
struct FullBacklog {
    FullBacklog() : listener(listen_on_socket_path()), filler(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, VELKD_SOCKET_PATH);
        if (listen(listener, 0) != 0 || connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            abort();
    }
    ~FullBacklog() {
        close(filler);
        close(listener);
        unlink(VELKD_SOCKET_PATH);
    }
    int listener, filler;
};

} // namespace

// The daemon is busy, not absent: the call waits past the pauses between
// attempts for its turn, and is answered.
TEST(Connection, DaemonWithAFullBacklogIsWaitedFor) {
    FullBacklog busy;
    std::thread daemon([&busy] {
        std::this_thread::sleep_for(milliseconds(2500));
        close(accept(busy.listener, nullptr, nullptr)); // the one that filled it
        pollfd next{busy.listener, POLLIN, 0};
        if (poll(&next, 1, 10000) != 1) return; // the call gave up
        int fd = accept(busy.listener, nullptr, nullptr);
        CallRecord call;
        if (read_call(fd, &call)) send_bytes(fd, one_record(success_reply_head(call.xid) + words({0})));
        close(fd);
    });
    auto start = steady_clock::now();
    EXPECT_EQ(velkdirectfe_reset_all_sensors_state(0), 0);
    EXPECT_GE(steady_clock::now() - start, milliseconds(2400));
    daemon.join();
}

namespace {

// Where a call is when its thread is cancelled: what it meets is set up
// first, and lives until the thread has been joined.
struct CancelCase {
    const char* name;
    std::function<std::shared_ptr<void>()> meet;
};
void PrintTo(const CancelCase& c, std::ostream* out) { *out << c.name; }

const CancelCase kCancelled[] = {
    {"WaitingForTheReplyOfASilentDaemon",
     [] {
         auto daemon = std::make_shared<TestDaemon>();
         daemon->script(8, {Behaviour::silent, {}});
         return daemon;
     }},
    {"ConnectingToAFullBacklog", [] { return std::make_shared<FullBacklog>(); }},
    {"PausingBetweenAttemptsWithoutADaemon", [] { return std::shared_ptr<void>(); }},
};

class CancelledCaller : public testing::TestWithParam<CancelCase> {};

} // namespace

// A caller's thread cancelled in the middle of a call ends as one cancelled
// in a blocking read would: the process lives on, the call's socket is
// closed and its memory released (the leak checker watches the process).
TEST_P(CancelledCaller, ThreadEndsAndTheCallLeavesNothingBehind) {
    SKIP_WHERE_CANCELLATION_CANNOT_UNWIND();
    std::shared_ptr<void> peer = GetParam().meet();
    int descriptors = settled_descriptors();
    CancellableThread caller([] {
        velkdirectfe_plat_names_t names{};
        velkdirectfe_get_platform_names(0, &names);
    });
    std::this_thread::sleep_for(milliseconds(400)); // well inside the call
    caller.cancel();
    EXPECT_EQ(caller.join(), PTHREAD_CANCELED);
    EXPECT_EQ(settled_descriptors(), descriptors);
}

INSTANTIATE_TEST_SUITE_P(Calls, CancelledCaller, testing::ValuesIn(kCancelled),
                         [](const auto& info) { return std::string(info.param.name); });

// A peer that accepts, reads a little and closes: the library's next write
// would raise SIGPIPE, which must neither kill the process nor reach it.
TEST(CallFrame, PeerClosingMidCallRaisesNoSignal) {
    int listener = listen_on_socket_path();
    std::thread peer([listener] {
        int connection = accept(listener, nullptr, nullptr);
        char some[64];
        (void)!read(connection, some, sizeof some);
        close(connection);
    });
    sigset_t before_mask, after_mask, pending;
    pthread_sigmask(SIG_SETMASK, nullptr, &before_mask);
    struct sigaction before_action {};
    sigaction(SIGPIPE, nullptr, &before_action);
    std::vector<uint8_t> huge(1 << 20, 0x5A); // 4 MB on the wire: more than the socket buffers hold
    int32_t result = 3;
    EXPECT_EQ(velkdirectfe_write_fru_direct(0, "fru", 0, 1 << 20, huge.data(), &result), -1);
    peer.join();
    close(listener);
    pthread_sigmask(SIG_SETMASK, nullptr, &after_mask);
    EXPECT_EQ(sigismember(&after_mask, SIGPIPE), sigismember(&before_mask, SIGPIPE));
    sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE));
    struct sigaction after_action {};
    sigaction(SIGPIPE, nullptr, &after_action);
    EXPECT_EQ(after_action.sa_handler, before_action.sa_handler);
    EXPECT_EQ(result, 3);
}

// The library's own client puts on the wire what libtirpc's stream client
// puts there for the same call, apart from the transaction id; and the
// exported stubs still work over a client from clntunix_create.
TEST(CallFrame, CallBytesAreThoseOfLibtirpcsStreamClient) {
    std::vector<CallRecord> seen;
    std::mutex seen_mutex;
    RawServer server([&](int fd, const CallRecord& call) {
        std::lock_guard lock(seen_mutex);
        seen.push_back(call);
        send_bytes(fd, one_record(success_reply_head(call.xid) + words({0, 20000})));
    });
    std::vector<uint8_t> data(20000, 0x5A); // beyond one libtirpc fragment and the stack buffer
    int32_t written = 0;
    ASSERT_EQ(velkdirectfe_write_fru_direct(0, "mainboard", 4, 20000, data.data(), &written), 0);
    EXPECT_EQ(written, 20000);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, VELKD_SOCKET_PATH);
    int sock = RPC_ANYSOCK;
    CLIENT* client = clntunix_create(&address, VELKD_PROG, VELKD_VERS, &sock, 0, 0);
    ASSERT_NE(client, nullptr);
    char name[] = "mainboard";
    fru_direct_write_t argument{name, 4, 20000, 20000, data.data()};
    fru_write_res result{};
    EXPECT_EQ(velkd_write_fru_direct_1(&argument, &result, client), RPC_SUCCESS);
    EXPECT_EQ(result.write_result, 20000);
    clnt_freeres(client, vdfe::wire::xdr_routine(xdr_fru_write_res), (char*)&result);
    clnt_control(client, CLSET_FD_CLOSE, nullptr);
    clnt_destroy(client);
    std::lock_guard lock(seen_mutex);
    ASSERT_EQ(seen.size(), 2u);
    Bytes ours = seen[0].body, theirs = seen[1].body;
    ASSERT_GT(ours.size(), 20000u);
    std::fill_n(ours.begin(), 4, 0);
    std::fill_n(theirs.begin(), 4, 0);
    EXPECT_EQ(ours, theirs);
}

namespace {

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

void send_forever(int fd, const Bytes& bytes) {
    while (send_bytes(fd, bytes)) {}
}

// A reply record to the call: its xid, REPLY, then `rest`.
RawServer::Script replying(Bytes rest) {
    return [rest](int fd, const CallRecord& call) { send_bytes(fd, one_record(words({call.xid, 1}) + rest)); };
}

struct HostileCase {
    const char* name;
    RawServer::Script script;
    seconds at_least{0}, within{30}; // a malformed reply fails at once; time limits take 25 s
};
void PrintTo(const HostileCase& c, std::ostream* out) { *out << c.name; }

const HostileCase kHostile[] = {
    {"WrongTransactionIdsWithoutEnd",
     [](int fd, const CallRecord& call) {
         for (uint32_t i = 1; i; ++i) // each a sound reply with status 5, but to another call
             if (!send_bytes(fd, one_record(success_reply_head(call.xid + i) + words({5})))) return;
     },
     seconds(0), seconds(10)},
    {"GarbageRecordsWithoutEnd",
     [](int fd, const CallRecord&) { send_forever(fd, one_record(Bytes(4096, 0xA5))); }, seconds(0),
     seconds(10)},
    {"ValidReplyTrickledPastTheLimit",
     [](int fd, const CallRecord& call) {
         Bytes reply = one_record(success_reply_head(call.xid) + words({0, 1}) + xdr_str("a") +
                                  xdr_str("b"));
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
         if (send_bytes(fd, record_mark(uint32_t(first.size()), false) + first))
             send_forever(fd, record_mark(1 << 16, false) + Bytes(1 << 16, 'f'));
     }},
    {"StringClaimStreamedWithoutEnd",
     [](int fd, const CallRecord& call) {
         Bytes head = success_reply_head(call.xid) + words({0, 1, 0xFFFFFFF0u});
         if (send_bytes(fd, record_mark(0x7FFFFFFF, true) + head))
             send_forever(fd, Bytes(1 << 16, 's'));
     }},
    // Every kind of rejection: denied (RPC version, authentication) or
    // accepted with a verifier and a failure.
    {"DeniedRpcVersionMismatch", replying(words({1, 0, 2, 2})), seconds(0), seconds(10)},
    {"DeniedAuthenticationError", replying(words({1, 1, 5})), seconds(0), seconds(10)},
    {"AcceptedProgramVersionMismatch", replying(words({0, 0, 0, 2, 2, 3})), seconds(0), seconds(10)},
    {"AcceptedProgramUnavailable", replying(words({0, 0, 0, 1})), seconds(0), seconds(10)},
    {"AcceptedProcedureUnavailable", replying(words({0, 0, 0, 3})), seconds(0), seconds(10)},
    {"AcceptedGarbageArguments", replying(words({0, 0, 0, 4})), seconds(0), seconds(10)},
    {"AcceptedSystemError", replying(words({0, 0, 0, 5})), seconds(0), seconds(10)},
    {"ReplyJustOverTheSizeLimit",
     [](int fd, const CallRecord& call) {
         send_names_reply(fd, call.xid, uint32_t(kReplyByteLimit - names_record_bytes(0) + 4));
     }},
};

class HostileDaemon : public testing::TestWithParam<HostileCase> {};

} // namespace

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
    EXPECT_LT(peak_resident_bytes(), 4 * kReplyByteLimit);
}

INSTANTIATE_TEST_SUITE_P(Peers, HostileDaemon, testing::ValuesIn(kHostile),
                         [](const auto& info) { return std::string(info.param.name); });

namespace {

// Runs body in a child process as `user` and gives its exit status.
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
            for (int i = 0; i < 2000 && server.connections() == 0; ++i)
                std::this_thread::sleep_for(milliseconds(10));
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
    return exit_status(fork_as(user, [] { return velkdirectfe_reset_all_sensors_state(0) != 0; }));
}

} // namespace

TEST(PeerCheck, DaemonOfAnotherUserIsRefusedWithNothingSent) {
    pid_t daemon = daemon_as(test_user("vdt10peer"));
    auto start = steady_clock::now();
    EXPECT_EQ(velkdirectfe_reset_all_sensors_state(0), -1);
    EXPECT_LT(steady_clock::now() - start, milliseconds(900)); // refused at once, not retried
    EXPECT_EQ(exit_status(daemon), 1);
}

TEST(PeerCheck, DaemonOfTheCallersOwnUserOrOfRootIsAccepted) {
    TestUser user = test_user("vdt10peer");
    pid_t daemon = daemon_as(user);
    EXPECT_EQ(call_as(user), 0);
    EXPECT_EQ(exit_status(daemon), 0);
    TestDaemon root_daemon; // this process runs as root
    root_daemon.reply_status(19, 0);
    chmod(VELKD_SOCKET_PATH, 0777); // let the user connect at all
    EXPECT_EQ(call_as(user), 0);
    EXPECT_EQ(root_daemon.call_count(), 1u);
}
