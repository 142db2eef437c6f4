// tree, platform, components, associations, indicators, FRUs and sensors
// against the built-in platform.
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "cli_fixture.h"

namespace velkdirect::test {
namespace {

// The part of a JSON document at `where`: '.'-separated steps, each a key, an
// index, "KEY=VALUE" (the first array element with that field) or "#" (the size).
json at(json doc, const std::string& where) {
    std::istringstream steps(where);
    for (std::string step; std::getline(steps, step, '.');) {
        auto eq = step.find('=');
        if (step == "#") doc = doc.size();
        else if (eq != std::string::npos) doc = find_by(doc, step.substr(0, eq), step.substr(eq + 1));
        else if (doc.is_array()) doc = doc.at(std::stoul(step));
        else doc = doc.value(step, json());
    }
    return doc;
}

// What each read-only command shows, one value a row. An expected object is
// compared key by key (the document may hold more).
TEST_F(CliTest, ListingsShowTheBuiltInPlatform) {
    const json thresholds_3v3{{"lnr", 2.8}, {"lcr", 2.97}, {"lnc", 3.1}, {"unc", 3.5}, {"ucr", 3.63}, {"unr", 3.8}};
    const struct {
        std::vector<std::string> args;
        std::string where;
        json expected;
    } rows[] = {
        {{"platform"}, "", {{"name", "Velk V-440 Server"}, {"model", "VLK-440-SIM"}, {"lead_byte", 1}}},
        {{"platform"}, "#", 3},
        {{"sensors"}, "#", 10},
        {{"sensors"}, "id=mb_3v3",
         {{"number", 5}, {"path", "/chassis/mb/3v3"}, {"value", 3.3} /* shortest text, not 3.2999999523 */,
          {"reading", 165}, {"unit", "volts"}, {"thresholds", thresholds_3v3}, {"crossed", json::array()},
          {"conversion", {{"m", 0.02}, {"b", 0.0}}}}},
        {{"sensors"}, "id=fan0_speed.polling", {{"enabled", true}, {"interval_ms", 500}, {"daemon_wide", true}}},
        {{"sensors"}, "id=inlet_temp", {{"hysteresis", {{"positive", 2}, {"negative", 2}}}, {"note", "Air inlet"}}},
        {{"sensors"}, "id=psu0_vout.id", "psu0_vout"},
        {{"sensor", "cpu1_temp"}, "normalized_thresholds", at(velkdirect_json({"sensor", "cpu1_temp"}), "thresholds")},
        {{"convert", "mb_12v", "--raw", "136"}, "normal", 12.5}, // 0.0625 * 136 + 4
        {{"convert", "mb_12v", "--normal", "12.5"}, "raw", 136},
        {{"convert", "#2", "--raw", "3"}, "", {{"sensor", "cpu0_temp"}, {"unit", "degrees C"}, {"raw", 3}, {"normal", 1.5}}},
        {{"convert", "#2", "--raw", "3"}, "#", 4},
        // A value beyond what the sensor reads is clamped by the daemon: said, not hidden.
        {{"convert", "cpu0_temp", "--normal", "1e9"}, "", {{"raw", 255}, {"clamped", true}, {"range", {{"low", 0}, {"high", 127.5}}}}},
        {{"convert", "cpu0_temp", "--normal", "127.5"}, "clamped", false},
        {{"components"}, "#", 7},
        {{"components"}, "path=/chassis/io/nic0", {{"kind", 5}, {"properties", {{"ports", "2"}, {"speed", "25 Gb/s"}}}}},
        {{"components"}, "path=/chassis/fantray/fan1.properties", json::object()},
        {{"associations"}, "#", 3},
        {{"associations", "0x1e", "1"}, "", {{"word", 2}, {"members", {{0x1d, 1}, {0x1d, 2}}}}},
        {{"indicators"}, "#", 4},
        {{"indicators"}, "name=power_led",
         {{"mode", 1}, {"mode_name", "on"}, {"modes", {0, 1, 2}}, {"path", "/chassis/front/power_led"}}},
        {{"indicators"}, "name=power_led.properties.colour", "green"},
        {{"frus"}, "#", 5},
        {{"frus"}, "name=chassis", {{"size", 256}, {"writable", false}}},
        {{"frus"}, "name=chassis.properties.serial", "VK4400001"},
        {{"frus"}, "name=mainboard.writable", true},
        {{"fru", "mainboard", "read"}, "length", 512}, // the whole area by default
        {{"fru", "mainboard", "read", "--offset", "500"}, "length", 12},
        {{"fru", "mainboard", "decode"}, "header.checksum.ok", true},
        {{"fru", "mainboard", "decode"}, "problems", json::array()},
        {{"fru", "mainboard", "decode"}, "areas.#", 1},
        {{"fru", "mainboard", "decode"}, "areas.0",
         {{"area", "board"}, {"language", {{"code", 0}, {"name", "en"}}}, {"mfg_date", "2024-03-18 09:30 UTC"},
          {"fields", {{"manufacturer", "Velk Systems"}, {"product", "MB-440 mainboard"}, {"serial", "VM4400107"},
                      {"part_number", "VLK-MB-440"}, {"file_id", ""}}}}},
        {{"fru", "mainboard", "decode"}, "areas.0.checksum.ok", true},
        {{"fru", "chassis", "decode"}, "areas.0.type", {{"code", 0x17}, {"name", "Rack Mount Chassis"}}},
        {{"fru", "chassis", "decode"}, "areas.1.fields.name", "Velk V-440"},
    };
    std::map<std::vector<std::string>, json> docs;
    for (const auto& row : rows) {
        std::string what;
        for (const std::string& a : row.args) what += a + " ";
        SCOPED_TRACE(what + row.where);
        if (!docs.contains(row.args)) docs[row.args] = velkdirect_json(row.args);
        json found = at(docs[row.args], row.where);
        if (row.expected.is_object() && !row.expected.empty())
            for (const auto& [key, value] : row.expected.items()) EXPECT_EQ(found[key], value) << key;
        else
            EXPECT_EQ(found, row.expected);
    }
    std::set<std::string> ids;
    for (const json& s : docs[std::vector<std::string>{"sensors"}]) ids.insert(s["id"]);
    EXPECT_EQ(ids.size(), 10u) << "distinct sensor ids";
    std::set<json> entities;
    for (const json& a : docs[{"associations"}]) entities.insert(a["entity"]);
    EXPECT_EQ(entities, (std::set<json>{{0x17, 1}, {0x07, 1}, {0x1e, 1}}));
    std::string data = docs[{"fru", "mainboard", "read"}]["data"];
    ASSERT_EQ(data.size(), 1024u);
    EXPECT_TRUE(data.starts_with("01000001000000fe0108")) << data.substr(0, 40); // header, then the board area
    EXPECT_TRUE(data.ends_with("ffff"));
    json by_name = docs[{"sensor", "cpu1_temp"}], by_number = velkdirect_json({"sensor", "#3"});
    for (const char* key : {"id", "number", "path", "note", "thresholds", "normalized_thresholds", "desc", "conversion"})
        EXPECT_EQ(by_name[key], by_number[key]) << "by name and by number: " << key;
}

// The text forms: `whole` rows are the whole output, the others a part of it.
TEST_F(CliTest, TextFormsOfTheListings) {
    const struct {
        std::vector<std::string> args;
        std::string text;
        bool whole;
    } rows[] = {
        {{"platform"}, "VLK-440-SIM", false},
        {{"associations"}, "0x1e.1", false},
        {{"tree", "--properties"}, "model = Velk VX-16", false},
        {{"tree", "--properties"}, "colour = amber", false},
        {{"sensor", "cpu1_temp"}, "CPU 1 die", false},
        {{"sensor", "cpu1_temp"}, "normal = 0.5 * raw + 0", false},
        {{"convert", "cpu0_temp", "--raw", "100"}, "raw 100 = 50 degrees C\n", true}, // with the unit
        {{"convert", "cpu0_temp", "--normal", "-40"},
         "-40 degrees C = raw 0\nnote: clamped: the sensor reads 0 to 127.5 degrees C; raw 0 is 0 degrees C\n", true},
        {{"fru", "chassis", "read", "--length", "18"},
         "00000000  01 00 01 00 05 00 00 f9  01 04 17 ca 56 4c 4b 2d  |............VLK-|\n"
         "00000010  43 48                                             |CH|\n",
         true},
        // As `ipmitool fru print` shows it.
        {{"fru", "psu0", "decode"}, "Product Manufacturer  : Aurel Power\n", false},
        {{"fru", "psu0", "decode"}, "Product Part Number   : AP-750W\n", false},
        {{"fru", "psu0", "decode"}, "Product Serial        : AP75-88213\n", false},
        {{"fru", "psu0", "decode"}, "Product Extra         : 750 W\n", false},
    };
    for (const auto& row : rows) {
        Result run = velkdirect(row.args);
        EXPECT_EQ(run.code, 0) << row.args[0] << run.err;
        if (row.whole)
            EXPECT_EQ(run.out, row.text);
        else
            EXPECT_NE(run.out.find(row.text), std::string::npos) << row.text << "\n" << run.out;
    }
}

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

TEST_F(CliTest, TreeTextIndentsChildrenAndHidesPropertiesUnlessAsked) {
    Result plain = velkdirect({"tree"});
    ASSERT_EQ(plain.code, 0) << plain.err;
    EXPECT_TRUE(plain.out.starts_with("/\n└── chassis ")) << plain.out;
    // fan0's speed sensor sits one level deeper than fan0.
    auto fan0 = plain.out.find("── fan0 ");
    auto speed = plain.out.find("── speed ", fan0);
    ASSERT_NE(speed, std::string::npos);
    auto column = [&](std::size_t at) { return at - plain.out.rfind('\n', at); };
    EXPECT_EQ(column(speed), column(fan0) + std::string("│   ").size());
    EXPECT_NE(plain.out.find("front"), std::string::npos);
    EXPECT_EQ(plain.out.find("Velk VX-16"), std::string::npos);
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


// One byte flipped through `fru write` makes the checksum fail.
TEST_F(CliTest, FruDecodeCatchesAFlippedByte) {
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
