// How many bytes a call's record may hold. Until its header shows the
// procedure, the largest any call may need; then the header with both
// authenticators at their largest plus the procedure's largest legal
// argument: a few KiB for most procedures, about 261 KiB for a FRU write of
// the largest data area. A call the daemon answers without reading its
// argument (an unknown program, version or procedure) may hold its header
// only. Empty fragments count 4 bytes each, their record mark, so that a
// record of endless empty fragments ends too.
#pragma once

#include <rpc/rpc.h>

#include <cstddef>

namespace velkd {

// xid, direction, RPC version, program, version, procedure; then the
// credentials and the verifier, each a flavour, a length and its body.
inline constexpr std::size_t kCallHeadWords = 6;
inline constexpr std::size_t kMaxCallHeaderBytes = kCallHeadWords * 4 + 2 * (2 * 4 + MAX_AUTH_BYTES);

// The limit of a record whose first kCallHeadWords words are `head`.
std::size_t record_limit(const char* head);
// The largest limit of any record.
std::size_t largest_record_limit();

} // namespace velkd
