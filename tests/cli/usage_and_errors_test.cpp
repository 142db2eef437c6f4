// What the tool says when it cannot do its job: no daemon, bad arguments;
// --help on every level; JSON that jq reads.
#include <filesystem>
#include <fstream>

#include "cli_fixture.h"

namespace velkdirect::test {
namespace {

constexpr const char* kNoDaemon = "cannot reach the management daemon at /tmp/velkdirect.sock";

TEST(CliWithoutDaemon, ReadingCommandsFailWithTheSocketPath) {
    for (std::vector<std::string> args : {std::vector<std::string>{"sensors"}, {"tree", "--json"}, {"platform"}}) {
        Result run = velkdirect(args);
        EXPECT_EQ(run.code, 3) << args[0];
        EXPECT_NE(run.err.find(kNoDaemon), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "") << "nothing printed as success";
    }
}

TEST(CliWithoutDaemon, SnapshotWritesNoFile) {
    Result run = velkdirect({"snapshot", "-o", "/tmp/never.toml"});
    EXPECT_EQ(run.code, 3);
    EXPECT_NE(run.err.find(kNoDaemon), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists("/tmp/never.toml"));
}

TEST(CliUsage, BadArgumentsGetTheParsersMessage) {
    struct Case {
        std::vector<std::string> args;
        std::string words;
    };
    for (const Case& c : std::vector<Case>{{{}, "A subcommand is required"},
                                           {{"frobnicate"}, "frobnicate"},
                                           {{"sensors", "--bogus"}, "--bogus"},
                                           {{"sensor"}, "sensor is required"},
                                           {{"poll"}, "subcommand"},
                                           {{"watch", "--interval", "0"}, "interval"},
                                           {{"fru", "x", "read", "--offset", "-1"}, "--offset"}}) {
        Result run = velkdirect(c.args);
        EXPECT_EQ(run.code, 2) << c.words;
        EXPECT_NE(run.err.find(c.words), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
}

TEST(CliUsage, HelpOnEveryLevel) {
    std::vector<std::vector<std::string>> levels = {
        {},           {"tree"},          {"sensors"},        {"sensor"},       {"indicators"},      {"indicator"},
        {"frus"},     {"fru"},           {"fru", "x", "read"}, {"fru", "x", "write"}, {"components"}, {"associations"},
        {"platform"}, {"poll"},          {"poll", "enable"}, {"poll", "disable"}, {"poll", "state"}, {"reset-sensors"},
        {"convert"},  {"watch"},         {"snapshot"}};
    for (std::vector<std::string> args : levels) {
        std::string where = args.empty() ? "(top)" : args.back();
        args.push_back("--help");
        Result run = velkdirect(args);
        EXPECT_EQ(run.code, 0) << where << run.err;
        EXPECT_NE(run.out.find("Usage:"), std::string::npos) << where;
        EXPECT_EQ(run.err, "") << where;
    }
    Result top = velkdirect({"--help"});
    for (const char* command : {"tree", "sensors", "indicator", "fru", "associations", "poll", "watch", "snapshot"})
        EXPECT_NE(top.out.find(command), std::string::npos) << command;
}

#ifdef JQ_PATH
TEST_F(CliTest, JqReadsEveryJsonDocument) {
    std::vector<std::vector<std::string>> commands = {
        {"tree"},       {"sensors"},     {"sensor", "#1"}, {"indicators"}, {"indicator", "power_led"},
        {"frus"},       {"fru", "psu0", "read"}, {"components"}, {"associations"}, {"associations", "0x17", "1"},
        {"platform"},   {"poll", "state"}, {"convert", "cpu0_temp", "--raw", "7"}};
    for (std::vector<std::string> args : commands) {
        std::string what = args.front();
        args.push_back("--json");
        Result run = velkdirect(args);
        ASSERT_EQ(run.code, 0) << what << run.err;
        std::ofstream("/tmp/doc.json") << run.out;
        Result jq = run_program(JQ_PATH, {"-e", "type == \"object\" or type == \"array\"", "/tmp/doc.json"});
        EXPECT_EQ(jq.code, 0) << what << ": " << jq.err << run.out;
    }
    std::ofstream("/tmp/doc.json") << velkdirect({"sensors", "--json"}).out;
    Result ids = run_program(JQ_PATH, {"-r", "map(select(.unit == \"RPM\")) | .[].id", "/tmp/doc.json"});
    EXPECT_EQ(ids.out, "fan0_speed\nfan1_speed\n");
}
#endif

} // namespace
} // namespace velkdirect::test
