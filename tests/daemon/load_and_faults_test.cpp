// Many clients at once, and faults on purpose that repeat with their seed.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "daemon_process.h"
#include "description_file.h"
#include "velkdirectfe.h"

namespace velkd::test {
namespace {

int one_call(int t, int i) {
    uint16_t reading = 0;
    float normal = 0;
    uint8_t byte = 0;
    uint32_t got = 0, count = 0;
    velkdirectfe_sensor_attr_t* sensors = nullptr;
    switch (i % 4) {
    case 0: return velkdirectfe_get_sensor_vals_by_logical_num(0, 1 + (t + i) % 10, &reading, &normal);
    case 1: return velkdirectfe_read_fru_direct(0, "mainboard", uint32_t(i), 1, &byte, &got);
    case 2: return velkdirectfe_set_indicator_mode(0, "fault_led", uint8_t(i % 3));
    }
    int status = velkdirectfe_get_sensor_attrs(0, &count, &sensors);
    if (status == 0) velkdirectfe_free_sensor_attrs(0, count, sensors);
    return status;
}

TEST(Load, SixteenThreadsOfCallsWithoutAFailure) {
    DaemonProcess daemon;
    ASSERT_TRUE(daemon.ready()) << daemon.log();
    std::atomic<int> failures{0};
    std::vector<std::thread> clients;
    for (int t = 0; t < 16; ++t) {
        clients.emplace_back([&, t] {
            for (int i = 0; i < 250; ++i)
                if (one_call(t, i) != 0) ++failures;
        });
    }
    for (std::thread& c : clients) c.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(daemon.stop(SIGTERM), 0) << daemon.log();
}

std::string failure_pattern() {
    std::string pattern;
    for (int i = 0; i < 40; ++i) {
        uint16_t reading = 0;
        float normal = 0;
        int status = velkdirectfe_get_sensor_vals(0, "flaky", &reading, &normal);
        pattern += status == 0 ? '.' : status == 9 ? 'x' : '?';
    }
    return pattern;
}

// flaky fails half its value reads, in an order its seed fixes, from one start
// to the next; slow answers late but stalls no one; the platform's names
// always fail.
TEST(Faults, SeededFailuresRepeatAndADelayedObjectStallsNoOne) {
    std::string config =
        Description()
            .sensor("flaky", 1, "behaviour = \"constant\", value = 5.0")
            .sensor("slow", 2, "behaviour = \"constant\", value = 6.0")
            .add("fault", "object = \"flaky\"\nprocedure = \"get_sens_val\"\nstatus = 9\n"
                          "failure_rate = 0.5\nseed = 42")
            .add("fault", "object = \"/s/slow\"\ndelay_ms = 1500")
            .add("fault", "procedure = 8\nstatus = 11")
            .write("faulty.toml");
    std::string first;
    {
        DaemonProcess daemon({"--config", config});
        ASSERT_TRUE(daemon.ready()) << daemon.log();
        first = failure_pattern();
        std::atomic<bool> slow_done{false};
        std::thread slow([&] {
            uint16_t reading = 0;
            float normal = 0;
            EXPECT_EQ(velkdirectfe_get_sensor_vals(0, "slow", &reading, &normal), 0);
            EXPECT_EQ(reading, 6);
            slow_done = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100)); // the slow call reaches the daemon
        uint16_t reading = 0;
        float normal = 0;
        EXPECT_EQ(velkdirectfe_get_sensor_vals_by_logical_num(0, 1, &reading, &normal), 0)
            << "the fault names one procedure only";
        EXPECT_FALSE(slow_done) << "answered while the delayed call still waits";
        slow.join();
        velkdirectfe_plat_names_t names{};
        EXPECT_EQ(velkdirectfe_get_platform_names(0, &names), 11) << "a fault on a whole procedure";
    }
    DaemonProcess again({"--config", config});
    ASSERT_TRUE(again.ready()) << again.log();
    EXPECT_EQ(failure_pattern(), first);
    EXPECT_NE(first.find('x'), std::string::npos);
    EXPECT_NE(first.find('.'), std::string::npos);
    EXPECT_EQ(first.find('?'), std::string::npos);
}

} // namespace
} // namespace velkd::test
