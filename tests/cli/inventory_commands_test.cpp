// tree, platform, components and associations against the built-in platform.
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

TEST_F(CliTest, UnknownAssociationIsTheDaemonsStatus) {
    expect_failure({"associations", "0x55", "9"}, 1, "unknown object (status 1)");
    expect_failure({"associations", "0x55"}, 2, "key1");
}

} // namespace
} // namespace velkdirect::test
