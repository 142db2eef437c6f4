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
// indicators below FRUs, and every third board level missing (synthesized).
struct Inventory {
    explicit Inventory(size_t objects) {
        paths.reserve(objects);
        for (size_t i = 0; i < objects; ++i)
            paths.push_back("/chassis/slot" + std::to_string(i / 100) + "/board" + std::to_string(i / 10 % 10) +
                            (i % 3 ? "/dev" : "/x/dev") + std::to_string(i));
        size_t quarter = objects / 4;
        frus.resize(quarter);
        sensors.resize(quarter);
        indicators.resize(quarter);
        components.resize(objects - 3 * quarter);
        size_t next = 0;
        for (auto& r : frus) r.path = paths[next++].data();
        for (auto& r : sensors) r.path = paths[next++].data();
        for (auto& r : indicators) r.path = paths[next++].data();
        for (auto& r : components) r.path = paths[next++].data();
    }
    vdfe::inventory::Sources sources() const {
        return {frus.data(), uint32_t(frus.size()), sensors.data(), uint32_t(sensors.size()),
                indicators.data(), uint32_t(indicators.size()), components.data(), uint32_t(components.size())};
    }
    std::vector<std::string> paths;
    std::vector<velkdirectfe_fru_attr_t> frus;
    std::vector<velkdirectfe_sensor_attr_t> sensors;
    std::vector<velkdirectfe_ind_attr_t> indicators;
    std::vector<velkdirectfe_comp_attr_t> components;
};

void* count_node(const char*, uint32_t, const uint8_t*, const velkdirectfe_nvlist_t*, void* parent) {
    return static_cast<char*>(parent) + 1;
}

void BM_InventoryWalk(benchmark::State& state) {
    Inventory inventory(static_cast<size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(vdfe::inventory::walk(inventory.sources(), count_node, nullptr));
    state.SetComplexityN(state.range(0));
    state.counters["per_object"] = benchmark::Counter(
        static_cast<double>(state.range(0)), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_InventoryWalk)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

// The plain scan that the walk replaced, for contrast: quadratic.
void BM_ReferenceScan(benchmark::State& state) {
    Inventory inventory(static_cast<size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(vdfe::test::reference_walk(inventory.sources(), nullptr));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ReferenceScan)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oNSquared);

} // namespace

BENCHMARK_MAIN();
