// One client connection as the event loop sees it: the call record being
// read, the reply being written, and the deadline of whichever is under way.
// What its buffers hold is counted in the server's memory budgets.
// A connection is handled by one thread at a time (its event loop, or a
// worker while it is out of the loop's set); `busy` is held meanwhile, which also orders the handling
// across workers for the thread sanitizer. The deadline check takes `busy`
// too, so that no 64-bit atomics are needed (the 32-bit target has none).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "record_marking.h"
#include "memory_budget.h"
#include "platform_holder.h"

namespace velkd {

struct ConnectionLimits {
    int first_byte_timeout_ms = 1000; // after accept, until the first byte of the first call
    int read_timeout_ms = 5000;       // a whole call, from its first byte; also the silence allowed between calls
    int reply_timeout_ms = 10000;     // a reply must progress within each such period (below)
};

// A call holding more than this must keep arriving at this many bytes a
// second; a smaller one has read_timeout_ms in all.
inline constexpr std::size_t kMinCallBytesPerSecond = 64 * 1024;
// In each reply_timeout_ms a reply must go out by this much, or to its end.
inline constexpr std::size_t kMinReplyProgressBytes = 64 * 1024;

using SteadyClock = std::chrono::steady_clock;

// Nanoseconds of the steady clock; kNoDeadline while the daemon works on a call.
using Deadline = int64_t;
constexpr Deadline kNoDeadline = INT64_MAX;
inline Deadline deadline_in(int ms) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(SteadyClock::now().time_since_epoch()).count() +
           int64_t{ms} * 1000000;
}

// Whose move it is, and so what the deadline means.
enum class Phase {
    waiting,   // for the first byte of a call
    receiving, // the rest of the call
    answering, // the daemon's: queued, answered or waiting for room for its reply
    replying,  // for the client to read the reply
};

struct Connection {
    Connection(int fd_, uid_t uid_, int epoll_) : fd(fd_), uid(uid_), epoll(epoll_) {}

    const int fd;
    const uid_t uid;  // the peer's, for the per-user cap
    const int epoll;  // the set of the event loop that serves it
    MemoryBudgets* budgets = nullptr; // shared with the other connections; null: none
    std::mutex busy;
    // Guarded by busy: the phase, when the deadline check looks next, the
    // end of the call under way and where the phase's progress stood when
    // its current period began.
    Phase phase = Phase::waiting;
    Deadline deadline = kNoDeadline;
    Deadline call_deadline = kNoDeadline;
    std::size_t progress_mark = 0;
    uint32_t events = 0; // what the loop waits for; 0: not in its set

    // The record being read: its fragments' bytes so far, and where the
    // reader is in the current fragment's marker or body.
    std::vector<char> call;
    std::size_t record_limit = 0; // what the record may count (record_limits.h); 0 until it starts
    std::size_t empty_mark_bytes = 0; // marks of empty fragments, counted against the limit
    velk::protocol::RecordMarkReader marks;
    bool in_call = false;      // the current call's first byte has come
    std::vector<char> pending; // bytes that came after a complete call

    // The reply being written.
    std::vector<char> out;
    std::size_t out_sent = 0;
};

// What comes next on a connection: wait until it is readable or writable,
// close it, or answer the complete call it holds.
enum class Next { read, write, close, answer };

// Called when the connection is readable, or writable while a reply waits.
Next on_readable(Connection& c, const ConnectionLimits& limits);
Next on_writable(Connection& c, const ConnectionLimits& limits);
// Whether answering the complete call may wait (see Platform::may_wait).
bool call_may_wait(const Connection& c, const PlatformHolder& platforms);
// Answers the complete call and writes what it can of the reply.
Next answer_call(Connection& c, const ConnectionLimits& limits, const PlatformHolder& platforms);
// Called once `now` is past the deadline: true when the client is not at
// fault (it keeps up, or the daemon has not yet looked at what it sent or
// read), with the next deadline set; false when it is to be dropped.
bool keep_past_deadline(Connection& c, const ConnectionLimits& limits, Deadline now);

} // namespace velkd
