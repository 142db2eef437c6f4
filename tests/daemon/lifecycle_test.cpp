// Starting, stopping, reloading and persisting: what the daemon does with its
// socket path, its description file and its state directory.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
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

int fru_write(const char* fru, uint8_t value) {
    int32_t result = 0;
    return velkdirectfe_write_fru_direct(0, fru, 200, 1, &value, &result);
}

int fru_byte(const char* fru) {
    uint8_t byte = 0;
    uint32_t got = 0;
    int status = velkdirectfe_read_fru_direct(0, fru, 200, 1, &byte, &got);
    return status == 0 ? byte : -100 - status;
}

TEST(Lifecycle, StopsCleanlyAndRemovesItsSocket) {
    for (int signo : {SIGTERM, SIGINT}) {
        DaemonProcess daemon;
        ASSERT_TRUE(daemon.ready()) << daemon.log();
        ASSERT_TRUE(exists(VELKD_SOCKET_PATH));
        // Exit code 0 also says the sanitizers found no leak at exit.
        EXPECT_EQ(daemon.stop(signo), 0) << daemon.log();
        EXPECT_FALSE(exists(VELKD_SOCKET_PATH));
    }
}

// The socket path is taken over only from a dead daemon: a live one keeps it,
// and anything that is not a socket is left alone.
TEST(Lifecycle, ClaimsTheSocketPathOnlyFromADeadDaemon) {
    {
        DaemonProcess first;
        ASSERT_TRUE(first.ready()) << first.log();
        Exit second = run_to_exit({});
        EXPECT_EQ(second.code, 4); // the shared table: the socket path cannot be claimed
        EXPECT_NE(second.log.find("another daemon is serving"), std::string::npos) << second.log;
        char* strid = nullptr;
        ASSERT_EQ(velkdirectfe_logical_num_to_strid(0, 1, &strid), 0) << "the first keeps its socket and serves";
        std::free(strid);
        first.stop(SIGKILL); // leaves its socket behind
    }
    ASSERT_TRUE(exists(VELKD_SOCKET_PATH));
    {
        DaemonProcess daemon;
        ASSERT_TRUE(daemon.ready()) << daemon.log();
        EXPECT_NE(daemon.log().find("stale socket"), std::string::npos);
        EXPECT_EQ(daemon.stop(SIGTERM), 0) << daemon.log();
    }
    std::ofstream(VELKD_SOCKET_PATH) << "precious";
    Exit run = run_to_exit({});
    EXPECT_EQ(run.code, 4);
    EXPECT_NE(run.log.find("not a socket"), std::string::npos) << run.log;
    std::ifstream in(VELKD_SOCKET_PATH);
    std::string content;
    in >> content;
    EXPECT_EQ(content, "precious");
    EXPECT_EQ(run_to_exit({"--no-such-option"}).code, 2) << "bad usage is 2 for both tools";
}

TEST(Lifecycle, FruWriteSurvivesARestartWithAStateDirectory) {
    {
        DaemonProcess daemon({"--state-dir", "/tmp/state"});
        ASSERT_TRUE(daemon.ready()) << daemon.log();
        ASSERT_EQ(fru_write("psu0", 0x5a), 0);
        EXPECT_EQ(daemon.stop(SIGTERM), 0);
    }
    EXPECT_TRUE(exists("/tmp/state/fru-psu0.bin"));
    {
        DaemonProcess daemon({"--state-dir", "/tmp/state"});
        ASSERT_TRUE(daemon.ready()) << daemon.log();
        EXPECT_EQ(fru_byte("psu0"), 0x5a);
        EXPECT_EQ(fru_byte("mainboard"), 0xFF) << "untouched FRUs keep their data";
    }
    DaemonProcess without_state;
    ASSERT_TRUE(without_state.ready());
    EXPECT_EQ(fru_byte("psu0"), 0xFF) << "the write lives in the state directory only";
}

// What may stand in a FRU file's place: only a regular file of the data
// area's size is loaded; everything else is ignored with a warning, and never
// blocks the start.
TEST(Lifecycle, SavedDataThatIsNotARegularFileOfTheRightSizeIsIgnored) {
    struct Case {
        const char* what;
        void (*make)(const char* path);
        const char* message;
    };
    const Case cases[] = {
        {"short", [](const char* path) { std::ofstream(path) << "short"; }, "5 bytes, its data area has 256"},
        {"fifo", [](const char* path) { ::mkfifo(path, 0600); }, "not a regular file"},
        {"symlink", [](const char* path) {
             std::ofstream("/tmp/secret") << std::string(256, 'S');
             ::symlink("/tmp/secret", path);
         }, "a symbolic link"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all("/tmp/state");
        ::mkdir("/tmp/state", 0755);
        c.make("/tmp/state/fru-psu0.bin");
        DaemonProcess daemon({"--state-dir", "/tmp/state"});
        ASSERT_TRUE(daemon.ready()) << c.what << ": " << daemon.log();
        EXPECT_EQ(fru_byte("psu0"), 0xFF) << c.what;
        EXPECT_NE(daemon.log().find(std::string("ignoring saved data of FRU \"psu0\" in /tmp/state/fru-psu0.bin: ") +
                                    c.message),
                  std::string::npos)
            << daemon.log();
        EXPECT_EQ(daemon.stop(SIGTERM), 0) << c.what;
    }
}

TEST(Lifecycle, LeftoversOfInterruptedWritesAreRemovedAtStart) {
    ::mkdir("/tmp/state", 0755);
    std::ofstream("/tmp/state/.fru-psu0.bin.a1B2c3") << "half";
    std::ofstream("/tmp/state/notes.txt") << "kept";
    DaemonProcess daemon({"--state-dir", "/tmp/state"});
    ASSERT_TRUE(daemon.ready()) << daemon.log();
    EXPECT_FALSE(exists("/tmp/state/.fru-psu0.bin.a1B2c3"));
    EXPECT_TRUE(exists("/tmp/state/notes.txt"));
    EXPECT_NE(daemon.log().find("removed /tmp/state/.fru-psu0.bin.a1B2c3"), std::string::npos) << daemon.log();
}

TEST(Lifecycle, AStateDirectoryOthersCouldWriteIsRefused) {
    struct Case {
        mode_t mode;
        uid_t owner;
        const char* message;
    };
    const Case cases[] = {
        {0777, 0, "writable by others (mode 0777)"},
        {0770, 0, "writable by its group (mode 0770)"},
        {0755, 65534, "owned by uid 65534"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all("/tmp/state");
        ::mkdir("/tmp/state", 0700);
        ::chmod("/tmp/state", c.mode);
        ASSERT_EQ(::chown("/tmp/state", c.owner, 0), 0);
        Exit run = run_to_exit({"--state-dir", "/tmp/state"});
        EXPECT_EQ(run.code, 1);
        EXPECT_NE(run.log.find(std::string("state directory /tmp/state: ") + c.message), std::string::npos) << run.log;
    }
}

// A platform of one writable FRU, told apart by its model name.
Description small_platform(const std::string& model) {
    return Description(model).add("fru", "name = \"eeprom\"\npath = \"/eeprom\"\nsize = 256\nwritable = true");
}

std::string model_name() {
    velkdirectfe_plat_names_t names{};
    if (velkdirectfe_get_platform_names(0, &names) != 0) return "(failed)";
    std::string model = names.name2;
    std::free(names.name1);
    std::free(names.name2);
    return model;
}

TEST(Lifecycle, SighupReloadsAGoodFileAndKeepsThePlatformOnABadOne) {
    std::string config = small_platform("one").write("platform.toml");
    DaemonProcess daemon({"--config", config, "--state-dir", "/tmp/state"});
    ASSERT_TRUE(daemon.ready()) << daemon.log();
    ASSERT_EQ(model_name(), "one");
    ASSERT_EQ(fru_write("eeprom", 7), 0);

    small_platform("two").write("platform.toml");
    daemon.signal(SIGHUP);
    ASSERT_TRUE(daemon.wait_for_log("reloaded")) << daemon.log();
    EXPECT_EQ(model_name(), "two");
    EXPECT_EQ(fru_byte("eeprom"), 7) << "saved FRU data is loaded again";

    small_platform("three").add("sensor", "id = 5").write("platform.toml");
    daemon.signal(SIGHUP);
    ASSERT_TRUE(daemon.wait_for_log("reload refused"));
    EXPECT_NE(daemon.log().find("platform.toml:10:6: sensor #1: 'id' must be a string"), std::string::npos)
        << daemon.log();
    EXPECT_EQ(model_name(), "two");
    EXPECT_EQ(daemon.stop(SIGTERM), 0);
}

} // namespace
} // namespace velkd::test
