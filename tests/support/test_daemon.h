// Peers on the daemon's socket path (inside the test's private /tmp), served
// from a thread of the test process as the test's user:
//   RawServer   reads the call record of each connection and then does with
//               the connection whatever the test's script says, byte by byte;
//   TestDaemon  answers each procedure as the test scripts it and records
//               the argument bytes of every call.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "wire_codec.h"

namespace vdfe::test {

// A listening socket on the daemon's path (a stale one removed first).
int listen_on_socket_path();

// Descriptors open in this process, once the number has stopped moving (the
// test daemon closes its ends of connections as it sees the clients go).
int settled_descriptors();

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

enum class Behaviour {
    reply,        // send the scripted result bytes
    no_procedure, // PROC_UNAVAIL
    garbage_args, // GARBAGE_ARGS
    hang_up,      // close the connection without a reply
    silent,       // answer nothing until the client hangs up (at most 30 s)
};

struct Script {
    Behaviour behaviour = Behaviour::reply;
    Bytes result; // the encoded result, exactly as it goes on the wire
};

struct ReceivedCall {
    uint32_t procedure;
    Bytes arguments;
};

class TestDaemon {
public:
    // Starts serving; with a delay, binds the socket only after it.
    explicit TestDaemon(std::chrono::milliseconds start_delay = std::chrono::milliseconds(0));
    ~TestDaemon();
    TestDaemon(const TestDaemon&) = delete;
    TestDaemon& operator=(const TestDaemon&) = delete;

    void script(uint32_t procedure, Script script);
    void reply(uint32_t procedure, Bytes result) { script(procedure, {Behaviour::reply, std::move(result)}); }
    // Encodes value with routine and scripts it as the reply.
    template <typename T>
    void reply(uint32_t procedure, bool_t (*routine)(XDR*, T*), const T& value) {
        reply(procedure, encode(routine, value));
    }
    // Answers a bare status (or the status word of an envelope) only.
    void reply_status(uint32_t procedure, int32_t status) { reply(procedure, words({static_cast<uint32_t>(status)})); }

    std::vector<ReceivedCall> calls() const;
    // The argument bytes of the last call of a procedure (empty if none).
    Bytes last_arguments(uint32_t procedure) const;
    size_t call_count() const { return calls().size(); }

private:
    void answer(int fd, const CallRecord& call);

    mutable std::mutex mutex_;
    std::map<uint32_t, Script> scripts_;
    std::vector<ReceivedCall> calls_;
    std::unique_ptr<RawServer> server_;
    std::thread starter_;
};

} // namespace vdfe::test
