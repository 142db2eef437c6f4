// A snapshot of a running daemon, loaded by a second daemon, serves the same
// platform: inventory, names, thresholds, modes and FRU data.
#include <signal.h>

#include <fstream>
#include <iterator>

#include "cli_fixture.h"

namespace velk::cli::test {
namespace {

// What a description fixes, as velkdirect reports it. Readings move, so they
// are left out (they are compared through the second snapshot below).
json platform_facts() {
    json facts;
    for (const char* command : {"platform", "tree", "indicators", "frus", "components", "associations", "sensors"})
        facts[command] = velkdirect_json({command});
    for (json& s : facts["sensors"])
        for (const char* moving : {"reading", "value", "crossed"}) s.erase(moving);
    for (const json& fru : facts["frus"])
        facts["fru_data"][fru["name"].get<std::string>()] = velkdirect_json({"fru", fru["name"], "read"})["data"];
    return facts;
}

std::string without_comments(const std::string& text) {
    std::istringstream lines(text);
    std::string out;
    for (std::string line; std::getline(lines, line);)
        if (!line.starts_with("#")) out += line + "\n";
    return out;
}

TEST(SnapshotRoundTrip, SecondDaemonServesTheSamePlatform) {
    json original;
    {
        velkd::test::DaemonProcess first;
        ASSERT_TRUE(first.ready()) << first.log();
        // State that differs from the built-in description must be captured
        // too. A mode set for an hour is not what the snapshot keeps.
        for (const std::vector<std::string>& change : std::vector<std::vector<std::string>>{
                 {"fru", "mainboard", "write", "--offset", "0x20", "c0ffee"}, {"indicator", "locate_led", "fast"},
                 {"poll", "state", "off"}, {"indicator", "fault_led", "2", "--for", "1h"}})
            ASSERT_EQ(velkdirect(change).code, 0) << change[0];
        json timed = velkdirect_json({"indicator", "fault_led"});
        EXPECT_EQ(timed["mode"], 2);
        EXPECT_EQ(timed["timed"]["returns_to"], 0);
        EXPECT_GT(timed["timed"]["seconds_left"], 3500);
        expect_run({"snapshot", "-o", "/tmp/snapshot.toml"}, 0, ""); // quietly
        original = platform_facts();
        for (json& indicator : original["indicators"])
            if (indicator["name"] == "fault_led") {
                indicator.update({{"mode", 0}, {"mode_name", "off"}});
                indicator.erase("timed");
            }
        EXPECT_EQ(first.stop(SIGTERM), 0);
    }
    std::ifstream file("/tmp/snapshot.toml");
    std::string description((std::istreambuf_iterator<char>(file)), {});
    EXPECT_TRUE(contains(description, "# mode 2 (slow blink) was set for a while")) << description;

    velkd::test::DaemonProcess second({"--config", "/tmp/snapshot.toml"});
    ASSERT_TRUE(second.ready()) << second.log() << description;
    json copy = platform_facts();
    // Only the differences, as a JSON patch: the documents are long. The
    // changes made above are among what is compared.
    EXPECT_TRUE(copy == original) << json::diff(original, copy).dump(2);
    EXPECT_EQ(copy["fru_data"]["mainboard"].get<std::string>().substr(0x20 * 2, 6), "c0ffee");
    EXPECT_EQ(find_by(copy["indicators"], "name", "locate_led")["mode"], 3);
    EXPECT_EQ(find_by(copy["sensors"], "id", "mb_3v3")["polling"]["daemon_wide"], false);
    // The copy's readings hold the captured values, so its own snapshot is
    // the same description, but for the comments (the header has the time).
    Result again = velkdirect({"snapshot"});
    ASSERT_EQ(again.code, 0) << again.err;
    EXPECT_EQ(without_comments(again.out), without_comments(description));
}

} // namespace
} // namespace velk::cli::test
