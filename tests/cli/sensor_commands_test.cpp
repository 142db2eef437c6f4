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

    // The failure is counted and the sensor's series are left out; the check
    // calls a refused reading critical; a snapshot must be whole.
    expect_rows({
        {{"sensors"}, "~", "error: injected fault (status 5)", 1},
        {{"sensors"}, "~", "\ncpu0_temp ", 1}, // the other rows are still there
        {{"sensors"}, "#", 10, 1},
        {{"sensors"}, "id=cpu1_temp", {{"error", "injected fault (status 5)"}, {"status", 5}}, 1},
        {{"sensors"}, "id=cpu1_temp.value", nullptr, 1},
        {{"sensors"}, "id=cpu1_temp.state", nullptr, 1},
        {{"sensors"}, "id=cpu0_temp.state", "ok", 1},
        {{"metrics"}, "~", "\nvelkdirect_up 1\n"},
        {{"metrics"}, "~", "\nvelkdirect_scrape_failed_calls 1\n"},
        {{"metrics"}, "~", "velkdirect_sensor_info{id=\"cpu1_temp\""},
        {{"metrics"}, "!~", "{id=\"cpu1_temp\",path=\"/chassis/mb/cpu1/temp\"}"},
        {{"metrics"}, "~", "{id=\"cpu0_temp\",path=\"/chassis/mb/cpu0/temp\"}"},
        {{"check"}, "~", "VELKDIRECT CRITICAL - 1 of 10 sensors: cpu1_temp reading refused: "
                         "injected fault (status 5) | ", 2},
        {{"check"}, "~", " cpu1_temp=U ", 2},
    }, true);
    EXPECT_TRUE(contains(velkdirect({"sensors"}).err, "1 of 10 sensor readings could not be read"));
    expect_run({"snapshot", "-o", "/tmp/partial.toml"}, 1, "cpu1_temp");
}

} // namespace
} // namespace velkdirect::test
