// The inventory walk over the built-in platform of a running velkd-sim.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "daemon_process.h"
#include "velkdirectfe.h"

namespace velkd::test {
namespace {

TEST(InventoryAgainstDaemon, WalksEveryObject) {
    DaemonProcess daemon;
    ASSERT_TRUE(daemon.ready()) << daemon.log();
    std::set<std::string> seen;
    auto callback = [](const char* path, uint32_t, const uint8_t*, const velkdirectfe_nvlist_t*, void* parent) -> void* {
        static_cast<std::set<std::string>*>(parent)->insert(path);
        return parent;
    };
    ASSERT_EQ(velkdirectfe_inventory_direct(0, callback, &seen), 0);
    EXPECT_TRUE(seen.contains("/chassis/fantray/fan1/speed"));
    EXPECT_TRUE(seen.contains("/chassis/front")) << "an intermediate level no object carries";
    EXPECT_EQ(seen.size(), 10u + 4 + 5 + 7 + 1); // every object, and /chassis/front
}


} // namespace
} // namespace velkd::test
