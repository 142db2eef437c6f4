// A snapshot of a running daemon, with state that differs from its
// description, is a description velkd-sim accepts as it stands.
#include <fstream>
#include <iterator>

#include "cli_fixture.h"

namespace velk::cli::test {
namespace {

TEST(Snapshot, OfARunningDaemonIsADescriptionThatChecks) {
    velkd::test::DaemonProcess daemon;
    ASSERT_TRUE(daemon.ready()) << daemon.log();
    // A mode set for an hour is noted, not kept as the indicator's mode.
    for (const std::vector<std::string>& change : std::vector<std::vector<std::string>>{
             {"fru", "mainboard", "write", "--offset", "0x20", "c0ffee"}, {"indicator", "fault_led", "2", "--for", "1h"}})
        ASSERT_EQ(velkdirect(change).code, 0) << change[0];
    expect_run({"snapshot", "-o", "/tmp/snapshot.toml"}, 0, ""); // quietly
    std::ifstream file("/tmp/snapshot.toml");
    std::string description((std::istreambuf_iterator<char>(file)), {});
    EXPECT_TRUE(contains(description, "# mode 2 (slow blink) was set for a while")) << description;
    auto check = velkd::test::run_to_exit({"--config", "/tmp/snapshot.toml", "--check"});
    EXPECT_EQ(check.code, 0) << check.err << description;
}

} // namespace
} // namespace velk::cli::test
