// The procedure table (procedures.def) counted, and checked against the
// public header when compiling: the rows run 1 to N in order, every row's
// number is its enumerator, and every stub is named after its enumerator.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "velkdirectfe_wire.h"

namespace vdfe::wire {

inline constexpr std::array kProcedureNumbers{
#define VELKD_PROCEDURE(number, enumerator, ...) number,
#include "procedures.def"
#undef VELKD_PROCEDURE
};

inline constexpr int kProcedureCount = static_cast<int>(kProcedureNumbers.size());

constexpr bool numbered_one_to_count() {
    for (std::size_t i = 0; i < kProcedureNumbers.size(); ++i)
        if (kProcedureNumbers[i] != static_cast<int>(i + 1)) return false;
    return true;
}
static_assert(numbered_one_to_count(), "procedures.def must list procedures 1 to N in order");

// True for the stub "velkd_get_sens_val_1" and the enumerator "VELKD_GET_SENS_VAL".
constexpr bool named_after(std::string_view stub, std::string_view enumerator) {
    constexpr std::string_view prefix = "velkd_", suffix = "_1";
    if (!stub.starts_with(prefix) || !stub.ends_with(suffix) || !enumerator.starts_with("VELKD_")) return false;
    stub = stub.substr(prefix.size(), stub.size() - prefix.size() - suffix.size());
    enumerator.remove_prefix(prefix.size());
    if (stub.size() != enumerator.size()) return false;
    for (std::size_t i = 0; i < stub.size(); ++i) {
        char upper = stub[i] >= 'a' && stub[i] <= 'z' ? static_cast<char>(stub[i] - 'a' + 'A') : stub[i];
        if (upper != enumerator[i]) return false;
    }
    return true;
}

#define VELKD_PROCEDURE(number, enumerator, stub, ...)                                    \
    static_assert((number) == (enumerator), "procedure " #number " is not " #enumerator); \
    static_assert(named_after(#stub, #enumerator), #stub " is not named after " #enumerator);
#include "procedures.def"
#undef VELKD_PROCEDURE

} // namespace vdfe::wire
