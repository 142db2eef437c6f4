// check, metrics and sensors --fail-on against velkd-sim, with readings
// pushed past thresholds through the library. A refused reading is proven
// once, with every command's view of it, in sensor_commands_test.cpp.
#include <sys/stat.h>
#include <velkdirectfe.h>

#include <filesystem>

#include "cli_fixture.h"

namespace velkdirect::test {
namespace {

TEST_F(CliTest, CheckAndFailOnFollowTheWorstThresholdCrossed) {
    // cpu0_temp (logical number 2): 0.5 degrees C a count; unc 85, ucr 95, unr 100.
    struct Case {
        uint16_t raw;
        const char* state;
        int check;
        int check_warning_only;
        int fail_on_critical;
        int fail_on_non_critical;
    } cases[] = {
        {110, "ok", 0, 0, 0, 0},
        {172, "non-critical", 1, 1, 0, 1},
        {194, "critical", 2, 1, 1, 1},
        {200, "non-recoverable", 2, 1, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.state);
        ASSERT_EQ(velkdirectfe_set_sensor_reading(0, 2, c.raw), 0);
        EXPECT_EQ(find_by(velkdirect_json({"sensors"}), "id", "cpu0_temp")["state"], c.state);
        Result check = velkdirect({"check"});
        EXPECT_EQ(check.code, c.check) << check.out;
        EXPECT_EQ(std::count(check.out.begin(), check.out.end(), '\n'), 1) << check.out;
        EXPECT_TRUE(contains(check.out, " | inlet_temp=")) << check.out;
        EXPECT_EQ(contains(check.out, std::string("cpu0_temp ") + c.state), c.check != 0) << check.out;
        EXPECT_EQ(velkdirect({"check", "--warning-only"}).code, c.check_warning_only);
        Result critical = velkdirect({"sensors", "--fail-on", "critical"});
        EXPECT_EQ(critical.code, c.fail_on_critical) << critical.err;
        EXPECT_FALSE(critical.out.empty()); // the table is printed either way
        EXPECT_EQ(contains(critical.err, "is critical or worse: cpu0_temp"), c.fail_on_critical != 0) << critical.err;
        EXPECT_EQ(velkdirect({"sensors", "--json", "--fail-on", "non-critical"}).code, c.fail_on_non_critical);
        EXPECT_EQ(velkdirect({"sensors"}).code, 0); // without --fail-on, states do not fail the command
    }
}

TEST_F(CliTest, MetricsFileIsReplacedWholeAndSaysWhenTheDaemonIsGone) {
    std::filesystem::create_directory("/tmp/textfile");
    for (int round = 0; round < 2; ++round) {
        Result run = velkdirect({"metrics", "-o", "/tmp/textfile/velkdirect.prom"});
        ASSERT_EQ(run.code, 0) << run.err;
        EXPECT_EQ(run.out, "");
    }
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator("/tmp/textfile"))
        names.push_back(entry.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"velkdirect.prom"}); // no temporary file left behind
    struct stat st{};
    ASSERT_EQ(stat("/tmp/textfile/velkdirect.prom", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u); // readable by a node_exporter of another user
    Result printed = velkdirect({"metrics"});
    EXPECT_TRUE(contains(printed.out, "\nvelkdirect_up 1\n"));
    EXPECT_TRUE(contains(printed.out, "velkdirect_sensor_celsius{id=\"cpu0_temp\",path=\"/chassis/mb/cpu0/temp\"} "));
    EXPECT_TRUE(contains(printed.out, "velkdirect_scrape_calls 17\n")) << "3 + 10 sensors + 4 indicators";

    ASSERT_EQ(daemon.stop(SIGTERM), 0);
    Result down = velkdirect({"metrics", "-o", "/tmp/textfile/velkdirect.prom"});
    EXPECT_EQ(down.code, 3);
    EXPECT_TRUE(contains(down.err, "cannot reach the management daemon")) << down.err;
    Result check = velkdirect({"check"});
    EXPECT_EQ(check.code, 3);
    EXPECT_EQ(check.out, "VELKDIRECT UNKNOWN - cannot reach the management daemon at /tmp/velkdirect.sock\n");
    EXPECT_EQ(velkdirect({"check", "--no-such-option"}).code, 3); // bad usage is UNKNOWN for a plugin
    Result printed_down = velkdirect({"metrics"});
    EXPECT_EQ(printed_down.code, 3);
    EXPECT_TRUE(contains(printed_down.out, "\nvelkdirect_up 0\n"));
}

} // namespace
} // namespace velkdirect::test
