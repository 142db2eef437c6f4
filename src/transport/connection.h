// The connection one public call is made on.
#pragma once

#include <ctime>
#include <sys/types.h>

#include "descriptor.h"

namespace vdfe {

// Connects to the daemon's socket: up to 3 attempts, one second apart, and
// only to a daemon that passes peer_is_trusted. A daemon whose backlog is full
// is waited for. Gives up at the deadline (CLOCK_MONOTONIC). The socket
// returned is non-blocking; it is empty when no daemon was reached or the one
// reached is not trusted.
Descriptor connect_with_retry(const timespec& deadline);

// The daemon is trusted when it runs as root, as this process's effective
// user, or as the account named at build time (VELKDIRECTFE_DAEMON_USER,
// none when empty).
bool peer_is_trusted(uid_t peer);

} // namespace vdfe
