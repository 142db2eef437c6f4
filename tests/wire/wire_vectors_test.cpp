// Byte-exact encodings of what no call of the library shows (the call table
// in tests/api decodes literal reply bytes and compares literal argument
// bytes for every procedure): the attribute records and their blocks,
// encodings only a daemon makes, and narrowing on decode.
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

// A block of distinct bytes, and the words it goes on the wire as: one a byte.
template <size_t N>
Bytes patterned(uint8_t (&block)[N], uint8_t seed) {
    Bytes out;
    for (size_t i = 0; i < N; ++i) {
        block[i] = static_cast<uint8_t>(seed + i * 7);
        out += words({block[i]});
    }
    return out;
}

// Where the data fields of a public record lie in its kind's wire block,
// written out here apart from the layouts: offset in the record, offset in
// the block, width. A block copied into a record fills those fields and
// nulls the pointers; copied back, it keeps their bytes and zeroes the rest.
struct Field {
    size_t record, block, width;
};
template <typename Record>
void expect_fields(const BlockLayout& layout, std::initializer_list<Field> fields) {
    std::vector<uint8_t> block(layout.block_size), expected(layout.block_size, 0);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(0x11 + i);
    Record rec;
    std::memset(&rec, 0xEE, sizeof rec);
    record_from_block(layout, block.data(), &rec);
    EXPECT_EQ(rec.path, nullptr);
    EXPECT_EQ(rec.props, nullptr);
    if constexpr (requires { rec.aux_ptr_a; }) { EXPECT_TRUE(!rec.aux_ptr_a && !rec.aux_ptr_b); }
    for (const Field& f : fields) {
        EXPECT_EQ(0, std::memcmp(reinterpret_cast<uint8_t*>(&rec) + f.record, &block[f.block],
                                 f.width)) << "block offset " << f.block;
        std::copy_n(&block[f.block], f.width, &expected[f.block]);
    }
    std::vector<uint8_t> back(layout.block_size, 0xCC);
    block_from_record(layout, &rec, back.data());
    EXPECT_EQ(back, expected);
}

} // namespace

TEST(AttributeRecords, SensorRecordIsBlockStringsAndCountedProperties) {
    velkfe_sensor_attr rec{};
    Bytes block = patterned(rec.block, 0x80);
    ASSERT_EQ(block.size(), 608u); // a word for each of the 152 bytes
    char path[] = "/sys/t1", id[] = "temp1", opt[] = "", n1[] = "unit", v1[] = "C";
    prop_node props[] = {{n1, v1}};
    rec.path = path;
    rec.aux_str = id;
    rec.opt_str = opt;
    rec.prop_count = 1;
    rec.props = props;
    Bytes expected = block + xdr_str("/sys/t1") + xdr_str("temp1") + words({0, 1}) +
                     xdr_str("unit") + xdr_str("C");
    expect_round_trip(xdr_velkfe_sensor_attr, rec, expected); // the way back proves the decoding
}

// One vector a line: the other records, and what only the daemon's side encodes.
TEST(AttributeRecords, OtherRecordsAndDaemonSideEncodings) {
    char x[] = "x", e[] = "";
    velkfe_ind_attr ind{};
    velkfe_fru_attr fru{};
    velkfe_comp_attr comp{};
    test_sensor_attr test{};
    Bytes ind_block = patterned(ind.block, 1), fru_block = patterned(fru.block, 2);
    Bytes comp_block = patterned(comp.block, 3), test_block = patterned(test.block, 4);
    ind.path = fru.path = comp.path = x;
    ind.aux_str = fru.aux_str = e;
    expect_round_trip(xdr_velkfe_ind_attr, ind, ind_block + xdr_str("x") + words({0, 0}));
    expect_round_trip(xdr_velkfe_fru_attr, fru, fru_block + xdr_str("x") + words({0, 0}));
    expect_round_trip(xdr_velkfe_comp_attr, comp, comp_block + xdr_str("x") + words({0}));
    expect_round_trip(xdr_test_res, test_res{0, 1, &test}, words({0, 1}) + test_block);
    expect_round_trip(xdr_prop_node, prop_node{e, e}, words({0, 0}));
    expect_round_trip(xdr_velkfe_mem_node, velkfe_mem_node{0x25, 0x01}, words({0x25, 0x01}));
    velkfe_mem_node nodes[] = {{1, 0xFF}, {3, 4}};
    expect_round_trip(xdr_velkfe_assoc_t, velkfe_assoc_t{0x10, 0x20, 0xDEADBEEF, 9, 2, nodes},
                      words({0x10, 0x20, 0xDEADBEEF, 9, 2, 1, 0xFF, 3, 4}));
    // node_count 0 sends the count word 0 and no elements, whatever member_count says.
    expect_round_trip(xdr_velkfe_assoc_t, velkfe_assoc_t{1, 2, 3, 7, 0, nullptr},
                      words({1, 2, 3, 7, 0}));
    // A non-zero status carries no body, whatever the body holds.
    EXPECT_EQ(encode(xdr_sensor_attrs_res, sensor_attrs_res{2, 5, nullptr}), words({2}));
    ASSERT_TRUE(decode(xdr_velkfe_comp_attr, comp_block + xdr_str("x") + words({0}), &comp));
    EXPECT_EQ(comp.props, nullptr); // a count of 0 allocates nothing
    free_decoded(xdr_velkfe_comp_attr, &comp);
    comp = {};
    XDR xdrs; // a null string cannot be encoded
    char buffer[512];
    xdrmem_create(&xdrs, buffer, sizeof buffer, XDR_ENCODE);
    EXPECT_FALSE(xdr_velkfe_comp_attr(&xdrs, &comp));
    xdr_destroy(&xdrs);
}

TEST(AttributeRecords, BlocksHoldTheRecordsDataFields) {
    using S = velkdirectfe_sensor_attr_t;
    using I = velkdirectfe_ind_attr_t;
    using F = velkdirectfe_fru_attr_t;
    using C = velkdirectfe_comp_attr_t;
    expect_fields<S>(kSensorLayout, {{offsetof(S, opaque0), 0, 8}, {offsetof(S, opaque1), 16, 28},
                                     {offsetof(S, kind), 44, 4}, {offsetof(S, desc), 48, 10},
                                     {offsetof(S, opaque2), 58, 50},
                                     {offsetof(S, opaque3), 116, 28}});
    expect_fields<I>(kIndicatorLayout, {{offsetof(I, opaque0), 0, 4}, {offsetof(I, kind), 12, 4},
                                        {offsetof(I, desc), 16, 10},
                                        {offsetof(I, opaque1), 26, 14}});
    expect_fields<F>(kFruLayout, {{offsetof(F, opaque0), 0, 4}, {offsetof(F, opaque1), 12, 4},
                                  {offsetof(F, kind), 16, 4}, {offsetof(F, desc), 20, 10},
                                  {offsetof(F, opaque2), 30, 70}});
    expect_fields<C>(kComponentLayout, {{offsetof(C, opaque0), 0, 4}, {offsetof(C, kind), 8, 4},
                                        {offsetof(C, desc), 12, 10},
                                        {offsetof(C, opaque1), 22, 2}});
}

TEST(Decoding, KeepsTheLowBitsOfNarrowFieldsAndLongStringsWhole) {
    set_sen_reading_t reading;
    ASSERT_TRUE(decode(xdr_set_sen_reading_t, words({1, 0x12345678}), &reading));
    EXPECT_EQ(reading.reading, 0x5678);
    velkfe_mem_node node;
    ASSERT_TRUE(decode(xdr_velkfe_mem_node, words({0xFFFFFF80, 0x101}), &node));
    EXPECT_EQ(node.key0, 0x80);
    EXPECT_EQ(node.key1, 0x01);
    fru_read_res read; // bytes arrive sign-extended
    ASSERT_TRUE(decode(xdr_fru_read_res, words({0, 2, 0xFFFFFF80, 0xFFFFFFFF}), &read));
    ASSERT_EQ(read.count, 2u);
    EXPECT_EQ(read.items[0], 0x80);
    EXPECT_EQ(read.items[1], 0xFF);
    free_decoded(xdr_fru_read_res, &read);
    // A string much longer than one piece of the bounded decoder.
    std::string text(100000, 'x');
    text[54321] = 'y';
    Bytes encoded = encode(xdr_sensor_name_res, sensor_name_res{0, text.data()});
    sensor_name_res name;
    ASSERT_TRUE(decode(xdr_sensor_name_res, encoded, &name));
    EXPECT_EQ(std::string(name.strid), text);
    free_decoded(xdr_sensor_name_res, &name);
}
