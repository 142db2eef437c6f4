// The inventory walk exactly as first described: a linear scan of the node
// array for every parent and a scan of the whole array for every level. Slow
// on purpose; the library's indexed walk must match it call for call. And the
// records it is fed, for the tests and the walk's benchmark.
#pragma once

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "inventory/inventory_tree.h"

namespace vdfe::test {

struct Callback {
    std::string path;
    uint32_t kind;
    std::vector<uint8_t> desc;
    const velkdirectfe_nvlist_t* props;
    void* parent_data;
    bool operator==(const Callback&) const = default;
};

struct ReferenceResult {
    int result;
    std::vector<Callback> calls; // user data handed down: 1 + index of the call
};

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

inline int reference_depth(const char* path) {
    if (path == nullptr || std::strcmp(path, "/") == 0) return 0;
    if (*path == '\0') return 1;
    int depth = 1;
    for (const char* p = path + 1; *p; ++p) depth += *p == '/';
    return depth;
}

inline ReferenceResult reference_walk(const inventory::Sources& s, void* root_data) {
    struct Node {
        std::string path;
        void* user_data;
        uint32_t kind;
        std::vector<uint8_t> desc;
        const velkdirectfe_nvlist_t* props;
        int depth;
        int parent;
    };
    ReferenceResult out{-1, {}};
    size_t total = size_t{s.fru_count} + s.sensor_count + s.indicator_count + s.component_count;
    if (total == 0) return out;
    std::vector<Node> nodes;
    nodes.push_back({"", root_data, 0, std::vector<uint8_t>(10, 0), nullptr, 0, -1});
    int max_depth = 0;
    auto fill = [&](const char* path, uint32_t kind, const uint8_t* desc, const velkdirectfe_nvlist_t* props) {
        nodes.push_back({path, nullptr, kind, std::vector<uint8_t>(desc, desc + 10), props, reference_depth(path), -1});
        max_depth = std::max(max_depth, nodes.back().depth);
    };
    auto fill_all = [&](const auto* records, uint32_t count) {
        for (uint32_t i = 0; i < count; ++i) fill(records[i].path, records[i].kind, records[i].desc, records[i].props);
    };
    fill_all(s.frus, s.fru_count);
    fill_all(s.sensors, s.sensor_count);
    fill_all(s.indicators, s.indicator_count);
    fill_all(s.components, s.component_count);
    const uint8_t ancestor_desc[10] = {0, 0, 0x08};
    for (size_t i = 1; i < nodes.size(); ++i) {
        char buffer[256];
        std::snprintf(buffer, sizeof buffer, "%s", nodes[i].path.c_str()); // cut to 255 characters
        char* slash = std::strrchr(buffer, '/');
        if (slash == nullptr) continue;
        *slash = '\0';
        for (size_t j = 0; j < nodes.size() && nodes[i].parent < 0; ++j)
            if (nodes[j].path == buffer) nodes[i].parent = static_cast<int>(j);
        if (nodes[i].parent >= 0) continue;
        fill(buffer, 1, ancestor_desc, nullptr);
        nodes[i].parent = static_cast<int>(nodes.size() - 1);
    }
    for (int level = 1; level <= max_depth; ++level)
        for (auto& node : nodes)
            if (node.depth == level) {
                void* parent_data = node.parent >= 0 ? nodes[node.parent].user_data : nullptr;
                out.calls.push_back({node.path, node.kind, node.desc, node.props, parent_data});
                node.user_data = reinterpret_cast<void*>(out.calls.size());
            }
    out.result = 0;
    return out;
}

} // namespace vdfe::test
