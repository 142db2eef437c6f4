// A scriptable daemon for end-to-end tests, on the library's socket path
// (inside the test's private /tmp): each procedure answers as the test
// scripts it, and the argument bytes of every call are recorded.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "raw_server.h"

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
    void answer(int fd, const CallRecord& call);

    mutable std::mutex mutex_;
    std::map<uint32_t, Script> scripts_;
    std::vector<ReceivedCall> calls_;
    std::unique_ptr<RawServer> server_;
    std::thread starter_;
};

} // namespace vdfe::test
