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

#include <cstdint>
#include <ctime>
#include <rpc/rpc.h>

#include "descriptor.h"

namespace vdfe {

// One call's client, owned by the call frame for exactly that call (so it
// costs no allocation). It takes over the connected socket, which closes when
// the client goes. The call made on handle() ends by the deadline
// (CLOCK_MONOTONIC) or by the timeout that clnt_call passes, whichever comes
// first. One call per client; a second fails. Destroying the handle through
// clnt_destroy only closes the socket early.
struct CallClient {
    CallClient(Descriptor connected, rpcprog_t program, rpcvers_t version, const timespec& deadline) noexcept;
    CallClient(const CallClient&) = delete;
    CallClient& operator=(const CallClient&) = delete;

    // False when there was no connection to take over.
    explicit operator bool() const noexcept { return static_cast<bool>(socket); }
    CLIENT* handle() noexcept { return &client; }

    CLIENT client;  // its cl_private points back here
    AUTH null_auth; // AUTH_NONE: no credentials sent, no verifier checked
    Descriptor socket;
    rpcprog_t program;
    rpcvers_t version;
    bool used = false;
    uint32_t xid;
    timespec deadline;
    rpc_err error{};
};

// Now plus the given seconds, on CLOCK_MONOTONIC.
timespec deadline_after(time_t seconds) noexcept;

} // namespace vdfe
