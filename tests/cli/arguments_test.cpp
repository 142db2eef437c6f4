// Command-line values that CLI11 has no type for. Modes and sensor numbers
// are refused end to end in usage_and_errors_test.cpp.
#include <gtest/gtest.h>

#include "arguments.h"
#include "daemon_client.h"

namespace velkdirect {
namespace {

TEST(Arguments, Durations) {
    // A bare number is seconds, as operators know it from `ipmitool chassis identify 5`.
    for (auto [text, ms] : std::vector<std::pair<const char*, uint32_t>>{
             {"5", 5000}, {"1.5", 1500}, {"500ms", 500}, {"2m", 120000}, {"1m30s", 90000}, {"1h", 3600000},
             {"1h0m1ms", 3600001}, {".25s", 250}, {"4294967295ms", UINT32_MAX}})
        EXPECT_EQ(parse_duration_ms(text), ms) << text;
    for (const char* bad : {"", "ms", "s", "10x", "-1s", "10 s", "1194h", "0", "0s", "0ms", "1.2.3s", "0.0001s",
                            "1s5", "5 ", "1m30", "."})
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

TEST(Arguments, SensorNumbers) {
    using Name = std::variant<std::string, uint32_t>;
    EXPECT_EQ(SensorRef::parse("#0x10").name, Name{16u});
    EXPECT_EQ(SensorRef::parse("#4294967295").name, Name{4294967295u});
    EXPECT_EQ(SensorRef::parse("#").name, Name{"#"}); // a lone '#' is a name like any other
    for (const char* bad : {"#-1", "#4294967296", "#3x", "# 3"})
        EXPECT_THROW(SensorRef::parse(bad), std::invalid_argument) << bad;
}

} // namespace
} // namespace velkdirect
