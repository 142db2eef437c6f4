// The bounds every call to the daemon keeps, whatever the peer does.
#pragma once

#include <cstddef>
#include <ctime>

#include "velkdirectfe.h"

namespace vdfe {

// A whole call, from its first connection attempt to the decoded reply,
// ends within this time. The stubs pass the same value to clnt_call.
inline constexpr time_t kCallSeconds = VELKDIRECTFE_CALL_SECONDS;

// The most bytes a reply may carry on the wire, record marks included. The
// largest reply of a platform of 100,000 sensors (the daemon's sensor list)
// is about 88 MB; anything beyond the limit fails the call.
inline constexpr std::size_t kReplyByteLimit = std::size_t{256} << 20;

// Connection attempts and the pause between them.
inline constexpr int kConnectAttempts = 3;
inline constexpr time_t kRetryPauseSeconds = 1;

} // namespace vdfe
