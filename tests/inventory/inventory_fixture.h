// Recording callbacks, and public records built from plain paths.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "reference_walk.h"

namespace vdfe::test {

// Records every callback; each returns 1 + its position as the node's data.
inline thread_local std::vector<Callback>* t_recorded = nullptr;

inline void* record_callback(const char* path, uint32_t kind, const uint8_t* desc, const velkdirectfe_nvlist_t* props,
                             void* parent_data) {
    t_recorded->push_back({path, kind, std::vector<uint8_t>(desc, desc + 10), props, parent_data});
    return reinterpret_cast<void*>(t_recorded->size());
}

inline void* const kRootData = reinterpret_cast<void*>(uintptr_t{0x7F000000});

// Records of every kind whose paths point into the store itself.
struct RecordStore {
    template <typename Record>
    Record make(const std::string& path, uint32_t kind, uint8_t desc_seed, const velkdirectfe_nvlist_t* props) {
        Record rec{};
        rec.path = paths.emplace_back(path).data();
        rec.kind = kind;
        for (int i = 0; i < 10; ++i) rec.desc[i] = static_cast<uint8_t>(desc_seed + i);
        rec.props = const_cast<velkdirectfe_nvlist_t*>(props);
        return rec;
    }
    std::deque<std::string> paths;
    std::vector<velkdirectfe_fru_attr_t> frus;
    std::vector<velkdirectfe_sensor_attr_t> sensors;
    std::vector<velkdirectfe_ind_attr_t> indicators;
    std::vector<velkdirectfe_comp_attr_t> components;

    inventory::Sources sources() const {
        return {frus.data(), uint32_t(frus.size()), sensors.data(), uint32_t(sensors.size()),
                indicators.data(), uint32_t(indicators.size()), components.data(), uint32_t(components.size())};
    }
};

} // namespace vdfe::test
