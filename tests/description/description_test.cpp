// The description reader and writer: every kind of problem a file can have is
// refused with its file, line, column and what is wrong; a description written
// reads back equal, field for field.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <string>

#include "description_file.h"
#include "description_loader.h"
#include "description_writer.h"

namespace velkd {
namespace {

const std::string P = test::Description().text(); // [platform] only

// One sensor's table, as the shared builder writes it.
std::string sensor(const std::string& id, int number) {
    return test::Description().sensor(id, number).text().substr(P.size());
}

std::string with(std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
}

// `count` entries "k0 = \"v\", k1 = ..." of an inline table, or "[1, 2], ..." of an array.
std::string entries(std::size_t count, bool pairs) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += pairs ? "k" + std::to_string(i) + " = \"v\", " : "[1, 2], ";
    return text.substr(0, text.size() - 2);
}

// `count` tables of one kind, each a one-line object.
std::string many(const char* kind, std::size_t count, const char* extra) {
    std::string text = P;
    for (std::size_t i = 0; i < count; ++i)
        text += std::string("[[") + kind + "]]\nname = \"o" + std::to_string(i) + "\"\npath = \"/o" +
                std::to_string(i) + "\"\n" + extra;
    return text;
}

struct BadFile {
    const char* name;
    std::string text;
    std::string message; // what the error says, after "bad.toml:"
};

class BadDescription : public ::testing::TestWithParam<BadFile> {};
const std::string S1 = P + sensor("a", 1);
const std::string F = P + "[[fru]]\nname = \"f\"\npath = \"/f\"\n";

TEST_P(BadDescription, IsRefusedWithFileLineAndProblem) {
    try {
        load_description_text(GetParam().text, "bad.toml", "/nonexistent");
        FAIL() << "loaded";
    } catch (const LoadError& e) {
        EXPECT_NE(std::string(e.what()).find(std::string("bad.toml:") + GetParam().message), std::string::npos)
            << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Reader, BadDescription,
    ::testing::ValuesIn(std::vector<BadFile>{
        {"syntax", P + "[[sensor]\n", "4:10: Error while parsing table header"},
        {"unknown_top", P + "colour = \"red\"\n", "4:1: platform: unknown key 'colour'"},
        {"unknown_field", S1 + "unit = \"C\"\n", "11:1: sensor \"a\": unknown key 'unit'"},
        {"unknown_nested", S1 + "[sensor.hysteresis]\nup = 1\n",
            "12:1: sensor \"a\": hysteresis: unknown key 'up'"},
        {"duplicate_id", S1 + sensor("a", 2),
            "11:1: sensor \"a\": duplicate sensor id \"a\" (first used by sensor \"a\")"},
        {"duplicate_number", S1 + sensor("b", 1),
            "11:1: sensor \"b\": duplicate logical number 1 (first used by sensor \"a\")"},
        {"duplicate_path", P + "[[component]]\npath = \"/x\"\n[[fru]]\nname = \"f\"\npath = \"/x\"\n",
            "4:1: component \"/x\": duplicate path \"/x\" (first used by fru \"f\")"},
        {"wrong_type", F + "writable = \"yes\"\n",
            "7:12: fru \"f\": 'writable' must be true or false, not a string"},
        {"wrong_type_number", S1 + "poll_interval_ms = 1.5\n",
            "11:20: sensor \"a\": 'poll_interval_ms' must be an integer, not a float"},
        {"out_of_range", P + "[[indicator]]\nname = \"i\"\npath = \"/i\"\nmodes = [0, 300]\n",
            "7:13: indicator \"i\": 'modes' is 300, must be 0 to 255"},
        {"missing_key", P + "[[fru]]\npath = \"/f\"\n", "4:1: fru #1: missing key 'name'"},
        {"data_too_large", P + "[[fru]]\nname = \"big\"\npath = \"/big\"\nsize = 65537\n",
            "7:8: fru \"big\": 'size' is 65537, must be 0 to 65536"},
        {"negative_size", F + "size = -5\n", "7:8: fru \"f\": 'size' is -5, must be 0 to 65536"},
        {"threshold_word", P + with(sensor("a", 1), "ucr = 4.0", "ucr = \"none\""),
            "9:66: sensor \"a\": thresholds: 'ucr' must be a number or \"na\", not \"none\""},
        {"thresholds_around_na", P + with(with(sensor("a", 1), "unc = 3.0", "unc = \"na\""), "ucr = 4.0", "ucr = 1.5"),
            "9:14: sensor \"a\": thresholds: 'ucr' (1.5) is below 'lnc' (2)"},
        {"count_zero", P + "[[component]]\ncount = 0\npath = \"/c{n}\"\n",
            "5:9: component #1: 'count' is 0, must be 1 to 10000"},
        {"count_from_alone", P + "[[component]]\ncount_from = 0\npath = \"/c{n}\"\n",
            "5:14: component #1: 'count_from' needs 'count'"},
        {"count_without_n", P + "[[component]]\ncount = 3\npath = \"/c\"\n",
            "4:1: component \"/c\": duplicate path \"/c\" (first used by component \"/c\")"},
        {"count_too_many", P + "[[component]]\ncount = 9999\npath = \"/a{n}\"\n[[component]]\ncount = 2\npath = \"/b{n}\"\n",
            "7:1: more than 10000 [[component]] tables"},
        {"thresholds_out_of_order", S1 + with(sensor("b", 2), "ucr = 4.0", "ucr = 2.5"),
            "16:14: sensor \"b\": thresholds: 'ucr' (2.5) is below 'unc' (3)"},
        {"nan_reading", P + with(sensor("a", 1), "value = 1.0", "value = nan"),
            "10:45: sensor \"a\": reading: 'value' must be a finite number within a float's range"},
        {"inf_threshold", P + with(sensor("a", 1), "unc = 3.0", "unc = inf"),
            "9:55: sensor \"a\": thresholds: 'unc' must be a finite number within a float's range"},
        {"beyond_float", P + with(sensor("a", 1), "m = 1.0", "m = 1e300"),
            "8:20: sensor \"a\": conversion: 'm' must be a finite number within a float's range"},
        {"nul_in_name", P + sensor("a\\u0000b", 1),
            "5:6: sensor #1: 'id' must not contain a NUL character"},
        {"long_string", with(P, "\"p\"", "\"" + std::string(4097, 'p') + "\""),
            "2:8: platform: 'name' is 4097 bytes long, at most 4096"},
        {"too_many_objects", many("component", 10001, ""),
            "30004:1: more than 10000 [[component]] tables"},
        {"too_much_fru_data", many("fru", 257, "size = 65536\n"),
            "1028:1: fru \"o256\": the FRUs' data areas add up to more than 16777216 bytes"},
        {"too_many_properties", P + "[[component]]\npath = \"/c\"\nproperties = { " + entries(257, true) + " }\n",
            "6:14: component \"/c\": 'properties' holds 257 entries, at most 256"},
        {"too_many_members", P + "[[association]]\nentity = [1, 1]\nmembers = [" + entries(1025, false) + "]\n",
            "6:11: association [1, 1]: 'members' holds 1025 members, at most 1024"},
        {"too_large", P + "# " + std::string(16u << 20, 'x') + "\n",
            "4:" + std::to_string((16u << 20) - P.size() + 1) + ": the description is larger than 16777216 bytes"},
        {"fru_fields_and_data", F + "data = \"00\"\nboard = { serial = \"1\" }\n",
            "4:1: fru \"f\": give the areas (chassis, board, product) or 'data' or 'data_file', not both"},
        {"fru_field_too_long", F + "product = { name = \"" + std::string(64, 'n') + "\" }\n",
            "4:1: fru \"f\": product name: 64 bytes, at most 63"},
        {"fru_unknown_field", F + "chassis = { colour = \"red\" }\n",
            "7:13: fru \"f\": chassis: unknown key 'colour'"},
        {"unknown_fault_object", P + "[[fault]]\nobject = \"ghost\"\ndelay_ms = 5\n",
            "5:10: fault: 'object' \"ghost\" is no sensor, indicator or FRU"}}),
    [](const ::testing::TestParamInfo<BadFile>& info) { return info.param.name; });

// Every problem of a file in line order: several in one object, and kinds
// interleaved (a sensor before a FRU, though FRUs are read first).
TEST(DescriptionProblems, EveryOneInLineOrder) {
    std::string text = P + with(sensor("a", 1), "m = 1.0", "m = \"x\"") + "type = 300\ncolour = 1\n" +
                       "[[fru]]\nname = \"f\"\npath = \"/f\"\nsize = -5\n";
    try {
        load_description_text(text, "bad.toml", "/nonexistent");
        FAIL() << "loaded";
    } catch (const LoadError& e) {
        std::vector<std::string> lines;
        for (const std::string& problem : e.problems()) lines.push_back(problem.substr(0, problem.find(':', 9)));
        EXPECT_EQ(lines, (std::vector<std::string>{"bad.toml:8", "bad.toml:11", "bad.toml:12", "bad.toml:16"}))
            << e.what();
    }
}

// `count` stands for many tables: {n} numbered from count_from, a sensor's
// logical number counting up; the writer gives them one by one, and what it
// writes reads back equal.
TEST(DescriptionCount, ManySimilarObjectsOnce) {
    std::string text = P + "[[sensor]]\ncount = 500\ncount_from = 0\nid = \"fan{n}\"\nnumber = 100\n"
                           "path = \"/fans/fan{n}\"\nproperties = { unit = \"RPM\", slot = \"{n}\" }\n"
                           "conversion = { m = 50.0, b = 0.0 }\n"
                           "thresholds = { lnr = \"na\", lcr = 500.0, lnc = 1000.0, unc = 9000.0, ucr = 10000.0, unr = \"na\" }\n"
                           "reading = { behaviour = \"constant\", value = 4800.0 }\n"
                           "[[component]]\ncount = 3\npath = \"/fans/fan{n}/blade\"\n";
    Description d = load_description_text(text, "many.toml", "/nonexistent");
    ASSERT_EQ(d.sensors.size(), 500u);
    EXPECT_EQ(d.sensors[0].id, "fan0");
    EXPECT_EQ(d.sensors[499].id, "fan499");
    EXPECT_EQ(d.sensors[499].number, 599u);
    EXPECT_EQ(d.sensors[7].path, "/fans/fan7");
    EXPECT_EQ(d.sensors[7].properties, (Properties{{"slot", "7"}, {"unit", "RPM"}}));
    EXPECT_EQ(d.sensors[7].absent_thresholds, 0b100001);
    ASSERT_EQ(d.components.size(), 3u);
    EXPECT_EQ(d.components[2].path, "/fans/fan3/blade");
    EXPECT_TRUE(load_description_text(write_description(d), "many.toml", "/nonexistent") == d);
    // A problem of such a table is told once, not once an object.
    try {
        load_description_text(P + "[[component]]\ncount = 3\npath = \"/c{n}\"\ncolour = 1\n", "bad.toml", "/");
        FAIL() << "loaded";
    } catch (const LoadError& e) {
        EXPECT_EQ(e.problems(), std::vector<std::string>{"bad.toml:7:1: component \"/c1\": unknown key 'colour'"});
    }
}

// A data_file stays under the directory that really holds the description,
// however --config names it: a bare name, a relative path through "..", an
// absolute path, a link from elsewhere. What lies outside is refused, never read.
TEST(DescriptionFile, DataFileStaysUnderTheRealDirectoryOfTheDescriptionHoweverItIsNamed) {
    namespace fs = std::filesystem;
    fs::create_directories("/tmp/d/conf");
    std::ofstream("/tmp/d/conf/inside.bin") << "I";
    std::ofstream("/tmp/d/secret.bin") << "S";
    fs::create_symlink("conf/x.toml", "/tmp/d/link.toml");
    // What loading says: its problem, or the FRU's data.
    auto load = [](const char* config, const std::string& data_file) -> std::string {
        std::ofstream("/tmp/d/conf/x.toml")
            << P << "[[fru]]\nname = \"f\"\npath = \"/f\"\ndata_file = \"" << data_file << "\"\n";
        try {
            std::vector<uint8_t> data = load_description_file(config).frus.at(0).data;
            return std::string(data.begin(), data.end());
        } catch (const LoadError& e) {
            return e.what();
        }
    };
    const fs::path was = fs::current_path();
    const struct {
        const char* cwd;
        const char* config;
    } names[] = {{"/tmp/d/conf", "x.toml"}, {"/tmp/d/conf", "../conf/./x.toml"}, {"/", "/tmp/d/conf/x.toml"},
                 {"/tmp", "d/link.toml"}};
    for (const auto& [cwd, config] : names) {
        fs::current_path(cwd);
        EXPECT_EQ(load(config, "inside.bin"), "I") << config;
        for (const char* outside : {"../secret.bin", "/tmp/d/secret.bin", "../conf/../secret.bin"})
            EXPECT_NE(load(config, outside).find(":7:13: fru \"f\": data_file /tmp/d/"), std::string::npos)
                << config << " " << outside;
    }
    fs::current_path(was);
}

// Every field of the model away from its default where the format allows,
// with strings that need quoting, floats that need all their digits and data
// areas of every shape (properties in key order, as a file gives them).
Description every_field() {
    Description d{"snapshot.toml", {"Rack \"A\"\n# not a comment", "m\\odel \u00e9\t", 7}, {}, {}, {}, {}, {}, {}, false};
    std::vector<uint8_t> data(40, 0xff);
    for (int i = 0; i < 20; ++i) data[i] = static_cast<uint8_t>(i * 13);
    data[30] = 0; // inside the 0xff padding
    d.frus = {{{"/a b/\"c\"", 2, {0, 0, 9}, {{"odd key = 1", "v\"\n"}, {"x", ""}}}, "fru 'one'", data, 40, true},
              {{"/blank", 0, {}, {}}, "blank", std::vector<uint8_t>(16, 0xff), 16, false}};
    SensorDesc s{{"/s", 1, {1, 0, 3}, {{"unit", "\u00b0C"}}}, "s]1", 4000000000u, 0xfe, "a \"note\"",
                 {3.14159274f, -1e-7f}, {-40.5f, 0.1f, 1.0f / 3, 2.97f, 16777216.0f, 3.4e38f}, {3, 255}, 65535, false,
                 Constant{float_decimal(123.456f)}}; // a reading captured from a daemon
    d.sensors.push_back(s);
    for (Behaviour b : {Behaviour{Ramp{-1.5, 0.1, 0.25}}, Behaviour{Sine{1e-9, 2.0 / 3, 86400}},
                        Behaviour{RandomWalk{20, 0.5, -1e6, 1e6, 9007199254740993u, 10}}}) {
        s.number = static_cast<uint32_t>(d.sensors.size());
        s.id = s.path = "/s" + std::to_string(s.number);
        s.note.clear();
        s.reading = b;
        s.absent_thresholds = 0b100001; // lnr and unr "na"
        s.thresholds[0] = s.thresholds[5] = 0;
        d.sensors.push_back(s);
    }
    d.indicators = {{{"/led", 0, {}, {}}, "led", {3, 0, 1}, 1}};
    d.components = {{{"/c", 0xFFFFFFFF, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {{"a", "1"}, {"b", "2"}}}}};
    d.associations = {{{0x80, 255}, 0xDEADBEEF, {{0, 0}, {0xff, 1}}}, {{1, 2}, 0, {}}};
    d.faults = {{9, "led", 5, 0, 1.0, 0}, {std::nullopt, "", 0, 5, 0.25, 42}, {29, "/s", 0, -3, 1.0, 0}};
    return d;
}

TEST(DescriptionWriter, WhatItWritesReadsBackEqual) {
    const Description d = every_field();
    WriteNotes notes{"line one\n\nline \"three\"", {"set for a while"}};
    std::string text = write_description(d, notes);
    Description back;
    try {
        back = load_description_text(text, "snapshot.toml", "/nonexistent");
    } catch (const LoadError& e) {
        FAIL() << e.what() << "\n" << text;
    }
    EXPECT_TRUE(back == d) << text;

    // What the format leaves to defaults, and the comment lines.
    EXPECT_TRUE(text.starts_with("# line one\n#\n# line \"three\"\n")) << text;
    EXPECT_NE(text.find("# set for a while\nmode = 1\n"), std::string::npos);
    EXPECT_NE(text.find("desc = [0x01, 0x00, 0x03]\n"), std::string::npos) << "trailing zeros left out";
    EXPECT_NE(text.find("path = \"/blank\"\nkind = 0\ndata = \"\"\n"), std::string::npos) << "no desc, no properties";
    EXPECT_NE(text.find("\"00 0d 1a 27 34 41 4e 5b 68 75 82 8f 9c a9 b6 c3\n"), std::string::npos) << "16 bytes a line";
    EXPECT_NE(text.find("unc = 2.97, ucr = 16777216.0,"), std::string::npos) << "floats stay floats, shortest";
    EXPECT_NE(text.find("value = 123.456 }"), std::string::npos);
    EXPECT_NE(text.find("thresholds = { lnr = \"na\", lcr = 0.1,"), std::string::npos);
}

} // namespace
} // namespace velkd
