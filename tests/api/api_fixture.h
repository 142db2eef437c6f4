// Shared pieces of the public-interface tests: a test daemon per test, and
// wire records built from plain values.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "test_daemon.h"
#include "velkdirectfe.h"

namespace vdfe::test {

class ApiTest : public testing::Test {
protected:
    uint32_t last_procedure() const {
        auto calls = daemon.calls();
        return calls.empty() ? 0 : calls.back().procedure;
    }
    TestDaemon daemon;
};

// Storage for wire records whose strings point into it.
struct WirePool {
    char* keep(std::string text) {
        strings.push_back(std::make_unique<std::string>(std::move(text)));
        return strings.back()->data();
    }
    prop_node* props(std::vector<std::pair<std::string, std::string>> pairs) {
        auto& nodes = prop_arrays.emplace_back();
        for (auto& [name, value] : pairs) nodes.push_back({keep(name), keep(value)});
        return nodes.data();
    }
    std::vector<std::unique_ptr<std::string>> strings;
    std::vector<std::vector<prop_node>> prop_arrays;
};

// A block whose every byte is distinct, so misplaced copies show.
template <size_t N>
void fill_pattern(uint8_t (&block)[N], uint8_t seed) {
    for (size_t i = 0; i < N; ++i) block[i] = static_cast<uint8_t>(seed + i * 3);
}

inline const void* untouched_pointer() { return reinterpret_cast<const void*>(uintptr_t{0x5A5A}); }

} // namespace vdfe::test
