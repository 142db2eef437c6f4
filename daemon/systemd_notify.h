// The daemon under systemd, through libsystemd: the listening socket that
// socket activation passes, and the state notifications of a Type=notify
// service. Without a service manager every call here does nothing.
#pragma once

#include <optional>
#include <string>

namespace velkd {

// The listening socket the service manager passed (LISTEN_FDS), or nullopt
// when started without one. Throws std::runtime_error when what was passed
// is not exactly one listening Unix stream socket.
std::optional<int> take_activated_socket();

// The path a Unix socket is bound to, for the log.
std::string socket_path_of(int fd);

// READY=1, RELOADING=1 and STOPPING=1, each with a STATUS= line.
void notify_ready(const std::string& status);
void notify_reloading();
void notify_stopping();

// The descriptor to hand to the server as its ready descriptor: once the
// server writes to it, READY=1 goes to the service manager and "ready" on to
// `ready_fd` when the caller gave one. Without NOTIFY_SOCKET this is
// `ready_fd` itself.
std::optional<int> relay_ready(std::optional<int> ready_fd, const std::string& status);

} // namespace velkd
