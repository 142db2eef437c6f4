// Serves one accepted connection: reads RPC calls from its record stream one
// after another and answers each, until the client closes, stays silent too
// long, sends something that is not an RPC call, or the daemon stops.
#pragma once

#include <atomic>
#include <cstddef>

#include "platform_holder.h"

namespace velkd {

struct ConnectionLimits {
    int read_timeout_ms = 5000;            // silence allowed before the client is dropped
    std::size_t max_call_bytes = 1u << 20; // largest call accepted (a full FRU write is ~260 KiB)
};

// Takes ownership of `fd` and closes it.
void serve_connection(int fd, const ConnectionLimits& limits, const PlatformHolder& platforms,
                      const std::atomic<bool>& stopping);

} // namespace velkd
