// Every allocation of a walk made to fail in turn: the walk never crashes or
// leaks, reports nothing when it gives -1, and otherwise reports a sound
// subset of the tree. The two growths of the node array are pinned down by
// failing each of them.
#include <set>

#include "failing_alloc.h"
#include "inventory_fixture.h"

using namespace vdfe::test;
using Kind = AllocationProbe::Kind;

namespace {

void* paused_record(const char* path, uint32_t kind, const uint8_t* desc, const velkdirectfe_nvlist_t* props,
                    void* parent) {
    AllocationProbe::Pause pause; // the recorder's own allocations are not the library's
    return record_callback(path, kind, desc, props, parent);
}

class InventoryAllocation : public InventoryTest {
protected:
    // The walk with the index-th allocation failing (-1: none) and its result.
    int walk(long index) {
        calls.clear();
        AllocationProbe::fail_at(index);
        int result = velkdirectfe_inventory_direct(0, paused_record, kRootData);
        AllocationProbe::disarm();
        return result;
    }
};

} // namespace

TEST_F(InventoryAllocation, EveryFailureGivesASoundWalk) {
    serve_worked_example();
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
            EXPECT_EQ(paths(), (Paths{"/a", "/c", "/a/b", "/c/d", "/a/b/s", "/c/d/led"}));
        });
    EXPECT_GT(clean, 30);
}

TEST_F(InventoryAllocation, NodeArrayGrowsFromFiveToSevenToTen) {
    serve_worked_example();
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
    ASSERT_EQ(walk(first_growth), 0);
    EXPECT_EQ(paths(), (Paths{"/a", "/a/b", "/a/b/s", "/c/d/led"}));
    EXPECT_EQ(calls[3].parent_data, nullptr);
    // Without the second, '/c/d' is added but '/c' is not.
    ASSERT_EQ(walk(second_growth), 0);
    EXPECT_EQ(paths(), (Paths{"/a", "/a/b", "/c/d", "/a/b/s", "/c/d/led"}));
    EXPECT_EQ(calls[2].parent_data, nullptr);
    EXPECT_EQ(calls[4].parent_data, reinterpret_cast<void*>(3));
}
