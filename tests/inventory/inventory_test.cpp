// The inventory walk: the library's tree against the plain reference scan on
// random inventories; against the test daemon, the four queries, failed
// queries, callbacks that return null or throw, and every allocation of a
// walk made to fail in turn.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "cancellable_thread.h"
#include "failing_alloc.h"
#include "reference_walk.h"
#include "test_daemon.h"

using namespace vdfe::test;
using Paths = std::vector<std::string>;
using FruAttr = velkdirectfe_fru_attr_t;
using SensorAttr = velkdirectfe_sensor_attr_t;
using IndAttr = velkdirectfe_ind_attr_t;
using CompAttr = velkdirectfe_comp_attr_t;

namespace {

// Records every callback; each returns 1 + its position as the node's data.
thread_local std::vector<Callback>* t_recorded = nullptr;

void* record_callback(const char* path, uint32_t kind, const uint8_t* desc,
                      const velkdirectfe_nvlist_t* props, void* parent_data) {
    t_recorded->push_back({path, kind, std::vector<uint8_t>(desc, desc + 10), props, parent_data});
    return reinterpret_cast<void*>(t_recorded->size());
}

void* const kRootData = reinterpret_cast<void*>(uintptr_t{0x7F000000});

// Paths of every awkward shape: shared and missing ancestors, duplicates, no
// leading '/', trailing '/', "/" itself, "", deep chains, very long paths.
std::string random_path(std::mt19937& rng) {
    static const char* const parts[] = {"a", "b", "c", "mb", "psu0", "fan"};
    std::uniform_int_distribution<int> pick(0, 99);
    int shape = pick(rng);
    if (shape < 3) return "/";
    if (shape < 5) return "";
    std::string path;
    bool leading = shape >= 12;
    int depth = 1 + pick(rng) % (shape > 90 ? 40 : 5);
    for (int d = 0; d < depth; ++d) {
        if (d > 0 || leading) path += '/';
        path += parts[pick(rng) % 6];
        if (shape > 95) path += std::string(40, 'x'); // runs past 255 characters
    }
    if (pick(rng) < 6) path += '/';
    return path;
}

RecordStore random_inventory(std::mt19937& rng, int objects) {
    RecordStore store;
    static velkdirectfe_nvlist_t lists[3] = {};
    std::uniform_int_distribution<int> pick(0, 99);
    for (int i = 0; i < objects; ++i) {
        std::string path = random_path(rng);
        uint32_t kind = pick(rng) % 4;
        auto seed = static_cast<uint8_t>(pick(rng));
        const velkdirectfe_nvlist_t* props = pick(rng) < 30 ? &lists[pick(rng) % 3] : nullptr;
        switch (pick(rng) % 4) {
        case 0: store.frus.push_back(store.make<FruAttr>(path, kind, seed, props)); break;
        case 1: store.sensors.push_back(store.make<SensorAttr>(path, kind, seed, props)); break;
        case 2: store.indicators.push_back(store.make<IndAttr>(path, kind, seed, props)); break;
        default: store.components.push_back(store.make<CompAttr>(path, kind, seed, props)); break;
        }
    }
    return store;
}

// A walk through the public call with the four queries answered: empty lists
// unless a test serves records.
class InventoryTest : public testing::Test {
protected:
    void SetUp() override {
        t_recorded = &calls;
        for (uint32_t proc : {3u, 5u, 7u, 29u}) daemon.reply(proc, words({0, 0}));
    }
    // Answers a query with one record for each path (every string the path).
    template <typename Res>
    void serve(uint32_t procedure, bool_t (*routine)(XDR*, Res*), Paths paths) {
        std::vector<std::remove_pointer_t<decltype(Res::items)>> recs(paths.size());
        for (size_t i = 0; i < paths.size(); ++i) {
            recs[i].path = paths[i].data();
            if constexpr (requires { recs[i].aux_str; }) { recs[i].aux_str = paths[i].data(); }
            if constexpr (requires { recs[i].opt_str; }) { recs[i].opt_str = paths[i].data(); }
        }
        daemon.reply(procedure, routine, Res{0, static_cast<uint32_t>(recs.size()), recs.data()});
    }
    // FRUs '/a' and '/a/b', sensor '/a/b/s', indicator '/c/d/led', no components.
    void serve_worked_example() {
        serve(7, xdr_fru_attrs_res, {"/a", "/a/b"});
        serve(3, xdr_sensor_attrs_res, {"/a/b/s"});
        serve(5, xdr_indicator_attrs_res, {"/c/d/led"});
    }
    // The walk with the index-th allocation failing (-1: none).
    int walk(long index = -1) {
        calls.clear();
        AllocationProbe::fail_at(index);
        int result = velkdirectfe_inventory_direct(0, paused_record, kRootData);
        AllocationProbe::disarm();
        return result;
    }
    static void* paused_record(const char* path, uint32_t kind, const uint8_t* desc,
                               const velkdirectfe_nvlist_t* props, void* parent) {
        AllocationProbe::Pause pause; // the recorder's own allocations are not the library's
        return record_callback(path, kind, desc, props, parent);
    }
    Paths paths() const {
        Paths out;
        for (auto& call : calls) out.push_back(call.path);
        return out;
    }
    TestDaemon daemon;
    std::vector<Callback> calls;
};
using InventoryWalk = InventoryTest;
using InventoryAllocation = InventoryTest;

} // namespace

// Kinds, descriptors, property lists, synthesized ancestors and the parent
// data handed down are all compared call for call.
TEST(InventoryDifferential, LibraryMatchesTheReferenceScanOnRandomInventories) {
    for (unsigned seed = 1; seed <= 400; ++seed) {
        std::mt19937 rng(seed);
        RecordStore store = random_inventory(rng, 1 + static_cast<int>(rng() % 60));
        ReferenceResult expected = reference_walk(store.sources(), kRootData);
        std::vector<Callback> calls;
        t_recorded = &calls;
        int result = vdfe::inventory::walk(store.sources(), record_callback, kRootData);
        ASSERT_EQ(result, expected.result) << "seed " << seed;
        ASSERT_EQ(calls.size(), expected.calls.size()) << "seed " << seed;
        for (size_t i = 0; i < calls.size(); ++i)
            ASSERT_EQ(calls[i], expected.calls[i])
                << "seed " << seed << ", call " << i << " (" << calls[i].path << ")";
    }
}

// A callback that returns null, or throws (it must not), gives its node's
// children null parent data; an exception never ends the walk half-way nor
// gets out: every node is reported and the result stays 0.
TEST_F(InventoryWalk, NullOrThrowingCallbacksGiveChildrenNullParentData) {
    serve(7, xdr_fru_attrs_res, {"/a", "/c", "/a/b", "/a/b/d"});
    static thread_local std::vector<std::pair<std::string, void*>> seen;
    auto callback = [](const char* path, uint32_t, const uint8_t*, const velkdirectfe_nvlist_t*,
                       void* parent) -> void* {
        seen.emplace_back(path, parent);
        if (seen.size() == 1) throw std::bad_alloc();
        if (seen.size() == 2) throw std::runtime_error("not a C callback");
        return nullptr;
    };
    ASSERT_EQ(velkdirectfe_inventory_direct(0, callback, kRootData), 0);
    using Seen = std::vector<std::pair<std::string, void*>>;
    EXPECT_EQ(seen, (Seen{{"/a", kRootData}, {"/c", kRootData}, {"/a/b", nullptr},
                          {"/a/b/d", nullptr}}));
}

namespace {

// Cancels its own thread and reaches a cancellation point.
void* cancelling_callback(const char*, uint32_t, const uint8_t*, const velkdirectfe_nvlist_t*, void*) {
    pthread_cancel(pthread_self());
    pthread_testcancel();
    return nullptr;
}

} // namespace

// A walk whose thread is cancelled, in its first callback or while its third
// query waits for a silent daemon, ends that thread as a cancelled blocking
// read would: the process lives on, the lists obtained and the tree are
// released (the leak checker watches) and no descriptor stays open.
TEST_F(InventoryWalk, CancelledWalkEndsItsThreadAndReleasesEverything) {
    SKIP_WHERE_CANCELLATION_CANNOT_UNWIND();
    serve_worked_example();
    for (bool in_query : {false, true}) {
        if (in_query) daemon.script(5, {Behaviour::silent, {}});
        int descriptors = settled_descriptors();
        size_t calls_before = daemon.call_count();
        CancellableThread walker([] { velkdirectfe_inventory_direct(0, cancelling_callback, kRootData); });
        for (int i = 0; in_query && i < 500 && daemon.call_count() < calls_before + 3; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (in_query) walker.cancel();
        EXPECT_EQ(walker.join(), PTHREAD_CANCELED) << (in_query ? "in a query" : "in a callback");
        EXPECT_EQ(settled_descriptors(), descriptors);
        EXPECT_EQ(daemon.call_count(), calls_before + (in_query ? 3 : 4));
    }
}

// A failed query leaves its kind out but a path above the others still
// stands; nothing obtained at all gives -1 and no callback.
TEST_F(InventoryWalk, FailedQueriesLeaveTheirKindOut) {
    EXPECT_EQ(walk(), -1); // all empty
    for (uint32_t proc : {3u, 5u, 7u, 29u}) daemon.reply_status(proc, 2);
    EXPECT_EQ(walk(), -1); // all failed
    EXPECT_TRUE(calls.empty());
    serve(7, xdr_fru_attrs_res, {"/x/board/fru"});
    serve(29, xdr_comp_attrs_res, {"/x"});
    daemon.reply_status(3, 4);                       // sensors: daemon status
    daemon.script(5, {Behaviour::no_procedure, {}}); // indicators: RPC failure
    ASSERT_EQ(walk(), 0);
    EXPECT_EQ(paths(), (Paths{"/x", "/x/board", "/x/board/fru"}));
}

// The walk never crashes or leaks, reports nothing when it gives -1, and
// otherwise a sound subset of the tree; the clean run queries FRUs, sensors,
// indicators and components in turn and reports the worked example level by
// level.
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
                               reinterpret_cast<uintptr_t>(parent) <= i; // an earlier callback's
                EXPECT_TRUE(earlier) << calls[i].path;
            }
        },
        [&](int result) {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(paths(), (Paths{"/a", "/c", "/a/b", "/c/d", "/a/b/s", "/c/d/led"}));
            std::vector<uint32_t> procedures;
            for (auto& call : daemon.calls()) procedures.push_back(call.procedure);
            ASSERT_GE(procedures.size(), 4u);
            EXPECT_EQ(std::vector<uint32_t>(procedures.end() - 4, procedures.end()),
                      (std::vector<uint32_t>{7, 3, 5, 29}));
        });
    EXPECT_GT(clean, 30);
}
