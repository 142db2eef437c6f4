#include "procedure_names.h"

#include <array>

namespace velkd {
namespace {

constexpr std::string_view short_name(std::string_view stub) {
    stub.remove_prefix(std::string_view("velkd_").size());
    stub.remove_suffix(std::string_view("_1").size());
    return stub;
}

// Indexed by procedure number, from the protocol's procedure table.
constexpr std::array<std::string_view, kProcedureCount + 1> kNames = [] {
    std::array<std::string_view, kProcedureCount + 1> names{};
    names[0] = "null";
#define VELKD_PROCEDURE(number, enumerator, stub, ...) names[number] = short_name(#stub);
#include "wire/procedures.def"
#undef VELKD_PROCEDURE
    return names;
}();

} // namespace

std::string_view procedure_name(int number) {
    return number >= 0 && number <= kProcedureCount ? kNames[number] : "?";
}

std::optional<int> procedure_number(std::string_view name) {
    for (int number = 1; number <= kProcedureCount; ++number)
        if (kNames[number] == name) return number;
    return std::nullopt;
}

} // namespace velkd
