// Filling public attribute records from decoded wire records, and releasing
// them. One generic routine serves the four kinds; the block layout table
// says where each kind's fields lie.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "velkdirectfe_wire.h"
#include "wire/block_layout.h"

namespace vdfe {

using wire::AttrKind;

// Fills rec from one wire record: the block's data runs, then private copies
// of the strings and the property list. 0, or -1 when memory ran out; rec
// then holds only what release_record frees.
template <typename Public>
int copy_attr(const typename AttrKind<Public>::Wire& wire, Public* rec) noexcept;

// Releases what one record points to (not the record itself).
template <typename Public>
void release_record(Public* rec) noexcept;

// Releases count records and the array; -1 for a null array or no records.
template <typename Public>
int release_records(uint32_t count, Public* recs) noexcept {
    if (recs == nullptr || count == 0) return -1;
    for (uint32_t i = 0; i < count; ++i) release_record(&recs[i]);
    std::free(recs);
    return 0;
}

} // namespace vdfe
