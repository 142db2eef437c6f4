// The library's own RPC client: one call on a socket that is already
// connected, finished by an absolute deadline, with a bounded reply.
//
// libtirpc's stream client limits each read, not the call, keeps reading
// records whose transaction id does not match (leaking their verifiers), and
// accepts a reply of any length. This client sends the call as one record and
// reads exactly one reply record into memory, at most kReplyByteLimit bytes,
// before the deadline; a reply for another transaction, or one that is not a
// well-formed accepted or rejected reply, fails the call at once. The call and
// reply are encoded with the RPC layer's own xdr_callmsg and xdr_replymsg, in
// standard record marking. It sends with MSG_NOSIGNAL: a daemon that hangs up
// under a call raises no SIGPIPE in the caller's process.
#pragma once

#include <ctime>
#include <rpc/rpc.h>

namespace vdfe {

// Takes over fd (closed on destroy, or here on failure). The call made on the
// client ends by deadline (CLOCK_MONOTONIC) or by the timeout that clnt_call
// passes, whichever comes first. One call per client; a second fails.
// Returns null when the client cannot be allocated.
CLIENT* call_client_create(int fd, rpcprog_t program, rpcvers_t version, const timespec& deadline) noexcept;

// Now plus the given seconds, on CLOCK_MONOTONIC.
timespec deadline_after(time_t seconds) noexcept;

} // namespace vdfe
