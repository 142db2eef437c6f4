// The inventory walk over 1,000, 10,000 and 100,000 objects, fed the four
// lists in-process so that only the tree is timed. The time per object
// stays flat when the walk is linear; Google Benchmark's fitted complexity
// is printed at the end.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "inventory/inventory_tree.h"
#include "reference_walk.h"

namespace {

// A platform-shaped inventory: chassis/slotN/boardM/... with sensors and
// indicators below FRUs, and every third board level missing (synthesized);
// a quarter of each kind, in the tests' record store.
vdfe::test::RecordStore platform_inventory(size_t objects) {
    vdfe::test::RecordStore store;
    for (size_t i = 0; i < objects; ++i) {
        std::string path = "/chassis/slot" + std::to_string(i / 100) + "/board" + std::to_string(i / 10 % 10) +
                           (i % 3 ? "/dev" : "/x/dev") + std::to_string(i);
        switch (i * 4 / objects) {
        case 0: store.frus.push_back(store.make<velkdirectfe_fru_attr_t>(path, 0, 0, nullptr)); break;
        case 1: store.sensors.push_back(store.make<velkdirectfe_sensor_attr_t>(path, 0, 0, nullptr)); break;
        case 2: store.indicators.push_back(store.make<velkdirectfe_ind_attr_t>(path, 0, 0, nullptr)); break;
        default: store.components.push_back(store.make<velkdirectfe_comp_attr_t>(path, 0, 0, nullptr)); break;
        }
    }
    return store;
}

void* count_node(const char*, uint32_t, const uint8_t*, const velkdirectfe_nvlist_t*, void* parent) {
    return static_cast<char*>(parent) + 1;
}

void BM_InventoryWalk(benchmark::State& state) {
    vdfe::test::RecordStore inventory = platform_inventory(static_cast<size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(vdfe::inventory::walk(inventory.sources(), count_node, nullptr));
    state.SetComplexityN(state.range(0));
    state.counters["per_object"] = benchmark::Counter(
        static_cast<double>(state.range(0)), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_InventoryWalk)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

// The plain scan that the walk replaced, for contrast: quadratic.
void BM_ReferenceScan(benchmark::State& state) {
    vdfe::test::RecordStore inventory = platform_inventory(static_cast<size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(vdfe::test::reference_walk(inventory.sources(), nullptr));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ReferenceScan)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oNSquared);

} // namespace

BENCHMARK_MAIN();
