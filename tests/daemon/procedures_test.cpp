// velkd-sim's procedures through the library, a few calls a family: what
// velkdirect never sends or never shows, and faults on purpose. What the tool
// shows of the built-in platform is proven in tests/cli, the library's own
// contract in tests/api.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "daemon_process.h"
#include "daemon_status.h"
#include "description_file.h"
#include "velkdirectfe.h"

namespace velkd::test {
namespace {

class Procedures : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(daemon_.ready()) << daemon_.log(); }
    DaemonProcess daemon_;
};

void expect_thresholds(int sensor, const std::vector<float>& expected) {
    float thresholds[6] = {};
    ASSERT_EQ(velkdirectfe_get_normalized_thresholds(0, sensor, thresholds), 0);
    EXPECT_EQ(std::vector<float>(thresholds, thresholds + 6), expected);
}

// Arguments the tool refuses before it calls, or never sends, and the edges
// of what is accepted: refusals carry the daemon's status and change nothing.
TEST_F(Procedures, RefusalsCarryTheDaemonsStatus) {
    using enum velk::protocol::Status;
    uint16_t reading = 0, generation = 0;
    float normal = 0, six[6];
    uint8_t bytes[4] = {};
    uint32_t word = 0;
    int32_t result = 0;
    char* strid = nullptr;
    velkdirectfe_ind_attr_t* indicator = nullptr;
    velkdirectfe_fru_attr_t* fru = nullptr;
    pollctrl_thresh_t beyond{}, disorder{};
    beyond.sensor_num = disorder.sensor_num = 2;
    beyond.ctrl = 0x100; // beyond the six thresholds and two hystereses
    beyond.val1 = 200;
    disorder.ctrl = 0x02; // lower critical 20 C, above lower non-critical 10 C
    disorder.val2 = 40;
    const struct {
        int status;
        const char* what;
        std::function<int()> call;
    } cases[] = {
#define CASE(status, call) {status, #call, [&] { return velkdirectfe_##call; }}
        CASE(kInvalidValue, set_sensor_reading(0, 2, 256)),
        CASE(kUnknownObject, set_sensor_reading(0, 77, 1)),
        CASE(kUnknownObject, get_sensor_vals(0, "nope", &reading, &normal)),
        CASE(kUnknownObject, get_indicator_attr(0, "cpu0_temp", &indicator)),
        CASE(kUnknownObject, get_fru_attr(0, "", &fru)),
        CASE(kUnknownObject, logical_num_to_strid(0, -1, &strid)),
        CASE(kInvalidValue, set_threshold_vals_internal(0, &beyond)),
        CASE(kInvalidValue, set_threshold_vals_internal(0, &disorder)),
        CASE(kUnknownObject, get_normalized_thresholds(0, -3, six)),
        CASE(kInvalidValue, set_poll_state(0, 2)),
        CASE(kUnknownObject, enable_sensor_polling(0, 1000, &word, &generation)),
        CASE(kUnknownObject, convert_raw_to_normal(0, "nope", 1, &normal)),
        CASE(kOutOfRange, read_fru_direct(0, "mainboard", ~0u, 2, bytes, &word)),
        CASE(kOutOfRange, read_fru_direct(0, "mainboard", 509, 4, bytes, &word)), // 1 past the end
        CASE(kOutOfRange, write_fru_direct(0, "mainboard", 511, 2, bytes, &result)),
        CASE(0, write_fru_direct(0, "mainboard", 512, 0, bytes, &result)), // nothing, at the end
        CASE(0, write_fru_direct(0, "/chassis/mb", 0, 0, bytes, &result)),
#undef CASE
    };
    for (const auto& c : cases) EXPECT_EQ(c.call(), c.status) << c.what;
    expect_thresholds(2, {0, 5, 10, 85, 95, 100});
    velkdirectfe_sensor_data_t data{};
    ASSERT_EQ(velkdirectfe_get_sensor_data(0, "cpu0_temp", &data), 0);
    EXPECT_EQ(data.byte2 & 4, 0) << "no reading was overridden";
}

// All six thresholds and both hystereses set in raw; a reset restores them.
TEST_F(Procedures, ThresholdsAndHysteresisSetInRawAreReadBackAndResetRestoresThem) {
    pollctrl_thresh_t settings{};
    settings.sensor_num = 2;
    settings.ctrl = 0xFF;
    settings.val1 = 10, settings.val2 = 20, settings.val3 = 30;
    settings.val4 = 170, settings.val5 = 180, settings.val6 = 190;
    settings.val7 = 3, settings.val8 = 1;
    ASSERT_EQ(velkdirectfe_set_threshold_vals_internal(0, &settings), 0);
    expect_thresholds(2, {5, 10, 15, 85, 90, 95});
    velkdirectfe_sensor_data_t data{};
    ASSERT_EQ(velkdirectfe_get_sensor_data(0, "cpu0_temp", &data), 0);
    EXPECT_EQ(data.word1, 0x0301);
    ASSERT_EQ(velkdirectfe_reset_all_sensors_state(0), 0);
    expect_thresholds(2, {0, 5, 10, 85, 95, 100});
    ASSERT_EQ(velkdirectfe_get_sensor_data(0, "cpu0_temp", &data), 0);
    EXPECT_EQ(data.word1, 0x0404);
}

TEST_F(Procedures, ConversionsRoundTripOverTheWholeRange) {
    float normal = 0;
    for (int raw = 0; raw <= 255; ++raw) {
        uint8_t back = 0;
        ASSERT_EQ(velkdirectfe_convert_raw_to_normal(0, "mb_12v", uint8_t(raw), &normal), 0);
        ASSERT_EQ(velkdirectfe_convert_normal_to_raw(0, "/chassis/mb/12v", normal, &back), 0);
        ASSERT_EQ(back, raw);
    }
}

TEST_F(Procedures, ATimedModeReturnsToTheModeBeforeAndAPermanentOneCancelsIt) {
    int32_t mode = -1;
    ASSERT_EQ(velkdirectfe_set_indicator_mode(0, "fault_led", 3), 0);
    ASSERT_EQ(velkdirectfe_set_indicator_mode_for_duration(0, "fault_led", 2, 200), 0);
    ASSERT_EQ(velkdirectfe_get_indicator_mode(0, "/chassis/front/fault_led", &mode), 0);
    EXPECT_EQ(mode, 2);
    for (int i = 0; i < 1000 && mode == 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(velkdirectfe_get_indicator_mode(0, "fault_led", &mode), 0);
    }
    EXPECT_EQ(mode, 3);
    ASSERT_EQ(velkdirectfe_set_indicator_mode_for_duration(0, "fault_led", 2, 0xFFFFFFFFu), 0);
    ASSERT_EQ(velkdirectfe_set_indicator_mode(0, "fault_led", 0), 0);
    ASSERT_EQ(velkdirectfe_get_indicator_mode(0, "fault_led", &mode), 0);
    EXPECT_EQ(mode, 0);
}

// A sensor's raw reading by name, or minus the status it is refused with.
int reading_of(const char* sensor) {
    uint16_t reading = 0;
    float normal = 0;
    int status = velkdirectfe_get_sensor_vals(0, sensor, &reading, &normal);
    return status == 0 ? reading : -status;
}

// A reading fast enough to see it move between calls, and held once its
// polling is off.
TEST(DaemonReadings, HeldWhileNotPolledAndMovingOtherwise) {
    const char* saw = "behaviour = \"ramp\", from = 0.0, to = 250.0, period_s = 0.25";
    DaemonProcess daemon({"--config", Description().sensor("saw", 1, saw).write("fast.toml")});
    ASSERT_TRUE(daemon.ready()) << daemon.log();
    int first = reading_of("saw");
    ASSERT_GE(first, 0);
    bool moved = false;
    for (int i = 0; i < 200 && !moved; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        moved = reading_of("saw") != first;
    }
    EXPECT_TRUE(moved);
    // Once polling has a generation of its own, 0 still disables it: any generation.
    uint32_t word = 0;
    uint16_t generation = 0, any = 0;
    ASSERT_EQ(velkdirectfe_enable_sensor_polling(0, 1, &word, &generation), 0);
    ASSERT_NE(generation, 0);
    ASSERT_EQ(velkdirectfe_disable_sensor_polling(0, 1, &word, &any), 0);
    int held = reading_of("saw");
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(reading_of("saw"), held);
}

std::string failure_pattern() {
    std::string pattern;
    for (int i = 0; i < 40; ++i) {
        int reading = reading_of("flaky");
        pattern += reading == 5 ? '.' : reading == -9 ? 'x' : '?';
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
            EXPECT_EQ(reading_of("slow"), 6);
            slow_done = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100)); // it reaches the daemon
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
