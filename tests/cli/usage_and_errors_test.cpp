// What the tool says when it cannot do its job: no daemon, bad arguments,
// output that cannot be written; --help on every level.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "cli_fixture.h"

namespace velk::cli::test {
namespace {

constexpr const char* kNoDaemon = "cannot reach the management daemon at /tmp/velkdirect.sock";

TEST(CliWithoutDaemon, CommandsFailWithTheSocketPathAndSnapshotWritesNoFile) {
    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
             {"sensors"}, {"tree", "--json"}, {"platform"}, {"snapshot", "-o", "/tmp/never.toml"}})
        expect_run(args, 3, std::string(kNoDaemon) + ": there is no socket file");
    EXPECT_FALSE(std::filesystem::exists("/tmp/never.toml"));
}

// A -1 from the library is told apart: no socket file (above), nothing
// listening, or a daemon that took the call and failed it (permission denied:
// in tests/system/socket_access_test.sh, with real users).
TEST(CliWithoutDaemon, LocalFailuresSayWhatHappened) {
    // Bound but not listening: what a daemon that died leaves behind.
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, "/tmp/velkdirect.sock");
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    expect_run({"platform"}, 3, "nothing is listening on the socket");

    // Listening, answering every connection with bytes that are not an RPC reply.
    ASSERT_EQ(::listen(fd, 8), 0);
    std::atomic<bool> stop{false};
    std::thread garbage([&] {
        for (pollfd p{fd, POLLIN, 0}; !stop;)
            if (::poll(&p, 1, 50) > 0) {
                int client = ::accept(fd, nullptr, nullptr);
                char request[512];
                (void)!::read(client, request, sizeof request);
                (void)!::send(client, "\x80\x00\x00\x04nope", 8, MSG_NOSIGNAL);
                ::close(client);
            }
    });
    expect_run({"sensor", "cpu0_temp"}, 3, "the daemon at /tmp/velkdirect.sock accepted the call about sensor "
                                           "\"cpu0_temp\" but failed it: it answered something that is not "
                                           "this protocol");
    stop = true;
    garbage.join();
    ::close(fd);
}

// Another socket, named by --socket or by the environment that the library
// reads; the default path is then not used.
TEST_F(CliTest, AnotherSocketIsReachedByFlagOrEnvironment) {
    ASSERT_EQ(std::rename("/tmp/velkdirect.sock", "/tmp/other.sock"), 0);
    EXPECT_EQ(velkdirect({"--socket", "/tmp/other.sock", "platform"}).code, 0);
    EXPECT_EQ(run_program("/bin/sh", {"-c", "VELKDIRECT_SOCKET=/tmp/other.sock " + std::string(VELKDIRECT_PATH) +
                                                " platform"}).code, 0);
    expect_run({"platform"}, 3, std::string(kNoDaemon) + ": there is no socket file");
    ASSERT_EQ(std::rename("/tmp/other.sock", "/tmp/velkdirect.sock"), 0);
}

// Output that never reached its destination is no success (the README's own
// recipe is `velkdirect snapshot > captured.toml`).
TEST_F(CliTest, WriteErrorsFailEveryCommand) {
    for (const char* command : {"sensors", "sensors --json", "snapshot", "fru mainboard decode", "--help"}) {
        Result run = run_program("/bin/sh", {"-c", std::string(VELKDIRECT_PATH) + " " + command + " > /dev/full"});
        EXPECT_EQ(run.code, 1) << command;
        EXPECT_TRUE(contains(run.err, "velkdirect: cannot write the output: No space left on device")) << run.err;
    }
    // For a monitoring plugin an unwritten verdict is UNKNOWN, not WARNING.
    EXPECT_EQ(run_program("/bin/sh", {"-c", std::string(VELKDIRECT_PATH) + " check > /dev/full"}).code, 3);
    // A reader that stops early ends the tool quietly, as it does the coreutils.
    Result piped = run_program("/bin/bash", {"-c", "set -o pipefail; " + std::string(VELKDIRECT_PATH) +
                                                       " watch -n 0.1 -c 30 | head -c 1 >/dev/null"});
    EXPECT_EQ(piped.code, 0);
    EXPECT_EQ(piped.err, "");
}

// Every refusal, of the tool's own (2) or the daemon's (1), says why on stderr
// and prints nothing as success.
TEST_F(CliTest, RefusalsSayWhyWithTheirExitCode) {
    const struct {
        std::vector<std::string> args;
        int code;
        std::string words;
    } cases[] = {
        {{}, 2, "A subcommand is required"},
        {{"frobnicate"}, 2, "frobnicate"},
        {{"sensor"}, 2, "sensor is required"},
        {{"poll"}, 2, "subcommand"},
        {{"watch", "--interval", "0"}, 2, "interval"},
        {{"sensor", "no_such_sensor"}, 1, "sensor \"no_such_sensor\": unknown object (status 1)"},
        {{"sensor", "#abc"}, 2, "not a sensor number"},
        {{"sensors", "--fail-on", "ok"}, 2, "--fail-on"},
        {{"convert", "mb_12v"}, 2, "--raw or --normal"},
        {{"convert", "mb_12v", "--raw", "1", "--normal", "2"}, 2, "excludes"},
        {{"convert", "mb_12v", "--normal", "nan"}, 1, "invalid value (status 3)"},
        {{"poll", "state", "maybe"}, 2, "maybe"},
        {{"poll", "disable", "cpu0_temp", "--generation", "9"}, 1, "wrong state (status 7)"},
        {{"sensor", "cpu0_temp", "set-thresholds", "--unr", "1000"}, 1, "outside what the sensor can read"},
        {{"sensor", "cpu0_temp", "set-thresholds", "--lnr", "95"}, 1,
         "lcr (5) would be below lnr (95): thresholds must not decrease (lnr <= lcr <= lnc <= unc <= ucr <= unr)"},
        {{"sensor", "cpu0_temp", "set-thresholds", "--unc", "1e40"}, 2, "1e40 is not a finite number"},
        {{"sensor", "cpu0_temp", "set-reading", "abc"}, 2, "\"abc\" is not a number (a raw reading is 0 to 255)"},
        {{"sensor", std::string(5000, 'x')}, 2, "a sensor name is at most 4096 bytes; this one has 5000"},
        {{"--socket", "/tmp/other.sock", "platform"}, 3, "cannot reach the management daemon at /tmp/other.sock"},
        {{"sensor", "cpu0_temp", "set-thresholds"}, 2, "at least one of"},
        {{"sensor", "cpu0_temp", "set-reading", "256"}, 2, "256"},
        {{"indicator", "psu0_ok_led", "slow"}, 1,
         "indicator \"psu0_ok_led\": mode 2 (slow blink) is not accepted; it accepts 0 (off), 1 (on)"},
        {{"indicator", "no_led"}, 1, "indicator \"no_led\": unknown object"},
        {{"indicator", "fault_led", "blink"}, 2, "is not a mode"},
        {{"indicator", "fault_led", "on", "--for", "10 parsecs"}, 2, "not a duration"},
        {{"indicator", "fault_led", "on", "--for", "0"}, 2, "leave out --for"},
        {{"fru", "chassis", "write", "--offset", "0", "00"}, 1, "FRU \"chassis\": read only (status 4)"},
        {{"fru", "mainboard", "read", "--offset", "510", "--length", "4"}, 1, "out of range (status 2)"},
        {{"fru", "mainboard", "read", "--offset", "500", "--length", "20"}, 1,
         "FRU \"mainboard\": bytes 500 to 519 are out of range (status 2): its data area is 512 bytes"},
        {{"fru", "ioboard", "write", "--offset", "0", "--file", "/tmp"}, 1, "cannot read /tmp: it is a directory"},
        // Past the end there is nothing "to the end": an error, not an empty dump.
        {{"fru", "mainboard", "read", "--offset", "100000"}, 1, "offset 100000 is past the end of its 512-byte data area"},
        {{"fru", "nothing", "read"}, 1, "FRU \"nothing\": unknown object"},
        {{"fru", "mainboard", "write", "--offset", "0", "abc"}, 2, "two hex digits"},
        {{"fru", "mainboard", "write", "00"}, 2, "--offset"},
        {{"fru", "ioboard", "write", "--offset", "0", "--file", "/tmp/none.bin"}, 1, "cannot read"},
        {{"fru", "ioboard", "write", "--offset", "0"}, 2, "HEXBYTES or --file"},
        {{"associations", "0x55", "9"}, 1, "unknown object (status 1)"},
        {{"metrics", "-o", "/tmp/no/such/dir/x.prom"}, 1, "cannot create a file in /tmp/no/such/dir"},
    };
    for (const auto& [args, code, words] : cases) expect_run(args, code, words);
    EXPECT_EQ(velkdirect_json({"indicator", "psu0_ok_led"})["mode"], 1) << "the refused mode changed nothing";
}

// Every level answers --help with its usage on stdout. The top level lists its
// options and quotes "#N", since # starts a shell comment.
TEST(CliUsage, HelpOnEveryLevel) {
    for (std::string level : {"", "tree", "sensors", "sensor", "sensor x set-thresholds", "sensor x set-reading",
                              "indicators", "indicator", "frus", "fru", "fru x read", "fru x write", "fru x decode",
                              "components", "associations", "platform", "poll", "poll enable", "poll disable",
                              "poll state", "reset-sensors", "convert", "watch", "snapshot"}) {
        Result run = run_program("/bin/sh", {"-c", std::string(VELKDIRECT_PATH) + " " + level + " --help"});
        EXPECT_EQ(run.code, 0) << level << run.err;
        EXPECT_TRUE(contains(run.out, "Usage:")) << level;
        EXPECT_EQ(run.err, "") << level;
        if (level.starts_with("fru x ")) {
            EXPECT_TRUE(contains(run.out, " fru NAME " + level.substr(6) + " [OPTIONS]")) << run.out;
        }
    }
    Result top = velkdirect({"--help"});
    EXPECT_TRUE(contains(top.out, "Usage: velkdirect [OPTIONS]")) << "no build path: " << top.out;
    EXPECT_TRUE(contains(top.out, "--json")) << top.out;
    EXPECT_TRUE(contains(top.out, "--socket PATH")) << top.out;
    EXPECT_FALSE(contains(top.out, "Exit status (shared")) << "the exit table is the man page's";
    EXPECT_TRUE(contains(top.out, "\"#N\" (quoted")) << top.out;
    EXPECT_TRUE(contains(velkdirect({"sensor", "--help"}).out, "\"#N\""));
}

} // namespace
} // namespace velk::cli::test
