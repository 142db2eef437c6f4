// Every function that talks to the daemon, from one table: the argument bytes
// it sends, the reply bytes it decodes, the daemon's status passed on
// unchanged, and every failure (a status, an RPC error, a hang-up, a cut-off
// reply) leaving each output as it was.
#include <sys/mman.h>
#include <unistd.h>

#include <bit>
#include <functional>

#include "api_fixture.h"

using namespace vdfe::test;

namespace {

// Every output any call writes; filled with a pattern before each call, so
// that a write on a failure path, or past an output, shows.
struct Out {
    uint32_t count;
    void* list;
    uint16_t reading;
    float value;
    velkdirectfe_sensor_data_t data;
    float six[7];
    uint32_t word;
    uint16_t poll_short;
    int32_t mode;
    uint8_t raw[3];
    velkdirectfe_plat_names_t names;
    uint8_t buffer[8];
    uint32_t length;
    char* strid;
};
template <typename T>
T** as(void*& list) { return reinterpret_cast<T**>(&list); }
uint32_t bits(float f) { return std::bit_cast<uint32_t>(f); }

struct Call {
    const char* name;
    uint32_t procedure;
    std::function<int(Out&)> run;
    Bytes arguments;
    Bytes reply = {};                            // a successful answer (none: proven elsewhere)
    std::function<void(Out&, const Out&)> check = {}; // what it delivered (and releases it)
};
void PrintTo(const Call& c, std::ostream* out) { *out << c.name; }

const uint8_t kWritten[] = {0x01, 0x80, 0xFF};
const Bytes kSensorData = words({0, 0xABCD, bits(21.5f), 0x80, 0xFF, 0x01, 0x7F, 0x1234, 0xFEDC, bits(1), bits(2),
                                 bits(3), bits(4), bits(5), bits(6)});
void expect_sensor_data(Out& o, const Out&) {
    EXPECT_EQ(o.data.reading, 0xABCD);
    EXPECT_EQ(o.data.normal_value, 21.5f);
    EXPECT_EQ(o.data.byte1, 128); // widened without sign
    EXPECT_EQ(o.data.byte2, 255);
    EXPECT_EQ(o.data.byte3, 1);
    EXPECT_EQ(o.data.word1, 0x1234);
    EXPECT_EQ(o.data.word2, 0xFEDC);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(o.data.thresholds[i], float(i + 1));
}
void expect_reading(Out& o, const Out&) {
    EXPECT_EQ(o.reading, 0xFFFF);
    EXPECT_EQ(o.value, -40.25f);
}

const Call kCalls[] = {
    {"sensor_attr", 1, [](Out& o) { return velkdirectfe_get_sensor_attr(0, "cpu_temp", as<velkdirectfe_sensor_attr_t>(o.list)); },
     xdr_str("cpu_temp")},
    {"sensor_attr_by_number", 2,
     [](Out& o) { return velkdirectfe_get_sensor_attr_by_logical_num(0, 0xFFFFFFF0u, as<velkdirectfe_sensor_attr_t>(o.list)); },
     words({0xFFFFFFF0u})},
    {"sensor_attrs", 3, [](Out& o) { return velkdirectfe_get_sensor_attrs(0, &o.count, as<velkdirectfe_sensor_attr_t>(o.list)); }, {}},
    {"indicator_attr", 4, [](Out& o) { return velkdirectfe_get_indicator_attr(0, "power_led", as<velkdirectfe_ind_attr_t>(o.list)); },
     xdr_str("power_led")},
    {"indicator_attrs", 5, [](Out& o) { return velkdirectfe_get_indicator_attrs(0, &o.count, as<velkdirectfe_ind_attr_t>(o.list)); }, {}},
    {"fru_attr", 6, [](Out& o) { return velkdirectfe_get_fru_attr(0, "mainboard", as<velkdirectfe_fru_attr_t>(o.list)); },
     xdr_str("mainboard")},
    {"fru_attrs", 7, [](Out& o) { return velkdirectfe_get_fru_attrs(0, &o.count, as<velkdirectfe_fru_attr_t>(o.list)); }, {}},
    {"component_attrs", 29, [](Out& o) { return velkdirectfe_get_component_attrs(0, &o.count, as<velkdirectfe_comp_attr_t>(o.list)); }, {}},
    {"platform_names", 8, [](Out& o) { return velkdirectfe_get_platform_names(0, &o.names); }, {},
     words({0, 0xC3}) + xdr_str("Velk 9000") + xdr_str(""),
     [](Out& o, const Out&) {
         EXPECT_EQ(o.names.lead_byte, 0xC3);
         EXPECT_STREQ(o.names.name1, "Velk 9000");
         ASSERT_NE(o.names.name2, nullptr);
         EXPECT_STREQ(o.names.name2, "");
         free(o.names.name1);
         free(o.names.name2);
     }},
    {"strid", 20, [](Out& o) { return velkdirectfe_logical_num_to_strid(0, -2, &o.strid); }, words({0xFFFFFFFE}),
     words({0}) + xdr_str("psu0_vout"),
     [](Out& o, const Out&) {
         EXPECT_STREQ(o.strid, "psu0_vout");
         free(o.strid);
     }},
    {"sensor_vals", 9, [](Out& o) { return velkdirectfe_get_sensor_vals(0, "fan1", &o.reading, &o.value); },
     xdr_str("fan1"), words({0, 0xFFFF, bits(-40.25f)}), expect_reading},
    {"sensor_vals_by_number", 12,
     [](Out& o) { return velkdirectfe_get_sensor_vals_by_logical_num(0, 77, &o.reading, &o.value); }, words({77}),
     words({0, 0xFFFF, bits(-40.25f)}), expect_reading},
    // returns 0 whatever the fourth byte, which has no field
    {"sensor_data", 10, [](Out& o) { return velkdirectfe_get_sensor_data(0, "cpu", &o.data); }, xdr_str("cpu"),
     kSensorData, expect_sensor_data},
    {"sensor_data_by_number", 11, [](Out& o) { return velkdirectfe_get_sensor_data_by_logical_num(0, 3, &o.data); },
     words({3}), kSensorData, expect_sensor_data},
    {"thresholds", 15, [](Out& o) { return velkdirectfe_get_normalized_thresholds(0, -4, o.six); }, words({0xFFFFFFFC}),
     words({0, bits(-1.5f), 0, bits(1), bits(2), bits(3), bits(1e30f)}),
     [](Out& o, const Out& before) {
         const float expected[6] = {-1.5f, 0, 1, 2, 3, 1e30f};
         for (int i = 0; i < 6; ++i) EXPECT_EQ(o.six[i], expected[i]) << i;
         EXPECT_EQ(0, std::memcmp(&o.six[6], &before.six[6], sizeof(float))); // six, not seven
     }},
    {"set_thresholds", 13,
     [](Out&) {
         pollctrl_thresh_t thresh{7, 0x003F, 1, 2, 3, 4, 5, 6, 7, 8};
         return velkdirectfe_set_threshold_vals_internal(0, &thresh);
     },
     words({7, 63, 1, 2, 3, 4, 5, 6, 7, 8}), words({0})},
    {"set_reading", 14, [](Out&) { return velkdirectfe_set_sensor_reading(0, 0xFFFFFFFF, 0xFFFF); },
     words({0xFFFFFFFF, 0xFFFF}), words({0})},
    {"enable_polling", 16, [](Out& o) { return velkdirectfe_enable_sensor_polling(0, 12, &o.word, &o.poll_short); },
     words({12, 0, 0}), words({0, 99, 0xDEADBEEF, 0xBEEF}),
     [](Out& o, const Out&) {
         EXPECT_EQ(o.word, 0xDEADBEEF);
         EXPECT_EQ(o.poll_short, 0xBEEF);
     }},
    // sends back the poll short it is given (what enabling received), writes only the word
    {"disable_polling", 17, [](Out& o) { return velkdirectfe_disable_sensor_polling(0, 12, &o.word, &o.poll_short); },
     words({12, 0, 0x5C5C}), words({0, 98, 0x11111111, 0x2222}),
     [](Out& o, const Out&) {
         EXPECT_EQ(o.word, 0x11111111u);
         EXPECT_EQ(o.poll_short, 0x5C5C);
     }},
    {"poll_state", 18, [](Out&) { return velkdirectfe_set_poll_state(0, 0xFF); }, words({0xFF}), words({0})},
    {"reset", 19, [](Out&) { return velkdirectfe_reset_all_sensors_state(0); }, {}, words({0})},
    {"read_fru", 21, [](Out& o) { return velkdirectfe_read_fru_direct(0, "mb", 16, 8, o.buffer, &o.length); },
     xdr_str("mb") + words({16, 8}), words({0, 3, 0x01, 0x80, 0xFF}),
     [](Out& o, const Out& before) { // a short read fills only the first bytes
         EXPECT_EQ(o.length, 3u);
         EXPECT_EQ(0, std::memcmp(o.buffer, kWritten, 3));
         EXPECT_EQ(0, std::memcmp(o.buffer + 3, before.buffer + 3, 5));
     }},
    {"write_fru", 22, [](Out& o) { return velkdirectfe_write_fru_direct(0, "mb", 4, 3, kWritten, &o.mode); },
     xdr_str("mb") + words({4, 3, 3, 0x01, 0x80, 0xFF}), words({0, 0xFFFFFFEF}),
     [](Out& o, const Out&) { EXPECT_EQ(o.mode, -17); }},
    {"write_fru_nothing", 22, [](Out& o) { return velkdirectfe_write_fru_direct(0, "mb", 0, 0, nullptr, &o.mode); },
     xdr_str("mb") + words({0, 0, 0}), words({0, 0}), [](Out& o, const Out&) { EXPECT_EQ(o.mode, 0); }},
    {"association", 23, [](Out& o) { return velkdirectfe_get_entity_association(0, 0x25, 0x01, as<velkdirectfe_entity_assoc_t>(o.list)); },
     words({0x25, 0x01}), words({0, 1, 0x25, 0x01, 7, 1, 1, 3, 4}),
     [](Out& o, const Out&) {
         auto* assoc = static_cast<velkdirectfe_entity_assoc_t*>(o.list);
         EXPECT_EQ(assoc->members[0].key1, 4u);
         EXPECT_EQ(velkdirectfe_free_entity_associations(0, 1, assoc), 0);
     }},
    {"associations", 24,
     [](Out& o) { return velkdirectfe_get_entity_associations(0, &o.count, as<velkdirectfe_entity_assoc_t>(o.list)); }, {}},
    {"raw_to_normal", 25, [](Out& o) { return velkdirectfe_convert_raw_to_normal(0, "fan1", 255, &o.value); },
     xdr_str("fan1") + words({0xFF}), words({0, bits(0.1f)}), [](Out& o, const Out&) { EXPECT_EQ(o.value, 0.1f); }},
    // the caller's double becomes the nearest float at the call
    {"normal_to_raw", 26,
     [](Out& o) { return velkdirectfe_convert_normal_to_raw(0, "fan1", static_cast<float>(0.1), &o.raw[1]); },
     xdr_str("fan1") + words({0x3DCCCCCD}), words({0, 200}),
     [](Out& o, const Out& before) {
         EXPECT_EQ(o.raw[0], before.raw[0]);
         EXPECT_EQ(o.raw[1], 200);
         EXPECT_EQ(o.raw[2], before.raw[2]);
     }},
    {"indicator_mode", 27, [](Out& o) { return velkdirectfe_get_indicator_mode(0, "led0", &o.mode); }, xdr_str("led0"),
     words({0, 0x80}), [](Out& o, const Out&) { EXPECT_EQ(o.mode, 128); }}, // unsigned in all four bytes
    // with and without a duration of 0, the same record
    {"set_indicator_mode", 28, [](Out&) { return velkdirectfe_set_indicator_mode(0, "led0", 2); },
     xdr_str("led0") + words({2, 0}), words({0})},
    {"set_indicator_mode_for_0", 28, [](Out&) { return velkdirectfe_set_indicator_mode_for_duration(0, "led0", 2, 0); },
     xdr_str("led0") + words({2, 0}), words({0})},
    {"set_indicator_mode_for_duration", 28,
     [](Out&) { return velkdirectfe_set_indicator_mode_for_duration(0, "led0", 0xFF, 0xFFFFFFFF); },
     xdr_str("led0") + words({0xFF, 0xFFFFFFFF}), words({0})},
};

class EveryCall : public ApiTest, public testing::WithParamInterface<Call> {
protected:
    // Runs the call with every output set to the pattern; `before` keeps it.
    int run(Out& before) {
        std::memset(&out, 0x5C, sizeof out);
        before = out;
        return GetParam().run(out);
    }
    void expect_untouched(const Out& before, const char* what) {
        EXPECT_EQ(0, std::memcmp(&out, &before, sizeof out)) << what << ": an output was written";
    }
    Out out;
};

} // namespace

TEST_P(EveryCall, SendsItsArgumentsAndFailsWithOutputsUntouched) {
    const Call& call = GetParam();
    Out before;
    for (int32_t status : {6, -7}) {
        daemon.reply_status(call.procedure, status);
        EXPECT_EQ(run(before), status);
        EXPECT_EQ(last_procedure(), call.procedure);
        EXPECT_EQ(daemon.last_arguments(call.procedure), call.arguments);
        expect_untouched(before, "status");
    }
    for (Behaviour failure : {Behaviour::no_procedure, Behaviour::garbage_args, Behaviour::hang_up}) {
        daemon.script(call.procedure, {failure, {}});
        EXPECT_EQ(run(before), -1);
        expect_untouched(before, "RPC failure");
    }
    if (call.reply.size() > 4) { // the answer cut off before its last word
        daemon.reply(call.procedure, Bytes(call.reply.begin(), call.reply.end() - 4));
        EXPECT_EQ(run(before), -1);
        expect_untouched(before, "cut-off reply");
    }
    if (!call.reply.empty()) {
        daemon.reply(call.procedure, call.reply);
        ASSERT_EQ(run(before), 0);
        if (call.check) call.check(out, before);
    }
}

INSTANTIATE_TEST_SUITE_P(Api, EveryCall, testing::ValuesIn(kCalls),
                         [](const testing::TestParamInfo<Call>& info) { return info.param.name; });

// A null name or output is refused before any connection, so the daemon never
// sees the call.
TEST_F(ApiTest, NullArgumentsAreRefusedBeforeConnecting) {
    uint32_t count = 0, word = 0, got = 0;
    uint16_t reading = 0, poll_short = 0;
    float value = 0;
    int32_t mode = 0;
    uint8_t buffer[4] = {};
    velkdirectfe_sensor_attr_t* sensor = nullptr;
    velkdirectfe_entity_assoc_t* assoc = nullptr;
    const std::vector<std::pair<const char*, std::function<int()>>> calls = {
        {"open", [] { return velkdirectfe_open(nullptr); }},
        {"sensor attr", [] { return velkdirectfe_get_sensor_attr(0, "s", nullptr); }},
        {"sensor attr name", [&] { return velkdirectfe_get_sensor_attr(0, nullptr, &sensor); }},
        {"sensor attr #", [] { return velkdirectfe_get_sensor_attr_by_logical_num(0, 1, nullptr); }},
        {"indicator attr", [] { return velkdirectfe_get_indicator_attr(0, "i", nullptr); }},
        {"fru attr", [] { return velkdirectfe_get_fru_attr(0, "f", nullptr); }},
        {"sensor count", [&] { return velkdirectfe_get_sensor_attrs(0, nullptr, &sensor); }},
        {"sensor array", [&] { return velkdirectfe_get_sensor_attrs(0, &count, nullptr); }},
        {"indicator array", [&] { return velkdirectfe_get_indicator_attrs(0, &count, nullptr); }},
        {"fru array", [&] { return velkdirectfe_get_fru_attrs(0, &count, nullptr); }},
        {"component array", [&] { return velkdirectfe_get_component_attrs(0, &count, nullptr); }},
        {"names", [] { return velkdirectfe_get_platform_names(0, nullptr); }},
        {"strid", [] { return velkdirectfe_logical_num_to_strid(0, 1, nullptr); }},
        {"vals name", [&] { return velkdirectfe_get_sensor_vals(0, nullptr, &reading, &value); }},
        {"vals reading", [&] { return velkdirectfe_get_sensor_vals(0, "s", nullptr, &value); }},
        {"vals value", [&] { return velkdirectfe_get_sensor_vals(0, "s", &reading, nullptr); }},
        {"vals #", [&] { return velkdirectfe_get_sensor_vals_by_logical_num(0, 1, &reading, nullptr); }},
        {"data", [] { return velkdirectfe_get_sensor_data(0, "s", nullptr); }},
        {"data #", [] { return velkdirectfe_get_sensor_data_by_logical_num(0, 1, nullptr); }},
        {"thresholds", [] { return velkdirectfe_get_normalized_thresholds(0, 1, nullptr); }},
        {"set thresholds", [] { return velkdirectfe_set_threshold_vals_internal(0, nullptr); }},
        {"enable word", [&] { return velkdirectfe_enable_sensor_polling(0, 1, nullptr, &poll_short); }},
        {"enable short", [&] { return velkdirectfe_enable_sensor_polling(0, 1, &word, nullptr); }},
        {"disable word", [&] { return velkdirectfe_disable_sensor_polling(0, 1, nullptr, &poll_short); }},
        {"disable short", [&] { return velkdirectfe_disable_sensor_polling(0, 1, &word, nullptr); }},
        {"association", [] { return velkdirectfe_get_entity_association(0, 1, 2, nullptr); }},
        {"associations count", [&] { return velkdirectfe_get_entity_associations(0, nullptr, &assoc); }},
        {"associations array", [&] { return velkdirectfe_get_entity_associations(0, &count, nullptr); }},
        {"to raw", [] { return velkdirectfe_convert_normal_to_raw(0, "s", 1.0f, nullptr); }},
        {"to normal", [] { return velkdirectfe_convert_raw_to_normal(0, "s", 1, nullptr); }},
        {"mode", [] { return velkdirectfe_get_indicator_mode(0, "i", nullptr); }},
        {"mode name", [&] { return velkdirectfe_get_indicator_mode(0, nullptr, &mode); }},
        {"set mode name", [] { return velkdirectfe_set_indicator_mode(0, nullptr, 1); }},
        {"read name", [&] { return velkdirectfe_read_fru_direct(0, nullptr, 0, 4, buffer, &got); }},
        {"read buffer", [&] { return velkdirectfe_read_fru_direct(0, "f", 0, 4, nullptr, &got); }},
        {"read length", [&] { return velkdirectfe_read_fru_direct(0, "f", 0, 4, buffer, nullptr); }},
        {"write result", [&] { return velkdirectfe_write_fru_direct(0, "f", 0, 4, buffer, nullptr); }},
        {"inventory callback", [] { return velkdirectfe_inventory_direct(0, nullptr, nullptr); }},
    };
    for (const auto& [what, run] : calls) EXPECT_EQ(run(), -1) << what;
    EXPECT_EQ(sensor, nullptr);
    EXPECT_EQ(daemon.call_count(), 0u);
}

TEST_F(ApiTest, FruReadsOfNothingAndOfMoreThanAsked) {
    daemon.reply(21, words({0, 0}));
    uint8_t buffer[4] = {9, 9, 9, 9};
    uint32_t read_len = 77;
    ASSERT_EQ(velkdirectfe_read_fru_direct(0, "mb", 0, 4, buffer, &read_len), 0);
    EXPECT_EQ(read_len, 0u);
    EXPECT_EQ(buffer[0], 9);
    // More bytes than asked for cannot be delivered: nothing is written.
    daemon.reply(21, words({0, 5, 1, 2, 3, 4, 5}));
    read_len = 77;
    EXPECT_EQ(velkdirectfe_read_fru_direct(0, "mb", 0, 4, buffer, &read_len), -1);
    EXPECT_EQ(read_len, 77u);
    EXPECT_EQ(buffer[3], 9);
}

// Without a client nothing is read from poll_short: a pointer into a page
// that cannot be read shows it.
TEST(WithoutDaemon, DisablingReadsNoPollShortWhenNoClientIsMade) {
    long page = sysconf(_SC_PAGESIZE);
    void* guard = mmap(nullptr, static_cast<size_t>(page), PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(guard, MAP_FAILED);
    uint32_t poll_word = 5;
    EXPECT_EQ(velkdirectfe_disable_sensor_polling(0, 1, &poll_word, static_cast<const uint16_t*>(guard)), -1);
    EXPECT_EQ(poll_word, 5u);
    munmap(guard, static_cast<size_t>(page));
}
