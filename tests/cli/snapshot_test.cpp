// The description writer on captures that the built-in platform does not
// have: strings that need quoting, floats that need all their digits, data
// areas of every shape. The output is read back with toml++.
#include <gtest/gtest.h>
#include <toml++/toml.h>

#include <cmath>

#include "snapshot.h"

namespace velkdirect {
namespace {

PlatformCapture hostile_capture() {
    PlatformCapture c;
    c.names = {"Rack \"A\"\n# not a comment", "m\\odel \u00e9\t", 7};
    Fru fru;
    fru.name = "fru 'one'";
    fru.path = "/a b/\"c\"";
    fru.kind = 2;
    fru.size = 40;
    fru.writable = true;
    fru.properties = {{"odd key = 1", "v\"\n"}, {"x", ""}};
    std::vector<uint8_t> data(40, 0xff);
    for (int i = 0; i < 20; ++i) data[i] = static_cast<uint8_t>(i * 13);
    c.frus.emplace_back(fru, data);
    Fru blank;
    blank.name = "blank";
    blank.path = "/blank";
    blank.size = 16;
    c.frus.emplace_back(blank, std::vector<uint8_t>(16, 0xff));

    SensorRow row;
    row.sensor.id = "s]1";
    row.sensor.number = 4000000000u;
    row.sensor.path = "/s";
    row.sensor.desc = {1, 0, 3};
    row.sensor.m = 3.14159274f;
    row.sensor.b = -1e-7f;
    row.reading.thresholds = {-40.5f, 0.1f, 1.0f / 3, 16777216.0f, 3.4e38f, std::numeric_limits<float>::infinity()};
    row.reading.value = 123.456f;
    row.reading.flags = 0; // not polled
    row.reading.poll_interval_ms = 250;
    row.reading.hysteresis_positive = 3;
    row.reading.hysteresis_negative = 9;
    c.sensors.push_back(row);
    return c;
}

TEST(SnapshotWriter, StringsFloatsAndDataReadBack) {
    std::string text = description_file(hostile_capture(), "line one\n\nline \"three\"");
    toml::table doc;
    try {
        doc = toml::parse(text);
    } catch (const toml::parse_error& e) {
        FAIL() << e << "\n" << text;
    }
    EXPECT_EQ(doc["platform"]["name"].value<std::string>(), "Rack \"A\"\n# not a comment");
    EXPECT_EQ(doc["platform"]["model"].value<std::string>(), "m\\odel \u00e9\t");
    EXPECT_EQ(doc["platform"]["lead_byte"].value<int>(), 7);

    auto fru = doc["fru"][0];
    EXPECT_EQ(fru["name"].value<std::string>(), "fru 'one'");
    EXPECT_EQ(fru["path"].value<std::string>(), "/a b/\"c\"");
    EXPECT_EQ(fru["properties"]["odd key = 1"].value<std::string>(), "v\"\n");
    EXPECT_EQ(fru["properties"]["x"].value<std::string>(), "");
    EXPECT_EQ(fru["size"].value<int>(), 40);
    EXPECT_EQ(fru["writable"].value<bool>(), true);
    // 20 bytes written, the trailing 0xff padding left to `size`.
    std::string hex = *fru["data"].value<std::string>();
    EXPECT_EQ(hex.substr(0, 12), "00 0d 1a 27 ");
    EXPECT_EQ(std::count(hex.begin(), hex.end(), '\n'), 1) << "16 bytes a line";
    EXPECT_EQ(std::erase_if(hex, [](char ch) { return ch == ' ' || ch == '\n'; }), 19u);
    EXPECT_EQ(hex.size(), 40u);
    EXPECT_FALSE(doc["fru"][0]["desc"]) << "an all-zero desc is left to the default";
    EXPECT_EQ(doc["fru"][1]["data"].value<std::string>(), "");

    auto sensor = doc["sensor"][0];
    EXPECT_EQ(sensor["id"].value<std::string>(), "s]1");
    EXPECT_EQ(sensor["number"].value<int64_t>(), 4000000000);
    EXPECT_EQ(sensor["desc"].as_array()->size(), 3u) << "trailing zeros left out, inner ones kept";
    EXPECT_EQ(static_cast<float>(*sensor["conversion"]["m"].value<double>()), 3.14159274f);
    EXPECT_EQ(static_cast<float>(*sensor["conversion"]["b"].value<double>()), -1e-7f);
    const Thresholds want = hostile_capture().sensors[0].reading.thresholds;
    for (std::size_t i = 0; i < want.size(); ++i)
        EXPECT_EQ(static_cast<float>(*sensor["thresholds"][kThresholdNames[i]].value<double>()), want[i]) << i;
    EXPECT_TRUE(sensor["thresholds"]["unc"].is_floating_point()) << "16777216.0 stays a float";
    EXPECT_EQ(static_cast<float>(*sensor["reading"]["value"].value<double>()), 123.456f);
    EXPECT_EQ(sensor["reading"]["behaviour"].value<std::string>(), "constant");
    EXPECT_EQ(sensor["polling"].value<bool>(), false);
    EXPECT_EQ(sensor["poll_interval_ms"].value<int>(), 250);
    EXPECT_EQ(sensor["hysteresis"]["positive"].value<int>(), 3);
    EXPECT_EQ(sensor["hysteresis"]["negative"].value<int>(), 9);
    EXPECT_FALSE(sensor["note"]) << "no note, no key";

    EXPECT_TRUE(text.starts_with("# line one\n#\n# line \"three\"\n")) << text;
}

} // namespace
} // namespace velkdirect
