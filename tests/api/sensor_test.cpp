// Sensor values, full readings, thresholds, settings and polling.
#include <sys/mman.h>
#include <unistd.h>

#include "api_fixture.h"

using namespace vdfe::test;

namespace {

const sensor_reading_info_t kInfo{0xABCD, 21.5f, 0x80, 0xFF, 0x01, 0x7F, 0x1234, 0xFEDC, {1, 2, 3, 4, 5, 6}};

void expect_filled(const velkdirectfe_sensor_data_t& data) {
    EXPECT_EQ(data.reading, 0xABCD);
    EXPECT_EQ(data.normal_value, 21.5f);
    EXPECT_EQ(data.byte1, 128); // widened without sign
    EXPECT_EQ(data.byte2, 255);
    EXPECT_EQ(data.byte3, 1);
    EXPECT_EQ(data.word1, 0x1234);
    EXPECT_EQ(data.word2, 0xFEDC);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(data.thresholds[i], float(i + 1));
}

using SensorValues = ApiTest;
using SensorControl = ApiTest;

} // namespace

TEST_F(SensorValues, ReadingPairByNameAndByNumber) {
    sensor_reading_res res{0, {0xFFFF, -40.25f}};
    daemon.reply(9, xdr_sensor_reading_res, res);
    daemon.reply(12, xdr_sensor_reading_res, res);
    uint16_t reading = 0;
    float value = 0;
    ASSERT_EQ(velkdirectfe_get_sensor_vals(0, "fan1", &reading, &value), 0);
    EXPECT_EQ(daemon.last_arguments(9), xdr_str("fan1"));
    EXPECT_EQ(reading, 0xFFFF);
    EXPECT_EQ(value, -40.25f);
    reading = 0;
    value = 0;
    ASSERT_EQ(velkdirectfe_get_sensor_vals_by_logical_num(0, 77, &reading, &value), 0);
    EXPECT_EQ(daemon.last_arguments(12), words({77}));
    EXPECT_EQ(reading, 0xFFFF);
    EXPECT_EQ(value, -40.25f);
}

TEST_F(SensorValues, FullReadingReturnsZeroWhateverTheFourthByte) {
    sensor_data_res res{0, kInfo};
    daemon.reply(10, xdr_sensor_data_res, res);
    daemon.reply(11, xdr_sensor_data_res, res);
    velkdirectfe_sensor_data_t by_name{}, by_number{};
    EXPECT_EQ(velkdirectfe_get_sensor_data(0, "cpu", &by_name), 0);
    EXPECT_EQ(daemon.last_arguments(10), xdr_str("cpu"));
    expect_filled(by_name);
    EXPECT_EQ(velkdirectfe_get_sensor_data_by_logical_num(0, 3, &by_number), 0);
    EXPECT_EQ(daemon.last_arguments(11), words({3}));
    expect_filled(by_number);
}

TEST_F(SensorValues, ThresholdsKeepTheirOrder) {
    norm_thresh_res res{0, {-1.5f, 0, 1, 2, 3, 1e30f}};
    daemon.reply(15, xdr_norm_thresh_res, res);
    float six[7] = {9, 9, 9, 9, 9, 9, 9};
    ASSERT_EQ(velkdirectfe_get_normalized_thresholds(0, -4, six), 0);
    EXPECT_EQ(daemon.last_arguments(15), words({0xFFFFFFFC}));
    const float expected[7] = {-1.5f, 0, 1, 2, 3, 1e30f, 9};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(six[i], expected[i]);
}

TEST_F(SensorValues, NonZeroStatusLeavesEveryOutputUntouched) {
    for (uint32_t proc : {9u, 10u, 11u, 12u, 15u}) daemon.reply_status(proc, 6);
    uint16_t reading = 11;
    float value = 12;
    velkdirectfe_sensor_data_t data;
    std::memset(&data, 0x5C, sizeof data);
    velkdirectfe_sensor_data_t before = data;
    float six[6] = {7, 7, 7, 7, 7, 7};
    EXPECT_EQ(velkdirectfe_get_sensor_vals(0, "s", &reading, &value), 6);
    EXPECT_EQ(velkdirectfe_get_sensor_vals_by_logical_num(0, 1, &reading, &value), 6);
    EXPECT_EQ(velkdirectfe_get_sensor_data(0, "s", &data), 6);
    EXPECT_EQ(velkdirectfe_get_sensor_data_by_logical_num(0, 1, &data), 6);
    EXPECT_EQ(velkdirectfe_get_normalized_thresholds(0, 1, six), 6);
    EXPECT_EQ(reading, 11);
    EXPECT_EQ(value, 12);
    EXPECT_EQ(0, std::memcmp(&data, &before, sizeof data));
    EXPECT_EQ(six[5], 7);
}

TEST_F(SensorControl, SettingsAreSentAsGivenAndAnswerWithTheDaemonsInt) {
    for (uint32_t proc : {13u, 14u, 18u, 19u}) daemon.reply_status(proc, 0);
    pollctrl_thresh_t thresh{7, 0x003F, 1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(velkdirectfe_set_threshold_vals_internal(0, &thresh), 0);
    EXPECT_EQ(daemon.last_arguments(13), words({7, 63, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(velkdirectfe_set_sensor_reading(0, 0xFFFFFFFF, 0xFFFF), 0);
    EXPECT_EQ(daemon.last_arguments(14), words({0xFFFFFFFF, 0xFFFF}));
    EXPECT_EQ(velkdirectfe_set_poll_state(0, 0xFF), 0);
    EXPECT_EQ(daemon.last_arguments(18), words({0xFF}));
    EXPECT_EQ(velkdirectfe_reset_all_sensors_state(0), 0);
    EXPECT_EQ(last_procedure(), 19u);
    EXPECT_TRUE(daemon.last_arguments(19).empty());

    daemon.reply_status(14, 9);
    EXPECT_EQ(velkdirectfe_set_sensor_reading(0, 1, 2), 9);
    EXPECT_EQ(velkdirectfe_set_threshold_vals_internal(0, nullptr), -1);
}

TEST_F(SensorControl, DisablingSendsBackThePollShortThatEnablingReceived) {
    daemon.reply(16, xdr_sensor_poll_info_res, sensor_poll_info_res{0, {99, 0xDEADBEEF, 0xBEEF}});
    daemon.reply(17, xdr_sensor_poll_info_res, sensor_poll_info_res{0, {98, 0x11111111, 0x2222}});
    uint32_t poll_word = 0;
    uint16_t poll_short = 0;
    ASSERT_EQ(velkdirectfe_enable_sensor_polling(0, 12, &poll_word, &poll_short), 0);
    EXPECT_EQ(daemon.last_arguments(16), words({12, 0, 0}));
    EXPECT_EQ(poll_word, 0xDEADBEEF);
    EXPECT_EQ(poll_short, 0xBEEF);
    ASSERT_EQ(velkdirectfe_disable_sensor_polling(0, 12, &poll_word, &poll_short), 0);
    EXPECT_EQ(daemon.last_arguments(17), words({12, 0, 0xBEEF}));
    EXPECT_EQ(poll_word, 0x11111111u);
    EXPECT_EQ(poll_short, 0xBEEF); // disabling writes only the word
}

TEST_F(SensorControl, FailedPollingCallsLeaveBothVariables) {
    daemon.reply_status(16, 3);
    daemon.script(17, {Behaviour::no_procedure, {}});
    uint32_t poll_word = 5;
    uint16_t poll_short = 6;
    EXPECT_EQ(velkdirectfe_enable_sensor_polling(0, 1, &poll_word, &poll_short), 3);
    EXPECT_EQ(velkdirectfe_disable_sensor_polling(0, 1, &poll_word, &poll_short), -1);
    EXPECT_EQ(poll_word, 5u);
    EXPECT_EQ(poll_short, 6);
}

// Without a client nothing is read from poll_short: a pointer into a page
// that cannot be read shows it.
TEST(SensorControlWithoutDaemon, DisablingReadsNoPollShortWhenNoClientIsMade) {
    long page = sysconf(_SC_PAGESIZE);
    void* guard = mmap(nullptr, static_cast<size_t>(page), PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(guard, MAP_FAILED);
    uint32_t poll_word = 5;
    EXPECT_EQ(velkdirectfe_disable_sensor_polling(0, 1, &poll_word, static_cast<const uint16_t*>(guard)), -1);
    EXPECT_EQ(poll_word, 5u);
    munmap(guard, static_cast<size_t>(page));
}
