// indicators, indicator, frus and fru read/write against the built-in platform.
#include <fstream>
#include <iterator>

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
    // A bare number is seconds, as in `ipmitool chassis identify 5`; units combine.
    for (auto [given, ms] : {std::pair<const char*, int>{"600", 600000}, {"1m30s", 90000}, {"1.5s", 1500}})
        EXPECT_EQ(velkdirect_json({"indicator", "fault_led", "2", "--for", given})["duration_ms"], ms) << given;
}

TEST_F(CliTest, IndicatorRefusals) {
    // psu0_ok_led accepts only 0 and 1.
    expect_failure({"indicator", "psu0_ok_led", "slow"}, 1,
                   "indicator \"psu0_ok_led\": mode 2 (slow blink) is not accepted; it accepts 0 (off), 1 (on)");
    EXPECT_EQ(velkdirect_json({"indicator", "psu0_ok_led"})["mode"], 1);
    expect_failure({"indicator", "no_led"}, 1, "indicator \"no_led\": unknown object");
    expect_failure({"indicator", "fault_led", "blink"}, 2, "is not a mode");
    expect_failure({"indicator", "fault_led", "--for", "10s"}, 2, "requires");
    expect_failure({"indicator", "fault_led", "on", "--for", "10 parsecs"}, 2, "not a duration");
    expect_failure({"indicator", "fault_led", "on", "--for", "0"}, 2, "leave out --for");
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
    EXPECT_TRUE(data.starts_with("01000001000000fe0108")) << data.substr(0, 40); // header, then the board area
    EXPECT_TRUE(data.ends_with("ffff"));

    json tail = velkdirect_json({"fru", "mainboard", "read", "--offset", "500"});
    EXPECT_EQ(tail["length"], 12);

    Result dump = velkdirect({"fru", "chassis", "read", "--length", "18"});
    ASSERT_EQ(dump.code, 0) << dump.err;
    EXPECT_EQ(dump.out,
              "00000000  01 00 01 00 05 00 00 f9  01 04 17 ca 56 4c 4b 2d  |............VLK-|\n"
              "00000010  43 48                                             |CH|\n");
}

TEST_F(CliTest, FruWriteIsReadBack) {
    Result write = velkdirect({"fru", "ioboard", "write", "--offset", "0xf0", "de ad", "BEEF"});
    ASSERT_EQ(write.code, 0) << write.err;
    EXPECT_EQ(write.out, "ioboard: wrote 4 bytes at offset 0xf0\n");
    json back = velkdirect_json({"fru", "ioboard", "read", "--offset", "238", "--length", "8"});
    EXPECT_EQ(back["data"], "ffffdeadbeefffff");
    EXPECT_EQ(velkdirect_json({"fru", "ioboard", "write", "--offset", "0xf0", "00"}),
              json({{"name", "ioboard"}, {"offset", 240}, {"written", 1}}));

    // Binary in and out through files.
    json read = velkdirect_json({"fru", "ioboard", "read", "--file", "/tmp/io.bin"});
    EXPECT_EQ(read["length"], 256);
    std::ifstream file("/tmp/io.bin", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), {});
    ASSERT_EQ(bytes.size(), 256u);
    EXPECT_EQ(bytes.substr(240, 4), std::string("\x00\xad\xbe\xef", 4));
    std::ofstream("/tmp/two.bin", std::ios::binary) << "\x01\x02";
    ASSERT_EQ(velkdirect({"fru", "ioboard", "write", "--offset", "250", "--file", "/tmp/two.bin"}).code, 0);
    EXPECT_EQ(velkdirect_json({"fru", "ioboard", "read", "--offset", "250", "--length", "2"})["data"], "0102");
    expect_failure({"fru", "ioboard", "write", "--offset", "0", "--file", "/tmp/none.bin"}, 1, "cannot read");
    expect_failure({"fru", "ioboard", "write", "--offset", "0"}, 2, "HEXBYTES or --file");
}

// The built-in platform's FRU data decodes as `ipmitool fru print` would show
// it; one byte flipped through `fru write` makes the checksum fail.
TEST_F(CliTest, FruDecodeShowsTheAreasAndCatchesAFlippedByte) {
    json decoded = velkdirect_json({"fru", "mainboard", "decode"});
    EXPECT_EQ(decoded["header"]["checksum"]["ok"], true);
    ASSERT_EQ(decoded["areas"].size(), 1u);
    json board = decoded["areas"][0];
    EXPECT_EQ(board["area"], "board");
    EXPECT_EQ(board["checksum"]["ok"], true);
    EXPECT_EQ(board["language"], json({{"code", 0}, {"name", "en"}}));
    EXPECT_EQ(board["mfg_date"], "2024-03-18 09:30 UTC");
    EXPECT_EQ(board["fields"], json({{"manufacturer", "Velk Systems"}, {"product", "MB-440 mainboard"},
                                     {"serial", "VM4400107"}, {"part_number", "VLK-MB-440"}, {"file_id", ""}}));
    EXPECT_EQ(decoded["problems"], json::array());

    Result psu = velkdirect({"fru", "psu0", "decode"});
    ASSERT_EQ(psu.code, 0) << psu.err;
    for (const char* line : {"Product Manufacturer  : Aurel Power\n", "Product Part Number   : AP-750W\n",
                             "Product Serial        : AP75-88213\n", "Product Extra         : 750 W\n"})
        EXPECT_NE(psu.out.find(line), std::string::npos) << line << psu.out;
    json chassis = velkdirect_json({"fru", "chassis", "decode"});
    EXPECT_EQ(chassis["areas"][0]["type"], json({{"code", 0x17}, {"name", "Rack Mount Chassis"}}));
    EXPECT_EQ(chassis["areas"][1]["fields"]["name"], "Velk V-440");

    // Byte 20 is the 'S' of "Velk Systems" in the board area.
    ASSERT_EQ(velkdirect_json({"fru", "mainboard", "read", "--offset", "20", "--length", "1"})["data"], "53");
    ASSERT_EQ(velkdirect({"fru", "mainboard", "write", "--offset", "20", "52"}).code, 0);
    Result bad = velkdirect({"fru", "mainboard", "decode"});
    EXPECT_EQ(bad.code, 1);
    EXPECT_NE(bad.out.find("checksum FAILS (stored 0x85; the bytes sum to 0xff, not 0)"), std::string::npos) << bad.out;
    EXPECT_NE(bad.out.find("Velk Rystems"), std::string::npos) << "the fields are still shown";
    EXPECT_NE(bad.err.find("board area at offset 8: checksum fails"), std::string::npos) << bad.err;

    // An area that cannot be decoded is shown as hex with the reason.
    ASSERT_EQ(velkdirect({"fru", "mainboard", "write", "--offset", "9", "ff"}).code, 0);
    Result broken = velkdirect({"fru", "mainboard", "decode", "--json"});
    EXPECT_EQ(broken.code, 1);
    json doc = json::parse(broken.out);
    EXPECT_EQ(doc["areas"][0]["problem"], "its 2040 bytes run past the end of the 512-byte data");
    EXPECT_TRUE(doc["areas"][0]["hex"].get<std::string>().starts_with("01ff00")) << doc;
}

TEST_F(CliTest, FruRefusals) {
    expect_failure({"fru", "chassis", "write", "--offset", "0", "00"}, 1, "FRU \"chassis\": read only (status 4)");
    expect_failure({"fru", "mainboard", "read", "--offset", "510", "--length", "4"}, 1, "out of range (status 2)");
    // Past the end there is nothing "to the end": an error, not an empty dump.
    expect_failure({"fru", "mainboard", "read", "--offset", "100000"}, 1,
                   "offset 100000 is past the end of its 512-byte data area");
    expect_failure({"fru", "mainboard", "read", "--offset", "513", "--json"}, 1, "past the end");
    expect_failure({"fru", "nothing", "read"}, 1, "FRU \"nothing\": unknown object");
    expect_failure({"fru", "mainboard", "write", "--offset", "0", "abc"}, 2, "two hex digits");
    expect_failure({"fru", "mainboard", "write", "00"}, 2, "--offset");
    expect_failure({"fru", "mainboard"}, 2, "subcommand");
}

} // namespace
} // namespace velkdirect::test
