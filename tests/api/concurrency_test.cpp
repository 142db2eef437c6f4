// Many threads calling at once each get their own correct answers: the
// library shares nothing between calls.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "test_daemon.h"
#include "velkdirectfe.h"

using namespace vdfe::test;

struct ApiTest : testing::Test {
    TestDaemon daemon;
};

TEST_F(ApiTest, SixteenThreadsGetCorrectAnswers) {
    char chassis[] = "/chassis", fan[] = "/chassis/fan", rpm[] = "rpm", value[] = "4200";
    prop_node props[] = {{rpm, value}};
    velkfe_comp_attr comps[2] = {};
    comps[0].path = chassis;
    comps[1].path = fan;
    comps[1].prop_count = 1;
    comps[1].props = props;
    daemon.reply(29, xdr_comp_attrs_res, comp_attrs_res{0, 2, comps});
    char id[] = "fan_speed";
    daemon.reply(20, xdr_sensor_name_res, sensor_name_res{0, id});
    daemon.reply(9, xdr_sensor_reading_res, sensor_reading_res{0, {4200, 70.0f}});
    daemon.reply_status(18, 0);
    constexpr int kThreads = 16, kRounds = 50; // 4 calls a round: 3200 calls
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&wrong] {
            for (int round = 0; round < kRounds; ++round) {
                uint32_t count = 0;
                velkdirectfe_comp_attr_t* list = nullptr;
                if (velkdirectfe_get_component_attrs(0, &count, &list) != 0 || count != 2 ||
                    std::strcmp(list[1].path, "/chassis/fan") != 0 ||
                    std::strcmp(list[1].props->value, "4200") != 0)
                    ++wrong;
                if (list) velkdirectfe_free_component_attrs(0, count, list);
                char* strid = nullptr;
                if (velkdirectfe_logical_num_to_strid(0, 5, &strid) != 0 ||
                    std::strcmp(strid, "fan_speed") != 0)
                    ++wrong;
                free(strid);
                uint16_t reading = 0;
                float level = 0;
                if (velkdirectfe_get_sensor_vals(0, "fan_speed", &reading, &level) != 0 ||
                    reading != 4200 || level != 70.0f)
                    ++wrong;
                if (velkdirectfe_set_poll_state(0, 1) != 0) ++wrong;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(daemon.call_count(), size_t(kThreads * kRounds * 4));
}
