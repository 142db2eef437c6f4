// Byte-exact encodings of the protocol's records, checked both ways, and
// decoding of hostile or truncated input.
#include <gtest/gtest.h>

#include <cstring>

#include "wire_codec.h"

using namespace vdfe::test;

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

TEST(AttributeRecords, ComponentWithOneCharacterPathAndNoPropertiesTakes124Bytes) {
    velkfe_comp_attr rec{};
    char path[] = "x";
    rec.path = path;
    Bytes bytes = encode(xdr_velkfe_comp_attr, rec);
    EXPECT_EQ(bytes.size(), 124u);
    velkfe_comp_attr decoded;
    ASSERT_TRUE(decode(xdr_velkfe_comp_attr, bytes, &decoded));
    EXPECT_EQ(decoded.prop_count, 0u);
    EXPECT_EQ(decoded.props, nullptr); // a count of 0 allocates nothing
    free_decoded(xdr_velkfe_comp_attr, &decoded);
}

TEST(AttributeRecords, IndicatorAndFruBlocksHaveTheirSizes) {
    velkfe_ind_attr ind{};
    velkfe_fru_attr fru{};
    char empty[] = "";
    ind.path = ind.aux_str = fru.path = fru.aux_str = empty;
    EXPECT_EQ(encode(xdr_velkfe_ind_attr, ind).size(), 176u + 4 + 4 + 4);
    EXPECT_EQ(encode(xdr_velkfe_fru_attr, fru).size(), 416u + 4 + 4 + 4);
    test_sensor_attr test{};
    EXPECT_EQ(encode(xdr_test_sensor_attr, test).size(), 608u);
}

TEST(AttributeRecords, PropertyPairOfEmptyStringsTakesEightBytes) {
    char empty[] = "";
    prop_node pair{empty, empty};
    expect_round_trip(xdr_prop_node, pair, words({0, 0}));
}

TEST(AttributeRecords, NullStringCannotBeEncoded) {
    velkfe_comp_attr rec{};
    XDR xdrs;
    char buffer[512];
    xdrmem_create(&xdrs, buffer, sizeof buffer, XDR_ENCODE);
    EXPECT_FALSE(xdr_velkfe_comp_attr(&xdrs, &rec));
    xdr_destroy(&xdrs);
}

TEST(AttributeRecords, EntityKeysAndAssociations) {
    expect_round_trip(xdr_velkfe_mem_node, velkfe_mem_node{0x25, 0x01}, words({0x25, 0x01}));

    velkfe_mem_node nodes[] = {{1, 0xFF}, {3, 4}};
    velkfe_assoc_t assoc{0x10, 0x20, 0xDEADBEEF, 9, 2, nodes};
    expect_round_trip(xdr_velkfe_assoc_t, assoc, words({0x10, 0x20, 0xDEADBEEF, 9, 2, 1, 0xFF, 3, 4}));

    // node_count 0 sends the count word 0 and no elements, whatever member_count says.
    velkfe_assoc_t empty{1, 2, 3, 7, 0, nullptr};
    expect_round_trip(xdr_velkfe_assoc_t, empty, words({1, 2, 3, 7, 0}));
}

TEST(AttributeRecords, PlatformNames) {
    char a[] = "box", b[] = "";
    velkfe_plat_names_t names{0xAB, a, b};
    expect_round_trip(xdr_velkfe_plat_names_t, names, words({0xAB}) + xdr_str("box") + words({0}));
}

TEST(SensorRecords, ThresholdsReadingsAndSettings) {
    pollctrl_thresh_t thresh{7, 0x003F, 1, 2, 3, 4, 5, 6, 7, 8};
    expect_round_trip(xdr_pollctrl_thresh_t, thresh, words({7, 63, 1, 2, 3, 4, 5, 6, 7, 8}));

    sensor_reading_info_t info{0xFFFF, 1.5f, 0x80, 2, 3, 0xFF, 0x1234, 0xFFFF, {1, 2, 3, 4, 5, -1}};
    Bytes info_bytes = encode(xdr_sensor_reading_info_t, info);
    EXPECT_EQ(info_bytes.size(), 56u);
    EXPECT_EQ(Bytes(info_bytes.begin(), info_bytes.begin() + 32),
              words({0xFFFF, 0x3FC00000, 0x80, 2, 3, 0xFF, 0x1234, 0xFFFF}));
    expect_round_trip(xdr_sensor_reading_info_t, info, info_bytes);

    expect_round_trip(xdr_sensor_poll_info_t, sensor_poll_info_t{12, 0, 0}, words({12, 0, 0}));
    expect_round_trip(xdr_set_sen_reading_t, set_sen_reading_t{5, 0xBEEF}, words({5, 0xBEEF}));
    expect_round_trip(xdr_sensor_reading_values_t, sensor_reading_values_t{3, -2.0f}, words({3, 0xC0000000}));
    expect_round_trip(xdr_norm_thresh_info_t, norm_thresh_info_t{0, 1, 2, 3, 4, 0.5f},
                      words({0, 0x3F800000, 0x40000000, 0x40400000, 0x40800000, 0x3F000000}));
}

TEST(SensorRecords, ConversionRequests) {
    char id[] = "fan1";
    expect_round_trip(xdr_raw_to_norm_t, raw_to_norm_t{id, 255}, xdr_str("fan1") + words({0xFF}));
    expect_round_trip(xdr_norm_to_raw_t, norm_to_raw_t{id, 1.5f}, xdr_str("fan1") + words({0x3FC00000}));
}

TEST(SensorRecords, DecoderKeepsLowBitsOfByteAndShortFields) {
    set_sen_reading_t reading;
    ASSERT_TRUE(decode(xdr_set_sen_reading_t, words({1, 0x12345678}), &reading));
    EXPECT_EQ(reading.reading, 0x5678);
    velkfe_mem_node node;
    ASSERT_TRUE(decode(xdr_velkfe_mem_node, words({0xFFFFFF80, 0x101}), &node));
    EXPECT_EQ(node.key0, 0x80);
    EXPECT_EQ(node.key1, 0x01);
}

TEST(FruAndIndicatorRecords, ReadRequestOfFourCharacterName) {
    char fru[] = "abcd";
    expect_round_trip(xdr_fru_direct_read_t, fru_direct_read_t{fru, 16, 8}, xdr_str("abcd") + words({16, 8}));
    EXPECT_EQ(encode(xdr_fru_direct_read_t, fru_direct_read_t{fru, 16, 8}).size(), 16u);
}

TEST(FruAndIndicatorRecords, WriteRequestSendsEachByteAsItsUnsignedValue) {
    char fru[] = "mb";
    uint8_t data[] = {0x01, 0x80, 0xFF};
    fru_direct_write_t req{fru, 4, 3, 3, data};
    expect_round_trip(xdr_fru_direct_write_t, req, xdr_str("mb") + words({4, 3, 3, 0x01, 0x80, 0xFF}));

    fru_direct_write_t empty{fru, 0, 0, 0, nullptr};
    expect_round_trip(xdr_fru_direct_write_t, empty, xdr_str("mb") + words({0, 0, 0}));
}

TEST(FruAndIndicatorRecords, SignExtendedBytesDecodeToTheirLowEightBits) {
    fru_read_res res;
    ASSERT_TRUE(decode(xdr_fru_read_res, words({0, 2, 0xFFFFFF80, 0xFFFFFFFF}), &res));
    ASSERT_EQ(res.count, 2u);
    EXPECT_EQ(res.items[0], 0x80);
    EXPECT_EQ(res.items[1], 0xFF);
    free_decoded(xdr_fru_read_res, &res);
}

TEST(FruAndIndicatorRecords, IndicatorModeRequest) {
    char led[] = "led0";
    expect_round_trip(xdr_ind_data, ind_data{led, 2, 0}, xdr_str("led0") + words({2, 0}));
    expect_round_trip(xdr_ind_data, ind_data{led, 0x80, 0xFFFFFFFF}, xdr_str("led0") + words({0x80, 0xFFFFFFFF}));
}

TEST(Envelopes, NonZeroStatusCarriesNoBody) {
    sensor_data_res res;
    ASSERT_TRUE(decode(xdr_sensor_data_res, words({7}), &res));
    EXPECT_EQ(res.status, 7);
    EXPECT_EQ(res.info.reading, 0);
    EXPECT_EQ(res.info.thresholds.thresh6, 0.0f);

    sensor_attrs_res list{};
    list.status = 2;
    list.count = 5; // not sent
    EXPECT_EQ(encode(xdr_sensor_attrs_res, list), words({2}));
}

TEST(Envelopes, EmptyListIsStatusAndCount) {
    for (auto bytes : {words({0, 0})}) {
        comp_attrs_res res;
        ASSERT_TRUE(decode(xdr_comp_attrs_res, bytes, &res));
        EXPECT_EQ(res.count, 0u);
        EXPECT_EQ(res.items, nullptr);
        entity_assoc_res assocs;
        ASSERT_TRUE(decode(xdr_entity_assoc_res, bytes, &assocs));
        EXPECT_EQ(assocs.items, nullptr);
    }
}

TEST(Envelopes, FixedBodies) {
    uint8_t data[] = {0x01, 0x80, 0xFF};
    fru_read_res read{0, 3, data};
    Bytes read_bytes = words({0, 3, 0x01, 0x80, 0xFF});
    EXPECT_EQ(read_bytes.size(), 20u);
    expect_round_trip(xdr_fru_read_res, read, read_bytes);

    expect_round_trip(xdr_norm_to_raw_res, norm_to_raw_res{0, 200}, words({0, 200}));
    expect_round_trip(xdr_ind_get_res, ind_get_res{0, 0x80}, words({0, 0x80}));
    expect_round_trip(xdr_raw_to_norm_res, raw_to_norm_res{0, 0.5f}, words({0, 0x3F000000}));
    expect_round_trip(xdr_fru_write_res, fru_write_res{0, -3}, words({0, 0xFFFFFFFD}));
    char id[] = "cpu_temp";
    expect_round_trip(xdr_sensor_name_res, sensor_name_res{0, id}, words({0}) + xdr_str("cpu_temp"));
    expect_round_trip(xdr_sensor_poll_info_res, sensor_poll_info_res{0, {1, 2, 3}}, words({0, 1, 2, 3}));
    expect_round_trip(xdr_sensor_reading_res, sensor_reading_res{0, {9, 1.0f}}, words({0, 9, 0x3F800000}));
    expect_round_trip(xdr_norm_thresh_res, norm_thresh_res{0, {0, 0, 0, 0, 0, 1}},
                      words({0, 0, 0, 0, 0, 0, 0x3F800000}));
    char a[] = "a", b[] = "bb";
    expect_round_trip(xdr_get_plat_names_res, get_plat_names_res{0, {1, a, b}},
                      words({0, 1}) + xdr_str("a") + xdr_str("bb"));
    test_sensor_attr one{};
    one.block[0] = 9;
    test_res test{0, 1, &one};
    expect_round_trip(xdr_test_res, test, words({0, 1}) + block_words(one.block, 152));
}

TEST(HostileInput, CountsAndLengthsBeyondTheMessageFailCleanly) {
    // 12 million sensor records claimed in 11 bytes.
    Bytes claim = words({0, 12000000});
    claim.push_back(0x41);
    claim.push_back(0x42);
    claim.push_back(0x43);
    sensor_attrs_res sensors;
    EXPECT_FALSE(decode(xdr_sensor_attrs_res, claim, &sensors));
    EXPECT_EQ(sensors.items, nullptr);

    // A string that claims 4 GB.
    sensor_name_res name;
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
    sensor_name_res res{0, text.data()};
    Bytes bytes = encode(xdr_sensor_name_res, res);
    sensor_name_res decoded;
    ASSERT_TRUE(decode(xdr_sensor_name_res, bytes, &decoded));
    EXPECT_EQ(std::string(decoded.strid), text);
    free_decoded(xdr_sensor_name_res, &decoded);
}
