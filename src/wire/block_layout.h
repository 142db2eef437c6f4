// Where each field of a public attribute record lies in the daemon's fixed
// block. The block is the record as laid out with 4-byte pointers; on a host
// with wider pointers the record's fields move, so the block is copied run by
// run. The library copies block -> record with this table, the simulation
// daemon builds record -> block with the same table, so the two cannot drift.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "velkdirectfe.h"
#include "velkdirectfe_wire.h"

namespace vdfe::wire {

enum class Run : uint8_t {
    opaque,    // daemon-only bytes, copied verbatim
    kind,      // 32-bit kind word, host byte order
    desc,      // 10-byte descriptor
    path,      // string pointers: zero in the block, filled from wire strings
    aux_str,
    opt_str,
    aux_ptr_a, // pointers that no wire string fills: left null
    aux_ptr_b,
    props,     // property list head
};

struct BlockRun {
    Run role;
    uint16_t block_offset;  // position in the fixed block
    uint16_t width;         // bytes in the block
    uint16_t record_offset; // position in the public record on this host
};

struct BlockLayout {
    std::size_t block_size;
    std::span<const BlockRun> runs;
};

#define VDFE_RUN(role, boff, width, type, field) \
    BlockRun{Run::role, boff, width, static_cast<uint16_t>(offsetof(type, field))}

inline constexpr BlockRun kSensorRuns[] = {
    VDFE_RUN(opaque, 0, 8, velkdirectfe_sensor_attr_t, opaque0),
    VDFE_RUN(path, 8, 4, velkdirectfe_sensor_attr_t, path),
    VDFE_RUN(aux_str, 12, 4, velkdirectfe_sensor_attr_t, aux_str),
    VDFE_RUN(opaque, 16, 28, velkdirectfe_sensor_attr_t, opaque1),
    VDFE_RUN(kind, 44, 4, velkdirectfe_sensor_attr_t, kind),
    VDFE_RUN(desc, 48, 10, velkdirectfe_sensor_attr_t, desc),
    VDFE_RUN(opaque, 58, 50, velkdirectfe_sensor_attr_t, opaque2),
    VDFE_RUN(aux_ptr_a, 108, 4, velkdirectfe_sensor_attr_t, aux_ptr_a),
    VDFE_RUN(aux_ptr_b, 112, 4, velkdirectfe_sensor_attr_t, aux_ptr_b),
    VDFE_RUN(opaque, 116, 28, velkdirectfe_sensor_attr_t, opaque3),
    VDFE_RUN(opt_str, 144, 4, velkdirectfe_sensor_attr_t, opt_str),
    VDFE_RUN(props, 148, 4, velkdirectfe_sensor_attr_t, props),
};

inline constexpr BlockRun kIndicatorRuns[] = {
    VDFE_RUN(opaque, 0, 4, velkdirectfe_ind_attr_t, opaque0),
    VDFE_RUN(path, 4, 4, velkdirectfe_ind_attr_t, path),
    VDFE_RUN(aux_str, 8, 4, velkdirectfe_ind_attr_t, aux_str),
    VDFE_RUN(kind, 12, 4, velkdirectfe_ind_attr_t, kind),
    VDFE_RUN(desc, 16, 10, velkdirectfe_ind_attr_t, desc),
    VDFE_RUN(opaque, 26, 14, velkdirectfe_ind_attr_t, opaque1),
    VDFE_RUN(props, 40, 4, velkdirectfe_ind_attr_t, props),
};

inline constexpr BlockRun kFruRuns[] = {
    VDFE_RUN(opaque, 0, 4, velkdirectfe_fru_attr_t, opaque0),
    VDFE_RUN(path, 4, 4, velkdirectfe_fru_attr_t, path),
    VDFE_RUN(aux_str, 8, 4, velkdirectfe_fru_attr_t, aux_str),
    VDFE_RUN(opaque, 12, 4, velkdirectfe_fru_attr_t, opaque1),
    VDFE_RUN(kind, 16, 4, velkdirectfe_fru_attr_t, kind),
    VDFE_RUN(desc, 20, 10, velkdirectfe_fru_attr_t, desc),
    VDFE_RUN(opaque, 30, 70, velkdirectfe_fru_attr_t, opaque2),
    VDFE_RUN(props, 100, 4, velkdirectfe_fru_attr_t, props),
};

inline constexpr BlockRun kComponentRuns[] = {
    VDFE_RUN(opaque, 0, 4, velkdirectfe_comp_attr_t, opaque0),
    VDFE_RUN(path, 4, 4, velkdirectfe_comp_attr_t, path),
    VDFE_RUN(kind, 8, 4, velkdirectfe_comp_attr_t, kind),
    VDFE_RUN(desc, 12, 10, velkdirectfe_comp_attr_t, desc),
    VDFE_RUN(opaque, 22, 2, velkdirectfe_comp_attr_t, opaque1),
    VDFE_RUN(props, 24, 4, velkdirectfe_comp_attr_t, props),
};

#undef VDFE_RUN

// Each layout spans its kind's block on the wire, the block its wire record
// carries.
inline constexpr BlockLayout kSensorLayout{VELKFE_SENSOR_BLOCK_SIZE, kSensorRuns};
inline constexpr BlockLayout kIndicatorLayout{VELKFE_IND_BLOCK_SIZE, kIndicatorRuns};
inline constexpr BlockLayout kFruLayout{VELKFE_FRU_BLOCK_SIZE, kFruRuns};
inline constexpr BlockLayout kComponentLayout{VELKFE_COMP_BLOCK_SIZE, kComponentRuns};

// True for the runs whose bytes are data (copied), false for pointer slots.
constexpr bool carries_bytes(Run role) {
    return role == Run::opaque || role == Run::kind || role == Run::desc;
}

// Copies the data runs of a block into a record and nulls its pointer slots.
void record_from_block(const BlockLayout& layout, const uint8_t* block, void* record);

// Writes the data runs of a record into a block, with zero in pointer slots.
void block_from_record(const BlockLayout& layout, const void* record, uint8_t* block);

// A layout must tile its wire block exactly, run after run: one run more or
// one byte wider would have the daemon write past the block.
constexpr bool tiles_block(const BlockLayout& layout, std::size_t wire_block_size) {
    std::size_t at = 0;
    for (const BlockRun& run : layout.runs) {
        if (run.block_offset != at) return false;
        at += run.width;
    }
    return at == layout.block_size && layout.block_size == wire_block_size;
}
static_assert(tiles_block(kSensorLayout, sizeof(velkfe_sensor_attr::block)), "sensor layout != VELKFE_SENSOR_BLOCK_SIZE");
static_assert(tiles_block(kIndicatorLayout, sizeof(velkfe_ind_attr::block)), "indicator layout != VELKFE_IND_BLOCK_SIZE");
static_assert(tiles_block(kFruLayout, sizeof(velkfe_fru_attr::block)), "FRU layout != VELKFE_FRU_BLOCK_SIZE");
static_assert(tiles_block(kComponentLayout, sizeof(velkfe_comp_attr::block)), "component layout != VELKFE_COMP_BLOCK_SIZE");

// Pairs a public record type with its wire record and its block layout.
template <typename WireRecord, const BlockLayout& Layout>
struct KindOf {
    using Wire = WireRecord;
    static constexpr const BlockLayout& layout = Layout;
};
template <typename Public> struct AttrKind;
template <> struct AttrKind<velkdirectfe_sensor_attr_t> : KindOf<velkfe_sensor_attr, kSensorLayout> {};
template <> struct AttrKind<velkdirectfe_ind_attr_t> : KindOf<velkfe_ind_attr, kIndicatorLayout> {};
template <> struct AttrKind<velkdirectfe_fru_attr_t> : KindOf<velkfe_fru_attr, kFruLayout> {};
template <> struct AttrKind<velkdirectfe_comp_attr_t> : KindOf<velkfe_comp_attr, kComponentLayout> {};

} // namespace vdfe::wire
