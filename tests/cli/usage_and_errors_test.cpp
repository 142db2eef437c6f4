// What the tool says when it cannot do its job: no daemon, bad arguments;
// --help on every level; JSON that jq reads.
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

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

// A -1 from the library is told apart: no socket file, permission denied,
// nothing listening, or a daemon that took the call and failed it.
TEST(CliWithoutDaemon, LocalFailuresSayWhatHappened) {
    Result none = velkdirect({"platform"});
    EXPECT_EQ(none.code, 3);
    EXPECT_NE(none.err.find("there is no socket file"), std::string::npos) << none.err;

    // Bound but not listening: what a daemon that died leaves behind.
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, "/tmp/velkdirect.sock");
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    Result stale = velkdirect({"platform"});
    EXPECT_EQ(stale.code, 3);
    EXPECT_NE(stale.err.find("nothing is listening on the socket"), std::string::npos) << stale.err;

    // Listening, answering every connection with bytes that are not an RPC reply.
    ASSERT_EQ(::listen(fd, 8), 0);
    std::atomic<bool> stop{false};
    std::thread garbage([&] {
        while (!stop) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            int client = ::accept(fd, nullptr, nullptr);
            if (client < 0) continue;
            char request[512];
            (void)!::read(client, request, sizeof request);
            (void)!::send(client, "\x80\x00\x00\x04nope", 8, MSG_NOSIGNAL);
            ::close(client);
        }
    });
    Result broken = velkdirect({"sensor", "cpu0_temp"});
    stop = true;
    garbage.join();
    EXPECT_EQ(broken.code, 3);
    EXPECT_NE(broken.err.find("the daemon at /tmp/velkdirect.sock accepted the call about sensor \"cpu0_temp\" but "
                              "failed it: it answered something that is not this protocol"),
              std::string::npos)
        << broken.err;

    // Only the owner (root) may write the socket; another user is told who may.
    ASSERT_EQ(::chmod("/tmp/velkdirect.sock", 0755), 0);
    ASSERT_EQ(::chmod("/tmp", 01777), 0);
    Result denied = run_program("/usr/bin/setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                                     VELKDIRECT_PATH, "platform"});
    EXPECT_EQ(denied.code, 3) << denied.err;
    EXPECT_NE(denied.err.find("permission denied on /tmp/velkdirect.sock (root:root, mode 0755)\nhint: "),
              std::string::npos)
        << denied.err;
    ::close(fd);
}

// Output that never reached its destination is no success (the README's own
// recipe is `velkdirect snapshot > captured.toml`).
TEST_F(CliTest, WriteErrorsFailEveryCommand) {
    for (const char* command : {"platform", "sensors", "sensors --json", "snapshot", "fru mainboard decode",
                                "poll state on --json", "--help"}) {
        Result run = run_program("/bin/sh", {"-c", std::string(VELKDIRECT_PATH) + " " + command + " > /dev/full"});
        EXPECT_EQ(run.code, 1) << command;
        EXPECT_NE(run.err.find("velkdirect: cannot write the output: No space left on device"), std::string::npos)
            << command << ": " << run.err;
    }
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
        {"convert"},  {"watch"},         {"snapshot"}, {"fru", "x", "decode"}, {"sensor", "x", "set-thresholds"},
        {"sensor", "x", "set-reading"}};
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
    // The shared table of exit statuses; "#N" quoted, since # starts a shell comment.
    EXPECT_NE(top.out.find("  3  velkdirect: the daemon cannot be reached"), std::string::npos) << top.out;
    EXPECT_NE(top.out.find("\"#N\" (quoted"), std::string::npos) << top.out;
    EXPECT_NE(velkdirect({"sensor", "--help"}).out.find("\"#N\""), std::string::npos);
    // Subcommands under a FRU name show it in their usage line.
    for (const char* sub : {"read", "write", "decode"})
        EXPECT_NE(velkdirect({"fru", "x", sub, "--help"}).out.find(std::string(" fru NAME ") + sub + " [OPTIONS]"),
                  std::string::npos)
            << sub;
}

#ifdef JQ_PATH
TEST_F(CliTest, JqReadsEveryJsonDocument) {
    std::vector<std::vector<std::string>> commands = {
        {"tree"},       {"sensors"},     {"sensor", "#1"}, {"indicators"}, {"indicator", "power_led"},
        {"frus"},       {"fru", "psu0", "read"}, {"components"}, {"associations"}, {"associations", "0x17", "1"},
        {"platform"},   {"poll", "state"}, {"convert", "cpu0_temp", "--raw", "7"}, {"fru", "psu0", "decode"},
        {"poll", "enable", "cpu0_temp"}, {"poll", "disable", "cpu0_temp"}, {"poll", "state", "on"},
        {"reset-sensors"}, {"fru", "ioboard", "write", "--offset", "200", "00"}, {"indicator", "fault_led", "on"},
        {"sensor", "mb_12v", "set-reading", "100"}, {"sensor", "mb_12v", "set-thresholds", "--unc", "13"}};
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
