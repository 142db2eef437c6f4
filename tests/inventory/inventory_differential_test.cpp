// Random inventories walked by the library and by the plain reference scan
// must give identical callback sequences and results.
#include <gtest/gtest.h>

#include <random>

#include "inventory_fixture.h"

using namespace vdfe::test;

namespace {

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
        case 0: store.frus.push_back(store.make<velkdirectfe_fru_attr_t>(path, kind, seed, props)); break;
        case 1: store.sensors.push_back(store.make<velkdirectfe_sensor_attr_t>(path, kind, seed, props)); break;
        case 2: store.indicators.push_back(store.make<velkdirectfe_ind_attr_t>(path, kind, seed, props)); break;
        default: store.components.push_back(store.make<velkdirectfe_comp_attr_t>(path, kind, seed, props)); break;
        }
    }
    return store;
}

} // namespace

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
            ASSERT_EQ(calls[i], expected.calls[i]) << "seed " << seed << ", call " << i << " (" << calls[i].path << ")";
    }
}
