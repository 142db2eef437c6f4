// Byte-exact encodings of what the protocol's records carry that no call of
// the library shows (the call table in tests/api decodes literal reply bytes
// and compares literal argument bytes for every procedure): the attribute
// records and their blocks, encodings only a daemon makes, narrowing on
// decode, and hostile or truncated input.
#include <gtest/gtest.h>

#include <cstring>

#include "wire/block_layout.h"
#include "wire_codec.h"

using namespace vdfe::test;
using namespace vdfe::wire;

namespace {

// Encodes value, compares with expected, decodes expected back and re-encodes.
template <typename T>
void expect_round_trip(bool_t (*routine)(XDR*, T*), const T& value, const Bytes& expected) {
    EXPECT_EQ(encode(routine, value), expected);
    T decoded;
    ASSERT_TRUE(decode(routine, expected, &decoded));
    EXPECT_EQ(encode(routine, decoded), expected);
    free_decoded(routine, &decoded);
}

Bytes block_words(const uint8_t* block, size_t size) {
    Bytes out;
    for (size_t i = 0; i < size; ++i) out += words({block[i]});
    return out;
}

// A block copied into a record and back is unchanged except for the pointer
// slots, which are null in the record and zero in the block.
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

TEST(AttributeRecords, SensorRecordIsBlockStringsAndCountedProperties) {
    velkfe_sensor_attr rec{};
    for (size_t i = 0; i < sizeof rec.block; ++i) rec.block[i] = static_cast<uint8_t>(i * 7);
    rec.block[3] = 0x80;
    rec.block[4] = 0xFF;
    char path[] = "/sys/t1", id[] = "temp1", opt[] = "", n1[] = "unit", v1[] = "C";
    prop_node props[] = {{n1, v1}};
    rec.path = path;
    rec.aux_str = id;
    rec.opt_str = opt;
    rec.prop_count = 1;
    rec.props = props;
    Bytes expected = block_words(rec.block, 152) + xdr_str("/sys/t1") + xdr_str("temp1") + words({0}) +
                     words({1}) + xdr_str("unit") + xdr_str("C");
    ASSERT_EQ(block_words(rec.block, 152).size(), 608u);
    expect_round_trip(xdr_velkfe_sensor_attr, rec, expected);

    velkfe_sensor_attr decoded;
    ASSERT_TRUE(decode(xdr_velkfe_sensor_attr, expected, &decoded));
    EXPECT_EQ(0, std::memcmp(decoded.block, rec.block, 152));
    EXPECT_STREQ(decoded.opt_str, "");
    ASSERT_EQ(decoded.prop_count, 1u);
    EXPECT_STREQ(decoded.props[0].value, "C");
    free_decoded(xdr_velkfe_sensor_attr, &decoded);
}

TEST(AttributeRecords, OtherRecordsHaveTheirSizes) {
    velkfe_comp_attr comp{};
    char x[] = "x", empty[] = "";
    comp.path = x;
    Bytes bytes = encode(xdr_velkfe_comp_attr, comp); // one-character path, no properties
    EXPECT_EQ(bytes.size(), 124u);
    velkfe_comp_attr decoded;
    ASSERT_TRUE(decode(xdr_velkfe_comp_attr, bytes, &decoded));
    EXPECT_EQ(decoded.prop_count, 0u);
    EXPECT_EQ(decoded.props, nullptr); // a count of 0 allocates nothing
    free_decoded(xdr_velkfe_comp_attr, &decoded);

    velkfe_ind_attr ind{};
    velkfe_fru_attr fru{};
    ind.path = ind.aux_str = fru.path = fru.aux_str = empty;
    EXPECT_EQ(encode(xdr_velkfe_ind_attr, ind).size(), 176u + 4 + 4 + 4);
    EXPECT_EQ(encode(xdr_velkfe_fru_attr, fru).size(), 416u + 4 + 4 + 4);
    test_sensor_attr test{};
    test.block[0] = 9;
    EXPECT_EQ(encode(xdr_test_sensor_attr, test).size(), 608u);
    expect_round_trip(xdr_test_res, test_res{0, 1, &test}, words({0, 1}) + block_words(test.block, 152));
    prop_node pair{empty, empty};
    expect_round_trip(xdr_prop_node, pair, words({0, 0}));

    velkfe_comp_attr unnamed{}; // a null string cannot be encoded
    XDR xdrs;
    char buffer[512];
    xdrmem_create(&xdrs, buffer, sizeof buffer, XDR_ENCODE);
    EXPECT_FALSE(xdr_velkfe_comp_attr(&xdrs, &unnamed));
    xdr_destroy(&xdrs);
}

TEST(AttributeRecords, BlockDataRunsSurviveAndPointerSlotsAreCleared) {
    expect_block_survives<velkdirectfe_sensor_attr_t>(kSensorLayout);
    expect_block_survives<velkdirectfe_ind_attr_t>(kIndicatorLayout);
    expect_block_survives<velkdirectfe_fru_attr_t>(kFruLayout);
    expect_block_survives<velkdirectfe_comp_attr_t>(kComponentLayout);
}

// What only the daemon's side encodes.
TEST(Envelopes, DaemonSideEncodings) {
    expect_round_trip(xdr_velkfe_mem_node, velkfe_mem_node{0x25, 0x01}, words({0x25, 0x01}));
    velkfe_mem_node nodes[] = {{1, 0xFF}, {3, 4}};
    expect_round_trip(xdr_velkfe_assoc_t, velkfe_assoc_t{0x10, 0x20, 0xDEADBEEF, 9, 2, nodes},
                      words({0x10, 0x20, 0xDEADBEEF, 9, 2, 1, 0xFF, 3, 4}));
    // node_count 0 sends the count word 0 and no elements, whatever member_count says.
    expect_round_trip(xdr_velkfe_assoc_t, velkfe_assoc_t{1, 2, 3, 7, 0, nullptr}, words({1, 2, 3, 7, 0}));

    sensor_attrs_res list{};
    list.status = 2;
    list.count = 5; // not sent: a non-zero status carries no body
    EXPECT_EQ(encode(xdr_sensor_attrs_res, list), words({2}));
    sensor_data_res res;
    ASSERT_TRUE(decode(xdr_sensor_data_res, words({7}), &res));
    EXPECT_EQ(res.status, 7);
    EXPECT_EQ(res.info.reading, 0);
    EXPECT_EQ(res.info.thresholds.thresh6, 0.0f);
}

TEST(Decoding, KeepsTheLowBitsOfNarrowFields) {
    set_sen_reading_t reading;
    ASSERT_TRUE(decode(xdr_set_sen_reading_t, words({1, 0x12345678}), &reading));
    EXPECT_EQ(reading.reading, 0x5678);
    velkfe_mem_node node;
    ASSERT_TRUE(decode(xdr_velkfe_mem_node, words({0xFFFFFF80, 0x101}), &node));
    EXPECT_EQ(node.key0, 0x80);
    EXPECT_EQ(node.key1, 0x01);
    fru_read_res read;
    ASSERT_TRUE(decode(xdr_fru_read_res, words({0, 2, 0xFFFFFF80, 0xFFFFFFFF}), &read)); // sign-extended bytes
    ASSERT_EQ(read.count, 2u);
    EXPECT_EQ(read.items[0], 0x80);
    EXPECT_EQ(read.items[1], 0xFF);
    free_decoded(xdr_fru_read_res, &read);
}

TEST(HostileInput, CountsAndLengthsBeyondTheMessageFailCleanly) {
    // 12 million sensor records claimed in 11 bytes.
    Bytes claim = words({0, 12000000});
    claim.insert(claim.end(), {0x41, 0x42, 0x43});
    sensor_attrs_res sensors;
    EXPECT_FALSE(decode(xdr_sensor_attrs_res, claim, &sensors));
    EXPECT_EQ(sensors.items, nullptr);
    sensor_name_res name; // a string that claims 4 GB
    EXPECT_FALSE(decode(xdr_sensor_name_res, words({0, 0xFFFFFFFF, 0x41414141}), &name));
    EXPECT_EQ(name.strid, nullptr);
    fru_read_res read;
    EXPECT_FALSE(decode(xdr_fru_read_res, words({0, 0xFFFFFFFF, 1, 2}), &read));
    EXPECT_EQ(read.items, nullptr);
}

TEST(HostileInput, ElementFailingHalfWayReleasesEverythingDecoded) {
    // Two properties, the second cut off inside its value.
    Bytes comp = Bytes(112, 0) + xdr_str("/p") + words({2}) + xdr_str("n1") + xdr_str("v1") + xdr_str("n2") +
                 words({8, 0x41414141});
    velkfe_comp_attr rec;
    EXPECT_FALSE(decode(xdr_velkfe_comp_attr, comp, &rec));
    EXPECT_EQ(rec.props, nullptr);
    free_decoded(xdr_velkfe_comp_attr, &rec); // releases the path; leak checking sees the rest
}

TEST(HostileInput, LongStringArrivesWhole) {
    std::string text(100000, 'x');
    text[54321] = 'y';
    sensor_name_res decoded;
    ASSERT_TRUE(decode(xdr_sensor_name_res, encode(xdr_sensor_name_res, sensor_name_res{0, text.data()}), &decoded));
    EXPECT_EQ(std::string(decoded.strid), text);
    free_decoded(xdr_sensor_name_res, &decoded);
}
