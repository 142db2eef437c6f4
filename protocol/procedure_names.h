// Names of the procedures as the client stubs spell them, without the
// "velkd_" prefix and the "_1" version: "get_sens_val" is procedure 9. Used in
// logs and in fault descriptions.
#pragma once

#include <optional>
#include <string_view>

#include "protocol_tables.h"

namespace velk::protocol {

// "?" for a number outside 0..kProcedureCount (0 is "null").
constexpr std::string_view procedure_name(int number) {
    return number >= 0 && number <= kProcedureCount ? kProcedureNames[number] : "?";
}

constexpr std::optional<int> procedure_number(std::string_view name) {
    for (int number = 1; number <= kProcedureCount; ++number)
        if (kProcedureNames[number] == name) return number;
    return std::nullopt;
}

} // namespace velk::protocol
