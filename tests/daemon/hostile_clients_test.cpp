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

#include <cstdlib>
#include <cstring>
#include <vector>

#include "daemon_process.h"
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

Words call_header(uint32_t procedure) {
    return {0x1234, 0 /* CALL */, 2, VELKD_PROG, VELKD_VERS, procedure, 0, 0, 0, 0};
}

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

TEST_F(HostileClients, GarbageIsDropped) {
    int fd = connect_raw();
    const char garbage[] = "GET / HTTP/1.1\r\nHost: velkd\r\n\r\n";
    send_bytes(fd, garbage, sizeof garbage);
    EXPECT_TRUE(closed_by_daemon(fd));
    ::close(fd);
    EXPECT_TRUE(others_are_served());
}

TEST_F(HostileClients, TruncatedCallIsDropped) {
    int fd = connect_raw();
    Words header = call_header(VELKD_GET_SENS_VAL);
    header.resize(6); // the credentials never come
    send_record(fd, header, 200);
    ::shutdown(fd, SHUT_WR);
    EXPECT_TRUE(closed_by_daemon(fd));
    ::close(fd);
    EXPECT_TRUE(others_are_served());
}

TEST_F(HostileClients, HugeStringClaimIsGarbageArgs) {
    int fd = connect_raw();
    Words call = call_header(VELKD_GET_SENSOR_ATTR);
    call.push_back(0xFFFFFFF0u); // a 4 GB name, of which 8 bytes follow
    call.push_back(0x41414141);
    call.push_back(0x41414141);
    send_record(fd, call, static_cast<uint32_t>(call.size() * 4));
    EXPECT_EQ(accept_status(read_reply(fd)), static_cast<uint32_t>(GARBAGE_ARGS));
    ::close(fd);
    EXPECT_TRUE(others_are_served());
}

TEST_F(HostileClients, HugeClaimsInsideRecordsCostNothingLasting) {
    // A conversion naming a 4 GB sensor id, and a FRU write of 4 G bytes.
    Words conversion = call_header(VELKD_RAW_TO_NORM);
    conversion.insert(conversion.end(), {0xFFFFFFFFu, 0x41414141});
    Words write = call_header(VELKD_WRITE_FRU_DIRECT);
    write.insert(write.end(), {4, 0x70737530 /* "psu0" */, 0, 0xFFFFFFFFu, 0xFFFFFFFFu, 1, 2});
    for (const Words& call : {conversion, write}) {
        // A complete record: the argument is refused.
        int fd = connect_raw();
        send_record(fd, call, static_cast<uint32_t>(call.size() * 4));
        EXPECT_EQ(accept_status(read_reply(fd)), static_cast<uint32_t>(GARBAGE_ARGS));
        ::close(fd);
        // A record whose bytes stop coming: the client is dropped at its
        // deadline, without a reply, and others are served meanwhile.
        fd = connect_raw();
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
        Words call = call_header(VELKD_GET_NORM_THRESHOLD);
        call.push_back(4);
        send_record(fd, call, static_cast<uint32_t>(call.size() * 4));
        Words reply = read_reply(fd);
        ASSERT_EQ(accept_status(reply), static_cast<uint32_t>(SUCCESS));
        EXPECT_EQ(reply.at(6), 0u) << "status";
    }
    ::close(fd);
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

TEST_F(HostileClients, UnservedProgramsVersionsAndProceduresGetRpcErrors) {
    EXPECT_EQ(call_with(VELKD_PROG, VELKD_VERS, 0), RPC_SUCCESS) << "the null procedure";
    EXPECT_EQ(call_with(VELKD_PROG, VELKD_VERS, 30), RPC_PROCUNAVAIL);
    EXPECT_EQ(call_with(VELKD_PROG, 2, 1), RPC_PROGVERSMISMATCH);
    EXPECT_EQ(call_with(0x20000004u, VELKD_VERS, 1), RPC_PROGUNAVAIL);
    EXPECT_TRUE(others_are_served());
}

} // namespace
} // namespace velkd::test
