// The daemon's main loop. Connections wait in an epoll set and cost no
// thread while they wait; two event loops (each with its own epoll set and
// the connections it accepted) read what has come of each call, answer a
// complete call inline and write the reply without blocking. Calls that may
// wait (a fault's delay, a FRU write synced to disk) go to a small pool of
// workers, so that they hold up no one else. Deadlines drop clients that are
// too slow to send a call or to read a reply. Caps on open connections
// (overall and per peer user, the last slots kept for root and the daemon's
// own user) close the newest connection beyond them. Two memory budgets
// bound what all clients together cost: calls not yet answered (beyond it
// the largest is dropped) and replies not yet read (beyond it new replies
// wait). Signals: SIGHUP reloads, SIGINT and SIGTERM stop.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>

#include "connection.h"
#include "platform_holder.h"

namespace velkd {

struct ServerOptions {
    int workers = 8; // calls that may wait, answered at once
    int max_connections = 512;
    int max_connections_per_user = 256;
    int reserved_connections = 32; // of max_connections, for root and the daemon's own user only (a sixteenth)
    std::size_t call_budget_bytes = 64u << 20;   // calls received in part or whole, not yet answered
    std::size_t reply_budget_bytes = 128u << 20; // encoded replies not yet read
    ConnectionLimits limits;
    std::optional<int> ready_fd;
};

// Returns the next platform, or null when it could not be loaded (the loader
// has logged why).
using Reloader = std::function<std::shared_ptr<Platform>()>;

// Blocks SIGINT, SIGTERM and SIGHUP in the calling thread; call it before
// any other thread starts so that every thread inherits the mask.
void block_daemon_signals();

// Serves on the listening socket (which it makes non-blocking) until SIGINT
// or SIGTERM.
void run_server(int listen_fd, const ServerOptions& options, PlatformHolder& platforms, const Reloader& reload);

} // namespace velkd
