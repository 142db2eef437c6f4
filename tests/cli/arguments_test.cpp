// Command-line values that CLI11 has no type for.
#include <gtest/gtest.h>

#include "arguments.h"
#include "daemon_client.h"

namespace velkdirect {
namespace {

TEST(Arguments, Durations) {
    struct Case {
        const char* text;
        uint32_t ms;
    };
    // A bare number is seconds, as operators know it from `ipmitool chassis identify 5`.
    for (Case c : {Case{"5", 5000}, {"1.5", 1500}, {"500ms", 500}, {"10s", 10000}, {"1.5s", 1500}, {"2m", 120000},
                   {"1m30s", 90000}, {"1h", 3600000}, {"1h0m1ms", 3600001}, {".25s", 250}, {"4294967295ms", UINT32_MAX}})
        EXPECT_EQ(parse_duration_ms(c.text), c.ms) << c.text;
    // Zero would mean "for ever" to the daemon: refused, with the way to say that.
    EXPECT_THROW(
        try { parse_duration_ms("0"); } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find("leave out --for"), std::string::npos) << e.what();
            throw;
        },
        std::invalid_argument);
    for (const char* bad : {"", "ms", "s", "10x", "-1s", "10 s", "1194h", "0s", "0ms", "1.2.3s", "0.0001s", "1s5",
                            "5 ", "1m30", "."})
        EXPECT_THROW(parse_duration_ms(bad), std::invalid_argument) << bad;
}

TEST(Arguments, HexBytes) {
    using Bytes = std::vector<uint8_t>;
    EXPECT_EQ(parse_hex_bytes("de ad be ef"), (Bytes{0xde, 0xad, 0xbe, 0xef}));
    EXPECT_EQ(parse_hex_bytes("DEADbeef"), (Bytes{0xde, 0xad, 0xbe, 0xef}));
    EXPECT_EQ(parse_hex_bytes("0x0102"), (Bytes{1, 2}));
    EXPECT_EQ(parse_hex_bytes("00:ff-10"), (Bytes{0, 0xff, 0x10}));
    for (const char* bad : {"", " ", "abc", "d e", "zz", "0x", "12 3"})
        EXPECT_THROW(parse_hex_bytes(bad), std::invalid_argument) << bad;
}

TEST(Arguments, Modes) {
    EXPECT_EQ(parse_mode("off"), 0);
    EXPECT_EQ(parse_mode("on"), 1);
    EXPECT_EQ(parse_mode("slow-blink"), 2);
    EXPECT_EQ(parse_mode("fast"), 3);
    EXPECT_EQ(parse_mode("255"), 255);
    for (const char* bad : {"256", "-1", "blink", "", "0x1"})
        EXPECT_THROW(parse_mode(bad), std::invalid_argument) << bad;
}

TEST(Arguments, SensorNamesAndNumbers) {
    EXPECT_EQ(SensorRef::parse("#3").name, (std::variant<std::string, uint32_t>{3u}));
    EXPECT_EQ(SensorRef::parse("#0x10").name, (std::variant<std::string, uint32_t>{16u}));
    EXPECT_EQ(SensorRef::parse("#4294967295").name, (std::variant<std::string, uint32_t>{4294967295u}));
    EXPECT_EQ(SensorRef::parse("cpu0_temp").name, (std::variant<std::string, uint32_t>{"cpu0_temp"}));
    // A lone '#' is a name like any other.
    EXPECT_EQ(SensorRef::parse("#").name, (std::variant<std::string, uint32_t>{"#"}));
    for (const char* bad : {"#-1", "#abc", "#4294967296", "#3x", "# 3"})
        EXPECT_THROW(SensorRef::parse(bad), std::invalid_argument) << bad;
    EXPECT_EQ(SensorRef::parse("#7").describe(), "sensor #7");
    EXPECT_EQ(SensorRef::parse("fan").describe(), "sensor \"fan\"");
}

} // namespace
} // namespace velkdirect
