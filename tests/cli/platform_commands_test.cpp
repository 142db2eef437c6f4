// tree, platform, components, associations, indicators and FRUs against the
// built-in platform.
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "cli_fixture.h"

namespace velkdirect::test {
namespace {

// Every node of a JSON tree by path, with the path of its parent.
void index_tree(const json& node, const std::string& parent, std::map<std::string, std::pair<json, std::string>>& out) {
    for (const json& child : node["children"]) {
        out[child["path"]] = {child, parent};
        index_tree(child, child["path"], out);
    }
}

TEST_F(CliTest, TreeJsonHoldsEveryObjectUnderItsParent) {
    json root = velkdirect_json({"tree"});
    EXPECT_EQ(root["path"], "");
    std::map<std::string, std::pair<json, std::string>> nodes;
    index_tree(root, "", nodes);
    EXPECT_EQ(nodes.size(), 10u + 4 + 5 + 7 + 1); // every object and /chassis/front

    auto [speed, speed_parent] = nodes["/chassis/fantray/fan1/speed"];
    EXPECT_EQ(speed["kind"], 3);
    EXPECT_EQ(speed["properties"]["unit"], "RPM");
    EXPECT_EQ(speed["desc"], json({0x1d, 2, 1, 4, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(speed_parent, "/chassis/fantray/fan1");

    auto [front, front_parent] = nodes["/chassis/front"];
    EXPECT_EQ(front["kind"], 1) << "a level no object carries";
    EXPECT_EQ(front["desc"][2], 8);
    EXPECT_EQ(front_parent, "/chassis");
    EXPECT_EQ(front["children"].size(), 3u);
    EXPECT_EQ(nodes["/chassis"].second, "");
}

TEST_F(CliTest, TreeTextIndentsChildrenAndShowsPropertiesOnRequest) {
    Result plain = velkdirect({"tree"});
    ASSERT_EQ(plain.code, 0) << plain.err;
    EXPECT_TRUE(plain.out.starts_with("/\n└── chassis ")) << plain.out;
    // fan0's speed sensor sits one level deeper than fan0.
    auto fan0 = plain.out.find("── fan0 ");
    auto speed = plain.out.find("── speed ", fan0);
    ASSERT_NE(fan0, std::string::npos);
    ASSERT_NE(speed, std::string::npos);
    auto column = [&](std::size_t at) { return at - plain.out.rfind('\n', at); };
    EXPECT_EQ(column(speed), column(fan0) + std::string("│   ").size());
    EXPECT_NE(plain.out.find("front"), std::string::npos);
    EXPECT_EQ(plain.out.find("Velk VX-16"), std::string::npos);

    Result with_properties = velkdirect({"tree", "--properties"});
    ASSERT_EQ(with_properties.code, 0);
    EXPECT_NE(with_properties.out.find("model = Velk VX-16"), std::string::npos) << with_properties.out;
    EXPECT_NE(with_properties.out.find("colour = amber"), std::string::npos);
}

TEST_F(CliTest, PlatformNames) {
    json names = velkdirect_json({"platform"});
    EXPECT_EQ(names, json({{"name", "Velk V-440 Server"}, {"model", "VLK-440-SIM"}, {"lead_byte", 1}}));
    Result text = velkdirect({"platform"});
    EXPECT_NE(text.out.find("VLK-440-SIM"), std::string::npos);
}

TEST_F(CliTest, ComponentsListEveryComponent) {
    json components = velkdirect_json({"components"});
    ASSERT_EQ(components.size(), 7u);
    json nic = find_by(components, "path", "/chassis/io/nic0");
    EXPECT_EQ(nic["kind"], 5);
    EXPECT_EQ(nic["properties"], json({{"ports", "2"}, {"speed", "25 Gb/s"}}));
    EXPECT_EQ(find_by(components, "path", "/chassis/fantray/fan1")["properties"], json::object());
}

TEST_F(CliTest, AssociationsAllAndOne) {
    json all = velkdirect_json({"associations"});
    ASSERT_EQ(all.size(), 3u);
    std::set<json> entities;
    for (const json& a : all) entities.insert(a["entity"]);
    EXPECT_EQ(entities, (std::set<json>{{0x17, 1}, {0x07, 1}, {0x1e, 1}}));

    json fans = velkdirect_json({"associations", "0x1e", "1"});
    EXPECT_EQ(fans["word"], 2);
    EXPECT_EQ(fans["members"], json({{0x1d, 1}, {0x1d, 2}}));

    Result text = velkdirect({"associations"});
    EXPECT_NE(text.out.find("0x1e.1"), std::string::npos) << text.out;
}

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

} // namespace
} // namespace velkdirect::test
