// The inventory as a tree: every object placed under its '/'-separated path,
// with the intermediate levels that no object carries filled in, reported
// top-down one level at a time through the caller's callback.
#pragma once

#include <cstdint>

#include "velkdirectfe.h"

namespace vdfe::inventory {

// The four attribute lists, FRUs first, then sensors, indicators and
// components; a list whose query failed is empty.
struct Sources {
    const velkdirectfe_fru_attr_t* frus = nullptr;
    uint32_t fru_count = 0;
    const velkdirectfe_sensor_attr_t* sensors = nullptr;
    uint32_t sensor_count = 0;
    const velkdirectfe_ind_attr_t* indicators = nullptr;
    uint32_t indicator_count = 0;
    const velkdirectfe_comp_attr_t* components = nullptr;
    uint32_t component_count = 0;
};

// Builds the tree from the lists and reports it through callback (not null).
// 0 when the walk ran; -1, without any callback, when there is no object or
// no memory for the tree. A cancelled callback's unwinding passes through.
int walk(const Sources& sources, velkdirectfe_inv_cb_t callback, void* root_data);

// Depth of a path: 0 for "/" and for null, else 1 plus the '/' characters
// after the first character ("" has depth 1).
int32_t path_depth(const char* path) noexcept;

} // namespace vdfe::inventory
