// The daemon's main loop: a pool of workers that take connections straight
// from the listening socket (no hand-over queue, so a call costs no extra
// thread switch), and the signals: SIGHUP reloads, SIGINT and SIGTERM stop.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "connection.h"
#include "platform_holder.h"

namespace velkd {

struct ServerOptions {
    int workers = 32; // connections served at once; a silent client holds one
    ConnectionLimits limits;
    std::optional<int> ready_fd;
};

// Returns the next platform, or null when it could not be loaded (the loader
// has logged why).
using Reloader = std::function<std::shared_ptr<Platform>()>;

// Blocks SIGINT, SIGTERM and SIGHUP in the calling thread; call it before
// any other thread starts so that every thread inherits the mask.
void block_daemon_signals();

// Serves on the listening socket until SIGINT or SIGTERM.
void run_server(int listen_fd, const ServerOptions& options, PlatformHolder& platforms, const Reloader& reload);

} // namespace velkd
