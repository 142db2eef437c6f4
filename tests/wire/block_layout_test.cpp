// The block layout table: a block copied into a record and back is unchanged
// except for the pointer slots, which are null in the record and zero in the
// block.
#include <gtest/gtest.h>

#include <cstring>

#include "wire/block_layout.h"

using namespace vdfe::wire;

namespace {

template <typename Record>
void expect_block_survives(const BlockLayout& layout) {
    std::vector<uint8_t> block(layout.block_size);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(0x11 + i);
    Record rec;
    std::memset(&rec, 0xEE, sizeof rec);
    record_from_block(layout, block.data(), &rec);
    EXPECT_EQ(rec.path, nullptr);
    EXPECT_EQ(rec.props, nullptr);

    std::vector<uint8_t> back(layout.block_size, 0xCC);
    block_from_record(layout, &rec, back.data());
    for (const BlockRun& run : layout.runs)
        for (size_t i = run.block_offset; i < size_t(run.block_offset + run.width); ++i)
            EXPECT_EQ(back[i], carries_bytes(run.role) ? block[i] : 0) << "block byte " << i;
}

} // namespace

TEST(BlockLayout, DataRunsSurviveAndPointerSlotsAreCleared) {
    expect_block_survives<velkdirectfe_sensor_attr_t>(kSensorLayout);
    expect_block_survives<velkdirectfe_ind_attr_t>(kIndicatorLayout);
    expect_block_survives<velkdirectfe_fru_attr_t>(kFruLayout);
    expect_block_survives<velkdirectfe_comp_attr_t>(kComponentLayout);
}

TEST(BlockLayout, KindAndDescriptorLieWhereTheProtocolPutsThem) {
    std::vector<uint8_t> block(152, 0);
    uint32_t kind = 0x01020304;
    std::memcpy(&block[44], &kind, 4); // host byte order, as the daemon lays it
    for (int i = 0; i < 10; ++i) block[48 + i] = static_cast<uint8_t>(0xA0 + i);
    block[108] = 0x55; // aux_ptr_a: never taken from the block
    velkdirectfe_sensor_attr_t rec;
    record_from_block(kSensorLayout, block.data(), &rec);
    EXPECT_EQ(rec.kind, kind);
    EXPECT_EQ(rec.desc[0], 0xA0);
    EXPECT_EQ(rec.desc[9], 0xA9);
    EXPECT_EQ(rec.aux_ptr_a, nullptr);
    EXPECT_EQ(rec.aux_ptr_b, nullptr);
    EXPECT_EQ(rec.opt_str, nullptr);
}
