// Indicator modes, FRU direct access and reading conversions.
#include "api_fixture.h"

using namespace vdfe::test;

namespace {
using IndicatorModes = ApiTest;
using FruDirect = ApiTest;
using Conversions = ApiTest;
} // namespace

TEST_F(IndicatorModes, ModeByteReadsBackUnsignedInAllFourBytes) {
    daemon.reply(27, xdr_ind_get_res, ind_get_res{0, 0x80});
    int32_t mode = -1;
    ASSERT_EQ(velkdirectfe_get_indicator_mode(0, "led0", &mode), 0);
    EXPECT_EQ(daemon.last_arguments(27), xdr_str("led0"));
    EXPECT_EQ(mode, 128);
    daemon.reply_status(27, 2);
    EXPECT_EQ(velkdirectfe_get_indicator_mode(0, "led0", &mode), 2);
    EXPECT_EQ(mode, 128);
}

TEST_F(IndicatorModes, SettingWithAndWithoutDurationSendsTheSameRecord) {
    daemon.reply_status(28, 0);
    ASSERT_EQ(velkdirectfe_set_indicator_mode(0, "led0", 2), 0);
    Bytes plain = daemon.last_arguments(28);
    EXPECT_EQ(plain, xdr_str("led0") + words({2, 0}));
    ASSERT_EQ(velkdirectfe_set_indicator_mode_for_duration(0, "led0", 2, 0), 0);
    EXPECT_EQ(daemon.last_arguments(28), plain);
    ASSERT_EQ(velkdirectfe_set_indicator_mode_for_duration(0, "led0", 0xFF, 0xFFFFFFFF), 0);
    EXPECT_EQ(daemon.last_arguments(28), xdr_str("led0") + words({0xFF, 0xFFFFFFFF}));
    daemon.reply_status(28, 12);
    EXPECT_EQ(velkdirectfe_set_indicator_mode(0, "led0", 1), 12);
}

TEST_F(FruDirect, ShortReadFillsOnlyTheFirstBytes) {
    uint8_t data[] = {0x01, 0x80, 0xFF};
    daemon.reply(21, xdr_fru_read_res, fru_read_res{0, 3, data});
    uint8_t buffer[8];
    std::memset(buffer, 0xEE, sizeof buffer);
    uint32_t read_len = 0;
    ASSERT_EQ(velkdirectfe_read_fru_direct(0, "mb", 16, 8, buffer, &read_len), 0);
    EXPECT_EQ(daemon.last_arguments(21), xdr_str("mb") + words({16, 8}));
    EXPECT_EQ(read_len, 3u);
    const uint8_t expected[8] = {0x01, 0x80, 0xFF, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(0, std::memcmp(buffer, expected, 8));
}

TEST_F(FruDirect, EmptyReadAndOverlongAnswer) {
    daemon.reply(21, words({0, 0}));
    uint8_t buffer[4] = {9, 9, 9, 9};
    uint32_t read_len = 77;
    ASSERT_EQ(velkdirectfe_read_fru_direct(0, "mb", 0, 4, buffer, &read_len), 0);
    EXPECT_EQ(read_len, 0u);
    EXPECT_EQ(buffer[0], 9);

    // More bytes than asked for cannot be delivered: nothing is written.
    daemon.reply(21, words({0, 5, 1, 2, 3, 4, 5}));
    read_len = 77;
    EXPECT_EQ(velkdirectfe_read_fru_direct(0, "mb", 0, 4, buffer, &read_len), -1);
    EXPECT_EQ(read_len, 77u);
    EXPECT_EQ(buffer[3], 9);
}

TEST_F(FruDirect, WriteSendsBytesAsTheirValuesAndHandsBackTheResult) {
    daemon.reply(22, xdr_fru_write_res, fru_write_res{0, -17});
    const uint8_t data[] = {0x01, 0x80, 0xFF};
    int32_t result = 0;
    ASSERT_EQ(velkdirectfe_write_fru_direct(0, "mb", 4, 3, data, &result), 0);
    EXPECT_EQ(daemon.last_arguments(22), xdr_str("mb") + words({4, 3, 3, 0x01, 0x80, 0xFF}));
    EXPECT_EQ(result, -17);

    ASSERT_EQ(velkdirectfe_write_fru_direct(0, "mb", 0, 0, nullptr, &result), 0);
    EXPECT_EQ(daemon.last_arguments(22), xdr_str("mb") + words({0, 0, 0}));

    daemon.reply_status(22, 8);
    result = 5;
    EXPECT_EQ(velkdirectfe_write_fru_direct(0, "mb", 0, 3, data, &result), 8);
    EXPECT_EQ(result, 5);
}

TEST_F(Conversions, RawByteAndSinglePrecisionTravelUnchanged) {
    daemon.reply(25, xdr_raw_to_norm_res, raw_to_norm_res{0, 0.1f});
    daemon.reply(26, xdr_norm_to_raw_res, norm_to_raw_res{0, 200});
    float normal = 0;
    ASSERT_EQ(velkdirectfe_convert_raw_to_normal(0, "fan1", 255, &normal), 0);
    EXPECT_EQ(daemon.last_arguments(25), xdr_str("fan1") + words({0xFF}));
    EXPECT_EQ(normal, 0.1f);

    uint8_t raw[3] = {0xAA, 0xAA, 0xAA};
    double caller_value = 0.1; // converted to the nearest float at the call
    ASSERT_EQ(velkdirectfe_convert_normal_to_raw(0, "fan1", static_cast<float>(caller_value), &raw[1]), 0);
    EXPECT_EQ(daemon.last_arguments(26), xdr_str("fan1") + words({0x3DCCCCCD}));
    EXPECT_EQ(raw[0], 0xAA);
    EXPECT_EQ(raw[1], 200);
    EXPECT_EQ(raw[2], 0xAA);

    daemon.reply_status(26, 4);
    EXPECT_EQ(velkdirectfe_convert_normal_to_raw(0, "fan1", 1.0f, &raw[1]), 4);
    EXPECT_EQ(raw[1], 200);
}
