// Description files the daemon must refuse at start, with no socket ever
// bound; what the reader says of each kind of problem is tested in
// tests/description.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "daemon_process.h"
#include "velkdirectfe_wire.h"

namespace velkd::test {
namespace {

const char* const kPlatform = "[platform]\nname = \"p\"\nmodel = \"m\"\n";

TEST(Description, MissingOrBadFileIsRefusedBeforeServing) {
    Exit run = run_to_exit({"--config", "/tmp/absent.toml"});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.log.find("/tmp/absent.toml: cannot open the description file"), std::string::npos) << run.log;
    Exit bad = run_to_exit({"--config", write_file("bad.toml", std::string(kPlatform) + "colour = 1\n")});
    EXPECT_EQ(bad.code, 1);
    EXPECT_NE(bad.log.find("/tmp/bad.toml:4:1: platform: unknown key 'colour'"), std::string::npos) << bad.log;
    struct stat st{};
    EXPECT_NE(::lstat(VELKD_SOCKET_PATH, &st), 0) << "no platform may be served";
}

TEST(Description, DataAreaFromAFileTooLargeIsRefused) {
    write_file("big.bin", std::string(65537, 'x'));
    std::string file = write_file("bad.toml", std::string(kPlatform) + "[[fru]]\nname = \"f\"\npath = \"/f\"\ndata_file = \"big.bin\"\n");
    Exit run = run_to_exit({"--config", file});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.log.find("data area too large: /tmp/big.bin holds more than 65536 bytes"), std::string::npos) << run.log;
}

// data_file: a regular file under the description's directory, or an
// absolute path the FRU allows explicitly.
TEST(Description, DataFilesOutsideTheDirectoryOrNotRegularAreRefused) {
    struct Case {
        const char* data_file;
        const char* extra;
        const char* message; // empty: accepted
    };
    ::mkdir("/tmp/conf", 0755);
    ::mkdir("/tmp/elsewhere", 0755);
    write_file("conf/ok.bin", "\x01\x02");
    write_file("elsewhere/secret.bin", "S");
    ::mkfifo("/tmp/conf/fifo.bin", 0600);
    ::mkfifo("/tmp/pipe.bin", 0600);
    ::symlink("/tmp/elsewhere/secret.bin", "/tmp/conf/link.bin");
    const Case cases[] = {
        {"ok.bin", "", ""},
        {"fifo.bin", "", "data_file /tmp/conf/fifo.bin is not a regular file"},
        {"link.bin", "", "data_file /tmp/conf/link.bin is not under the description's directory"},
        {"../elsewhere/secret.bin", "", "is not under the description's directory /tmp/conf"},
        {"/tmp/elsewhere/secret.bin", "", "is not under the description's directory /tmp/conf"},
        {"/tmp/elsewhere/secret.bin", "data_file_outside = true\n", ""},
        {"/tmp/pipe.bin", "data_file_outside = true\n", "data_file /tmp/pipe.bin is not a regular file"},
        {"secret.bin", "data_file_outside = true\n", "'data_file' must be an absolute path"},
    };
    for (const Case& c : cases) {
        std::string text = std::string(kPlatform) + "[[fru]]\nname = \"f\"\npath = \"/f\"\ndata_file = \"" + c.data_file +
                           "\"\n" + c.extra;
        std::string file = write_file("conf/platform.toml", text);
        Exit run = run_to_exit({"--config", file, "--check"});
        if (*c.message == 0) {
            EXPECT_EQ(run.code, 0) << c.data_file << ": " << run.log;
        } else {
            EXPECT_EQ(run.code, 1) << c.data_file;
            EXPECT_NE(run.log.find(c.message), std::string::npos) << c.data_file << ": " << run.log;
        }
    }
}

TEST(Description, BuiltInPlatformPrintsAndLoadsBack) {
    Exit printed = run_to_exit({"--print-default"});
    ASSERT_EQ(printed.code, 0);
    Exit check = run_to_exit({"--check"});
    EXPECT_EQ(check.code, 0) << check.log;
    // Success is said, with what was found.
    FILE* out = ::popen(VELKD_SIM_PATH " --check", "r");
    ASSERT_NE(out, nullptr);
    char line[512] = {};
    ASSERT_NE(std::fgets(line, sizeof line, out), nullptr);
    EXPECT_EQ(::pclose(out), 0);
    EXPECT_STREQ(line, "ok: (built-in): platform \"Velk V-440 Server\", 5 FRUs, 10 sensors, 4 indicators, "
                       "7 components, 3 associations, 0 faults\n");
}

// --check reads on after a problem: every one is listed, then their count.
TEST(Description, CheckListsEveryProblem) {
    std::string text = std::string(kPlatform) + "colour = 1\n[[component]]\npath = \"/a\"\nkind = -1\n" +
                       "[[component]]\npath = \"/a\"\n[[fault]]\nobject = \"ghost\"\nstatus = 5\n";
    std::string file = write_file("bad.toml", text);
    Exit run = run_to_exit({"--check", "--config", file});
    EXPECT_EQ(run.code, 1);
    for (const char* problem : {"bad.toml:4:1: platform: unknown key 'colour'", "'kind' is -1",
                                "duplicate path \"/a\"", "fault: 'object' \"ghost\"", "4 problems found"})
        EXPECT_NE(run.log.find(problem), std::string::npos) << problem << "\n" << run.log;

    // A limit keeps a hopeless file short.
    std::string many = kPlatform;
    for (int i = 0; i < 80; ++i) many += "[[component]]\npath = \"/c\"\nkind = -1\n";
    Exit flood = run_to_exit({"--check", "--config", write_file("many.toml", many)});
    EXPECT_EQ(flood.code, 1);
    EXPECT_NE(flood.log.find("50 problems found (the check stops after 50)"), std::string::npos) << flood.log;
}

} // namespace
} // namespace velkd::test
