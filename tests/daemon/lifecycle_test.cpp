// Starting, stopping, reloading and persisting: what the daemon does with its
// socket path, its description file and its state directory.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "daemon_process.h"
#include "description_file.h"
#include "velkdirectfe.h"
#include "velkdirectfe_wire.h"

namespace velkd::test {
namespace {

bool exists(const char* path) {
    struct stat st{};
    return ::lstat(path, &st) == 0;
}

int fru_byte(const char* fru) {
    uint8_t byte = 0;
    uint32_t got = 0;
    int status = velkdirectfe_read_fru_direct(0, fru, 200, 1, &byte, &got);
    return status == 0 ? byte : -100 - status;
}

// Stopped by SIGTERM or SIGINT the daemon exits 0 (so the sanitizers found no
// leak either) and removes its socket. It takes the path over only from a
// dead daemon: a live one keeps it, and what is not a socket is left alone.
TEST(Lifecycle, ClaimsTheSocketPathOnlyFromADeadDaemonAndRemovesItAtExit) {
    for (int signo : {SIGTERM, SIGINT}) {
        {
            DaemonProcess first;
            ASSERT_TRUE(first.ready()) << first.log();
            auto second = run_to_exit({});
            EXPECT_EQ(second.code, 4); // the socket path cannot be claimed
            EXPECT_NE(second.err.find("another daemon is serving"), std::string::npos);
            EXPECT_EQ(fru_byte("mainboard"), 0xFF) << "the first keeps its socket and serves";
            first.stop(SIGKILL); // leaves its socket behind
        }
        ASSERT_TRUE(exists(VELKD_SOCKET_PATH));
        DaemonProcess daemon;
        ASSERT_TRUE(daemon.ready()) << daemon.log();
        EXPECT_NE(daemon.log().find("stale socket"), std::string::npos);
        EXPECT_EQ(daemon.stop(signo), 0) << daemon.log();
        EXPECT_FALSE(exists(VELKD_SOCKET_PATH));
    }
    std::ofstream(VELKD_SOCKET_PATH) << "precious";
    auto run = run_to_exit({});
    EXPECT_EQ(run.code, 4);
    EXPECT_NE(run.err.find("not a socket"), std::string::npos) << run.err;
    std::string content;
    std::ifstream(VELKD_SOCKET_PATH) >> content;
    EXPECT_EQ(content, "precious");
    EXPECT_EQ(run_to_exit({"--no-such-option"}).code, 2) << "bad usage is 2 for both tools";
}

// -v logs each request with the client's uid; -vv adds a line when a client
// connects and when its connection closes.
TEST(Lifecycle, VerboseLogsNameTheClientOfEachRequestAndConnection) {
    for (const char* verbosity : {"-v", "-vv"}) {
        DaemonProcess daemon({verbosity});
        ASSERT_TRUE(daemon.ready()) << daemon.log();
        EXPECT_EQ(fru_byte("mainboard"), 0xFF);
        EXPECT_TRUE(daemon.wait_for_log("uid 0: read_fru_direct mainboard: status 0")) << daemon.log();
        bool connections = std::string(verbosity) == "-vv";
        if (connections) {
            EXPECT_TRUE(daemon.wait_for_log("connection from uid 0 closed")) << daemon.log();
        }
        EXPECT_EQ(daemon.log().find("connection from uid 0 accepted") != std::string::npos, connections)
            << verbosity << "\n" << daemon.log();
        EXPECT_EQ(daemon.stop(SIGTERM), 0);
    }
}

// What may stand in a FRU file's place: only a regular file of the data
// area's size is loaded; anything else is ignored with a warning and never
// blocks the start. Leftovers of interrupted writes are removed.
TEST(Lifecycle, SavedDataThatIsNotARegularFileOfTheRightSizeIsIgnored) {
    const struct {
        const char* message;
        void (*make)(const char* path);
    } cases[] = {
        {"5 bytes, its data area has 256", [](const char* p) { std::ofstream(p) << "12345"; }},
        {"a symbolic link", [](const char* path) {
             std::ofstream("/tmp/secret") << std::string(256, 'S');
             ::symlink("/tmp/secret", path);
         }},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all("/tmp/state");
        ::mkdir("/tmp/state", 0755);
        c.make("/tmp/state/fru-psu0.bin");
        std::ofstream("/tmp/state/.fru-psu0.bin.a1B2c3") << "half";
        std::ofstream("/tmp/state/notes.txt") << "kept";
        DaemonProcess daemon({"--state-dir", "/tmp/state"});
        ASSERT_TRUE(daemon.ready()) << c.message << ": " << daemon.log();
        EXPECT_EQ(fru_byte("psu0"), 0xFF) << c.message;
        std::string ignored = "ignoring saved data of FRU \"psu0\" in /tmp/state/fru-psu0.bin: ";
        EXPECT_NE(daemon.log().find(ignored + c.message), std::string::npos) << daemon.log();
        EXPECT_FALSE(exists("/tmp/state/.fru-psu0.bin.a1B2c3"));
        EXPECT_TRUE(exists("/tmp/state/notes.txt"));
        EXPECT_EQ(daemon.stop(SIGTERM), 0) << c.message;
    }
}

using Args = std::vector<std::string>;
const std::string kPlatform = "[platform]\nname = \"p\"\nmodel = \"m\"\n";

Args state_dir(const char* path, mode_t mode, uid_t owner) {
    ::mkdir(path, 0700);
    ::chmod(path, mode);
    EXPECT_EQ(::chown(path, owner, 0), 0);
    return {"--state-dir", path};
}

// Refused at start with exit code 1 and no socket ever bound: description
// files that do not load (by --check as well; what the reader says of each
// problem in a file's text is proven in tests/description) and state
// directories others could write. data_file is a regular file of at most
// 64 KiB under the description's directory, or an absolute path the FRU allows.
TEST(Lifecycle, BadDescriptionsAndStateDirectoriesAreRefusedBeforeServing) {
    ::mkdir("/tmp/conf", 0755);
    ::mkdir("/tmp/elsewhere", 0755);
    write_file("conf/ok.bin", "\x01\x02");
    write_file("conf/big.bin", std::string(65537, 'x'));
    write_file("elsewhere/secret.bin", "S");
    ::mkfifo("/tmp/conf/fifo.bin", 0600);
    ::mkfifo("/tmp/pipe.bin", 0600);
    ::symlink("/tmp/elsewhere/secret.bin", "/tmp/conf/link.bin");
    int files = 0;
    auto config = [&](const std::string& text) -> Args {
        std::string name = "conf/" + std::to_string(++files) + ".toml";
        return {"--config", write_file(name, kPlatform + text)};
    };
    auto fru = [&](const std::string& data_file, const char* extra = "") {
        return config("[[fru]]\nname = \"f\"\npath = \"/f\"\ndata_file = \"" + data_file + "\"\n" +
                      extra);
    };
    const char* const outside = "data_file_outside = true\n";
    const struct {
        Args args;
        const char* message; // empty: accepted by --check
    } cases[] = {
        {{"--config", "/tmp/absent.toml"}, "/tmp/absent.toml: cannot open the description file"},
        {config("colour = 1\n"), ".toml:4:1: platform: unknown key 'colour'"},
        {fru("ok.bin"), ""},
        {fru("big.bin"), "data area too large: /tmp/conf/big.bin holds more than 65536 bytes"},
        {fru("fifo.bin"), "data_file /tmp/conf/fifo.bin is not a regular file"},
        {fru("link.bin"), "data_file /tmp/conf/link.bin is not under the description's directory"},
        {fru("../elsewhere/secret.bin"), "is not under the description's directory /tmp/conf"},
        {fru("/tmp/elsewhere/secret.bin"), "is not under the description's directory /tmp/conf"},
        {fru("/tmp/elsewhere/secret.bin", outside), ""},
        {fru("/tmp/pipe.bin", outside), "data_file /tmp/pipe.bin is not a regular file"},
        {fru("secret.bin", outside), "'data_file' must be an absolute path"},
        {state_dir("/tmp/s1", 0777, 0), "state directory /tmp/s1: writable by others (mode 0777)"},
        {state_dir("/tmp/s2", 0770, 0), "directory /tmp/s2: writable by its group (mode 0770)"},
        {state_dir("/tmp/s3", 0755, 65534), "state directory /tmp/s3: owned by uid 65534"},
    };
    for (const auto& c : cases) {
        Args check = c.args;
        check.push_back("--check");
        for (const Args& args : {check, c.args}) {
            if (!*c.message && args.back() != "--check") continue; // it would serve
            auto run = run_to_exit(args);
            EXPECT_EQ(run.code, *c.message ? 1 : 0) << args[1];
            EXPECT_NE(run.err.find(c.message), std::string::npos) << args[1] << ": " << run.err;
        }
    }
    EXPECT_FALSE(exists(VELKD_SOCKET_PATH)) << "no platform may be served";
}

// --check says what it found, or reads on after a problem: every one is
// listed, then their count, up to a limit that keeps a hopeless file short.
TEST(Lifecycle, CheckListsEveryProblem) {
    auto good = run_to_exit({"--check"});
    EXPECT_EQ(good.code, 0) << good.err;
    EXPECT_EQ(good.out, "ok: (built-in): platform \"Velk V-440 Server\", 5 FRUs, 10 sensors, "
                        "4 indicators, 7 components, 3 associations, 0 faults\n");
    std::string text = kPlatform + "colour = 1\n[[component]]\npath = \"/a\"\nkind = -1\n" +
                       "[[component]]\npath = \"/a\"\n[[fault]]\nobject = \"ghost\"\nstatus = 5\n";
    std::string file = write_file("bad.toml", text);
    auto run = run_to_exit({"--check", "--config", file});
    EXPECT_EQ(run.code, 1);
    // One bare line each (no timestamp), in line order, then the count.
    EXPECT_EQ(run.err, file + ":4:1: platform: unknown key 'colour'\n" +
                       file + ":7:8: component \"/a\": 'kind' is -1, must be 0 to 4294967295\n" +
                       file + ":8:1: component \"/a\": duplicate path \"/a\" (first used by component \"/a\")\n" +
                       file + ":11:10: fault: 'object' \"ghost\" is no sensor, indicator or FRU\n" +
                       "4 problems found\n");
    std::string many = kPlatform;
    for (int i = 0; i < 80; ++i) many += "[[component]]\npath = \"/c\"\nkind = -1\n";
    auto flood = run_to_exit({"--check", "--config", write_file("many.toml", many)});
    EXPECT_EQ(flood.code, 1);
    EXPECT_NE(flood.err.find("50 problems found (the check stops after 50)"), std::string::npos);
}

// A platform of one writable FRU, told apart by its model name.
Description small_platform(const std::string& model) {
    const char* fru = "name = \"eeprom\"\npath = \"/eeprom\"\nsize = 256\nwritable = true";
    return Description(model).add("fru", fru);
}

std::string model_name() {
    velkdirectfe_plat_names_t names{};
    if (velkdirectfe_get_platform_names(0, &names) != 0) return "(failed)";
    std::string model = names.name2;
    std::free(names.name1);
    std::free(names.name2);
    return model;
}

// A FRU write is saved in the state directory and loaded again on a reload
// and at the next start.
TEST(Lifecycle, SighupReloadsAGoodFileAndKeepsThePlatformOnABadOne) {
    std::string config = small_platform("one").write("platform.toml");
    {
        DaemonProcess daemon({"--config", config, "--state-dir", "/tmp/state"});
        ASSERT_TRUE(daemon.ready()) << daemon.log();
        ASSERT_EQ(model_name(), "one");
        uint8_t seven = 7;
        int32_t result = 0;
        ASSERT_EQ(velkdirectfe_write_fru_direct(0, "eeprom", 200, 1, &seven, &result), 0);
        small_platform("two").write("platform.toml");
        daemon.signal(SIGHUP);
        ASSERT_TRUE(daemon.wait_for_log("reloaded")) << daemon.log();
        EXPECT_EQ(model_name(), "two");
        EXPECT_EQ(fru_byte("eeprom"), 7);
        small_platform("three").add("sensor", "id = 5").write("platform.toml");
        daemon.signal(SIGHUP);
        ASSERT_TRUE(daemon.wait_for_log("reload refused"));
        std::string refused = "platform.toml:10:6: sensor #1: 'id' must be a string";
        EXPECT_NE(daemon.log().find(refused), std::string::npos) << daemon.log();
        EXPECT_EQ(model_name(), "two");
        EXPECT_EQ(daemon.stop(SIGTERM), 0);
    }
    small_platform("four").write("platform.toml");
    DaemonProcess daemon({"--config", config, "--state-dir", "/tmp/state"});
    ASSERT_TRUE(daemon.ready()) << daemon.log();
    EXPECT_EQ(fru_byte("eeprom"), 7);
}

} // namespace
} // namespace velkd::test
