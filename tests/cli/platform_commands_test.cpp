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

struct Row {
    std::vector<std::string> args;
    std::string where; // in the --json document; "=" for the whole text output, "~" for a part of it
    json expected;     // an object is compared key by key (the document may hold more)
};

// Runs each row's command, once for all rows alike when `reuse`, and checks
// what it shows. Returns the documents by arguments ("(text)" appended for text).
std::map<std::vector<std::string>, json> expect_rows(const std::vector<Row>& rows, bool reuse) {
    std::map<std::vector<std::string>, json> docs;
    for (const Row& row : rows) {
        std::string what;
        for (const std::string& a : row.args) what += a + " ";
        SCOPED_TRACE(what + row.where);
        bool text = row.where == "=" || row.where == "~";
        std::vector<std::string> key = row.args;
        if (text) key.push_back("(text)");
        if (!reuse || !docs.contains(key)) {
            Result run = velkdirect(row.args);
            EXPECT_EQ(run.code, 0) << run.err;
            docs[key] = text ? json(run.out) : velkdirect_json(row.args);
        }
        json found = text ? docs[key] : at(docs[key], row.where);
        if (row.where == "~")
            EXPECT_TRUE(contains(found, row.expected)) << found.get<std::string>();
        else if (row.expected.is_object() && !row.expected.empty())
            for (const auto& [k, value] : row.expected.items()) EXPECT_EQ(found[k], value) << k;
        else
            EXPECT_EQ(found, row.expected);
    }
    return docs;
}

// What each read-only command shows, one value a row.
TEST_F(CliTest, ListingsShowTheBuiltInPlatform) {
    const json thresholds_3v3{{"lnr", 2.8}, {"lcr", 2.97}, {"lnc", 3.1}, {"unc", 3.5}, {"ucr", 3.63}, {"unr", 3.8}};
    auto docs = expect_rows({
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
        // The text forms.
        {{"platform"}, "~", "VLK-440-SIM"},
        {{"associations"}, "~", "0x1e.1"},
        {{"tree", "--properties"}, "~", "model = Velk VX-16"},
        {{"tree", "--properties"}, "~", "colour = amber"},
        {{"sensor", "cpu1_temp"}, "~", "CPU 1 die"},
        {{"sensor", "cpu1_temp"}, "~", "normal = 0.5 * raw + 0"},
        {{"convert", "cpu0_temp", "--raw", "100"}, "=", "raw 100 = 50 degrees C\n"}, // with the unit
        {{"convert", "cpu0_temp", "--normal", "-40"}, "=",
         "-40 degrees C = raw 0\nnote: clamped: the sensor reads 0 to 127.5 degrees C; raw 0 is 0 degrees C\n"},
        {{"fru", "chassis", "read", "--length", "18"}, "=",
         "00000000  01 00 01 00 05 00 00 f9  01 04 17 ca 56 4c 4b 2d  |............VLK-|\n"
         "00000010  43 48                                             |CH|\n"},
        // As `ipmitool fru print` shows it.
        {{"fru", "psu0", "decode"}, "~", "Product Manufacturer  : Aurel Power\n"},
        {{"fru", "psu0", "decode"}, "~", "Product Part Number   : AP-750W\n"},
        {{"fru", "psu0", "decode"}, "~", "Product Serial        : AP75-88213\n"},
        {{"fru", "psu0", "decode"}, "~", "Product Extra         : 750 W\n"},
    }, true);
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

// What operators do to test their alerts and their hardware, each change read
// back, in order.
TEST_F(CliTest, ChangesAreReadBack) {
    std::ofstream("/tmp/two.bin", std::ios::binary) << "\x01\x02";
    expect_rows({
        {{"sensor", "cpu0_temp", "set-thresholds", "--unc", "80", "--ucr", "90"}, "thresholds",
         {{"lnr", 0}, {"lcr", 5}, {"lnc", 10}, {"unc", 80}, {"ucr", 90}, {"unr", 100}}}, // the rest kept
        {{"sensor", "#2"}, "thresholds.ucr", 90},
        {{"sensor", "cpu0_temp", "set-reading", "190"}, "",
         {{"reading", 190}, {"value", 95}, {"overridden", true}, {"state", "unc,ucr"}}},
        {{"sensor", "mb_3v3", "set-reading", "0"}, "=",
         "mb_3v3: reading overridden: raw 0 = 0 volts, state lnr,lcr,lnc (until velkdirect reset-sensors)\n"},
        {{"reset-sensors"}, "reset", true},
        {{"sensor", "cpu0_temp"}, "overridden", false},
        {{"indicator", "locate_led", "fast"}, "=", "locate_led: 3 (fast blink)\n"},
        {{"indicator", "locate_led"}, "mode", 3},
        // With a duration the new mode holds until it runs out (an hour here).
        {{"indicator", "fault_led", "2", "--for", "1h"}, "~", "for 3600 s"},
        {{"indicator", "fault_led"}, "mode", 2},
        // A bare number is seconds, as in `ipmitool chassis identify 5`; units combine.
        {{"indicator", "fault_led", "2", "--for", "600"}, "duration_ms", 600000},
        {{"indicator", "fault_led", "2", "--for", "1m30s"}, "duration_ms", 90000},
        {{"indicator", "fault_led", "2", "--for", "1.5s"}, "duration_ms", 1500},
        {{"fru", "ioboard", "write", "--offset", "0xf0", "de ad", "BEEF"}, "=", "ioboard: wrote 4 bytes at offset 0xf0\n"},
        {{"fru", "ioboard", "read", "--offset", "238", "--length", "8"}, "data", "ffffdeadbeefffff"},
        {{"fru", "ioboard", "write", "--offset", "0xf0", "00"}, "", {{"name", "ioboard"}, {"offset", 240}, {"written", 1}}},
        {{"fru", "ioboard", "write", "--offset", "0xf0", "00"}, "#", 3},
        // Binary in and out through files.
        {{"fru", "ioboard", "read", "--file", "/tmp/io.bin"}, "length", 256},
        {{"fru", "ioboard", "write", "--offset", "250", "--file", "/tmp/two.bin"}, "written", 2},
        {{"fru", "ioboard", "read", "--offset", "250", "--length", "2"}, "data", "0102"},
    }, false);
    std::ifstream file("/tmp/io.bin", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), {});
    ASSERT_EQ(bytes.size(), 256u);
    EXPECT_EQ(bytes.substr(240, 4), std::string("\x00\xad\xbe\xef", 4));
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
