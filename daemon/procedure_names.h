// Names of the procedures as the client stubs spell them, without the
// "velkd_" prefix and the "_1" version: "get_sens_val" is procedure 9. Used in
// logs and in fault descriptions.
#pragma once

#include <optional>
#include <string_view>

#include "wire/procedure_table.h"

namespace velkd {

using vdfe::wire::kProcedureCount;

// "?" for a number outside 1..kProcedureCount.
std::string_view procedure_name(int number);
std::optional<int> procedure_number(std::string_view name);

} // namespace velkd
