#include "call_client.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <type_traits>
#include <utility>

#include "call_limits.h"
#include "heap_buffer.h"
#include "record_marking.h"

namespace vdfe {
namespace {

using velk::protocol::kLastFragment;
using velk::protocol::kMarkBytes;
// Calls up to this size (nearly all) are encoded on the stack.
constexpr size_t kInlineCallBytes = 1024;
// Replies up to this size are received on the stack.
constexpr size_t kInlineReplyBytes = 4096;

CallClient* self(CLIENT* client) { return static_cast<CallClient*>(client->cl_private); }

// ---- time -------------------------------------------------------------

timespec now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t;
}

bool earlier(const timespec& a, const timespec& b) {
    return a.tv_sec != b.tv_sec ? a.tv_sec < b.tv_sec : a.tv_nsec < b.tv_nsec;
}

timespec add(timespec t, const timeval& span) {
    // The connection's own deadline bounds the call in any case; a timeout
    // out of range must only not overflow here.
    time_t seconds = span.tv_sec < 0 ? 0 : span.tv_sec > kCallSeconds * 1000 ? kCallSeconds * 1000 : span.tv_sec;
    long micros = span.tv_usec < 0 || span.tv_usec >= 1000000 ? 0 : span.tv_usec;
    t.tv_sec += seconds;
    t.tv_nsec += micros * 1000;
    if (t.tv_nsec >= 1000000000) {
        t.tv_nsec -= 1000000000;
        ++t.tv_sec;
    }
    return t;
}

// Milliseconds left before the deadline, rounded up; 0 when it has passed.
int milliseconds_left(const timespec& deadline) {
    timespec t = now();
    if (!earlier(t, deadline)) return 0;
    int64_t ns = (int64_t(deadline.tv_sec) - t.tv_sec) * 1000000000 + (deadline.tv_nsec - t.tv_nsec);
    int64_t ms = (ns + 999999) / 1000000;
    return ms > 0x7fffffff ? 0x7fffffff : static_cast<int>(ms);
}

// Waits for the socket to become ready for events. RPC_SUCCESS when it is,
// RPC_TIMEDOUT at the deadline, the failure otherwise.
clnt_stat wait_for(int fd, short events, const timespec& deadline, clnt_stat failure) {
    for (;;) {
        int ms = milliseconds_left(deadline);
        if (ms == 0) return RPC_TIMEDOUT;
        pollfd p{fd, events, 0};
        int ready = poll(&p, 1, ms);
        if (ready > 0) return RPC_SUCCESS; // errors and hang-ups surface on the next send or recv
        if (ready < 0 && errno != EINTR) return failure;
    }
}

// ---- sending -----------------------------------------------------------

clnt_stat send_all(int fd, const char* data, size_t size, const timespec& deadline) {
    while (size > 0) {
        ssize_t n = send(fd, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            data += n;
            size -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            clnt_stat waited = wait_for(fd, POLLOUT, deadline, RPC_CANTSEND);
            if (waited != RPC_SUCCESS) return waited;
            continue;
        }
        return RPC_CANTSEND;
    }
    return RPC_SUCCESS;
}

// Encodes the call message and its argument after a record mark's room.
// Returns the encoded length (mark included), 0 when it did not fit.
size_t encode_call(char* buffer, size_t size, rpc_msg* call, xdrproc_t encode_args, void* args) {
    XDR xdrs;
    xdrmem_create(&xdrs, buffer + kMarkBytes, static_cast<u_int>(size - kMarkBytes), XDR_ENCODE);
    bool ok = xdr_callmsg(&xdrs, call) && encode_args(&xdrs, args);
    size_t length = ok ? xdr_getpos(&xdrs) : 0;
    XDR_DESTROY(&xdrs);
    if (!ok) return 0;
    unsigned char mark[kMarkBytes];
    velk::protocol::encode_mark({static_cast<uint32_t>(length), true}, mark);
    std::memcpy(buffer, mark, kMarkBytes);
    return length + kMarkBytes;
}

// Sends the call as one record: on the stack when it fits, else in a heap
// buffer of its exact size.
clnt_stat send_call(CallClient& c, rpc_msg* call, xdrproc_t encode_args, void* args, const timespec& deadline) {
    char inline_buffer[kInlineCallBytes];
    size_t length = encode_call(inline_buffer, sizeof inline_buffer, call, encode_args, args);
    if (length != 0) return send_all(c.socket.get(), inline_buffer, length, deadline);

    // Too long for the stack, or not encodable at all (then the size is 0).
    u_long header = xdr_sizeof(reinterpret_cast<xdrproc_t>(xdr_callmsg), call);
    u_long body = xdr_sizeof(encode_args, args);
    if (header == 0 || body == 0 || body > kLastFragment - 1 - header) return RPC_CANTENCODEARGS;
    size_t size = kMarkBytes + header + body;
    HeapBuffer buffer = allocate_buffer(size);
    if (!buffer) return RPC_SYSTEMERROR;
    length = encode_call(buffer.get(), size, call, encode_args, args);
    return length != 0 ? send_all(c.socket.get(), buffer.get(), length, deadline) : RPC_CANTENCODEARGS;
}

// ---- receiving ---------------------------------------------------------

// The body of one reply record, fragments joined, at most kReplyByteLimit
// bytes received in all. Starts on the stack and grows on the heap only as
// bytes actually arrive, never by what a record mark claims.
class ReplyRecord {
public:
    ReplyRecord() = default;
    ~ReplyRecord() {
        if (data_ != inline_) std::free(data_);
    }
    ReplyRecord(const ReplyRecord&) = delete;
    ReplyRecord& operator=(const ReplyRecord&) = delete;

    clnt_stat receive(int fd, const timespec& deadline);
    char* data() { return data_; }
    size_t size() const { return body_; }

private:
    bool grow();
    // Takes the bytes [from, to) just received: record marks out, fragment
    // bodies moved down to the end of the joined body.
    void absorb(size_t from, size_t to);

    char inline_[kInlineReplyBytes];
    char* data_ = inline_;
    size_t capacity_ = kInlineReplyBytes;
    size_t body_ = 0;         // joined body bytes at the buffer's start
    size_t received_ = 0;     // all bytes of the record so far, marks included
    velk::protocol::RecordMarkReader marks_;
    bool complete_ = false;
};

bool ReplyRecord::grow() {
    if (capacity_ >= kReplyByteLimit) return false;
    size_t larger = capacity_ * 2 < kReplyByteLimit ? capacity_ * 2 : kReplyByteLimit;
    char* bigger;
    if (data_ == inline_) {
        bigger = static_cast<char*>(std::malloc(larger));
        if (bigger != nullptr) std::memcpy(bigger, inline_, body_);
    } else {
        bigger = static_cast<char*>(std::realloc(data_, larger));
    }
    if (bigger == nullptr) return false;
    data_ = bigger;
    capacity_ = larger;
    return true;
}

void ReplyRecord::absorb(size_t from, size_t to) {
    while (from < to && !complete_) {
        if (!marks_.in_body()) {
            const char* at = data_ + from;
            bool whole = marks_.read_mark(at, data_ + to);
            from = static_cast<size_t>(at - data_);
            if (!whole) break;
        }
        size_t n = marks_.body_bytes(to - from);
        if (from != body_) std::memmove(data_ + body_, data_ + from, n);
        body_ += n;
        from += n;
        complete_ = marks_.took_body(n);
    }
}

clnt_stat ReplyRecord::receive(int fd, const timespec& deadline) {
    while (!complete_) {
        if (received_ >= kReplyByteLimit) return RPC_CANTDECODERES;
        if (body_ == capacity_ && !grow()) return RPC_CANTDECODERES;
        clnt_stat waited = wait_for(fd, POLLIN, deadline, RPC_CANTRECV);
        if (waited != RPC_SUCCESS) return waited;
        // What is not yet body is only a partial record mark, held aside, so
        // everything from body_ on is free.
        size_t room = capacity_ - body_;
        if (room > kReplyByteLimit - received_) room = kReplyByteLimit - received_;
        ssize_t n = recv(fd, data_ + body_, room, MSG_DONTWAIT);
        if (n == 0) return RPC_CANTRECV; // the peer closed before the record ended
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            return RPC_CANTRECV;
        }
        received_ += static_cast<size_t>(n);
        absorb(body_, body_ + static_cast<size_t>(n));
    }
    return RPC_SUCCESS;
}

// ---- decoding ------------------------------------------------------------

// Decodes the reply record into *results. Anything but a well-formed reply
// to this call's transaction fails at once.
clnt_stat decode_reply(CallClient& c, ReplyRecord& record, xdrproc_t decode_results, void* results) {
    // Look at the transaction id and the direction before anything is decoded.
    if (record.size() < 2 * BYTES_PER_XDR_UNIT) return RPC_CANTDECODERES;
    uint32_t head[2];
    std::memcpy(head, record.data(), sizeof head);
    if (ntohl(head[0]) != c.xid || ntohl(head[1]) != REPLY) return RPC_CANTDECODERES;

    // The verifier is decoded into storage of ours: nothing to allocate, so
    // nothing to leak whatever the reply says.
    char verifier[MAX_AUTH_BYTES];
    rpc_msg reply;
    std::memset(&reply, 0, sizeof reply);
    reply.acpted_rply.ar_verf.oa_base = verifier;
    reply.acpted_rply.ar_results.where = static_cast<caddr_t>(results);
    reply.acpted_rply.ar_results.proc = decode_results;

    XDR xdrs;
    xdrmem_create(&xdrs, record.data(), static_cast<u_int>(record.size()), XDR_DECODE);
    bool decoded = xdr_replymsg(&xdrs, &reply);
    XDR_DESTROY(&xdrs);
    if (!decoded) return RPC_CANTDECODERES;

    _seterr_reply(&reply, &c.error);
    if (c.error.re_status == RPC_SUCCESS && !AUTH_VALIDATE(c.client.cl_auth, &reply.acpted_rply.ar_verf))
        return RPC_AUTHERROR;
    return c.error.re_status;
}

// ---- operations ----------------------------------------------------------

clnt_stat call_once(CallClient& c, rpcproc_t procedure, xdrproc_t encode_args, void* args, xdrproc_t decode_results,
                    void* results, timeval timeout) {
    if (c.used) return RPC_FAILED; // one call per connection
    c.used = true;
    timespec deadline = add(now(), timeout);
    if (earlier(c.deadline, deadline)) deadline = c.deadline;

    rpc_msg call;
    std::memset(&call, 0, sizeof call);
    call.rm_xid = c.xid;
    call.rm_direction = CALL;
    call.rm_call.cb_rpcvers = RPC_MSG_VERSION;
    call.rm_call.cb_prog = c.program;
    call.rm_call.cb_vers = c.version;
    call.rm_call.cb_proc = procedure;
    call.rm_call.cb_cred = c.client.cl_auth->ah_cred;
    call.rm_call.cb_verf = c.client.cl_auth->ah_verf;
    clnt_stat sent = send_call(c, &call, encode_args, args, deadline);
    if (sent != RPC_SUCCESS) return sent;

    ReplyRecord record;
    clnt_stat received = record.receive(c.socket.get(), deadline);
    if (received != RPC_SUCCESS) return received;
    return decode_reply(c, record, decode_results, results);
}

clnt_stat op_call(CLIENT* client, rpcproc_t procedure, xdrproc_t encode_args, void* args, xdrproc_t decode_results,
                  void* results, timeval timeout) {
    CallClient& c = *self(client);
    std::memset(&c.error, 0, sizeof c.error);
    clnt_stat status = call_once(c, procedure, encode_args, args, decode_results, results, timeout);
    c.error.re_status = status;
    return status;
}

void op_abort(CLIENT*) {}

void op_geterr(CLIENT* client, rpc_err* error) { *error = self(client)->error; }

bool_t op_freeres(CLIENT*, xdrproc_t routine, void* results) {
    xdr_free(routine, results);
    return TRUE;
}

// The call frame owns the client; destroying the handle can only close the
// socket early.
void op_destroy(CLIENT* client) { self(client)->socket.reset(); }

bool_t op_control(CLIENT* client, u_int request, void* info) {
    CallClient& c = *self(client);
    switch (request) {
    case CLSET_FD_CLOSE: // the socket is always closed on destroy
        return TRUE;
    case CLGET_FD:
        if (info == nullptr) return FALSE;
        *static_cast<int*>(info) = c.socket.get();
        return TRUE;
    case CLGET_XID:
        if (info == nullptr) return FALSE;
        *static_cast<uint32_t*>(info) = c.xid;
        return TRUE;
    default:
        return FALSE;
    }
}

// The operations table; its type is nested in CLIENT's declaration.
using Operations = std::remove_pointer_t<decltype(CLIENT::cl_ops)>;
const Operations kOperations{op_call, op_abort, op_geterr, op_freeres, op_destroy, op_control};

// ---- AUTH_NONE -----------------------------------------------------------
// Each client carries its own: libtirpc's is one handle for the process,
// made lazily (racily, in 1.3.3) and taken under a lock on every call.

void none_nothing(AUTH*) {}

int none_marshal(AUTH* auth, XDR* xdrs) {
    return xdr_opaque_auth(xdrs, &auth->ah_cred) && xdr_opaque_auth(xdrs, &auth->ah_verf);
}

int none_validate(AUTH*, opaque_auth*) { return TRUE; }

int none_refresh(AUTH*, void*) { return FALSE; }

int none_wrap(AUTH*, XDR* xdrs, xdrproc_t routine, caddr_t where) { return routine(xdrs, where); }

using AuthOperations = std::remove_pointer_t<decltype(AUTH::ah_ops)>;
const AuthOperations kNullAuthOperations{none_nothing, none_marshal, none_validate, none_refresh,
                                         none_nothing, none_wrap,    none_wrap};

// The transaction id: only this connection's one reply can match, so it need
// not be secret or unique beyond the call, but differs from call to call as
// libtirpc's does. It comes from the call's start on the monotonic clock and
// the client's address (distinct between calls alive at once), mixed, at the
// cost of no system call.
uint32_t transaction_id(const timespec& deadline, const void* client) {
    uint64_t x = static_cast<uint64_t>(deadline.tv_sec) * 1000000000u + static_cast<uint64_t>(deadline.tv_nsec);
    x ^= static_cast<uint64_t>(reinterpret_cast<uintptr_t>(client));
    x *= 0x9E3779B97F4A7C15u;
    return static_cast<uint32_t>(x >> 32) ^ static_cast<uint32_t>(x);
}

} // namespace

timespec deadline_after(time_t seconds) noexcept {
    timespec t = now();
    t.tv_sec += seconds;
    return t;
}

CallClient::CallClient(Descriptor connected, rpcprog_t program_number, rpcvers_t version_number,
                       const timespec& call_deadline) noexcept
    : socket(std::move(connected)), program(program_number), version(version_number),
      xid(transaction_id(call_deadline, this)), deadline(call_deadline) {
    null_auth = AUTH{};
    null_auth.ah_cred.oa_flavor = AUTH_NONE;
    null_auth.ah_verf.oa_flavor = AUTH_NONE;
    null_auth.ah_ops = const_cast<AuthOperations*>(&kNullAuthOperations); // never written through
    client = CLIENT{};
    client.cl_auth = &null_auth;
    client.cl_ops = const_cast<Operations*>(&kOperations); // never written through
    client.cl_private = this;
}

} // namespace vdfe
