// One RPC client per public call, owned for exactly that call.
#pragma once

#include <memory>
#include <rpc/rpc.h>
#include <sys/types.h>

namespace vdfe {

struct ClientDestroyer {
    void operator()(CLIENT* client) const noexcept { clnt_destroy(client); }
};
using Client = std::unique_ptr<CLIENT, ClientDestroyer>;

// Connects to the daemon's socket: up to 3 attempts, one second apart, and
// only to a daemon that passes peer_is_trusted. The returned client's call
// ends within 25 seconds of the start of the first attempt. Destroying the
// client closes its socket.
Client connect_with_retry() noexcept;

// The daemon is trusted when it runs as root, as this process's effective
// user, or as the account named at build time (VELKDIRECTFE_DAEMON_USER,
// none when empty).
bool peer_is_trusted(uid_t peer) noexcept;

} // namespace vdfe
