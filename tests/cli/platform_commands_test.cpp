// Every command against the built-in platform: what it shows and what its
// changes do, one row each; watch, metrics and a refused reading in every view.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "cli_fixture.h"
#include "description_file.h"

namespace velk::cli::test {
namespace {

// What each read-only command shows, one value a row: each kind of object
// in its JSON and its text form (what velkd-sim holds is proven in tests/daemon).
TEST_F(CliTest, ListingsShowTheBuiltInPlatform) {
    const json thresholds_3v3{{"lnr", 2.8}, {"lcr", 2.97}, {"lnc", 3.1}, {"unc", 3.5}, {"ucr", 3.63}, {"unr", 3.8}};
    auto docs = expect_rows({
        {{"platform"}, "", {{"name", "Velk V-440 Server"}, {"model", "VLK-440-SIM"}, {"lead_byte", 1}}},
        {{"sensors"}, "#", 10},
        {{"sensors"}, "id=mb_3v3",
         {{"number", 5}, {"path", "/chassis/mb/3v3"}, {"value", 3.3} /* shortest text, not 3.2999999523 */,
          {"reading", 165}, {"unit", "volts"}, {"thresholds", thresholds_3v3}, {"crossed", json::array()},
          {"conversion", {{"m", 0.02}, {"b", 0.0}}}}},
        {{"sensors"}, "id=fan0_speed.polling", {{"enabled", true}, {"interval_ms", 500}, {"daemon_wide", true}}},
        {{"sensors"}, "id=inlet_temp", {{"hysteresis", {{"positive", 2}, {"negative", 2}}}, {"note", "Air inlet"}}},
        {{"sensor", "cpu1_temp"}, "normalized_thresholds", at(velkdirect_json({"sensor", "cpu1_temp"}), "thresholds")},
        {{"convert", "mb_12v", "--raw", "136"}, "normal", 12.5}, // 0.0625 * 136 + 4
        {{"convert", "#2", "--normal", "1.5"}, "", {{"sensor", "cpu0_temp"}, {"unit", "degrees C"}, {"raw", 3}}},
        // A value beyond what the sensor reads is clamped by the daemon: said, not hidden.
        {{"convert", "cpu0_temp", "--normal", "1e9"}, "", {{"raw", 255}, {"clamped", true}, {"range", {{"low", 0}, {"high", 127.5}}}}},
        {{"components"}, "path=/chassis/io/nic0", {{"kind", 5}, {"kind_name", "component"}, {"properties", {{"ports", "2"}, {"speed", "25 Gb/s"}}}}},
        {{"components"}, "path=/chassis/fantray/fan1.properties", json::object()},
        {{"associations"}, "#", 3},
        {{"associations", "0x1e", "1"}, "", {{"word", 2}, {"entity_name", "cooling unit"}, {"members", {{0x1d, 1}, {0x1d, 2}}}}},
        // Filters and output for scripts: by pattern on id or path, type and state.
        {{"sensors", "--type", "temperature"}, "#", 5},
        {{"sensors", "--type", "temperature"}, "0", {{"type", 1}, {"type_name", "temperature"}, {"state", "ok"}}},
        {{"sensors", "cpu*", "/chassis/fantray/*"}, "#", 4},
        {{"sensors", "--state", "critical"}, "#", 0},
        {{"sensors", "--type", "fan", "--csv"}, "~", "ID,PATH,TYPE,RAW,VALUE,UNIT,STATE,CROSSED,LNR,"},
        {{"sensors", "mb_3v3", "--csv", "--no-header"}, "=",
         "mb_3v3,/chassis/mb/3v3,voltage,165,3.3,volts,ok,-,2.8,2.97,3.1,3.5,3.63,3.8,1000 ms\n"},
        {{"frus", "--no-header"}, "!~", "NAME"},
        {{"--json", "platform"}, "~", "\"model\": \"VLK-440-SIM\""}, // --json before the command
        {{"indicators"}, "name=power_led",
         {{"mode", 1}, {"mode_name", "on"}, {"modes", {0, 1, 2}}, {"path", "/chassis/front/power_led"},
          {"properties", {{"colour", "green"}}}}},
        {{"frus"}, "name=chassis", {{"size", 256}, {"writable", false}}},
        {{"frus"}, "name=chassis.properties.serial", "VK4400001"},
        {{"fru", "mainboard", "read"}, "length", 512}, // the whole area by default
        {{"fru", "mainboard", "read", "--length", "10"}, "data", "01000001000000fe0108"},
        {{"fru", "mainboard", "read", "--offset", "500"}, "data", "ffffffffffffffffffffffff"},
        {{"fru", "mainboard", "decode"}, "problems", json::array()},
        {{"fru", "mainboard", "decode"}, "areas.#", 1},
        {{"fru", "mainboard", "decode"}, "areas.0",
         {{"area", "board"}, {"language", {{"code", 0}, {"name", "en"}}}, {"mfg_date", "2024-03-18 09:30 UTC"},
          {"fields", {{"manufacturer", "Velk Systems"}, {"product", "MB-440 mainboard"}, {"serial", "VM4400107"},
                      {"part_number", "VLK-MB-440"}, {"file_id", ""}}},
          {"checksum", {{"ok", true}, {"stored", 0x85}, {"sum", 0}}}}},
        {{"fru", "chassis", "decode"}, "areas.0.type", {{"code", 0x17}, {"name", "Rack Mount Chassis"}}},
        // The text forms.
        {{"platform"}, "~", "VLK-440-SIM"},
        {{"sensors"}, "~ ", "ID PATH TYPE RAW VALUE UNIT STATE CROSSED LNR LCR LNC UNC UCR UNR POLL\n"},
        {{"sensors"}, "~ ", "\nmb_3v3 /chassis/mb/3v3 voltage 165 3.3 volts ok - 2.8 2.97 3.1 3.5 3.63 3.8 1000 ms\n"},
        // Each node says what it is; the walk's own parents are "added parent".
        {{"tree"}, "~ ", "/\n└── chassis FRU system chassis 1 (desc 17 01 01)\n ├── mb"},
        {{"tree"}, "~ ", "── front added parent desc 00 00 08\n"},
        {{"tree"}, "~ ", "── temp sensor processor 1 (desc 03 01 01 01)\n"},
        {{"tree", "--properties"}, "~", "model = Velk VX-16"},
        {{"associations"}, "~ ", "cooling unit 1 2 fan 1 fan 2"},
        {{"sensor", "#3"}, "~ ", "sensor cpu1_temp (#3)\npath /chassis/mb/cpu1/temp\nnote CPU 1 die\nkind sensor\n"},
        {{"sensor", "#3"}, "~ ", "\ntype temperature (0x01)\n"},
        {{"sensor", "cpu1_temp"}, "~ ", "conversion normal = 0.5 * raw + 0\n"},
        {{"convert", "cpu0_temp", "--raw", "100"}, "=", "raw 100 = 50 degrees C\n"}, // with the unit
        {{"convert", "cpu0_temp", "--normal", "-40"}, "=",
         "-40 degrees C = raw 0\nnote: clamped: the sensor reads 0 to 127.5 degrees C; raw 0 is 0 degrees C\n"},
        {{"fru", "chassis", "read", "--length", "18"}, "=",
         "00000000  01 00 01 00 05 00 00 f9  01 04 17 ca 56 4c 4b 2d  |............VLK-|\n"
         "00000010  43 48                                             |CH|\n"},
        // As `ipmitool fru print` shows it.
        {{"fru", "psu0", "decode"}, "~ ", "Product Manufacturer : Aurel Power\n Product Name : AP-750W power supply\n"},
        {{"fru", "psu0", "decode"}, "~ ", "Product Serial : AP75-88213\n"},
    }, true);
    json by_name = docs[{"sensor", "cpu1_temp", "--json"}], by_number = velkdirect_json({"sensor", "#3"});
    for (const char* key : {"id", "number", "path", "note", "thresholds", "normalized_thresholds", "desc", "conversion"})
        EXPECT_EQ(by_name[key], by_number[key]) << "by name and by number: " << key;
}

// Every node of a JSON tree by path, with the path of its parent.
void index_tree(const json& node, const std::string& parent, std::map<std::string, std::pair<json, std::string>>& out) {
    for (const json& child : node["children"]) {
        out[child["path"]] = {child, parent};
        index_tree(child, child["path"], out);
    }
}

TEST_F(CliTest, TreeJsonHoldsEveryObjectUnderItsParent) {
    json root = velkdirect_json({"tree"});
    EXPECT_EQ(root["path"], "");
    std::map<std::string, std::pair<json, std::string>> nodes;
    index_tree(root, "", nodes);
    EXPECT_EQ(nodes.size(), 10u + 4 + 5 + 7 + 1); // every object and /chassis/front

    auto [speed, speed_parent] = nodes["/chassis/fantray/fan1/speed"];
    EXPECT_EQ(speed["kind"], 3);
    EXPECT_EQ(speed["properties"]["unit"], "RPM");
    EXPECT_EQ(speed["desc"], json({0x1d, 2, 1, 4, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(speed_parent, "/chassis/fantray/fan1");

    auto [front, front_parent] = nodes["/chassis/front"];
    EXPECT_EQ(front["kind"], 1) << "a level no object carries";
    EXPECT_EQ(front["desc"][2], 8);
    EXPECT_EQ(front_parent, "/chassis");
    EXPECT_EQ(front["children"].size(), 3u);
    EXPECT_EQ(nodes["/chassis"].second, "");
}

// What operators do to test their alerts and their hardware, each change read
// back, in order.
TEST_F(CliTest, ChangesAreReadBack) {
    std::ofstream("/tmp/two.bin", std::ios::binary) << "\x01\x02";
    expect_rows({
        {{"sensor", "cpu0_temp", "set-thresholds", "--unc", "80", "--ucr", "90"}, "thresholds",
         {{"lnr", 0}, {"lcr", 5}, {"lnc", 10}, {"unc", 80}, {"ucr", 90}, {"unr", 100}}}, // the rest kept
        {{"sensor", "#2"}, "thresholds.ucr", 90},
        {{"sensor", "cpu0_temp", "set-reading", "190"}, "",
         {{"reading", 190}, {"value", 95}, {"overridden", true}, {"state", "critical"}, {"crossed", {"unc", "ucr"}}}},
        // One vocabulary: the same word in the table, the sensor and --state.
        {{"sensors", "--state", "critical", "--no-header"}, "~ ", "cpu0_temp /chassis/mb/cpu0/temp temperature 190 95 degrees C critical unc,ucr "},
        {{"sensor", "cpu0_temp"}, "~ ", "\nstate critical (unc,ucr crossed)\n"},
        // The check and --fail-on follow the worst threshold crossed.
        {{"check"}, "~", "VELKDIRECT CRITICAL - 1 of 10 sensors: cpu0_temp critical (95 degrees C) | ", 2},
        {{"check", "--warning-only"}, "~", "VELKDIRECT WARNING - 1 of 10 sensors: cpu0_temp critical", 1},
        {{"sensors", "--fail-on", "critical"}, "~", "\ncpu0_temp ", 1}, // the table is printed all the same
        {{"sensors"}, "#", 10}, // without --fail-on, states do not fail the command
        {{"sensor", "cpu0_temp", "set-reading", "170"}, "state", "non-critical"},
        {{"check"}, "~", "VELKDIRECT WARNING - 1 of 10 sensors: cpu0_temp non-critical (85 degrees C) | ", 1},
        {{"sensors", "--fail-on", "critical"}, "#", 10},
        {{"sensors", "--fail-on", "non-critical"}, "#", 10, 1},
        {{"sensor", "mb_3v3", "set-reading", "0"}, "=",
         "mb_3v3: reading overridden: raw 0 = 0 volts, state non-recoverable (lnr,lcr,lnc crossed) (until velkdirect "
         "reset-sensors)\n"},
        {{"check"}, "~", "mb_3v3 non-recoverable (0 volts), cpu0_temp non-critical", 2},
        // `poll disable` needs the generation that `poll enable` gives.
        {{"poll", "enable", "cpu1_temp"}, "=", "cpu1_temp: polled every 1000 ms\ngeneration 1\n"},
        {{"poll", "enable", "cpu1_temp"}, "", {{"interval_ms", 1000}, {"generation", 2}}},
        {{"poll", "disable", "#3", "--generation", "2"}, "", // sensor number and generation differ
         {{"sensor", "cpu1_temp"}, {"interval_ms", 1000}, {"polling", false}}},
        {{"sensors"}, "id=cpu1_temp.polling.enabled", false},
        {{"poll", "state"}, "polling", true},
        {{"poll", "state", "off"}, "polling", false},
        {{"poll", "state"}, "polling", false},
        {{"sensors"}, "~", "off (daemon-wide)\n"}, // whatever a sensor's own interval
        // A reset restores the described readings and polling.
        {{"reset-sensors"}, "reset", true},
        {{"sensor", "cpu0_temp"}, "overridden", false},
        {{"check"}, "~", "VELKDIRECT OK - 10 sensors ok | ", 0},
        {{"sensors"}, "id=cpu1_temp.polling", {{"enabled", true}, {"interval_ms", 1000}, {"daemon_wide", true}}},
        {{"indicator", "locate_led", "fast"}, "=", "locate_led: 3 (fast blink)\n"},
        {{"indicator", "locate_led"}, "mode", 3},
        // With a duration the new mode holds until it runs out (an hour here).
        {{"indicator", "fault_led", "2", "--for", "1h"}, "~", "for 3600 s"},
        {{"indicator", "fault_led"}, "mode", 2},
        {{"indicator", "fault_led", "2", "--for", "1m30s"}, "duration_ms", 90000}, // more in Arguments.Durations
        {{"fru", "ioboard", "write", "--offset", "0xf0", "de ad", "BEEF"}, "=", "ioboard: wrote 4 bytes at offset 0xf0\n"},
        {{"fru", "ioboard", "read", "--offset", "238", "--length", "8"}, "data", "ffffdeadbeefffff"},
        {{"fru", "ioboard", "write", "--offset", "0xf0", "00"}, "", {{"name", "ioboard"}, {"offset", 240}, {"written", 1}}},
        {{"fru", "ioboard", "write", "--offset", "0xf0", "00"}, "#", 3},
        // Binary in and out through files.
        {{"fru", "ioboard", "read", "--file", "/tmp/io.bin"}, "length", 256},
        {{"fru", "ioboard", "write", "--offset", "250", "--file", "/tmp/two.bin"}, "written", 2},
        {{"fru", "ioboard", "read", "--offset", "250", "--length", "2"}, "data", "0102"},
        // One byte flipped: the checksum fails, the fields are still shown. Byte
        // 20 is the 'S' of "Velk Systems" in the board area.
        {{"fru", "mainboard", "read", "--offset", "20", "--length", "1"}, "data", "53"},
        {{"fru", "mainboard", "write", "--offset", "20", "52"}, "written", 1},
        {{"fru", "mainboard", "decode"}, "~", "checksum FAILS (stored 0x85; the bytes sum to 0xff, not 0)", 1},
        {{"fru", "mainboard", "decode"}, "~", "Velk Rystems", 1},
        {{"fru", "mainboard", "decode"}, "problems.0", "board area at offset 8: checksum fails "
                                                      "(stored 0x85, the area sums to 0xff instead of 0)", 1},
        // An area that cannot be decoded is shown as hex with the reason.
        {{"fru", "mainboard", "write", "--offset", "9", "ff"}, "written", 1},
        {{"fru", "mainboard", "decode"}, "areas.0.problem", "its 2040 bytes run past the end of the 512-byte data", 1},
        {{"fru", "mainboard", "decode"}, "areas.0.hex",
         "01ff003a6ae2cc56656c6b2052797374656d73d04d422d343430206d61696e626f617264c9564d34343030313037"
         "ca564c4b2d4d422d343430c0c10000000085", 1},
    }, false);
    std::ifstream file("/tmp/io.bin", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), {});
    ASSERT_EQ(bytes.size(), 256u);
    EXPECT_EQ(bytes.substr(240, 4), std::string("\x00\xad\xbe\xef", 4));
}

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
    // Only a regular file is replaced: a link, a device or a FIFO is written through, never replaced.
    std::ofstream("/tmp/textfile/target");
    std::filesystem::create_symlink("/tmp/textfile/target", "/tmp/link.prom");
    ASSERT_EQ(mknod("/tmp/null", S_IFCHR | 0666, makedev(1, 3)), 0);
    for (const char* path : {"/tmp/link.prom", "/tmp/null"}) {
        Result run = velkdirect({"metrics", "-o", path});
        EXPECT_EQ(run.code, 0) << path << run.err;
    }
    EXPECT_TRUE(std::filesystem::is_symlink("/tmp/link.prom"));
    EXPECT_GT(std::filesystem::file_size("/tmp/textfile/target"), 1000u);
    ASSERT_EQ(lstat("/tmp/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode)) << "the device is still a device";
    Result printed = velkdirect({"metrics"});
    EXPECT_TRUE(contains(printed.out, "velkdirect_temperature_celsius{id=\"cpu0_temp\",path=\"/chassis/"
                                      "mb/cpu0/temp\"} "));
    EXPECT_TRUE(contains(printed.out, "velkdirect_scrape_calls 17\n")) << "3 + 10 sensors + 4 indicators";

    ASSERT_EQ(daemon.stop(SIGTERM), 0);
    expect_run({"metrics", "-o", "/tmp/textfile/velkdirect.prom"}, 3, "cannot reach the management daemon");
    Result check = velkdirect({"check"});
    EXPECT_EQ(check.code, 3);
    EXPECT_EQ(check.out, "VELKDIRECT UNKNOWN - cannot reach the management daemon at /tmp/velkdirect.sock: there is "
                         "no socket file (is the daemon running? velkd-sim starts one)\n");
    // watch waits for the daemon to come back, saying so, until its count runs out.
    Result watch = velkdirect({"watch", "-n", "0.1", "-c", "2"});
    EXPECT_EQ(watch.code, 3);
    EXPECT_EQ(std::count(watch.err.begin(), watch.err.end(), '\n'), 3) << watch.err; // twice "trying again", once the end
    EXPECT_TRUE(contains(watch.err, "there is no socket file (is the daemon running? velkd-sim starts one); trying "
                                    "again in 0.1 s\n"))
        << watch.err;
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
} // namespace velk::cli::test
