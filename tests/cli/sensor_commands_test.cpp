// watch and metrics against velkd-sim; a refused reading in every view. The
// sensor table, polling, check and --fail-on are rows of platform_commands_test.cpp.
#include <sys/stat.h>

#include <filesystem>
#include <sstream>

#include "cli_fixture.h"
#include "description_file.h"

namespace velkdirect::test {
namespace {

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
    EXPECT_FALSE(contains(text.out, "\x1b[")) << "no screen control when not on a terminal";
    EXPECT_NE(text.out.find("psu0_vout"), text.out.rfind("psu0_vout")) << "two tables";
}

TEST_F(CliTest, MetricsFileIsReplacedWholeAndSaysWhenTheDaemonIsGone) {
    std::filesystem::create_directory("/tmp/textfile");
    for (int round = 0; round < 2; ++round)
        EXPECT_EQ(velkdirect({"metrics", "-o", "/tmp/textfile/velkdirect.prom"}).out, "");
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator("/tmp/textfile"))
        names.push_back(entry.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"velkdirect.prom"}); // no temporary file left behind
    struct stat st{};
    ASSERT_EQ(stat("/tmp/textfile/velkdirect.prom", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u); // readable by a node_exporter of another user
    Result printed = velkdirect({"metrics"});
    EXPECT_TRUE(contains(printed.out, "velkdirect_sensor_celsius{id=\"cpu0_temp\",path=\"/chassis/"
                                      "mb/cpu0/temp\"} "));
    EXPECT_TRUE(contains(printed.out, "velkdirect_scrape_calls 17\n")) << "3 + 10 sensors + 4 indicators";

    ASSERT_EQ(daemon.stop(SIGTERM), 0);
    expect_run({"metrics", "-o", "/tmp/textfile/velkdirect.prom"}, 3, "cannot reach the management daemon");
    Result check = velkdirect({"check"});
    EXPECT_EQ(check.code, 3);
    EXPECT_EQ(check.out, "VELKDIRECT UNKNOWN - cannot reach the management daemon at /tmp/velkdirect.sock\n");
    EXPECT_EQ(velkdirect({"check", "--no-such-option"}).code, 3); // bad usage is UNKNOWN for a plugin
    Result printed_down = velkdirect({"metrics"});
    EXPECT_EQ(printed_down.code, 3);
    EXPECT_TRUE(contains(printed_down.out, "\nvelkdirect_up 0\n"));
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
    EXPECT_TRUE(contains(table.err, "1 of 10 sensor readings could not be read")) << table.err;
    EXPECT_TRUE(contains(table.out, "error: injected fault (status 5)")) << table.out;
    EXPECT_TRUE(contains(table.out, "cpu0_temp")); // the other rows are still there
    Result listed = velkdirect({"sensors", "--json"});
    EXPECT_EQ(listed.code, 1);
    json sensors = json::parse(listed.out);
    ASSERT_EQ(sensors.size(), 10u);
    json refused = find_by(sensors, "id", "cpu1_temp");
    EXPECT_EQ(refused["error"], "injected fault (status 5)");
    EXPECT_EQ(refused["status"], 5);
    EXPECT_FALSE(refused.contains("value") || refused.contains("state")) << refused;
    EXPECT_EQ(find_by(sensors, "id", "cpu0_temp")["state"], "ok");

    // The sensor's series are left out and the failure counted; the check
    // calls a refused reading critical; a snapshot must be whole.
    Result metrics = velkdirect({"metrics"});
    EXPECT_EQ(metrics.code, 0) << metrics.err;
    for (const char* part : {"\nvelkdirect_up 1\n", "\nvelkdirect_scrape_failed_calls 1\n",
                             "velkdirect_sensor_info{id=\"cpu1_temp\"",
                             "{id=\"cpu0_temp\",path=\"/chassis/mb/cpu0/temp\"}"})
        EXPECT_TRUE(contains(metrics.out, part)) << part;
    EXPECT_FALSE(contains(metrics.out, "{id=\"cpu1_temp\",path=\"/chassis/mb/cpu1/temp\"}"));
    Result check = velkdirect({"check"});
    EXPECT_EQ(check.code, 2);
    EXPECT_TRUE(contains(check.out, "VELKDIRECT CRITICAL - 1 of 10 sensors: cpu1_temp reading refused: "
                                    "injected fault (status 5) | "))
        << check.out;
    EXPECT_TRUE(contains(check.out, " cpu1_temp=U ")) << check.out;
    expect_run({"snapshot", "-o", "/tmp/partial.toml"}, 1, "cpu1_temp");
}

} // namespace
} // namespace velkdirect::test
