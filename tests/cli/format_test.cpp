// Tables, the tree, JSON numbers and FRU decoding, without a daemon. Hex dumps,
// number texts and threshold states are proven end to end in the listing tables.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "json_format.h"
#include "fru_decode.h"
#include "text_format.h"

namespace velkdirect {
namespace {

TEST(TextFormat, TableAlignsByDisplayWidth) {
    Table table({{"NAME"}, {"VALUE", Table::Align::right}, {"NOTE"}});
    table.add({"ü", "1", ""});
    table.add({"long name", "12345", "x"});
    EXPECT_EQ(table.render(),
              "NAME       VALUE  NOTE\n"
              "ü              1\n"
              "long name  12345  x\n");
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
    add(root, "orphan", 4); // a path without '/': the walk gives it no parent
    EXPECT_EQ(tree_text(root, false),
              "/\n"
              "├── a       kind 2   desc -\n"
              "│   └── b   kind 3   desc -\n"
              "└── orphan  kind 4   desc -\n");
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
} // namespace velkdirect
