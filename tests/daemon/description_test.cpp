// Description files the daemon must refuse at start, with no socket ever
// bound; what the reader says of each kind of problem in a file's text is
// tested in tests/description.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "daemon_process.h"
#include "velkdirectfe_wire.h"

namespace velkd::test {
namespace {

const std::string kPlatform = "[platform]\nname = \"p\"\nmodel = \"m\"\n";

std::string fru_from(const std::string& data_file, const char* extra = "") {
    return kPlatform + "[[fru]]\nname = \"f\"\npath = \"/f\"\ndata_file = \"" + data_file + "\"\n" +
           extra;
}

// data_file: a regular file of at most 64 KiB under the description's
// directory, or an absolute path the FRU allows explicitly. Served or only
// checked, a file that does not load is refused with exit code 1.
TEST(Description, MissingOrBadFilesAreRefusedBeforeServing) {
    ::mkdir("/tmp/conf", 0755);
    ::mkdir("/tmp/elsewhere", 0755);
    write_file("conf/ok.bin", "\x01\x02");
    write_file("conf/big.bin", std::string(65537, 'x'));
    write_file("elsewhere/secret.bin", "S");
    ::mkfifo("/tmp/conf/fifo.bin", 0600);
    ::mkfifo("/tmp/pipe.bin", 0600);
    ::symlink("/tmp/elsewhere/secret.bin", "/tmp/conf/link.bin");
    const char* const outside = "data_file_outside = true\n";
    const struct {
        std::string text; // empty: no file at all
        const char* message; // empty: accepted
    } cases[] = {
        {"", "/tmp/conf/platform.toml: cannot open the description file"},
        {kPlatform + "colour = 1\n", "/tmp/conf/platform.toml:4:1: platform: unknown key 'colour'"},
        {fru_from("ok.bin"), ""},
        {fru_from("big.bin"), "data area too large: /tmp/conf/big.bin holds more than 65536 bytes"},
        {fru_from("fifo.bin"), "data_file /tmp/conf/fifo.bin is not a regular file"},
        {fru_from("link.bin"), "/tmp/conf/link.bin is not under the description's directory"},
        {fru_from("../elsewhere/secret.bin"), "is not under the description's directory /tmp/conf"},
        {fru_from("/tmp/elsewhere/secret.bin"), "not under the description's directory /tmp/conf"},
        {fru_from("/tmp/elsewhere/secret.bin", outside), ""},
        {fru_from("/tmp/pipe.bin", outside), "data_file /tmp/pipe.bin is not a regular file"},
        {fru_from("secret.bin", outside), "'data_file' must be an absolute path"},
    };
    for (const auto& c : cases) {
        ::unlink("/tmp/conf/platform.toml");
        if (!c.text.empty()) write_file("conf/platform.toml", c.text);
        for (bool serve : {false, true}) {
            if (serve && !*c.message) continue;
            std::vector<std::string> args{"--config", "/tmp/conf/platform.toml"};
            if (!serve) args.push_back("--check");
            Exit run = run_to_exit(args);
            EXPECT_EQ(run.code, *c.message ? 1 : 0) << c.text;
            EXPECT_NE(run.log.find(c.message), std::string::npos) << c.text << ": " << run.log;
        }
    }
    struct stat st{};
    EXPECT_NE(::lstat(VELKD_SOCKET_PATH, &st), 0) << "no platform may be served";
}

// --check says what it found, or reads on after a problem: every one is
// listed, then their count, up to a limit that keeps a hopeless file short.
TEST(Description, CheckListsEveryProblem) {
    Exit good = run_to_exit({"--check"});
    EXPECT_EQ(good.code, 0) << good.log;
    EXPECT_EQ(good.out, "ok: (built-in): platform \"Velk V-440 Server\", 5 FRUs, 10 sensors, "
                        "4 indicators, 7 components, 3 associations, 0 faults\n");
    std::string text = kPlatform + "colour = 1\n[[component]]\npath = \"/a\"\nkind = -1\n" +
                       "[[component]]\npath = \"/a\"\n[[fault]]\nobject = \"ghost\"\nstatus = 5\n";
    Exit run = run_to_exit({"--check", "--config", write_file("bad.toml", text)});
    EXPECT_EQ(run.code, 1);
    for (const char* problem : {"bad.toml:4:1: platform: unknown key 'colour'", "'kind' is -1",
                                "duplicate path \"/a\"", "'object' \"ghost\"", "4 problems found"})
        EXPECT_NE(run.log.find(problem), std::string::npos) << problem << "\n" << run.log;
    std::string many = kPlatform;
    for (int i = 0; i < 80; ++i) many += "[[component]]\npath = \"/c\"\nkind = -1\n";
    Exit flood = run_to_exit({"--check", "--config", write_file("many.toml", many)});
    EXPECT_EQ(flood.code, 1);
    EXPECT_NE(flood.log.find("50 problems found (the check stops after 50)"), std::string::npos);
}

} // namespace
} // namespace velkd::test
