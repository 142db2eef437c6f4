// Every allocation of a walk made to fail in turn: the walk never crashes or
// leaks, reports nothing when it gives -1, and otherwise reports a sound
// subset of the tree. The two growths of the node array are pinned down by
// failing each of them.
#include <gtest/gtest.h>

#include <set>

#include "../api/api_fixture.h"
#include "failing_alloc.h"
#include "inventory_fixture.h"
#include "wire/block_layout.h"

using namespace vdfe::test;
using Kind = AllocationProbe::Kind;

namespace {

void* paused_record(const char* path, uint32_t kind, const uint8_t* desc, const velkdirectfe_nvlist_t* props,
                    void* parent) {
    AllocationProbe::Pause pause; // the recorder's own allocations are not the library's
    return record_callback(path, kind, desc, props, parent);
}

class InventoryAllocation : public ApiTest {
protected:
    // The worked example: FRUs '/a' and '/a/b', sensor '/a/b/s', indicator
    // '/c/d/led', no components.
    void SetUp() override {
        t_recorded = &calls;
        frus[0].path = pool.keep("/a");
        frus[1].path = pool.keep("/a/b");
        frus[0].aux_str = frus[1].aux_str = pool.keep("f");
        sensor.path = pool.keep("/a/b/s");
        sensor.aux_str = pool.keep("s");
        sensor.opt_str = pool.keep("");
        sensor.prop_count = 1;
        sensor.props = pool.props({{"unit", "C"}});
        led.path = pool.keep("/c/d/led");
        led.aux_str = pool.keep("led");
        daemon.reply(7, xdr_fru_attrs_res, fru_attrs_res{0, 2, frus});
        daemon.reply(3, xdr_sensor_attrs_res, sensor_attrs_res{0, 1, &sensor});
        daemon.reply(5, xdr_indicator_attrs_res, indicator_attrs_res{0, 1, &led});
        daemon.reply(29, words({0, 0}));
    }

    std::vector<std::string> walked_paths() const {
        std::vector<std::string> out;
        for (auto& c : calls) out.push_back(c.path);
        return out;
    }

    WirePool pool;
    velkfe_fru_attr frus[2] = {};
    velkfe_sensor_attr sensor{};
    velkfe_ind_attr led{};
    std::vector<Callback> calls;
};

using Paths = std::vector<std::string>;

} // namespace

TEST_F(InventoryAllocation, EveryFailureGivesASoundWalk) {
    const std::set<std::string> known{"/a", "/a/b", "/a/b/s", "/c", "/c/d", "/c/d/led"};
    long clean = sweep_allocation_failures(
        [&] {
            calls.clear();
            return velkdirectfe_inventory_direct(0, paused_record, kRootData);
        },
        [&](int result) {
            if (result == -1) EXPECT_TRUE(calls.empty());
            else EXPECT_EQ(result, 0);
            for (size_t i = 0; i < calls.size(); ++i) {
                EXPECT_TRUE(known.count(calls[i].path)) << calls[i].path;
                void* parent = calls[i].parent_data;
                bool earlier = parent == kRootData || parent == nullptr ||
                               reinterpret_cast<uintptr_t>(parent) <= i; // data of an earlier callback
                EXPECT_TRUE(earlier) << calls[i].path;
            }
        },
        [&](int result) {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(walked_paths(), (Paths{"/a", "/c", "/a/b", "/c/d", "/a/b/s", "/c/d/led"}));
        });
    EXPECT_GT(clean, 30);
}

TEST_F(InventoryAllocation, NodeArrayGrowsFromFiveToSevenToTen) {
    AllocationProbe::count_only();
    ASSERT_EQ(velkdirectfe_inventory_direct(0, paused_record, kRootData), 0);
    auto log = AllocationProbe::requests();
    AllocationProbe::disarm();
    // The node array: a calloc of 5 nodes, then reallocs to 7 and to 10.
    long first_growth = -1, second_growth = -1;
    for (size_t c = 0; c < log.size() && second_growth < 0; ++c) {
        if (log[c].kind != Kind::calloc || log[c].bytes % 5) continue;
        size_t node = log[c].bytes / 5;
        for (size_t r = c + 1; r < log.size(); ++r) {
            if (log[r].kind != Kind::realloc) continue;
            if (log[r].bytes == 7 * node) first_growth = long(r);
            else if (log[r].bytes == 10 * node && first_growth >= 0) second_growth = long(r);
        }
    }
    ASSERT_GE(first_growth, 0);
    ASSERT_GE(second_growth, 0);

    // Without the first growth '/c/d/led' stays without a parent, and nothing is added.
    calls.clear();
    AllocationProbe::fail_at(first_growth);
    ASSERT_EQ(velkdirectfe_inventory_direct(0, paused_record, kRootData), 0);
    AllocationProbe::disarm();
    EXPECT_EQ(walked_paths(), (Paths{"/a", "/a/b", "/a/b/s", "/c/d/led"}));
    EXPECT_EQ(calls[3].parent_data, nullptr);

    // Without the second, '/c/d' is added but '/c' is not.
    calls.clear();
    AllocationProbe::fail_at(second_growth);
    ASSERT_EQ(velkdirectfe_inventory_direct(0, paused_record, kRootData), 0);
    AllocationProbe::disarm();
    EXPECT_EQ(walked_paths(), (Paths{"/a", "/a/b", "/c/d", "/a/b/s", "/c/d/led"}));
    EXPECT_EQ(calls[2].parent_data, nullptr);
    EXPECT_EQ(calls[4].parent_data, reinterpret_cast<void*>(3));
}
