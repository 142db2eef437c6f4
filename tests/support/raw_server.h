// A raw peer on the daemon's socket path, for tests that need a daemon no
// RPC library would make: it reads the call record of each connection and
// then does with the connection whatever the test's script says, byte by
// byte. Serves from a thread of the test process, as the test's user.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>
#include <thread>

#include "wire_codec.h"

namespace vdfe::test {

// A listening socket on the daemon's path (a stale one removed first).
int listen_on_socket_path();

// A system account for tests of who may answer, created once and shared by
// tests running at the same time.
struct TestUser {
    uid_t uid;
    gid_t gid;
};
TestUser test_user(const std::string& name);

struct CallRecord {
    uint32_t xid = 0;
    uint32_t procedure = 0;
    Bytes body; // the call record without its marks
};

// Reads one whole call record (every fragment). False on end of stream.
bool read_call(int fd, CallRecord* call);
// Sends everything; false once the peer is gone (no SIGPIPE).
bool send_bytes(int fd, const Bytes& bytes);
// A record mark: the fragment's length, and whether it ends the record.
Bytes record_mark(uint32_t length, bool last);
// One record of one fragment holding body.
Bytes one_record(const Bytes& body);
// The head of an accepted, successful reply: xid, REPLY, MSG_ACCEPTED, a
// null verifier, SUCCESS. The procedure's result follows it.
Bytes success_reply_head(uint32_t xid);

class RawServer {
public:
    // The script runs once per connection, after the call has been read,
    // and owns nothing: the server closes the connection when it returns.
    using Script = std::function<void(int fd, const CallRecord& call)>;

    explicit RawServer(Script script);
    ~RawServer();
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    int connections() const { return connections_; }

private:
    Script script_;
    int listener_;
    std::atomic<int> connections_{0};
    std::thread thread_;
};

} // namespace vdfe::test
