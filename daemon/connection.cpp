#include "connection.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "call_io.h"
#include "record_limits.h"
#include "handlers.h"
#include "log.h"
#include "velkdirectfe_wire.h"
#include "wire/xdr_routine.h"

namespace velkd {
namespace {

// ---- encoding replies -----------------------------------------------------------

// Each worker keeps one record-marking encoder whose output goes to the
// vector of the reply at hand, so a reply costs no encoder set-up.
class ReplyEncoder {
public:
    ReplyEncoder() { create(); }
    ~ReplyEncoder() { XDR_DESTROY(&xdrs_); }
    ReplyEncoder(const ReplyEncoder&) = delete;
    ReplyEncoder& operator=(const ReplyEncoder&) = delete;

    bool encode(rpc_msg& reply, std::vector<char>& out) {
        out_ = &out;
        xdrs_.x_op = XDR_ENCODE;
        bool done = xdr_replymsg(&xdrs_, &reply) && xdrrec_endofrecord(&xdrs_, TRUE);
        if (!done) { // a half-encoded record stays in the buffer: start afresh
            XDR_DESTROY(&xdrs_);
            create();
        }
        out_ = nullptr;
        return done;
    }

private:
    static constexpr u_int kFragmentBytes = 64 * 1024;

    void create() { xdrrec_create(&xdrs_, kFragmentBytes, 0, this, no_read, append); }
    static int no_read(void*, void*, int) { return -1; }
    static int append(void* handle, void* data, int length) {
        auto* self = static_cast<ReplyEncoder*>(handle);
        const char* bytes = static_cast<const char*>(data);
        self->out_->insert(self->out_->end(), bytes, bytes + length);
        return length;
    }

    XDR xdrs_{};
    std::vector<char>* out_ = nullptr;
};

ReplyEncoder& encoder() {
    thread_local ReplyEncoder instance;
    return instance;
}

// ---- reading call records ---------------------------------------------------------

enum class Feed { more, call, too_big };

// Buffers of a connection larger than this are given back between calls.
constexpr std::size_t kKeptBufferBytes = 8 * 1024;

// What the record counts against its limit.
std::size_t counted(const Connection& c) { return c.call.size() + c.empty_mark_bytes; }

// Room for `more` bytes: the buffer grows with the bytes that come, never
// with a claim, and never past the record's limit, so that what it holds
// stays close to what came.
void make_room(Connection& c, std::size_t more) {
    std::size_t need = c.call.size() + more;
    if (need <= c.call.capacity()) return;
    c.call.reserve(std::max(need, std::min(2 * c.call.capacity(), c.record_limit)));
}

// Gives a large buffer back, and says so for the heap's next trim.
void release_if_large(Connection& c, std::vector<char>& buffer) {
    if (buffer.capacity() <= kKeptBufferBytes) return;
    if (c.budgets != nullptr) c.budgets->freed += buffer.capacity();
    std::vector<char>().swap(buffer);
}

// Takes bytes of the record stream from [at, end) until the current record
// is complete; `at` is left after what was taken.
Feed feed(Connection& c, const char*& at, const char* end) {
    if (c.record_limit == 0) c.record_limit = largest_record_limit();
    while (at < end) {
        if (!c.marks.in_body()) {
            if (!c.marks.read_mark(at, end)) break;
            const velk::protocol::FragmentMark& mark = c.marks.mark();
            if (mark.length == 0 && !mark.last) c.empty_mark_bytes += velk::protocol::kMarkBytes;
            if (mark.length > c.record_limit || counted(c) > c.record_limit - mark.length) return Feed::too_big;
        }
        std::size_t take = c.marks.body_bytes(static_cast<std::size_t>(end - at));
        bool had_head = c.call.size() >= kCallHeadWords * 4;
        make_room(c, take);
        c.call.insert(c.call.end(), at, at + take);
        at += take;
        std::size_t left = c.marks.fragment_left() - take;
        // The header names the procedure, and with it the record's own limit.
        if (!had_head && c.call.size() >= kCallHeadWords * 4) {
            c.record_limit = record_limit(c.call.data());
            if (counted(c) > c.record_limit || left > c.record_limit - counted(c)) return Feed::too_big;
        }
        if (c.marks.took_body(take)) return Feed::call;
    }
    return Feed::more;
}

// A client dropped to keep the calls within their budget: shutting its
// socket down makes it readable, and its event loop (or the worker holding
// it) then closes it and frees what it held.
void drop_for_budget(Connection* c) {
    log(LogLevel::debug, "dropping the client holding the most of the calls not yet answered: their budget is spent");
    ::shutdown(c->fd, SHUT_RDWR);
}

// Tells the budgets what the connection holds now: its call (partly
// received, or whole and not yet answered) and the reply the client has not
// read yet. False when it is dropped to keep the calls within theirs.
bool account(Connection& c) {
    if (c.budgets == nullptr) return true;
    c.budgets->replies.charge(&c, c.out_sent < c.out.size() ? c.out.capacity() : 0);
    return c.budgets->calls.hold(&c, c.call.capacity() + c.pending.capacity(), drop_for_budget);
}

void start_call(Connection& c, const ConnectionLimits& limits) {
    c.in_call = true;
    c.phase = Phase::receiving;
    c.call_deadline = deadline_in(limits.read_timeout_ms);
    c.deadline = std::min(c.call_deadline, deadline_in(1000));
    c.progress_mark = 0;
}

// ---- answering a call ---------------------------------------------------------------

// Answers one decoded call header; false when the reply cannot be encoded.
bool dispatch(CallIo& io, const rpc_msg& msg, const PlatformHolder& platforms, uid_t uid) {
    const call_body& body = msg.rm_call;
    if (body.cb_prog != VELKD_PROG) return io.reply_error(PROG_UNAVAIL);
    if (body.cb_vers != VELKD_VERS) return io.reply_mismatch();
    if (body.cb_proc == NULLPROC) return io.reply(vdfe::wire::xdr_routine(xdr_void), nullptr);
    const ProcedureEntry* entry = find_procedure(body.cb_proc);
    if (entry == nullptr) {
        log(LogLevel::request, "uid {}: procedure {} unknown", uid, body.cb_proc);
        return io.reply_error(PROC_UNAVAIL);
    }
    std::shared_ptr<Platform> platform = platforms.get();
    Call call{*platform, static_cast<int>(body.cb_proc), {}, 0, {}, {}};
    auto started = SteadyClock::now();
    bool sent = entry->serve(call, io);
    if (log_enabled(LogLevel::request)) {
        auto us = std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::now() - started).count();
        if (call.status == -1)
            log(LogLevel::request, "uid {}: {}: undecodable or out-of-range argument", uid, entry->name);
        else
            log(LogLevel::request, "uid {}: {}{}{}: status {} ({} us)", uid, entry->name,
                call.subject.empty() ? "" : " ", call.subject, call.status, us);
    }
    return sent;
}

uint32_t word_at(const std::vector<char>& bytes, std::size_t index) {
    uint32_t word;
    std::memcpy(&word, bytes.data() + 4 * index, 4);
    return ntohl(word);
}

// Decodes the complete call in c.call and encodes its reply into c.out;
// false when the connection should be dropped (not an RPC call).
bool answer(Connection& c, const PlatformHolder& platforms) {
    // xid, direction, RPC version: a call of another RPC version is told
    // which one this daemon speaks.
    if (c.call.size() >= 12 && word_at(c.call, 1) == CALL && word_at(c.call, 2) != RPC_MSG_VERSION) {
        rpc_msg header{};
        header.rm_xid = word_at(c.call, 0);
        CallIo io(nullptr, nullptr, header, c.out);
        log(LogLevel::debug, "a call of RPC version {}: RPC_MISMATCH", word_at(c.call, 2));
        return io.reply_rpc_mismatch();
    }
    XDR xdrs;
    xdrmem_create(&xdrs, c.call.data(), static_cast<u_int>(c.call.size()), XDR_DECODE);
    char credentials[2 * MAX_AUTH_BYTES];
    rpc_msg msg{};
    msg.rm_call.cb_cred.oa_base = credentials;
    msg.rm_call.cb_verf.oa_base = credentials + MAX_AUTH_BYTES;
    bool ok = xdr_callmsg(&xdrs, &msg);
    if (!ok) {
        log(LogLevel::debug, "dropping a client that sent no RPC call");
    } else {
        CallIo io(&xdrs, c.call.data(), msg, c.out);
        ok = dispatch(io, msg, platforms, c.uid);
    }
    XDR_DESTROY(&xdrs);
    return ok;
}

// Sends what is left of the reply without blocking.
Next flush(Connection& c) {
    while (c.out_sent < c.out.size()) {
        ssize_t n = ::send(c.fd, c.out.data() + c.out_sent, c.out.size() - c.out_sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            c.out_sent += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return Next::write;
        } else {
            return Next::close;
        }
    }
    return Next::read;
}

// Once a reply is out: waits for the next call, or takes it from bytes that
// came with the last one. Empty when a complete call is in c.call.
std::optional<Next> next_call(Connection& c, const ConnectionLimits& limits) {
    c.out.clear();
    release_if_large(c, c.out);
    c.out_sent = 0;
    c.phase = Phase::waiting;
    c.deadline = deadline_in(limits.read_timeout_ms);
    if (c.pending.empty()) return account(c) ? Next::read : Next::close;
    std::vector<char> bytes;
    bytes.swap(c.pending);
    const char* at = bytes.data();
    start_call(c, limits);
    Feed fed = feed(c, at, bytes.data() + bytes.size());
    if (fed == Feed::call) c.pending.assign(at, static_cast<const char*>(bytes.data() + bytes.size()));
    if (fed == Feed::too_big || !account(c)) return Next::close;
    if (fed == Feed::more) return Next::read;
    return std::nullopt;
}

} // namespace

// ---- CallIo on the call in memory -----------------------------------------------

bool CallIo::decode_args(xdrproc_t routine, void* args) {
    u_int start = xdr_getpos(args_);
    if (!routine(args_, args, 0)) return false;
    // Decoding narrows silently (a u_char takes any 32-bit word) and stops a
    // string at its first NUL; encoding the result again shows both.
    u_int size = xdr_getpos(args_) - start;
    thread_local std::vector<char> again;
    again.assign(size + 4, 0);
    XDR check;
    xdrmem_create(&check, again.data(), size + 4, XDR_ENCODE);
    bool same = routine(&check, args, 0) && xdr_getpos(&check) == size;
    XDR_DESTROY(&check);
    return same && std::memcmp(again.data(), record_ + start, size) == 0;
}

void CallIo::free_args(xdrproc_t routine, void* args) { xdr_free(routine, static_cast<char*>(args)); }

bool CallIo::send(rpc_msg& reply) {
    reply.rm_xid = call_.rm_xid;
    reply.rm_direction = REPLY;
    return encoder().encode(reply, out_);
}

bool CallIo::reply(xdrproc_t routine, void* result) {
    rpc_msg reply{};
    reply.rm_reply.rp_stat = MSG_ACCEPTED;
    reply.acpted_rply.ar_verf = _null_auth;
    reply.acpted_rply.ar_stat = SUCCESS;
    reply.acpted_rply.ar_results.where = static_cast<caddr_t>(result);
    reply.acpted_rply.ar_results.proc = routine;
    return send(reply);
}

bool CallIo::reply_error(accept_stat status) {
    rpc_msg reply{};
    reply.rm_reply.rp_stat = MSG_ACCEPTED;
    reply.acpted_rply.ar_verf = _null_auth;
    reply.acpted_rply.ar_stat = status;
    return send(reply);
}

bool CallIo::reply_mismatch() {
    rpc_msg reply{};
    reply.rm_reply.rp_stat = MSG_ACCEPTED;
    reply.acpted_rply.ar_verf = _null_auth;
    reply.acpted_rply.ar_stat = PROG_MISMATCH;
    reply.acpted_rply.ar_vers.low = VELKD_VERS;
    reply.acpted_rply.ar_vers.high = VELKD_VERS;
    return send(reply);
}

bool CallIo::reply_rpc_mismatch() {
    rpc_msg reply{};
    reply.rm_reply.rp_stat = MSG_DENIED;
    reply.rjcted_rply.rj_stat = RPC_MISMATCH;
    reply.rjcted_rply.rj_vers.low = RPC_MSG_VERSION;
    reply.rjcted_rply.rj_vers.high = RPC_MSG_VERSION;
    return send(reply);
}

// ---- the connection's events -------------------------------------------------------

Next on_readable(Connection& c, const ConnectionLimits& limits) {
    thread_local std::vector<char> scratch(64 * 1024);
    for (;;) {
        ssize_t n = ::recv(c.fd, scratch.data(), scratch.size(), MSG_DONTWAIT);
        if (n > 0) {
            if (!c.in_call) start_call(c, limits);
            const char* at = scratch.data();
            const char* end = at + n;
            Feed fed = feed(c, at, end);
            if (fed == Feed::too_big) {
                log(LogLevel::debug, "dropping a client whose call exceeds its limit of {} bytes", c.record_limit);
                return Next::close;
            }
            if (fed == Feed::call) c.pending.assign(at, end);
            if (!account(c)) return Next::close;
            if (fed == Feed::call) return Next::answer;
            // A short read drained the socket; the loop reports more bytes.
            if (static_cast<std::size_t>(n) < scratch.size()) return Next::read;
        } else if (n == 0) {
            if (c.in_call) log(LogLevel::debug, "dropping a client that closed in the middle of a call");
            return Next::close;
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return Next::read;
        } else {
            return Next::close;
        }
    }
}

Next on_writable(Connection& c, const ConnectionLimits& limits) {
    Next next = flush(c);
    if (next != Next::read) return next;
    if (auto wait = next_call(c, limits)) return *wait;
    return Next::answer;
}

bool call_may_wait(const Connection& c, const PlatformHolder& platforms) {
    // xid, direction, RPC version, program, version, procedure
    return c.call.size() >= 24 && platforms.get()->may_wait(word_at(c.call, 5));
}

Next answer_call(Connection& c, const ConnectionLimits& limits, const PlatformHolder& platforms) {
    c.in_call = false;
    c.phase = Phase::answering;
    c.deadline = kNoDeadline;
    bool answered = answer(c, platforms);
    c.call.clear();
    release_if_large(c, c.call); // an idle client keeps little
    c.record_limit = 0;
    c.empty_mark_bytes = 0;
    if (!answered) return Next::close;
    c.out_sent = 0;
    Next next = flush(c);
    if (next == Next::write) {
        // The buffer grew by doubling: what the reply does not use goes back
        // before it waits on the reader, and only its bytes are counted.
        if (c.out.capacity() - c.out.size() > c.out.size() / 8) c.out.shrink_to_fit();
        c.phase = Phase::replying;
        c.deadline = deadline_in(limits.reply_timeout_ms);
        c.progress_mark = c.out_sent;
    }
    if (!account(c)) return Next::close;
    if (next != Next::read) return next;
    if (auto wait = next_call(c, limits)) return *wait;
    return Next::answer; // another call came with this one
}

bool keep_past_deadline(Connection& c, const ConnectionLimits& limits, Deadline now) {
    // What the client sent or read that the daemon has not yet got to (its
    // loops were busy) does not count against it: look again shortly.
    pollfd ready{c.fd, static_cast<short>(c.phase == Phase::replying ? POLLOUT : POLLIN), 0};
    if (::poll(&ready, 1, 0) == 1 && (ready.revents & (POLLIN | POLLOUT)) != 0) {
        c.deadline = now + 100 * int64_t{1000000};
        return true;
    }
    switch (c.phase) {
    case Phase::receiving:
        if (now >= c.call_deadline) break;
        // Each second, a call holding more than kMinCallBytesPerSecond must
        // have grown by that much.
        if (counted(c) > kMinCallBytesPerSecond && counted(c) - c.progress_mark < kMinCallBytesPerSecond) {
            log(LogLevel::debug, "dropping a client whose call of {} bytes so far arrives too slowly", counted(c));
            return false;
        }
        c.progress_mark = counted(c);
        c.deadline = std::min(c.call_deadline, now + 1000 * int64_t{1000000});
        return true;
    case Phase::replying:
        if (c.out_sent - c.progress_mark >= std::min(kMinReplyProgressBytes, c.out.size() - c.progress_mark)) {
            c.progress_mark = c.out_sent;
            c.deadline = now + limits.reply_timeout_ms * int64_t{1000000};
            return true;
        }
        break;
    case Phase::waiting:
        break;
    case Phase::answering:
        c.deadline = kNoDeadline;
        return true;
    }
    log(LogLevel::debug, "dropping a client past its deadline");
    return false;
}

} // namespace velkd
