#include "connection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "call_io.h"
#include "handlers.h"
#include "log.h"
#include "velkdirectfe_wire.h"
#include "wire/xdr_routine.h"

namespace velkd {
namespace {

using std::chrono::milliseconds;

// Blocking reads and writes wake up this often to notice that the daemon is
// stopping or that the client's time is up.
constexpr int kSliceMs = 200;

// The state behind the record stream's read and write callbacks.
struct Stream {
    int fd;
    const ConnectionLimits& limits;
    const std::atomic<bool>& stopping;
    std::size_t received = 0; // bytes of the current call
    bool closed_cleanly = false;
};

// Waits out EAGAIN slices until the deadline; false when the wait is over.
bool keep_waiting(const Stream& s, Clock::time_point deadline) {
    return !s.stopping.load(std::memory_order_relaxed) && Clock::now() < deadline;
}

// The record stream treats -1 as failure; 0 would make it read again forever,
// so an orderly close is reported as -1 too.
int read_some(void* handle, void* buffer, int length) {
    auto& s = *static_cast<Stream*>(handle);
    if (s.received > s.limits.max_call_bytes) {
        log(LogLevel::debug, "dropping a client whose call exceeds {} bytes", s.limits.max_call_bytes);
        return -1;
    }
    auto deadline = Clock::now() + milliseconds(s.limits.read_timeout_ms);
    for (;;) {
        ssize_t n = ::recv(s.fd, buffer, static_cast<std::size_t>(length), 0);
        if (n > 0) {
            s.received += static_cast<std::size_t>(n);
            return static_cast<int>(n);
        }
        if (n == 0) {
            s.closed_cleanly = s.received == 0;
            return -1;
        }
        if (errno == EINTR) continue;
        if ((errno == EAGAIN || errno == EWOULDBLOCK) && keep_waiting(s, deadline)) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) log(LogLevel::debug, "dropping a silent client");
        return -1;
    }
}

int write_all(void* handle, void* buffer, int length) {
    auto& s = *static_cast<Stream*>(handle);
    auto deadline = Clock::now() + milliseconds(s.limits.read_timeout_ms);
    const char* at = static_cast<const char*>(buffer);
    int left = length;
    while (left > 0) {
        ssize_t n = ::send(s.fd, at, static_cast<std::size_t>(left), MSG_NOSIGNAL);
        if (n > 0) {
            at += n;
            left -= static_cast<int>(n);
        } else if (n < 0 && (errno == EINTR || ((errno == EAGAIN || errno == EWOULDBLOCK) && keep_waiting(s, deadline)))) {
            continue;
        } else {
            return -1;
        }
    }
    return length;
}

void set_slice_timeouts(int fd) {
    timeval slice{0, kSliceMs * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &slice, sizeof slice);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &slice, sizeof slice);
}

// Answers one decoded call header; false when the connection is lost.
bool dispatch(CallIo& io, const rpc_msg& msg, const PlatformHolder& platforms) {
    const call_body& body = msg.rm_call;
    if (body.cb_prog != VELKD_PROG) return io.reply_error(PROG_UNAVAIL);
    if (body.cb_vers != VELKD_VERS) return io.reply_mismatch();
    if (body.cb_proc == NULLPROC) return io.reply(vdfe::wire::xdr_routine(xdr_void), nullptr);
    const ProcedureEntry* entry = find_procedure(body.cb_proc);
    if (entry == nullptr) {
        log(LogLevel::request, "procedure {} unknown", body.cb_proc);
        return io.reply_error(PROC_UNAVAIL);
    }
    std::shared_ptr<Platform> platform = platforms.get();
    Call call{*platform, static_cast<int>(body.cb_proc), {}, 0, {}, {}};
    auto started = Clock::now();
    bool sent = entry->serve(call, io);
    if (log_enabled(LogLevel::request)) {
        auto us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started).count();
        if (call.status == -1)
            log(LogLevel::request, "{}: undecodable argument", entry->name);
        else
            log(LogLevel::request, "{}{}{}: status {} ({} us)", entry->name, call.subject.empty() ? "" : " ",
                call.subject, call.status, us);
    }
    return sent;
}

} // namespace

// ---- CallIo on the record stream ---------------------------------------------

bool CallIo::decode_args(xdrproc_t routine, void* args) {
    stream_->x_op = XDR_DECODE;
    return routine(stream_, args, 0);
}

void CallIo::free_args(xdrproc_t routine, void* args) { xdr_free(routine, static_cast<char*>(args)); }

bool CallIo::send(rpc_msg& reply) {
    reply.rm_xid = call_.rm_xid;
    reply.rm_direction = REPLY;
    stream_->x_op = XDR_ENCODE;
    return xdr_replymsg(stream_, &reply) && xdrrec_endofrecord(stream_, TRUE);
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

// ---- the connection -----------------------------------------------------------

void serve_connection(int fd, const ConnectionLimits& limits, const PlatformHolder& platforms,
                      const std::atomic<bool>& stopping) {
    set_slice_timeouts(fd);
    Stream stream{fd, limits, stopping};
    XDR xdrs;
    xdrrec_create(&xdrs, 0, 0, &stream, read_some, write_all);
    while (!stopping.load(std::memory_order_relaxed)) {
        stream.received = 0;
        xdrs.x_op = XDR_DECODE;
        if (!xdrrec_skiprecord(&xdrs)) break;
        char credentials[2 * MAX_AUTH_BYTES];
        rpc_msg msg{};
        msg.rm_call.cb_cred.oa_base = credentials;
        msg.rm_call.cb_verf.oa_base = credentials + MAX_AUTH_BYTES;
        if (!xdr_callmsg(&xdrs, &msg)) {
            if (!stream.closed_cleanly) log(LogLevel::debug, "dropping a client that sent no RPC call");
            break;
        }
        CallIo io(&xdrs, msg);
        if (!dispatch(io, msg, platforms)) break;
    }
    XDR_DESTROY(&xdrs);
    ::close(fd);
}

} // namespace velkd
