// The wire view of a platform: the attribute records built once from its
// description, which list queries answer whole and single queries one
// element of. The strings point into the Description, which must outlive
// the records.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "description.h"
#include "velkdirectfe_wire.h"

namespace velkd {

struct WireRecords {
    std::vector<std::vector<prop_node>> properties; // owners of the prop arrays
    std::vector<velkfe_sensor_attr> sensors;
    std::vector<velkfe_ind_attr> indicators;
    std::vector<velkfe_fru_attr> frus;
    std::vector<velkfe_comp_attr> components;
    std::vector<std::vector<velkfe_mem_node>> members;
    std::vector<velkfe_assoc_t> associations;
    velkfe_plat_names_t names{};
};

WireRecords build_wire_records(const Description& description);

// An indicator's record while a mode set for a duration runs: its opaque
// bytes say so (record_bytes.h, TimedModeBytes), with the mode it returns to
// and the whole seconds left.
velkfe_ind_attr with_timed_mode(velkfe_ind_attr record, uint8_t lasting_mode, std::chrono::milliseconds left);

} // namespace velkd
