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

TEST(Load, SixteenThreadsOfCallsWithoutAFailure) {
    DaemonProcess daemon;
    ASSERT_TRUE(daemon.ready()) << daemon.log();
    constexpr int kThreads = 16, kCallsEach = 250;
    std::atomic<int> failures{0};
    std::vector<std::thread> clients;
    for (int t = 0; t < kThreads; ++t) {
        clients.emplace_back([&, t] {
            for (int i = 0; i < kCallsEach; ++i) {
                uint16_t reading = 0;
                float normal = 0;
                uint8_t byte = 0;
                uint32_t got = 0;
                int status = 0;
                switch (i % 4) {
                case 0: status = velkdirectfe_get_sensor_vals_by_logical_num(0, 1 + (t + i) % 10, &reading, &normal); break;
                case 1: status = velkdirectfe_read_fru_direct(0, "mainboard", static_cast<uint32_t>(i), 1, &byte, &got); break;
                case 2: status = velkdirectfe_set_indicator_mode(0, "fault_led", static_cast<uint8_t>(i % 3)); break;
                default: {
                    uint32_t count = 0;
                    velkdirectfe_sensor_attr_t* sensors = nullptr;
                    status = velkdirectfe_get_sensor_attrs(0, &count, &sensors);
                    if (status == 0) velkdirectfe_free_sensor_attrs(0, count, sensors);
                }
                }
                if (status != 0) ++failures;
            }
        });
    }
    for (std::thread& c : clients) c.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(daemon.stop(SIGTERM), 0) << daemon.log();
}

// flaky fails half its value reads, in an order its seed fixes; slow answers
// late; the platform's names always fail.
std::string faulty_description() {
    return Description()
        .sensor("flaky", 1, "behaviour = \"constant\", value = 5.0")
        .sensor("slow", 2, "behaviour = \"constant\", value = 6.0")
        .add("fault", "object = \"flaky\"\nprocedure = \"get_sens_val\"\nstatus = 9\nfailure_rate = 0.5\nseed = 42")
        .add("fault", "object = \"/s/slow\"\ndelay_ms = 1500")
        .add("fault", "procedure = 8\nstatus = 11")
        .write("faulty.toml");
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

// A delayed object does not stall others; seeded failures repeat from one
// start to the next.
TEST(Faults, SeededFailuresRepeatAndADelayedObjectStallsNoOne) {
    std::string config = faulty_description();
    std::string first, second;
    uint16_t reading = 0;
    float normal = 0;
    {
        DaemonProcess daemon({"--config", config});
        ASSERT_TRUE(daemon.ready()) << daemon.log();
        first = failure_pattern();
        std::atomic<bool> slow_done{false};
        std::thread slow([&] {
            uint16_t slow_reading = 0;
            float slow_normal = 0;
            EXPECT_EQ(velkdirectfe_get_sensor_vals(0, "slow", &slow_reading, &slow_normal), 0);
            EXPECT_EQ(slow_reading, 6);
            slow_done = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100)); // let the slow call reach the daemon
        EXPECT_EQ(velkdirectfe_get_sensor_vals_by_logical_num(0, 1, &reading, &normal), 0)
            << "the fault names one procedure only";
        EXPECT_FALSE(slow_done) << "answered while the delayed call still waits";
        slow.join();
        EXPECT_TRUE(slow_done);
        velkdirectfe_plat_names_t names{};
        EXPECT_EQ(velkdirectfe_get_platform_names(0, &names), 11) << "a fault on a whole procedure";
    }
    {
        DaemonProcess daemon({"--config", config});
        ASSERT_TRUE(daemon.ready()) << daemon.log();
        second = failure_pattern();
    }
    EXPECT_EQ(first, second);
    EXPECT_NE(first.find('x'), std::string::npos);
    EXPECT_NE(first.find('.'), std::string::npos);
    EXPECT_EQ(first.find('?'), std::string::npos);
}

} // namespace
} // namespace velkd::test
