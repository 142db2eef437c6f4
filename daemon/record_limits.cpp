#include "record_limits.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "handlers.h"
#include "velkdirectfe_wire.h"
#include "procedure_table.h"

namespace velkd {
namespace {

uint32_t word(const char* head, std::size_t index) {
    uint32_t value;
    std::memcpy(&value, head + 4 * index, 4);
    return ntohl(value);
}

} // namespace

std::size_t record_limit(const char* head) {
    if (word(head, 1) != CALL || word(head, 2) != RPC_MSG_VERSION || word(head, 3) != VELKD_PROG ||
        word(head, 4) != VELKD_VERS)
        return kMaxCallHeaderBytes;
    const ProcedureEntry* entry = find_procedure(word(head, 5));
    return kMaxCallHeaderBytes + (entry ? entry->max_argument_bytes : 0);
}

std::size_t largest_record_limit() {
    static const std::size_t largest = [] {
        std::size_t most = 0;
        for (int number = 1; number <= velk::protocol::kProcedureCount; ++number)
            most = std::max(most, find_procedure(static_cast<rpcproc_t>(number))->max_argument_bytes);
        return kMaxCallHeaderBytes + most;
    }();
    return largest;
}

} // namespace velkd
