// The procedure table: for every procedure number its name and the function
// that decodes its argument, runs its handler and sends its answer.
#pragma once

#include <cstddef>
#include <string_view>

#include "call.h"
#include "call_io.h"

namespace velkd {

struct ProcedureEntry {
    std::string_view name;
    // False when the reply could not be sent (the connection is lost).
    bool (*serve)(Call& call, CallIo& io);
    // The encoded size of its largest legal argument.
    std::size_t max_argument_bytes;
};

// Null for a number the daemon does not serve.
const ProcedureEntry* find_procedure(rpcproc_t number);

} // namespace velkd
