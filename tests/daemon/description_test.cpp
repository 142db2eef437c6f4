// Description files the daemon must refuse at start: each is named with its
// file, line and problem, and no socket is ever bound for it.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "daemon_process.h"
#include "velkdirectfe_wire.h"

namespace velkd::test {
namespace {

const char* const kPlatform = "[platform]\nname = \"p\"\nmodel = \"m\"\n";

const char* const kSensor = R"(
[[sensor]]
id = "{id}"
number = {number}
path = "/s/{id}"
conversion = { m = 1.0, b = 0.0 }
thresholds = { lnr = 0.0, lcr = 1.0, lnc = 2.0, unc = 3.0, ucr = 4.0, unr = 5.0 }
reading = { behaviour = "constant", value = 1.0 }
)";

std::string sensor(const std::string& id, int number) {
    std::string text = kSensor;
    for (std::string::size_type at; (at = text.find("{id}")) != std::string::npos;) text.replace(at, 4, id);
    text.replace(text.find("{number}"), 8, std::to_string(number));
    return text;
}

struct BadFile {
    const char* name;
    std::string text;
    const char* message; // what the log must say, after "bad.toml:"
};

class BadDescription : public ::testing::TestWithParam<BadFile> {};

TEST_P(BadDescription, IsRefusedWithFileLineAndProblem) {
    std::string file = write_file("bad.toml", GetParam().text);
    Exit run = run_to_exit({"--config", file});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.log.find(std::string("/tmp/bad.toml:") + GetParam().message), std::string::npos) << run.log;
    struct stat st{};
    EXPECT_NE(::lstat(VELKD_SOCKET_PATH, &st), 0) << "no platform may be served";
}

std::string fmt_object(const char* kind, std::size_t i, const char* extra) {
    return std::string("[[") + kind + "]]\nname = \"o" + std::to_string(i) + "\"\npath = \"/o" + std::to_string(i) +
           "\"\n" + extra;
}

std::string with(std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
}

// `count` tables of one kind, each a one-line object.
std::string many(const char* kind, std::size_t count, const char* extra) {
    std::string text = kPlatform;
    for (std::size_t i = 0; i < count; ++i)
        text += fmt_object(kind, i, extra);
    return text;
}

std::string big_fru() {
    return std::string(kPlatform) + "[[fru]]\nname = \"big\"\npath = \"/big\"\nsize = 65537\n";
}

INSTANTIATE_TEST_SUITE_P(
    Daemon, BadDescription,
    ::testing::Values(
        BadFile{"syntax", std::string(kPlatform) + "[[sensor]\n", "4:10: Error while parsing table header"},
        BadFile{"unknown_top", std::string(kPlatform) + "colour = \"red\"\n", "4:1: platform: unknown key 'colour'"},
        BadFile{"unknown_field", std::string(kPlatform) + sensor("a", 1) + "unit = \"C\"\n",
                "12:1: sensor \"a\": unknown key 'unit'"},
        BadFile{"unknown_nested", std::string(kPlatform) + sensor("a", 1) + "[sensor.hysteresis]\nup = 1\n",
                "13:1: sensor \"a\": hysteresis: unknown key 'up'"},
        BadFile{"duplicate_id", std::string(kPlatform) + sensor("a", 1) + sensor("a", 2),
                "13:1: sensor \"a\": duplicate sensor id \"a\" (first used by sensor \"a\")"},
        BadFile{"duplicate_number", std::string(kPlatform) + sensor("a", 1) + sensor("b", 1),
                "13:1: sensor \"b\": duplicate logical number 1 (first used by sensor \"a\")"},
        BadFile{"duplicate_path", std::string(kPlatform) + "[[component]]\npath = \"/x\"\n[[fru]]\nname = \"f\"\npath = \"/x\"\n",
                "4:1: component \"/x\": duplicate path \"/x\" (first used by fru \"f\")"},
        BadFile{"wrong_type", std::string(kPlatform) + "[[fru]]\nname = \"f\"\npath = \"/f\"\nwritable = \"yes\"\n",
                "7:12: fru \"f\": 'writable' must be true or false, not a string"},
        BadFile{"wrong_type_number", std::string(kPlatform) + sensor("a", 1) + "poll_interval_ms = 1.5\n",
                "12:20: sensor \"a\": 'poll_interval_ms' must be an integer, not a float"},
        BadFile{"out_of_range", std::string(kPlatform) + "[[indicator]]\nname = \"i\"\npath = \"/i\"\nmodes = [0, 300]\n",
                "7:13: indicator \"i\": 'modes' is 300, must be 0 to 255"},
        BadFile{"missing_key", std::string(kPlatform) + "[[fru]]\npath = \"/f\"\n", "4:1: fru #1: missing key 'name'"},
        BadFile{"data_too_large", big_fru(), "7:8: fru \"big\": data area too large: size 65537 bytes, at most 65536"},
        BadFile{"thresholds_out_of_order",
                std::string(kPlatform) + sensor("a", 1) + "[[sensor]]\nid=\"b\"\nnumber=2\npath=\"/b\"\nconversion={m=1.0,b=0.0}\n"
                "thresholds={lnr=0.0,lcr=1.0,lnc=2.0,unc=3.0,ucr=2.5,unr=5.0}\nreading={behaviour=\"constant\",value=1.0}\n",
                "17:12: sensor \"b\": thresholds: 'ucr' (2.5) is below 'unc' (3)"},
        BadFile{"nan_reading", std::string(kPlatform) + with(sensor("a", 1), "value = 1.0", "value = nan"), "11:45: sensor \"a\": reading: 'value' must be a finite number within a float's range"},
        BadFile{"inf_threshold", std::string(kPlatform) + with(sensor("a", 1), "unc = 3.0", "unc = inf"), "10:55: sensor \"a\": thresholds: 'unc' must be a finite number within a float's range"},
        BadFile{"beyond_float", std::string(kPlatform) + with(sensor("a", 1), "m = 1.0", "m = 1e300"), "9:20: sensor \"a\": conversion: 'm' must be a finite number within a float's range"},
        BadFile{"nul_in_name", std::string(kPlatform) + sensor("a\\u0000b", 1), "6:6: sensor #1: 'id' must not contain a NUL character"},
        BadFile{"long_string", with(kPlatform, "\"p\"", "\"" + std::string(4097, 'p') + "\""), "2:8: platform: 'name' is 4097 bytes long, at most 4096"},
        BadFile{"too_many_objects", many("component", 10001, ""), "30004:1: more than 10000 [[component]] tables"},
        BadFile{"too_much_fru_data", many("fru", 257, "size = 65536\n"), "1028:1: fru \"o256\": the FRUs' data areas add up to more than 16777216 bytes"},
        BadFile{"fru_fields_and_data", std::string(kPlatform) + "[[fru]]\nname = \"f\"\npath = \"/f\"\ndata = \"00\"\n"
                "board = { serial = \"1\" }\n",
                "4:1: fru \"f\": give the areas (chassis, board, product) or 'data' or 'data_file', not both"},
        BadFile{"fru_field_too_long", std::string(kPlatform) + "[[fru]]\nname = \"f\"\npath = \"/f\"\n"
                "product = { name = \"" + std::string(64, 'n') + "\" }\n",
                "4:1: fru \"f\": product name: 64 bytes, at most 63"},
        BadFile{"fru_unknown_field", std::string(kPlatform) + "[[fru]]\nname = \"f\"\npath = \"/f\"\n"
                "chassis = { colour = \"red\" }\n",
                "7:13: fru \"f\": chassis: unknown key 'colour'"},
        BadFile{"unknown_fault_object", std::string(kPlatform) + "[[fault]]\nobject = \"ghost\"\ndelay_ms = 5\n",
                "5:10: fault: 'object' \"ghost\" is no sensor, indicator or FRU"}),
    [](const ::testing::TestParamInfo<BadFile>& info) { return info.param.name; });

TEST(Description, MissingFileIsRefused) {
    Exit run = run_to_exit({"--config", "/tmp/absent.toml"});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.log.find("/tmp/absent.toml: cannot open the description file"), std::string::npos) << run.log;
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
    std::string text = std::string(kPlatform) + "colour = 1\n" + sensor("a", 1) + "unit = \"C\"\n" + sensor("b", 1) +
                       "[[fault]]\nobject = \"ghost\"\nstatus = 5\n";
    std::string file = write_file("bad.toml", text);
    Exit run = run_to_exit({"--check", "--config", file});
    EXPECT_EQ(run.code, 1);
    for (const char* problem : {"bad.toml:4:1: platform: unknown key 'colour'", "sensor \"a\": unknown key 'unit'",
                                "sensor \"b\": duplicate logical number 1", "fault: 'object' \"ghost\"",
                                "4 problems found"})
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
