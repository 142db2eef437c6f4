// The daemon's main loop. Connections wait in one epoll set and cost no
// thread while they wait; two event loops (each with its own epoll set and
// the connections it accepted) read what has come of each call, answer a
// complete call inline and write the reply without blocking. Calls that may wait (a fault's delay, a FRU write synced to disk)
// go to a small pool of workers, so that they hold up no one else. Deadlines drop clients that are too
// slow to send a call or to read a reply, and caps on open connections
// (overall and per peer user) close the newest connection beyond them.
// Signals: SIGHUP reloads, SIGINT and SIGTERM stop.
#pragma once

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
