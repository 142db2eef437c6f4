// One RPC client per public call, owned for exactly that call.
#pragma once

#include <memory>
#include <rpc/rpc.h>

namespace vdfe {

struct ClientDestroyer {
    void operator()(CLIENT* client) const noexcept { clnt_destroy(client); }
};
using Client = std::unique_ptr<CLIENT, ClientDestroyer>;

// Connects to the daemon's socket: up to 3 attempts, one second apart.
// Destroying the client closes its socket.
Client connect_with_retry() noexcept;

} // namespace vdfe
