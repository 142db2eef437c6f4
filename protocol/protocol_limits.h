// The bounds both ends and the tools agree on, each stated once.
#pragma once

#include <cstddef>

#include "velkdirectfe.h"

namespace velk::protocol {

// A whole call, from its first connection attempt to the decoded reply,
// ends within this many seconds (the library's limit, and the stubs'
// timeout); a tool that waited this long was not answered. The public
// header states it for callers.
inline constexpr long kCallSeconds = VELKDIRECTFE_CALL_SECONDS;

// The most objects of one kind (sensors, indicators, FRUs, components,
// associations) a description may hold, and so velkd-sim may serve.
inline constexpr std::size_t kMaxObjectsOfAKind = 10000;

// The most bytes a reply may carry on the wire, record marks included. The
// largest reply there is, the sensor list, takes about 880 bytes a sensor
// (bench/largest_reply measures it, by default for kMaxObjectsOfAKind
// sensors: about 8.8 MB): the limit leaves room for platforms thirty times
// that large served by other daemons, and anything beyond it fails the call.
inline constexpr std::size_t kReplyByteLimit = std::size_t{256} << 20;

} // namespace velk::protocol
