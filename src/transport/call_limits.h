// The bounds every call to the daemon keeps, whatever the peer does.
#pragma once

#include <cstddef>
#include <ctime>

#include "protocol_limits.h"

namespace vdfe {

// A whole call, from its first connection attempt to the decoded reply,
// ends within this time. The stubs pass the same value to clnt_call.
inline constexpr time_t kCallSeconds = velk::protocol::kCallSeconds;

// The most bytes a reply may carry on the wire (see protocol_limits.h).
inline constexpr std::size_t kReplyByteLimit = velk::protocol::kReplyByteLimit;

// Connection attempts and the pause between them.
inline constexpr int kConnectAttempts = 3;
inline constexpr time_t kRetryPauseSeconds = 1;

} // namespace vdfe
