// Every public function of the library against a running velkd-sim serving
// the built-in platform (or a small one of the test's own), with values read
// back after they are set.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "daemon_process.h"
#include "velkdirectfe.h"

namespace velkd::test {
namespace {

constexpr int kUnknownObject = 1, kOutOfRange = 2, kInvalidValue = 3, kReadOnly = 4, kWrongState = 7;

class LibraryAgainstDaemon : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(daemon_.ready()) << daemon_.log(); }
    DaemonProcess daemon_;
};

std::string prop(const velkdirectfe_nvlist_t* list, const std::string& name) {
    for (; list != nullptr; list = list->next)
        if (name == list->name) return list->value;
    return "(none)";
}

TEST_F(LibraryAgainstDaemon, ListsEveryKindOfObject) {
    int handle = -1;
    ASSERT_EQ(velkdirectfe_open(&handle), 0);
    uint32_t count = 0;
    velkdirectfe_sensor_attr_t* sensors = nullptr;
    ASSERT_EQ(velkdirectfe_get_sensor_attrs(handle, &count, &sensors), 0);
    ASSERT_EQ(count, 10u);
    EXPECT_STREQ(sensors[1].path, "/chassis/mb/cpu0/temp");
    EXPECT_STREQ(sensors[1].aux_str, "cpu0_temp");
    EXPECT_STREQ(sensors[1].opt_str, "CPU 0 die");
    EXPECT_EQ(sensors[1].kind, 3u);
    EXPECT_EQ(sensors[1].desc[0], 0x03);
    EXPECT_EQ(prop(sensors[1].props, "unit"), "degrees C");
    EXPECT_EQ(sensors[5].opt_str, nullptr) << "io_temp has no note";
    EXPECT_EQ(sensors[1].aux_ptr_a, nullptr);
    uint32_t number = 0;
    std::memcpy(&number, sensors[1].opaque0, sizeof number);
    EXPECT_EQ(number, 2u);
    EXPECT_EQ(velkdirectfe_free_sensor_attrs(handle, count, sensors), 0);

    velkdirectfe_ind_attr_t* indicators = nullptr;
    ASSERT_EQ(velkdirectfe_get_indicator_attrs(handle, &count, &indicators), 0);
    ASSERT_EQ(count, 4u);
    EXPECT_STREQ(indicators[1].aux_str, "fault_led");
    EXPECT_EQ(prop(indicators[1].props, "colour"), "amber");
    EXPECT_EQ(indicators[1].opaque1[0], 4) << "fault_led accepts four modes";
    velkdirectfe_free_indicator_attrs(handle, count, indicators);

    velkdirectfe_fru_attr_t* frus = nullptr;
    ASSERT_EQ(velkdirectfe_get_fru_attrs(handle, &count, &frus), 0);
    ASSERT_EQ(count, 5u);
    EXPECT_STREQ(frus[0].path, "/chassis");
    EXPECT_STREQ(frus[4].aux_str, "psu0");
    EXPECT_EQ(prop(frus[4].props, "watts"), "750");
    velkdirectfe_free_fru_attrs(handle, count, frus);

    velkdirectfe_comp_attr_t* components = nullptr;
    ASSERT_EQ(velkdirectfe_get_component_attrs(handle, &count, &components), 0);
    ASSERT_EQ(count, 7u);
    EXPECT_STREQ(components[0].path, "/chassis/mb/cpu0");
    EXPECT_EQ(prop(components[0].props, "cores"), "16");
    velkdirectfe_free_component_attrs(handle, count, components);
    EXPECT_EQ(velkdirectfe_close(handle), 0);
}

TEST_F(LibraryAgainstDaemon, SingleQueriesTakeNameOrPath) {
    velkdirectfe_sensor_attr_t* sensor = nullptr;
    ASSERT_EQ(velkdirectfe_get_sensor_attr(0, "mb_12v", &sensor), 0);
    EXPECT_STREQ(sensor->path, "/chassis/mb/12v");
    velkdirectfe_free_sensor_attrs(0, 1, sensor);
    ASSERT_EQ(velkdirectfe_get_sensor_attr(0, "/chassis/mb/12v", &sensor), 0);
    EXPECT_STREQ(sensor->aux_str, "mb_12v");
    velkdirectfe_free_sensor_attrs(0, 1, sensor);
    ASSERT_EQ(velkdirectfe_get_sensor_attr_by_logical_num(0, 4, &sensor), 0);
    EXPECT_STREQ(sensor->aux_str, "mb_12v");
    velkdirectfe_free_sensor_attrs(0, 1, sensor);
    EXPECT_EQ(velkdirectfe_get_sensor_attr(0, "no_such_sensor", &sensor), kUnknownObject);
    EXPECT_EQ(velkdirectfe_get_sensor_attr_by_logical_num(0, 99, &sensor), kUnknownObject);

    velkdirectfe_ind_attr_t* indicator = nullptr;
    ASSERT_EQ(velkdirectfe_get_indicator_attr(0, "/chassis/front/locate_led", &indicator), 0);
    EXPECT_STREQ(indicator->aux_str, "locate_led");
    velkdirectfe_free_indicator_attrs(0, 1, indicator);
    EXPECT_EQ(velkdirectfe_get_indicator_attr(0, "cpu0_temp", &indicator), kUnknownObject);

    velkdirectfe_fru_attr_t* fru = nullptr;
    ASSERT_EQ(velkdirectfe_get_fru_attr(0, "mainboard", &fru), 0);
    EXPECT_STREQ(fru->path, "/chassis/mb");
    uint32_t size = 0;
    std::memcpy(&size, fru->opaque2, sizeof size);
    EXPECT_EQ(size, 512u);
    velkdirectfe_free_fru_attrs(0, 1, fru);
    EXPECT_EQ(velkdirectfe_get_fru_attr(0, "", &fru), kUnknownObject);
}

TEST_F(LibraryAgainstDaemon, PlatformNamesAndStringIds) {
    velkdirectfe_plat_names_t names{};
    ASSERT_EQ(velkdirectfe_get_platform_names(0, &names), 0);
    EXPECT_STREQ(names.name1, "Velk V-440 Server");
    EXPECT_STREQ(names.name2, "VLK-440-SIM");
    std::free(names.name1);
    std::free(names.name2);

    char* strid = nullptr;
    ASSERT_EQ(velkdirectfe_logical_num_to_strid(0, 9, &strid), 0);
    EXPECT_STREQ(strid, "psu0_temp");
    std::free(strid);
    EXPECT_EQ(velkdirectfe_logical_num_to_strid(0, -1, &strid), kUnknownObject);
}

TEST_F(LibraryAgainstDaemon, ReadingSetIsReadBackByNameAndNumber) {
    ASSERT_EQ(velkdirectfe_set_sensor_reading(0, 2, 100), 0);
    uint16_t reading = 0;
    float normal = 0;
    ASSERT_EQ(velkdirectfe_get_sensor_vals(0, "cpu0_temp", &reading, &normal), 0);
    EXPECT_EQ(reading, 100);
    EXPECT_FLOAT_EQ(normal, 50.0f);
    ASSERT_EQ(velkdirectfe_get_sensor_vals_by_logical_num(0, 2, &reading, &normal), 0);
    EXPECT_EQ(reading, 100);

    velkdirectfe_sensor_data_t data{};
    ASSERT_EQ(velkdirectfe_get_sensor_data(0, "cpu0_temp", &data), 0);
    EXPECT_EQ(data.reading, 100);
    EXPECT_FLOAT_EQ(data.normal_value, 50.0f);
    EXPECT_EQ(data.byte1, 0) << "50 C crosses no threshold";
    EXPECT_EQ(data.byte2, 0x07) << "polled, polling runs, overridden";
    EXPECT_EQ(data.byte3, 0x01) << "temperature sensor type";
    EXPECT_EQ(data.word1, 0x0404) << "hysteresis 4 and 4";
    EXPECT_EQ(data.word2, 1000) << "polling interval";
    EXPECT_FLOAT_EQ(data.thresholds[3], 85.0f);

    ASSERT_EQ(velkdirectfe_set_sensor_reading(0, 2, 190), 0); // 95 C: upper non-critical and critical
    ASSERT_EQ(velkdirectfe_get_sensor_data_by_logical_num(0, 2, &data), 0);
    EXPECT_EQ(data.byte1, 0x18);

    EXPECT_EQ(velkdirectfe_set_sensor_reading(0, 2, 256), kInvalidValue);
    EXPECT_EQ(velkdirectfe_set_sensor_reading(0, 77, 1), kUnknownObject);
    EXPECT_EQ(velkdirectfe_get_sensor_vals(0, "nope", &reading, &normal), kUnknownObject);
}

TEST_F(LibraryAgainstDaemon, ThresholdsSetAreReadBackAndResetRestoresThem) {
    pollctrl_thresh_t settings{};
    settings.sensor_num = 2;
    settings.ctrl = 0xFF;
    settings.val1 = 10, settings.val2 = 20, settings.val3 = 30;
    settings.val4 = 170, settings.val5 = 180, settings.val6 = 190;
    settings.val7 = 3, settings.val8 = 1;
    ASSERT_EQ(velkdirectfe_set_threshold_vals_internal(0, &settings), 0);
    float thresholds[6] = {};
    ASSERT_EQ(velkdirectfe_get_normalized_thresholds(0, 2, thresholds), 0);
    const float expected[6] = {5, 10, 15, 85, 90, 95};
    for (int i = 0; i < 6; ++i) EXPECT_FLOAT_EQ(thresholds[i], expected[i]) << i;
    velkdirectfe_sensor_data_t data{};
    ASSERT_EQ(velkdirectfe_get_sensor_data(0, "cpu0_temp", &data), 0);
    EXPECT_EQ(0, std::memcmp(data.thresholds, thresholds, sizeof thresholds));
    EXPECT_EQ(data.word1, 0x0301);

    // Lower critical above lower non-critical: refused, nothing changes.
    settings.ctrl = 0x02;
    settings.val2 = 40;
    EXPECT_EQ(velkdirectfe_set_threshold_vals_internal(0, &settings), kInvalidValue);
    settings.ctrl = 0x100;
    EXPECT_EQ(velkdirectfe_set_threshold_vals_internal(0, &settings), kInvalidValue);
    ASSERT_EQ(velkdirectfe_get_normalized_thresholds(0, 2, thresholds), 0);
    EXPECT_FLOAT_EQ(thresholds[1], 10.0f);

    ASSERT_EQ(velkdirectfe_set_sensor_reading(0, 2, 7), 0);
    ASSERT_EQ(velkdirectfe_reset_all_sensors_state(0), 0);
    ASSERT_EQ(velkdirectfe_get_normalized_thresholds(0, 2, thresholds), 0);
    EXPECT_FLOAT_EQ(thresholds[3], 85.0f);
    EXPECT_FLOAT_EQ(thresholds[5], 100.0f);
    ASSERT_EQ(velkdirectfe_get_sensor_data(0, "cpu0_temp", &data), 0);
    EXPECT_EQ(data.byte2 & 4, 0) << "override dropped";
    EXPECT_GT(data.normal_value, 40.0f) << "back to its sine around 55";
    EXPECT_EQ(velkdirectfe_get_normalized_thresholds(0, -3, thresholds), kUnknownObject);
}

TEST_F(LibraryAgainstDaemon, PollingGenerationsAndState) {
    uint32_t word = 0;
    uint16_t generation = 0;
    ASSERT_EQ(velkdirectfe_enable_sensor_polling(0, 7, &word, &generation), 0);
    EXPECT_EQ(word, 500u) << "fan0 polls every 500 ms";
    EXPECT_NE(generation, 0);
    uint16_t stale = static_cast<uint16_t>(generation + 1);
    EXPECT_EQ(velkdirectfe_disable_sensor_polling(0, 7, &word, &stale), kWrongState);
    word = 0;
    ASSERT_EQ(velkdirectfe_disable_sensor_polling(0, 7, &word, &generation), 0);
    EXPECT_EQ(word, 500u);
    velkdirectfe_sensor_data_t data{};
    ASSERT_EQ(velkdirectfe_get_sensor_data_by_logical_num(0, 7, &data), 0);
    EXPECT_EQ(data.byte2 & 1, 0) << "not polled";

    EXPECT_EQ(velkdirectfe_set_poll_state(0, 2), kInvalidValue);
    ASSERT_EQ(velkdirectfe_set_poll_state(0, 0), 0);
    ASSERT_EQ(velkdirectfe_get_sensor_data_by_logical_num(0, 1, &data), 0);
    EXPECT_EQ(data.byte2 & 2, 0) << "daemon-wide polling stopped";
    ASSERT_EQ(velkdirectfe_set_poll_state(0, 1), 0);
    ASSERT_EQ(velkdirectfe_get_sensor_data_by_logical_num(0, 1, &data), 0);
    EXPECT_EQ(data.byte2 & 3, 3);
    EXPECT_EQ(velkdirectfe_enable_sensor_polling(0, 1000, &word, &generation), kUnknownObject);
}

TEST_F(LibraryAgainstDaemon, ConversionsRoundTrip) {
    float normal = 0;
    ASSERT_EQ(velkdirectfe_convert_raw_to_normal(0, "mb_12v", 128, &normal), 0);
    EXPECT_FLOAT_EQ(normal, 12.0f); // 0.0625 * 128 + 4
    for (int raw = 0; raw <= 255; ++raw) {
        uint8_t back = 0;
        ASSERT_EQ(velkdirectfe_convert_raw_to_normal(0, "mb_12v", static_cast<uint8_t>(raw), &normal), 0);
        ASSERT_EQ(velkdirectfe_convert_normal_to_raw(0, "mb_12v", normal, &back), 0);
        ASSERT_EQ(back, raw);
    }
    uint8_t raw = 1;
    ASSERT_EQ(velkdirectfe_convert_normal_to_raw(0, "/chassis/mb/12v", -100.0f, &raw), 0);
    EXPECT_EQ(raw, 0) << "clamped below";
    ASSERT_EQ(velkdirectfe_convert_normal_to_raw(0, "mb_12v", 1e6f, &raw), 0);
    EXPECT_EQ(raw, 255) << "clamped above";
    EXPECT_EQ(velkdirectfe_convert_normal_to_raw(0, "mb_12v", std::nanf(""), &raw), kInvalidValue);
    EXPECT_EQ(velkdirectfe_convert_raw_to_normal(0, "nope", 1, &normal), kUnknownObject);
}

TEST_F(LibraryAgainstDaemon, IndicatorModesAndDurations) {
    int32_t mode = -1;
    ASSERT_EQ(velkdirectfe_get_indicator_mode(0, "power_led", &mode), 0);
    EXPECT_EQ(mode, 1);
    ASSERT_EQ(velkdirectfe_set_indicator_mode(0, "fault_led", 3), 0);
    ASSERT_EQ(velkdirectfe_get_indicator_mode(0, "/chassis/front/fault_led", &mode), 0);
    EXPECT_EQ(mode, 3);
    EXPECT_EQ(velkdirectfe_set_indicator_mode(0, "locate_led", 2), kInvalidValue) << "locate accepts 0, 1, 3";
    EXPECT_EQ(velkdirectfe_set_indicator_mode(0, "no_led", 1), kUnknownObject);
    EXPECT_EQ(velkdirectfe_get_indicator_mode(0, "no_led", &mode), kUnknownObject);

    // Blink for 200 ms, then back to the mode set before.
    ASSERT_EQ(velkdirectfe_set_indicator_mode_for_duration(0, "fault_led", 2, 200), 0);
    ASSERT_EQ(velkdirectfe_get_indicator_mode(0, "fault_led", &mode), 0);
    EXPECT_EQ(mode, 2);
    for (int i = 0; i < 1000 && mode == 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(velkdirectfe_get_indicator_mode(0, "fault_led", &mode), 0);
    }
    EXPECT_EQ(mode, 3);

    // A permanent setting cancels a pending return.
    ASSERT_EQ(velkdirectfe_set_indicator_mode_for_duration(0, "fault_led", 2, 0xFFFFFFFFu), 0);
    ASSERT_EQ(velkdirectfe_set_indicator_mode(0, "fault_led", 0), 0);
    ASSERT_EQ(velkdirectfe_get_indicator_mode(0, "fault_led", &mode), 0);
    EXPECT_EQ(mode, 0);
}

TEST_F(LibraryAgainstDaemon, FruReadsAndWritesWithBounds) {
    uint8_t buffer[16] = {};
    uint32_t got = 0;
    ASSERT_EQ(velkdirectfe_read_fru_direct(0, "mainboard", 0, 8, buffer, &got), 0);
    ASSERT_EQ(got, 8u);
    const uint8_t header[8] = {0x01, 0, 0, 0x01, 0, 0, 0, 0xfe};
    EXPECT_EQ(0, std::memcmp(buffer, header, 8));
    ASSERT_EQ(velkdirectfe_read_fru_direct(0, "mainboard", 508, 4, buffer, &got), 0);
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(buffer[3], 0xFF) << "padding of the data area";
    EXPECT_EQ(velkdirectfe_read_fru_direct(0, "mainboard", 510, 4, buffer, &got), kOutOfRange);
    EXPECT_EQ(velkdirectfe_read_fru_direct(0, "mainboard", 0xFFFFFFFFu, 2, buffer, &got), kOutOfRange);
    EXPECT_EQ(velkdirectfe_read_fru_direct(0, "nope", 0, 1, buffer, &got), kUnknownObject);

    const uint8_t data[4] = {0xde, 0xad, 0xbe, 0xef};
    int32_t result = 0;
    ASSERT_EQ(velkdirectfe_write_fru_direct(0, "/chassis/mb", 100, 4, data, &result), 0);
    EXPECT_EQ(result, 4);
    ASSERT_EQ(velkdirectfe_read_fru_direct(0, "mainboard", 99, 6, buffer, &got), 0);
    const uint8_t around[6] = {0xFF, 0xde, 0xad, 0xbe, 0xef, 0xFF};
    EXPECT_EQ(0, std::memcmp(buffer, around, 6));
    EXPECT_EQ(velkdirectfe_write_fru_direct(0, "mainboard", 510, 4, data, &result), kOutOfRange);
    EXPECT_EQ(velkdirectfe_write_fru_direct(0, "chassis", 0, 4, data, &result), kReadOnly);
    ASSERT_EQ(velkdirectfe_write_fru_direct(0, "mainboard", 512, 0, data, &result), 0);
    EXPECT_EQ(result, 0);
}

TEST_F(LibraryAgainstDaemon, EntityAssociations) {
    velkdirectfe_entity_assoc_t* assoc = nullptr;
    ASSERT_EQ(velkdirectfe_get_entity_association(0, 0x07, 1, &assoc), 0);
    EXPECT_EQ(assoc->key0, 0x07);
    EXPECT_EQ(assoc->key1, 1);
    ASSERT_EQ(assoc->member_count, 4u);
    EXPECT_EQ(assoc->members[2].key0, 0x20u);
    EXPECT_EQ(assoc->members[2].key1, 1u);
    EXPECT_EQ(velkdirectfe_free_entity_associations(0, 1, assoc), 0);
    EXPECT_EQ(velkdirectfe_get_entity_association(0, 0x07, 9, &assoc), kUnknownObject);

    uint32_t count = 0;
    velkdirectfe_entity_assoc_t* all = nullptr;
    ASSERT_EQ(velkdirectfe_get_entity_associations(0, &count, &all), 0);
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(all[2].key0, 0x1e);
    EXPECT_EQ(all[2].assoc_word, 2u);
    EXPECT_EQ(all[2].member_count, 2u);
    velkdirectfe_free_entity_associations(0, count, all);
}

// A platform whose reading moves fast enough to see it move between calls.
TEST(DaemonReadings, HeldWhileNotPolledAndMovingOtherwise) {
    std::string config = write_file("fast.toml", R"(
[platform]
name = "fast"
model = "f"
[[sensor]]
id = "saw"
number = 1
path = "/saw"
conversion = { m = 1.0, b = 0.0 }
thresholds = { lnr = 0.0, lcr = 0.0, lnc = 0.0, unc = 255.0, ucr = 255.0, unr = 255.0 }
reading = { behaviour = "ramp", from = 0.0, to = 250.0, period_s = 0.25 }
)");
    DaemonProcess daemon({"--config", config});
    ASSERT_TRUE(daemon.ready()) << daemon.log();
    auto read = [] {
        uint16_t reading = 0;
        float normal = 0;
        EXPECT_EQ(velkdirectfe_get_sensor_vals(0, "saw", &reading, &normal), 0);
        return reading;
    };
    uint16_t first = read();
    bool moved = false;
    for (int i = 0; i < 200 && !moved; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        moved = read() != first;
    }
    EXPECT_TRUE(moved);

    uint32_t word = 0;
    uint16_t any = 0;
    ASSERT_EQ(velkdirectfe_disable_sensor_polling(0, 1, &word, &any), 0);
    uint16_t held = read();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(read(), held);
}

} // namespace
} // namespace velkd::test
