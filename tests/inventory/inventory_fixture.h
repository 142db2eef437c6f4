// Recording callbacks, public records built from plain paths, and the worked
// example served by the test daemon.
#pragma once

#include <string>
#include <vector>

#include "../api/api_fixture.h"
#include "reference_walk.h"
#include "wire/block_layout.h"

namespace vdfe::test {

// Records every callback; each returns 1 + its position as the node's data.
inline thread_local std::vector<Callback>* t_recorded = nullptr;

inline void* record_callback(const char* path, uint32_t kind, const uint8_t* desc, const velkdirectfe_nvlist_t* props,
                             void* parent_data) {
    t_recorded->push_back({path, kind, std::vector<uint8_t>(desc, desc + 10), props, parent_data});
    return reinterpret_cast<void*>(t_recorded->size());
}

inline void* const kRootData = reinterpret_cast<void*>(uintptr_t{0x7F000000});

// A test with the four queries answered: empty lists unless a test serves
// records, built by wire() with a kind and the descriptor 0xD0, 0xD1, ...
class InventoryTest : public ApiTest {
protected:
    void SetUp() override {
        t_recorded = &calls;
        for (uint32_t proc : {3u, 5u, 7u, 29u}) daemon.reply(proc, words({0, 0}));
    }
    template <typename Public, typename Wire>
    Wire wire(const wire::BlockLayout& layout, const std::string& path, uint32_t kind,
              std::vector<std::pair<std::string, std::string>> props = {}) {
        Public rec{};
        rec.kind = kind;
        for (int i = 0; i < 10; ++i) rec.desc[i] = static_cast<uint8_t>(0xD0 + i);
        Wire out{};
        wire::block_from_record(layout, &rec, out.block);
        out.path = pool.keep(path);
        if constexpr (requires { out.aux_str; }) out.aux_str = pool.keep("name");
        if constexpr (requires { out.opt_str; }) out.opt_str = pool.keep("");
        out.prop_count = static_cast<uint32_t>(props.size());
        out.props = props.empty() ? nullptr : pool.props(props);
        return out;
    }
    velkfe_fru_attr fru(const std::string& path) {
        return wire<velkdirectfe_fru_attr_t, velkfe_fru_attr>(wire::kFruLayout, path, 10);
    }
    // FRUs '/a' and '/a/b', sensor '/a/b/s', indicator '/c/d/led', no components.
    void serve_worked_example() {
        velkfe_fru_attr frus[] = {fru("/a"), fru("/a/b")};
        auto sensor = wire<velkdirectfe_sensor_attr_t, velkfe_sensor_attr>(wire::kSensorLayout, "/a/b/s", 20,
                                                                           {{"unit", "C"}, {"max", "90"}});
        auto led = wire<velkdirectfe_ind_attr_t, velkfe_ind_attr>(wire::kIndicatorLayout, "/c/d/led", 30);
        daemon.reply(7, xdr_fru_attrs_res, fru_attrs_res{0, 2, frus});
        daemon.reply(3, xdr_sensor_attrs_res, sensor_attrs_res{0, 1, &sensor});
        daemon.reply(5, xdr_indicator_attrs_res, indicator_attrs_res{0, 1, &led});
    }
    std::vector<std::string> paths() const {
        std::vector<std::string> out;
        for (auto& call : calls) out.push_back(call.path);
        return out;
    }
    WirePool pool;
    std::vector<Callback> calls;
};
using Paths = std::vector<std::string>;

} // namespace vdfe::test
