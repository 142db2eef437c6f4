// Command-line values that CLI11 has no type for; tables, the tree, JSON
// numbers and FRU decoding; all without a daemon. Modes, sensor names, hex
// dumps, number texts and threshold states are proven end to end in the tables
// of platform_commands_test.cpp and usage_and_errors_test.cpp.
#include <gtest/gtest.h>

#include <limits>

#include "arguments.h"
#include "calls.h"
#include "fru_decode.h"
#include "json_format.h"
#include "text_format.h"

namespace velk::cli {
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

// Aligned by display width, or comma-separated, with or without titles; a
// daemon's control characters never reach the terminal.
TEST(TextFormat, TableStylesAndEscapes) {
    Table table({{"NAME"}, {"VALUE", Table::Align::right}, {"NOTE"}});
    table.add({"ü", "1", ""});
    table.add({"long name", "12345", "x"});
    table.add({"a,b", "\"q\"", "\x1b[2J\xc2\x9b\x07"});
    EXPECT_EQ(table.render(),
              "NAME       VALUE  NOTE\n"
              "ü              1\n"
              "long name  12345  x\n"
              "a,b          \"q\"  \\x1b[2J\\xc2\\x9b\\x07\n");
    EXPECT_EQ(table.render({.csv = true, .header = false}),
              "ü,1,\n"
              "long name,12345,x\n"
              "\"a,b\",\"\"\"q\"\"\",\\x1b[2J\\xc2\\x9b\\x07\n");
    EXPECT_TRUE(table.render({.header = false}).starts_with("ü              1\n"));
}

TEST(TextFormat, TreeLabelsAndOrphans) {
    TreeNode root;
    auto add = [](TreeNode& parent, std::string path, uint32_t kind) -> TreeNode& {
        auto node = std::make_unique<TreeNode>();
        node->path = std::move(path);
        node->kind = kind;
        parent.children.push_back(std::move(node));
        return *parent.children.back();
    };
    TreeNode& a = add(root, "/a", 2);
    add(a, "/a/b", 3).properties = {{"unit", "V"}};
    add(root, "orphan", 9); // a path without '/': the walk gives it no parent
    a.desc = {0x07, 1, 1};
    EXPECT_EQ(tree_text(root, false),
              "/\n"
              "├── a       FRU           system board 1 (desc 07 01 01)\n"
              "│   └── b   sensor        -\n"
              "└── orphan  kind 9        -\n");
    EXPECT_NE(tree_text(root, true).find("│         unit = V\n"), std::string::npos) << tree_text(root, true);
}

TEST(JsonFormat, FloatsReadAsTheirShortestText) {
    SensorRow row;
    row.reading.value = 3.3f;
    row.reading.thresholds = {std::numeric_limits<float>::quiet_NaN(), 2.97f, 0, 0, 0, 1e30f};
    Json j = to_json(row);
    EXPECT_EQ(j["value"].get<double>(), 3.3);
    EXPECT_TRUE(j["thresholds"]["lnr"].is_null()) << "NaN is not JSON";
    EXPECT_EQ(j["thresholds"]["lcr"].get<double>(), 2.97);
    EXPECT_EQ(static_cast<float>(j["thresholds"]["unr"].get<double>()), 1e30f);
    EXPECT_EQ(j.dump().find("2.9700000"), std::string::npos);
}

TEST(JsonFormat, RepeatedPropertyKeepsTheFirstValue) {
    EXPECT_EQ(to_json(Properties{{"a", "1"}, {"b", "2"}, {"a", "3"}}).dump(), R"({"a":"1","b":"2"})");
}

// The three field encodings besides text, and images broken in each way the
// decoder must name.
TEST(FruDecode, FieldEncodingsAndBrokenImages) {
    auto with_checksum = [](std::vector<uint8_t> bytes) {
        unsigned sum = 0;
        for (uint8_t b : bytes) sum += b;
        bytes.push_back(static_cast<uint8_t>(0x100 - (sum & 0xFF)));
        return bytes;
    };
    std::vector<uint8_t> image = with_checksum({0x01, 0, 0, 0x01, 0, 0, 0});
    // Board area: 24 bytes, language 25 (English), no date; six-bit "IPMI",
    // BCD plus "12 -", binary de ad, two empty text fields, the end marker.
    std::vector<uint8_t> board = with_checksum({0x01, 0x03, 25, 0, 0, 0, 0x83, 0x29, 0xDC, 0xA6, 0x42, 0x12, 0xAB,
                                                0x02, 0xDE, 0xAD, 0xC0, 0xC0, 0xC1, 0, 0, 0, 0});
    image.insert(image.end(), board.begin(), board.end());
    FruImage decoded = decode_fru(image);
    ASSERT_TRUE(decoded.problems.empty()) << decoded.problems.front();
    ASSERT_EQ(decoded.areas.size(), 1u);
    const FruArea& area = decoded.areas[0];
    EXPECT_EQ(language_name(*area.language), "en");
    std::vector<std::pair<std::string, std::string>> fields;
    for (const FruField& f : area.fields) fields.emplace_back(f.encoding, f.value);
    EXPECT_EQ(fields, (std::vector<std::pair<std::string, std::string>>{
                          {"6-bit ascii", "IPMI"}, {"bcd+", "12 -"}, {"binary", "de ad"}, {"text", ""}, {"text", ""}}));

    struct Broken {
        std::vector<uint8_t> bytes;
        std::string problem;
    };
    std::vector<uint8_t> bad_sum = image;
    bad_sum[7] ^= 1;
    std::vector<uint8_t> cut = image;
    cut.resize(31); // one byte short of the board area
    std::vector<uint8_t> no_end = image;
    no_end[8 + 18] = 0; // the end marker
    for (const Broken& b : std::vector<Broken>{
             {{1, 2, 3}, "holds 3 bytes, fewer than the 8 of a common header"},
             {std::vector<uint8_t>(16, 0xFF), "blank"},
             {with_checksum({0x02, 0, 0, 1, 0, 0, 0}), "format byte 0x02 is not version 1"},
             {bad_sum, "common header: checksum fails"},
             {cut, "board area at offset 8: its 24 bytes run past the end of the 31-byte data"},
             {no_end, "no end-of-fields marker"}}) {
        std::string problems;
        for (const std::string& p : decode_fru(b.bytes).problems) problems += p + "\n";
        EXPECT_NE(problems.find(b.problem), std::string::npos) << b.problem << ":\n" << problems;
    }
}

} // namespace
} // namespace velk::cli
