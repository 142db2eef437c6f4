// A scriptable daemon for end-to-end tests: a real ONC RPC server on
// libtirpc's server side, bound to the library's socket path (inside the
// test's private /tmp). Each procedure answers as the test scripts it, and
// the argument bytes of every call are recorded.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "wire_codec.h"

namespace vdfe::test {

enum class Behaviour {
    reply,        // send the scripted result bytes
    no_procedure, // PROC_UNAVAIL
    garbage_args, // GARBAGE_ARGS
    hang_up,      // close the connection without a reply
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
    size_t call_count() const;

private:
    void serve(std::chrono::milliseconds start_delay);
    void dispatch(struct svc_req* request, SVCXPRT* transport);
    static void dispatch_trampoline(struct svc_req* request, SVCXPRT* transport);

    mutable std::mutex mutex_;
    std::condition_variable ready_cv_;
    bool ready_ = false;
    bool stopping_ = false;
    std::map<uint32_t, Script> scripts_;
    std::vector<ReceivedCall> calls_;
    std::thread thread_;
};

} // namespace vdfe::test
