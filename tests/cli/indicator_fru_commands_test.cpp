// indicators, indicator, frus and fru read/write against the built-in platform.
#include "cli_fixture.h"

namespace velkdirect::test {
namespace {

TEST_F(CliTest, IndicatorsListModesAndAcceptedModes) {
    json indicators = velkdirect_json({"indicators"});
    ASSERT_EQ(indicators.size(), 4u);
    json power = find_by(indicators, "name", "power_led");
    EXPECT_EQ(power["mode"], 1);
    EXPECT_EQ(power["mode_name"], "on");
    EXPECT_EQ(power["modes"], json({0, 1, 2}));
    EXPECT_EQ(power["path"], "/chassis/front/power_led");
    EXPECT_EQ(power["properties"]["colour"], "green");
}

TEST_F(CliTest, IndicatorModeIsSetAndReadBack) {
    Result set = velkdirect({"indicator", "locate_led", "fast"});
    ASSERT_EQ(set.code, 0) << set.err;
    EXPECT_EQ(set.out, "locate_led: 3 (fast blink)\n");
    EXPECT_EQ(velkdirect_json({"indicator", "locate_led"})["mode"], 3);

    // With a duration the new mode holds until it runs out (an hour here).
    Result timed = velkdirect({"indicator", "fault_led", "2", "--for", "1h"});
    ASSERT_EQ(timed.code, 0) << timed.err;
    EXPECT_NE(timed.out.find("for 3600 s"), std::string::npos) << timed.out;
    EXPECT_EQ(velkdirect_json({"indicator", "fault_led"})["mode"], 2);
}

TEST_F(CliTest, IndicatorRefusals) {
    // psu0_ok_led accepts only 0 and 1.
    expect_failure({"indicator", "psu0_ok_led", "slow"}, 1, "indicator \"psu0_ok_led\": invalid value (status 3)");
    EXPECT_EQ(velkdirect_json({"indicator", "psu0_ok_led"})["mode"], 1);
    expect_failure({"indicator", "no_led"}, 1, "indicator \"no_led\": unknown object");
    expect_failure({"indicator", "fault_led", "blink"}, 2, "is not a mode");
    expect_failure({"indicator", "fault_led", "--for", "10s"}, 2, "requires");
    expect_failure({"indicator", "fault_led", "on", "--for", "10 parsecs"}, 2, "not a duration");
}

TEST_F(CliTest, FrusListSizesAndWritability) {
    json frus = velkdirect_json({"frus"});
    ASSERT_EQ(frus.size(), 5u);
    json chassis = find_by(frus, "name", "chassis");
    EXPECT_EQ(chassis["size"], 256);
    EXPECT_EQ(chassis["writable"], false);
    EXPECT_EQ(chassis["properties"]["serial"], "VK4400001");
    EXPECT_EQ(find_by(frus, "name", "mainboard")["writable"], true);
}

TEST_F(CliTest, FruReadDefaultsToTheWholeArea) {
    json whole = velkdirect_json({"fru", "mainboard", "read"});
    EXPECT_EQ(whole["length"], 512);
    std::string data = whole["data"];
    ASSERT_EQ(data.size(), 1024u);
    EXPECT_TRUE(data.starts_with("01000001000000fe4d422d343430ffff")) << data.substr(0, 40);

    json tail = velkdirect_json({"fru", "mainboard", "read", "--offset", "500"});
    EXPECT_EQ(tail["length"], 12);

    Result dump = velkdirect({"fru", "chassis", "read", "--length", "18"});
    ASSERT_EQ(dump.code, 0) << dump.err;
    EXPECT_EQ(dump.out,
              "00000000  01 00 00 01 00 00 00 fe  56 65 6c 6b 20 56 2d 34  |........Velk V-4|\n"
              "00000010  34 30                                             |40|\n");
}

TEST_F(CliTest, FruWriteIsReadBack) {
    Result write = velkdirect({"fru", "ioboard", "write", "--offset", "0x10", "de ad", "BEEF"});
    ASSERT_EQ(write.code, 0) << write.err;
    EXPECT_EQ(write.out, "ioboard: wrote 4 bytes at offset 0x10\n");
    json back = velkdirect_json({"fru", "ioboard", "read", "--offset", "14", "--length", "8"});
    EXPECT_EQ(back["data"], "ffffdeadbeefffff");
}

TEST_F(CliTest, FruRefusals) {
    expect_failure({"fru", "chassis", "write", "--offset", "0", "00"}, 1, "FRU \"chassis\": read only (status 4)");
    expect_failure({"fru", "mainboard", "read", "--offset", "510", "--length", "4"}, 1, "out of range (status 2)");
    expect_failure({"fru", "nothing", "read"}, 1, "FRU \"nothing\": unknown object");
    expect_failure({"fru", "mainboard", "write", "--offset", "0", "abc"}, 2, "two hex digits");
    expect_failure({"fru", "mainboard", "write", "00"}, 2, "--offset");
    expect_failure({"fru", "mainboard"}, 2, "subcommand");
}

} // namespace
} // namespace velkdirect::test
