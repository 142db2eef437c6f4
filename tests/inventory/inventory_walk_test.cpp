// The public walk against the test daemon: the four queries, the tree, the
// callbacks and what they receive.
#include "../api/api_fixture.h"
#include "inventory_fixture.h"
#include "wire/block_layout.h"

using namespace vdfe::test;

namespace {

class InventoryWalk : public ApiTest {
protected:
    void SetUp() override {
        t_recorded = &calls;
        for (uint32_t proc : {3u, 5u, 7u, 29u}) daemon.reply(proc, words({0, 0}));
    }

    // A wire record whose block carries kind and a descriptor 0xD0, 0xD1, ...
    template <typename Public, typename Wire>
    Wire wire(const vdfe::wire::BlockLayout& layout, const std::string& path, uint32_t kind,
              std::vector<std::pair<std::string, std::string>> props = {}) {
        Public rec{};
        rec.kind = kind;
        for (int i = 0; i < 10; ++i) rec.desc[i] = static_cast<uint8_t>(0xD0 + i);
        Wire out{};
        vdfe::wire::block_from_record(layout, &rec, out.block);
        out.path = pool.keep(path);
        if constexpr (requires { out.aux_str; }) out.aux_str = pool.keep("name");
        if constexpr (requires { out.opt_str; }) out.opt_str = pool.keep("");
        out.prop_count = static_cast<uint32_t>(props.size());
        out.props = props.empty() ? nullptr : pool.props(props);
        return out;
    }
    velkfe_fru_attr fru(const std::string& path, uint32_t kind = 10) {
        return wire<velkdirectfe_fru_attr_t, velkfe_fru_attr>(vdfe::wire::kFruLayout, path, kind);
    }
    velkfe_sensor_attr sensor(const std::string& path, uint32_t kind = 20,
                              std::vector<std::pair<std::string, std::string>> props = {}) {
        return wire<velkdirectfe_sensor_attr_t, velkfe_sensor_attr>(vdfe::wire::kSensorLayout, path, kind, props);
    }
    velkfe_ind_attr indicator(const std::string& path, uint32_t kind = 30) {
        return wire<velkdirectfe_ind_attr_t, velkfe_ind_attr>(vdfe::wire::kIndicatorLayout, path, kind);
    }

    std::vector<std::string> paths() const {
        std::vector<std::string> out;
        for (auto& call : calls) out.push_back(call.path);
        return out;
    }
    void* data_of(size_t call) const { return reinterpret_cast<void*>(call + 1); }

    WirePool pool;
    std::vector<Callback> calls;
};

using Paths = std::vector<std::string>;

} // namespace

TEST_F(InventoryWalk, WorkedExampleLevelByLevelWithSynthesizedAncestors) {
    velkfe_fru_attr frus[] = {fru("/a"), fru("/a/b")};
    velkfe_sensor_attr sensors[] = {sensor("/a/b/s")};
    velkfe_ind_attr inds[] = {indicator("/c/d/led")};
    daemon.reply(7, xdr_fru_attrs_res, fru_attrs_res{0, 2, frus});
    daemon.reply(3, xdr_sensor_attrs_res, sensor_attrs_res{0, 1, sensors});
    daemon.reply(5, xdr_indicator_attrs_res, indicator_attrs_res{0, 1, inds});

    ASSERT_EQ(velkdirectfe_inventory_direct(0, record_callback, kRootData), 0);
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
    // synthesized ancestors: kind 1, ten zero bytes but byte 2 = 0x08, no properties
    for (size_t i : {1u, 3u}) {
        EXPECT_EQ(calls[i].kind, 1u);
        EXPECT_EQ(calls[i].desc, (std::vector<uint8_t>{0, 0, 0x08, 0, 0, 0, 0, 0, 0, 0}));
        EXPECT_EQ(calls[i].props, nullptr);
    }
}

TEST_F(InventoryWalk, PropertiesArePassedAsTheRecordsOwnList) {
    velkdirectfe_nvlist_t seen{};
    static thread_local std::string first_name;
    velkfe_sensor_attr sensors[] = {sensor("/s", 20, {{"unit", "C"}, {"max", "90"}})};
    daemon.reply(3, xdr_sensor_attrs_res, sensor_attrs_res{0, 1, sensors});
    auto callback = [](const char*, uint32_t, const uint8_t*, const velkdirectfe_nvlist_t* props, void*) -> void* {
        first_name = props ? std::string(props->name) + "=" + props->value + "," + props->next->name : "none";
        return nullptr;
    };
    ASSERT_EQ(velkdirectfe_inventory_direct(0, callback, nullptr), 0);
    EXPECT_EQ(first_name, "unit=C,max");
    (void)seen;
}

TEST_F(InventoryWalk, NullCallbackResultGivesChildrenNullParentData) {
    velkfe_fru_attr frus[] = {fru("/a"), fru("/a/b")};
    daemon.reply(7, xdr_fru_attrs_res, fru_attrs_res{0, 2, frus});
    static thread_local std::vector<void*> parents;
    auto callback = [](const char*, uint32_t, const uint8_t*, const velkdirectfe_nvlist_t*, void* parent) -> void* {
        parents.push_back(parent);
        return nullptr;
    };
    ASSERT_EQ(velkdirectfe_inventory_direct(0, callback, kRootData), 0);
    EXPECT_EQ(parents, (std::vector<void*>{kRootData, nullptr}));
}

// A callback that throws (it must not) never ends the walk half-way and never
// lets the exception out: every node is reported, the thrower's node counts
// as having returned null, and the result stays 0.
TEST_F(InventoryWalk, ThrowingCallbackStillSeesEveryNodeReported) {
    velkfe_fru_attr frus[] = {fru("/a"), fru("/c"), fru("/a/b")};
    daemon.reply(7, xdr_fru_attrs_res, fru_attrs_res{0, 3, frus});
    static thread_local std::vector<std::pair<std::string, void*>> seen;
    seen.clear();
    auto callback = [](const char* path, uint32_t, const uint8_t*, const velkdirectfe_nvlist_t*,
                       void* parent) -> void* {
        seen.emplace_back(path, parent);
        if (seen.size() == 1) throw std::bad_alloc();
        if (seen.size() == 2) throw std::runtime_error("not a C callback");
        return nullptr;
    };
    ASSERT_EQ(velkdirectfe_inventory_direct(0, callback, kRootData), 0);
    using Seen = std::vector<std::pair<std::string, void*>>;
    EXPECT_EQ(seen, (Seen{{"/a", kRootData}, {"/c", kRootData}, {"/a/b", nullptr}}));
}

TEST_F(InventoryWalk, FailedQueryLeavesItsKindOutButItsPathStillStands) {
    velkfe_fru_attr frus[] = {fru("/x/board/fru")};
    daemon.reply(7, xdr_fru_attrs_res, fru_attrs_res{0, 1, frus});
    daemon.reply_status(3, 4);                          // sensors: daemon status
    daemon.script(5, {Behaviour::no_procedure, {}});    // indicators: RPC failure
    ASSERT_EQ(velkdirectfe_inventory_direct(0, record_callback, kRootData), 0);
    EXPECT_EQ(paths(), (Paths{"/x", "/x/board", "/x/board/fru"}));
}

TEST_F(InventoryWalk, NothingObtainedGivesMinusOneAndNoCallback) {
    EXPECT_EQ(velkdirectfe_inventory_direct(0, record_callback, kRootData), -1); // all empty
    for (uint32_t proc : {3u, 5u, 7u, 29u}) daemon.reply_status(proc, 2);
    EXPECT_EQ(velkdirectfe_inventory_direct(0, record_callback, kRootData), -1); // all failed
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(velkdirectfe_inventory_direct(0, nullptr, kRootData), -1);
}

TEST_F(InventoryWalk, OddPathsFindTheirPlaces) {
    velkfe_sensor_attr sensors[] = {sensor("/"), sensor("/x"), sensor(""), sensor("abc"), sensor("a/b"),
                                    sensor("/q/"), sensor("/x")};
    daemon.reply(3, xdr_sensor_attrs_res, sensor_attrs_res{0, 7, sensors});
    velkfe_ind_attr inds[] = {indicator("/x/p"), indicator("/m/p"), indicator("/m/q")};
    daemon.reply(5, xdr_indicator_attrs_res, indicator_attrs_res{0, 3, inds});
    ASSERT_EQ(velkdirectfe_inventory_direct(0, record_callback, kRootData), 0);
    // "/" is never reported; "" and "abc" have no parent; "a/b" gets the
    // synthesized "a"; "/q/" has depth 2 below a synthesized "/q"; '/x/p'
    // hangs from the first '/x'; '/m' is synthesized once for both.
    // Ancestors come after the objects, in the order linking needed them.
    ASSERT_EQ(paths(), (Paths{"/x", "", "abc", "/x", "a", "/q", "/m", "a/b", "/q/", "/x/p", "/m/p", "/m/q"}));
    EXPECT_EQ(calls[0].parent_data, kRootData); // '/x' under the root, not under "/"
    EXPECT_EQ(calls[1].parent_data, nullptr);   // ""
    EXPECT_EQ(calls[2].parent_data, nullptr);   // "abc"
    EXPECT_EQ(calls[4].parent_data, nullptr);   // synthesized "a"
    EXPECT_EQ(calls[4].kind, 1u);
    EXPECT_EQ(calls[7].parent_data, data_of(4));
    EXPECT_EQ(calls[8].parent_data, data_of(5)); // '/q/' under '/q'
    EXPECT_EQ(calls[9].parent_data, data_of(0)); // the first '/x'
    EXPECT_EQ(calls[10].parent_data, data_of(6));
    EXPECT_EQ(calls[11].parent_data, data_of(6));
}

TEST_F(InventoryWalk, LongPathSeeksItsParentWithinTwoHundredFiftyFiveCharacters) {
    std::string parent = "/" + std::string(200, 'p');
    std::string child = parent + "/" + std::string(100, 'c'); // 302 characters
    std::string cut = child.substr(0, 255);
    velkfe_fru_attr frus[] = {fru(parent), fru(child), fru(cut)};
    daemon.reply(7, xdr_fru_attrs_res, fru_attrs_res{0, 3, frus});
    ASSERT_EQ(velkdirectfe_inventory_direct(0, record_callback, kRootData), 0);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1].path, child);
    EXPECT_EQ(calls[1].parent_data, data_of(0));
    EXPECT_EQ(calls[2].path, cut);
    EXPECT_EQ(calls[2].parent_data, data_of(0));
}
