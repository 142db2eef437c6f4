#include "block_layout.h"

#include <cstring>

namespace vdfe::wire {

void record_from_block(const BlockLayout& layout, const uint8_t* block, void* record) {
    auto* out = static_cast<uint8_t*>(record);
    for (const BlockRun& run : layout.runs) {
        if (carries_bytes(run.role))
            std::memcpy(out + run.record_offset, block + run.block_offset, run.width);
        else
            std::memset(out + run.record_offset, 0, sizeof(void*));
    }
}

void block_from_record(const BlockLayout& layout, const void* record, uint8_t* block) {
    const auto* in = static_cast<const uint8_t*>(record);
    for (const BlockRun& run : layout.runs) {
        if (carries_bytes(run.role))
            std::memcpy(block + run.block_offset, in + run.record_offset, run.width);
        else
            std::memset(block + run.block_offset, 0, run.width);
    }
}

} // namespace vdfe::wire
