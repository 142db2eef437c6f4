// Any XDR routine as the RPC layer's generic routine type.
#pragma once

#include <rpc/rpc.h>

namespace vdfe::wire {

// The detour through void(*)() is the sanctioned way to cast between
// function pointer types.
template <typename Routine>
xdrproc_t xdr_routine(Routine routine) {
    return reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(routine));
}

} // namespace vdfe::wire
