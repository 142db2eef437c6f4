// The exposition text and the check verdict without a daemon; the platform
// reading against a scripted one.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <vector>

#include "exposition.h"
#include "monitoring_commands.h"
#include "test_daemon.h"

namespace velk::cli {
namespace {

using metrics::PlatformReading;

SensorRow row(std::string id, std::string unit, float value, uint8_t crossed) {
    SensorRow r;
    r.sensor.id = id;
    r.sensor.path = "/p/" + id;
    r.sensor.properties = {{"unit", unit}};
    r.reading.value = value;
    r.reading.reading = 7;
    r.reading.threshold_state = crossed;
    r.reading.thresholds = {0, 5, 10, 85, 95, 100};
    return r;
}

SensorRow refused(std::string id) {
    SensorRow r = row(std::move(id), "volts", 0, 0);
    r.error = "injected fault (status 5)";
    r.status = 5;
    return r;
}

// The lines of the text that start with `prefix`.
std::vector<std::string> lines(const std::string& text, const std::string& prefix) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(prefix)) out.push_back(line);
    return out;
}

// A per-threshold family's six lines: `head`, then threshold="NAME"} VALUE.
std::vector<std::string> six(const std::string& head, std::vector<std::string> values) {
    const char* names[] = {"lnr", "lcr", "lnc", "unc", "ucr", "unr"};
    for (int i = 0; i < 6; ++i) values[i] = head + "threshold=\"" + names[i] + "\"} " + values[i];
    return values;
}

TEST(Exposition, UnitsStatesAndRefusedReadings) {
    PlatformReading up;
    up.up = true;
    up.names = {"Box", "B-1", 0};
    up.sensors = {row("t", "degrees C", 97.5f, 0b011000), row("f", "RPM", 6400, 0), row("n", "", 1, 0b100001),
                  refused("r"), row("t", "degrees C", 1, 0)}; // the second "t" is a duplicate
    up.sensors[1].reading.thresholds[0] = std::numeric_limits<float>::quiet_NaN();
    up.sensors[1].reading.thresholds[5] = std::numeric_limits<float>::infinity();
    up.indicators = {{{}, 1}, {{}, std::nullopt}};
    up.indicators[0].indicator.name = "led";
    up.indicators[0].indicator.path = "/led";
    up.indicators[1].indicator.name = "refused_led";
    std::string text = metrics::exposition(up);

    EXPECT_EQ(lines(text, "velkdirect_platform_info"),
              std::vector<std::string>{"velkdirect_platform_info{name=\"Box\",model=\"B-1\"} 1"});
    // The quantity and its base unit go in the name; a unit never goes in a
    // label but velkdirect_sensor_info's.
    EXPECT_EQ(lines(text, "velkdirect_temperature_celsius"),
              std::vector<std::string>{"velkdirect_temperature_celsius{id=\"t\",path=\"/p/t\"} 97.5"});
    EXPECT_EQ(lines(text, "velkdirect_fan_speed_rpm"),
              std::vector<std::string>{"velkdirect_fan_speed_rpm{id=\"f\",path=\"/p/f\"} 6400"});
    EXPECT_EQ(lines(text, "velkdirect_sensor_value"),
              std::vector<std::string>{"velkdirect_sensor_value{id=\"n\",path=\"/p/n\"} 1"});
    EXPECT_EQ(lines(text, "velkdirect_sensor_state"),
              (std::vector<std::string>{"velkdirect_sensor_state{id=\"t\",path=\"/p/t\"} 2",
                                        "velkdirect_sensor_state{id=\"f\",path=\"/p/f\"} 0",
                                        "velkdirect_sensor_state{id=\"n\",path=\"/p/n\"} 3"}));
    EXPECT_EQ(lines(text, "velkdirect_sensor_threshold_crossed{id=\"t\""),
              six("velkdirect_sensor_threshold_crossed{id=\"t\",path=\"/p/t\",", {"0", "0", "0", "1", "1", "0"}));
    // A threshold the sensor does not have (NaN, "na") has no series.
    auto five = six("velkdirect_fan_speed_threshold_rpm{id=\"f\",path=\"/p/f\",", {"", "5", "10", "85", "95", "+Inf"});
    five.erase(five.begin());
    EXPECT_EQ(lines(text, "velkdirect_fan_speed_threshold_rpm{id=\"f\""), five);
    EXPECT_EQ(lines(text, "velkdirect_sensor_threshold_crossed{id=\"f\"").size(), 5u);
    // The refused sensor keeps its identity and loses every reading series.
    EXPECT_EQ(lines(text, "velkdirect_sensor_info{id=\"r\"").size(), 1u);
    EXPECT_EQ(text.find("id=\"r\",path=\"/p/r\"}"), std::string::npos);
    EXPECT_EQ(text.find("{id=\"r\",path=\"/p/r\",threshold"), std::string::npos);
    EXPECT_EQ(lines(text, "velkdirect_sensor_info").size(), 4u);
    EXPECT_EQ(lines(text, "velkdirect_indicator_mode"),
              std::vector<std::string>{"velkdirect_indicator_mode{name=\"led\",path=\"/led\"} 1"});
    // Every family once, HELP and TYPE first.
    EXPECT_EQ(lines(text, "# TYPE velkdirect_temperature_celsius ").size(), 1u);
    for (const std::string& line : lines(text, "velkdirect_"))
        if (!line.starts_with("velkdirect_sensor_info")) {
            EXPECT_EQ(line.find("unit="), std::string::npos) << line;
        }
}

// Units converted to the base unit, value and thresholds alike.
TEST(Exposition, BaseUnits) {
    struct Case {
        const char* unit;
        float value;
        const char* family;
        const char* sample;
        const char* threshold_ucr;
    } cases[] = {
        {"degrees F", 212, "velkdirect_temperature_celsius", "100", "35"},
        {"mV", 3300, "velkdirect_voltage_volts", "3.3", "0.095"},
        {"Volts", 12, "velkdirect_voltage_volts", "12", "95"},
        {"milliamps", 500, "velkdirect_current_amperes", "0.5", "0.095"},
        {"percent", 45, "velkdirect_sensor_ratio", "0.45", "0.95"},
        {"W", 180, "velkdirect_power_watts", "180", "95"},
        {"CFM", 30, "velkdirect_sensor_value", "30", "95"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.unit);
        PlatformReading up;
        up.up = true;
        up.sensors = {row("s", c.unit, c.value, 0)};
        std::string text = metrics::exposition(up);
        EXPECT_EQ(lines(text, std::string(c.family) + "{"),
                  std::vector<std::string>{std::string(c.family) + "{id=\"s\",path=\"/p/s\"} " + c.sample});
        std::string threshold = std::string(c.family).insert(std::string(c.family).rfind('_'), "_threshold");
        EXPECT_EQ(lines(text, threshold + "{id=\"s\",path=\"/p/s\",threshold=\"ucr\"}"),
                  std::vector<std::string>{threshold + "{id=\"s\",path=\"/p/s\",threshold=\"ucr\"} " +
                                           c.threshold_ucr});
    }
}

TEST(Exposition, HostileLabelValuesAreEscapedAndMadeUtf8) {
    struct Case {
        std::string id;
        std::string label;
    } cases[] = {
        {"a\"b\\c\nd", R"(a\"b\\c\nd)"},
        {"\xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9"},    // valid UTF-8 stays
        {"x\xffy", "x\xef\xbf\xbdy"},                  // a byte that never starts a sequence
        {"\xc0\xaf", "\xef\xbf\xbd\xef\xbf\xbd"},      // overlong
        {"\xed\xa0\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"}, // a surrogate
        {"\xe2\x82", "\xef\xbf\xbd\xef\xbf\xbd"},      // cut short
        {"\xf0\x9f\x94\xa5", "\xf0\x9f\x94\xa5"},      // four bytes
    };
    for (const Case& c : cases) {
        PlatformReading up;
        up.up = true;
        up.sensors = {row(c.id, "volts", 1, 0)};
        EXPECT_EQ(lines(metrics::exposition(up), "velkdirect_voltage_volts"),
                  std::vector<std::string>{"velkdirect_voltage_volts{id=\"" + c.label + "\",path=\"/p/" + c.label +
                                           "\"} 1"});
    }
}

TEST(Check, VerdictAndPerformanceData) {
    struct Case {
        std::vector<SensorRow> rows;
        bool warning_only;
        int code;
        std::string line;
    } cases[] = {
        {{row("a", "volts", 3.3f, 0), row("b c", "RPM", 10, 0)}, false, kPluginOk,
         "VELKDIRECT OK - 2 sensors ok | a=3.3;10:85;5:95;; 'b c'=10;10:85;5:95;;"},
        {{row("a", "volts", 88, 0b001000)}, false, kPluginWarning,
         "VELKDIRECT WARNING - 1 of 1 sensors: a non-critical (88 volts) | a=88;10:85;5:95;;"},
        {{row("a", "volts", 88, 0b001000), row("t", "degrees C", 97, 0b011000)}, false, kPluginCritical,
         "VELKDIRECT CRITICAL - 2 of 2 sensors: t critical (97 degrees C), a non-critical (88 volts) | "
         "a=88;10:85;5:95;; t=97;10:85;5:95;;"},
        {{row("t", "", 101, 0b111000)}, true, kPluginWarning,
         "VELKDIRECT WARNING - 1 of 1 sensors: t non-recoverable (101) | t=101;10:85;5:95;;"},
        {{refused("r"), row("it's", "volts", 1, 0)}, false, kPluginCritical,
         "VELKDIRECT CRITICAL - 1 of 2 sensors: r reading refused: injected fault (status 5) | r=U 'it''s'=1;10:85;5:95;;"},
        {{}, false, kPluginOk, "VELKDIRECT OK - the daemon lists no sensor"},
    };
    for (const Case& c : cases) {
        CheckResult result = check_sensors(c.rows, c.warning_only);
        EXPECT_EQ(std::pair(result.code, result.line), std::pair(c.code, c.line));
    }
    SensorRow open_ended = row("o", "volts", 1, 0);
    open_ended.reading.thresholds = {NAN, NAN, NAN, 2, NAN, NAN};
    EXPECT_EQ(check_sensors({open_ended}, false).line, "VELKDIRECT OK - 1 sensor ok | o=1;~:2;;;");
}

// A daemon that refuses a list or answers garbage: the reading says down,
// with what it cost, and never more calls than it needs to find out.
TEST(PlatformReading, HostileOrRefusingDaemonGivesDownAfterTheFirstBadList) {
    using vdfe::test::Behaviour;
    using vdfe::test::words;
    constexpr uint32_t kSensorList = 3, kIndicatorList = 5, kNames = 8;
    const vdfe::test::Bytes names = words({0, 1, 0, 0}); // status 0, lead byte 1, two empty strings
    const vdfe::test::Bytes empty_list = words({0, 0});  // status 0, no records
    struct Case {
        const char* what;
        std::vector<std::pair<uint32_t, vdfe::test::Script>> scripts;
        bool up;
        unsigned calls;
        unsigned failed;
    } cases[] = {
        {"names garbled", {{kNames, {Behaviour::reply, words({0, 1, 0xffffffffu})}}}, false, 1, 1},
        {"sensor list refused",
         {{kNames, {Behaviour::reply, names}}, {kSensorList, {Behaviour::reply, words({5})}}},
         false, 2, 1},
        {"empty platform",
         {{kNames, {Behaviour::reply, names}},
          {kSensorList, {Behaviour::reply, empty_list}},
          {kIndicatorList, {Behaviour::reply, empty_list}}},
         true, 3, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        vdfe::test::TestDaemon daemon;
        for (const auto& [procedure, script] : c.scripts) daemon.script(procedure, script);
        PlatformReading reading = metrics::read_platform();
        EXPECT_EQ(reading.up, c.up);
        EXPECT_EQ(reading.calls, c.calls);
        EXPECT_EQ(reading.failed_calls, c.failed);
        EXPECT_EQ(daemon.call_count(), c.calls);
        EXPECT_TRUE(reading.sensors.empty());
    }
}

} // namespace
} // namespace velk::cli
