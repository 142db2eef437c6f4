// The call frame against real peers: connecting with retry, the bytes of a
// call, and SIGPIPE. (What each call sends and returns, and that every path
// closes its socket, is proven over the call table in tests/api.)
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <mutex>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "test_daemon.h"
#include "velkdirectfe.h"

using namespace vdfe::test;
using namespace std::chrono;

namespace {

} // namespace

TEST(Connection, NoDaemonGivesMinusOneAfterThreeAttemptsAndWritesNothing) {
    uint32_t count = 77;
    auto* const untouched = reinterpret_cast<velkdirectfe_sensor_attr_t*>(uintptr_t{0x1234});
    velkdirectfe_sensor_attr_t* attrs = untouched;
    auto start = steady_clock::now();
    EXPECT_EQ(velkdirectfe_get_sensor_attrs(0, &count, &attrs), -1);
    EXPECT_GE(steady_clock::now() - start, milliseconds(1900)); // two pauses of a second
    EXPECT_EQ(count, 77u);
    EXPECT_EQ(attrs, untouched);
}

TEST(Connection, DaemonThatStartsBetweenAttemptsIsReached) {
    TestDaemon daemon(milliseconds(500));
    daemon.reply_status(19, 0);
    EXPECT_EQ(velkdirectfe_reset_all_sensors_state(0), 0);
}

TEST(Connection, OpenAndCloseNeedNoDaemon) {
    int handle = 42;
    EXPECT_EQ(velkdirectfe_open(&handle), 0);
    EXPECT_EQ(handle, 0);
    EXPECT_EQ(velkdirectfe_close(handle), 0);
    EXPECT_EQ(velkdirectfe_close(-5), 0);
}

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
    EXPECT_EQ(velkdirectfe_write_fru_direct(0, "fru", 0, static_cast<uint32_t>(huge.size()), huge.data(), &result), -1);
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
        {
            std::lock_guard lock(seen_mutex);
            seen.push_back(call);
        }
        send_bytes(fd, one_record(success_reply_head(call.xid) + words({0, 20000})));
    });
    std::vector<uint8_t> data(20000, 0x5A); // beyond one libtirpc fragment and the client's stack buffer
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
    clnt_freeres(client, vdfe::wire::xdr_routine(xdr_fru_write_res), reinterpret_cast<char*>(&result));
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
