#pragma once

#include <cstdint>

#include "velkdirectfe_wire.h"

namespace vdfe {

// Builds a caller-owned list from count wire pairs, in wire order. Null for
// no pairs and for exhausted memory (nothing is then left allocated); the
// caller tells the two apart by the count.
velkdirectfe_nvlist_t* nvlist_from_prop_nodes(const prop_node* pairs, uint32_t count) noexcept;

} // namespace vdfe
