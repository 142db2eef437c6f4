// sensors (the table), poll, reset-sensors and watch against the built-in
// platform; a refused reading in every view.
#include <set>
#include <sstream>

#include "cli_fixture.h"
#include "description_file.h"

namespace velkdirect::test {
namespace {

TEST_F(CliTest, SensorsTableHasOneRowPerSensor) {
    Result run = velkdirect({"sensors"});
    ASSERT_EQ(run.code, 0) << run.err;
    std::istringstream lines(run.out);
    std::string header, line;
    std::getline(lines, header);
    for (const char* column : {"ID", "PATH", "RAW", "VALUE", "LNR", "LCR", "LNC", "UNC", "UCR", "UNR", "POLL"})
        EXPECT_NE(header.find(column), std::string::npos) << column;
    int rows = 0;
    std::string v33;
    while (std::getline(lines, line)) {
        ++rows;
        if (line.starts_with("mb_3v3 ")) v33 = line;
    }
    EXPECT_EQ(rows, 10);
    // Constant reading 3.3 V; its thresholds 2.8 2.97 3.1 3.5 3.63 3.8.
    std::istringstream words(v33);
    std::vector<std::string> cells{std::istream_iterator<std::string>(words), {}};
    EXPECT_EQ(cells, (std::vector<std::string>{"mb_3v3", "/chassis/mb/3v3", "165", "3.3", "volts", "ok", "2.8", "2.97",
                                               "3.1", "3.5", "3.63", "3.8", "1000", "ms"}));
}

TEST_F(CliTest, PollingOfOneSensorAndOfAll) {
    Result enabled = velkdirect({"poll", "enable", "cpu0_temp"});
    ASSERT_EQ(enabled.code, 0) << enabled.err;
    // The generation that `poll disable` needs, on a line of its own.
    auto at = enabled.out.find("\ngeneration ");
    ASSERT_NE(at, std::string::npos) << enabled.out;
    int generation = std::stoi(enabled.out.substr(at + 12));
    json again = velkdirect_json({"poll", "enable", "cpu0_temp"});
    EXPECT_EQ(again["interval_ms"], 1000);
    EXPECT_EQ(again["generation"], generation + 1);
    generation = again["generation"];
    expect_failure({"poll", "disable", "cpu0_temp", "--generation", std::to_string(generation + 1)}, 1,
                   "wrong state (status 7)");
    EXPECT_EQ(velkdirect_json({"poll", "disable", "#2", "--generation", std::to_string(generation)}),
              json({{"sensor", "cpu0_temp"}, {"interval_ms", 1000}, {"polling", false}}));
    EXPECT_EQ(find_by(velkdirect_json({"sensors"}), "id", "cpu0_temp")["polling"]["enabled"], false);

    EXPECT_EQ(velkdirect_json({"poll", "state"}), json({{"polling", true}}));
    EXPECT_EQ(velkdirect_json({"poll", "state", "off"}), json({{"polling", false}}));
    EXPECT_EQ(velkdirect_json({"poll", "state"}), json({{"polling", false}}));
    // No sensor is polled now, whatever its own interval: the POLL column says so.
    Result table = velkdirect({"sensors"});
    EXPECT_EQ(table.out.find(" ms\n"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("mb_3v3 "), std::string::npos);
    EXPECT_NE(table.out.find("off (daemon-wide)\n"), std::string::npos) << table.out;

    // A reset restores the described polling, daemon-wide and per sensor.
    EXPECT_EQ(velkdirect_json({"reset-sensors"}), json({{"reset", true}}));
    json cpu0 = find_by(velkdirect_json({"sensors"}), "id", "cpu0_temp");
    EXPECT_EQ(cpu0["polling"], json({{"enabled", true}, {"interval_ms", 1000}, {"daemon_wide", true}}));
}

TEST_F(CliTest, WatchPrintsOneDocumentPerRefresh) {
    Result run = velkdirect({"watch", "--interval", "0.1", "--count", "3", "--json"});
    ASSERT_EQ(run.code, 0) << run.err;
    std::istringstream lines(run.out);
    int documents = 0;
    for (std::string line; std::getline(lines, line); ++documents) {
        json doc = json::parse(line);
        EXPECT_EQ(doc["sensors"].size(), 10u);
        EXPECT_TRUE(doc["time"].is_number());
    }
    EXPECT_EQ(documents, 3);

    Result text = velkdirect({"watch", "-n", "0.1", "-c", "2"});
    ASSERT_EQ(text.code, 0) << text.err;
    EXPECT_EQ(text.out.find("\x1b["), std::string::npos) << "no screen control when not on a terminal";
    EXPECT_NE(text.out.find("psu0_vout"), text.out.rfind("psu0_vout")) << "two tables";
}

// The built-in platform with every full reading of cpu1_temp refused.
TEST(CliSensorFaults, RefusedReadingIsMarkedInItsRowAndTheCommandFails) {
    Result defaults = run_program(VELKD_SIM_PATH, {"--print-default"});
    ASSERT_EQ(defaults.code, 0) << defaults.err;
    std::string file = velkd::test::Description::from(defaults.out)
                           .add("fault", "procedure = \"get_sens_data\"\nobject = \"cpu1_temp\"\nstatus = 5")
                           .write("faulty.toml");
    velkd::test::DaemonProcess daemon({"--config", file});
    ASSERT_TRUE(daemon.ready()) << daemon.log();

    Result table = velkdirect({"sensors"});
    EXPECT_EQ(table.code, 1);
    EXPECT_NE(table.err.find("1 of 10 sensor readings could not be read"), std::string::npos) << table.err;
    EXPECT_NE(table.out.find("error: injected fault (status 5)"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("cpu0_temp"), std::string::npos); // the other rows are still there

    Result listed = velkdirect({"sensors", "--json"});
    EXPECT_EQ(listed.code, 1);
    json sensors = json::parse(listed.out);
    ASSERT_EQ(sensors.size(), 10u);
    json refused = find_by(sensors, "id", "cpu1_temp");
    EXPECT_EQ(refused["error"], "injected fault (status 5)");
    EXPECT_EQ(refused["status"], 5);
    EXPECT_FALSE(refused.contains("value"));
    EXPECT_FALSE(refused.contains("state"));
    EXPECT_TRUE(find_by(sensors, "id", "cpu0_temp").contains("value"));
    EXPECT_EQ(find_by(sensors, "id", "cpu0_temp")["state"], "ok");

    // Monitoring: the sensor's series are left out and the failure counted;
    // the check calls a refused reading critical.
    Result metrics = velkdirect({"metrics"});
    EXPECT_EQ(metrics.code, 0) << metrics.err;
    EXPECT_TRUE(contains(metrics.out, "\nvelkdirect_up 1\n"));
    EXPECT_TRUE(contains(metrics.out, "\nvelkdirect_scrape_failed_calls 1\n"));
    EXPECT_TRUE(contains(metrics.out, "velkdirect_sensor_info{id=\"cpu1_temp\""));
    EXPECT_FALSE(contains(metrics.out, "{id=\"cpu1_temp\",path=\"/chassis/mb/cpu1/temp\"}"));
    EXPECT_TRUE(contains(metrics.out, "{id=\"cpu0_temp\",path=\"/chassis/mb/cpu0/temp\"}"));
    Result check = velkdirect({"check"});
    EXPECT_EQ(check.code, 2);
    EXPECT_TRUE(contains(check.out, "VELKDIRECT CRITICAL - 1 of 10 sensors: cpu1_temp reading refused: injected "
                               "fault (status 5) | "))
        << check.out;
    EXPECT_TRUE(contains(check.out, " cpu1_temp=U ")) << check.out;

    // A capture must be whole: no snapshot with a sensor missing.
    Result snapshot = velkdirect({"snapshot", "-o", "/tmp/partial.toml"});
    EXPECT_EQ(snapshot.code, 1);
    EXPECT_NE(snapshot.err.find("cpu1_temp"), std::string::npos) << snapshot.err;
}

} // namespace
} // namespace velkdirect::test
