// The public walk against the test daemon: the four queries, the tree, the
// callbacks and what they receive. (The tree's shape for every kind of path
// is proven against the reference walk in inventory_differential_test.)
#include "inventory_fixture.h"

using namespace vdfe::test;

namespace {
using InventoryWalk = InventoryTest;
void* data_of(size_t call) { return reinterpret_cast<void*>(call + 1); }
} // namespace

TEST_F(InventoryWalk, WorkedExampleLevelByLevelWithSynthesizedAncestors) {
    serve_worked_example();
    static thread_local std::string sensor_props;
    auto callback = [](const char* path, uint32_t kind, const uint8_t* desc, const velkdirectfe_nvlist_t* props,
                       void* parent) {
        if (props) sensor_props = std::string(props->name) + "=" + props->value + "," + props->next->name;
        return record_callback(path, kind, desc, props, parent);
    };
    ASSERT_EQ(velkdirectfe_inventory_direct(0, callback, kRootData), 0);
    std::vector<uint32_t> procedures;
    for (auto& call : daemon.calls()) procedures.push_back(call.procedure);
    EXPECT_EQ(procedures, (std::vector<uint32_t>{7, 3, 5, 29})); // FRUs, sensors, indicators, components
    ASSERT_EQ(paths(), (Paths{"/a", "/c", "/a/b", "/c/d", "/a/b/s", "/c/d/led"}));
    EXPECT_EQ(calls[0].parent_data, kRootData);
    EXPECT_EQ(calls[1].parent_data, kRootData);
    EXPECT_EQ(calls[2].parent_data, data_of(0)); // '/a/b' under '/a'
    EXPECT_EQ(calls[3].parent_data, data_of(1)); // '/c/d' under '/c'
    EXPECT_EQ(calls[4].parent_data, data_of(2));
    EXPECT_EQ(calls[5].parent_data, data_of(3));
    EXPECT_EQ(calls[0].kind, 10u);
    EXPECT_EQ(calls[4].kind, 20u);
    EXPECT_EQ(calls[5].kind, 30u);
    EXPECT_EQ(calls[0].desc[0], 0xD0);
    EXPECT_EQ(calls[0].desc[9], 0xD9);
    EXPECT_EQ(sensor_props, "unit=C,max"); // the record's own list
    // synthesized ancestors: kind 1, ten zero bytes but byte 2 = 0x08, no properties
    for (size_t i : {1u, 3u}) {
        EXPECT_EQ(calls[i].kind, 1u);
        EXPECT_EQ(calls[i].desc, (std::vector<uint8_t>{0, 0, 0x08, 0, 0, 0, 0, 0, 0, 0}));
        EXPECT_EQ(calls[i].props, nullptr);
    }
}

// A callback that returns null, or throws (it must not), gives its node's
// children null parent data; an exception never ends the walk half-way nor
// gets out: every node is reported and the result stays 0.
TEST_F(InventoryWalk, NullOrThrowingCallbacksGiveChildrenNullParentData) {
    velkfe_fru_attr frus[] = {fru("/a"), fru("/c"), fru("/a/b"), fru("/a/b/d")};
    daemon.reply(7, xdr_fru_attrs_res, fru_attrs_res{0, 4, frus});
    static thread_local std::vector<std::pair<std::string, void*>> seen;
    auto callback = [](const char* path, uint32_t, const uint8_t*, const velkdirectfe_nvlist_t*, void* parent) -> void* {
        seen.emplace_back(path, parent);
        if (seen.size() == 1) throw std::bad_alloc();
        if (seen.size() == 2) throw std::runtime_error("not a C callback");
        return nullptr;
    };
    ASSERT_EQ(velkdirectfe_inventory_direct(0, callback, kRootData), 0);
    using Seen = std::vector<std::pair<std::string, void*>>;
    EXPECT_EQ(seen, (Seen{{"/a", kRootData}, {"/c", kRootData}, {"/a/b", nullptr}, {"/a/b/d", nullptr}}));
}

TEST_F(InventoryWalk, FailedQueryLeavesItsKindOutButItsPathStillStands) {
    velkfe_fru_attr frus[] = {fru("/x/board/fru")};
    daemon.reply(7, xdr_fru_attrs_res, fru_attrs_res{0, 1, frus});
    daemon.reply_status(3, 4);                       // sensors: daemon status
    daemon.script(5, {Behaviour::no_procedure, {}}); // indicators: RPC failure
    ASSERT_EQ(velkdirectfe_inventory_direct(0, record_callback, kRootData), 0);
    EXPECT_EQ(paths(), (Paths{"/x", "/x/board", "/x/board/fru"}));
}

TEST_F(InventoryWalk, NothingObtainedGivesMinusOneAndNoCallback) {
    EXPECT_EQ(velkdirectfe_inventory_direct(0, record_callback, kRootData), -1); // all empty
    for (uint32_t proc : {3u, 5u, 7u, 29u}) daemon.reply_status(proc, 2);
    EXPECT_EQ(velkdirectfe_inventory_direct(0, record_callback, kRootData), -1); // all failed
    EXPECT_TRUE(calls.empty());
}
