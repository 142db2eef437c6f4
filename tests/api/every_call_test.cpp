// Every function that talks to the daemon, from one table: the argument bytes
// it sends, the reply bytes it decodes, the daemon's status passed on
// unchanged, an answer without records, and every failure (a status, an RPC
// error, a hang-up, a cut-off reply, each allocation) leaving each output as
// it was and no descriptor open. Then what is refused before any call, the
// frees, large calls and replies, and counts claimed beyond the reply.
#include "every_call.h"
#include "failing_alloc.h"
#include "transport/call_limits.h"

using namespace vdfe::test;

namespace {

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
    int descriptors = -1;
    for (int32_t status : {6, -7}) {
        daemon.reply_status(call.procedure, status);
        EXPECT_EQ(run(before), status);
        ASSERT_FALSE(daemon.calls().empty());
        EXPECT_EQ(daemon.calls().back().procedure, call.procedure);
        EXPECT_EQ(daemon.last_arguments(call.procedure), call.arguments);
        expect_untouched(before, "status");
        if (descriptors < 0) descriptors = settled_descriptors(); // after libtirpc's lazy state
    }
    for (Behaviour failure :
         {Behaviour::no_procedure, Behaviour::garbage_args, Behaviour::hang_up}) {
        daemon.script(call.procedure, {failure, {}});
        EXPECT_EQ(run(before), -1);
        expect_untouched(before, "RPC failure");
    }
    if (call.reply.size() > 4) { // the answer cut off before its last word
        daemon.reply(call.procedure, Bytes(call.reply.begin(), call.reply.end() - 4));
        EXPECT_EQ(run(before), -1);
        expect_untouched(before, "cut-off reply");
    }
    if (call.records == 1) { // answered with no record: a query of one fails
        daemon.reply(call.procedure, words({0, 0}));
        EXPECT_EQ(run(before), -1);
        expect_untouched(before, "no record");
    } else if (call.records) { // and a list is empty
        daemon.reply(call.procedure, words({0, 0}));
        EXPECT_EQ(run(before), 0);
        EXPECT_EQ(std::tie(out.count, out.list), std::make_tuple(0u, nullptr));
    }
    // The answer, with every allocation of the call failing in turn: -1, never
    // an output pointing to a released block, nothing leaked (the leak checker
    // watches the process); the clean run delivers it, released completely
    // by the free functions.
    daemon.reply(call.procedure, call.reply);
    long clean = sweep_allocation_failures([&] { return run(before); },
        [&](int result) {
            EXPECT_EQ(result, -1);
            EXPECT_TRUE(out.list == before.list || out.list == nullptr);
            EXPECT_TRUE(out.strid == before.strid || out.strid == nullptr);
            EXPECT_TRUE(out.names.name1 == before.names.name1 || out.names.name1 == nullptr);
            EXPECT_TRUE(out.names.name2 == before.names.name2 || out.names.name2 == nullptr);
        },
        [&](int result) {
            ASSERT_EQ(result, call.result);
            if (call.check) call.check(out, before);
        });
    if (std::string(call.name) == "sensor_attrs") { EXPECT_GT(clean, 20); } // decoding and copying
    EXPECT_EQ(settled_descriptors(), descriptors) << "a path left its socket open";
}

INSTANTIATE_TEST_SUITE_P(Api, EveryCall, testing::ValuesIn(kCalls),
                         [](const testing::TestParamInfo<Call>& info) { return info.param.name; });

// A null name or output is refused before any connection, so the daemon never
// sees the call.
TEST_F(ApiTest, NullArgumentsAreRefusedBeforeConnecting) {
    uint32_t n = 0, w = 0, len = 0;
    uint16_t r = 0, ps = 0;
    float v = 0;
    int32_t m = 0;
    uint8_t b[4] = {};
    velkdirectfe_sensor_attr_t* sensor = nullptr;
    velkdirectfe_entity_assoc_t* assoc = nullptr;
    const std::vector<std::pair<const char*, std::function<int()>>> calls = {
        {"open", [] { return velkdirectfe_open(nullptr); }},
        {"sensor attr", [] { return velkdirectfe_get_sensor_attr(0, "s", nullptr); }},
        {"sensor attr name", [&] { return velkdirectfe_get_sensor_attr(0, nullptr, &sensor); }},
        {"attr #", [] { return velkdirectfe_get_sensor_attr_by_logical_num(0, 1, nullptr); }},
        {"indicator attr", [] { return velkdirectfe_get_indicator_attr(0, "i", nullptr); }},
        {"fru attr", [] { return velkdirectfe_get_fru_attr(0, "f", nullptr); }},
        {"sensor count", [&] { return velkdirectfe_get_sensor_attrs(0, nullptr, &sensor); }},
        {"sensor array", [&] { return velkdirectfe_get_sensor_attrs(0, &n, nullptr); }},
        {"indicator array", [&] { return velkdirectfe_get_indicator_attrs(0, &n, nullptr); }},
        {"fru array", [&] { return velkdirectfe_get_fru_attrs(0, &n, nullptr); }},
        {"component array", [&] { return velkdirectfe_get_component_attrs(0, &n, nullptr); }},
        {"names", [] { return velkdirectfe_get_platform_names(0, nullptr); }},
        {"strid", [] { return velkdirectfe_logical_num_to_strid(0, 1, nullptr); }},
        {"vals name", [&] { return velkdirectfe_get_sensor_vals(0, nullptr, &r, &v); }},
        {"vals reading", [&] { return velkdirectfe_get_sensor_vals(0, "s", nullptr, &v); }},
        {"vals value", [&] { return velkdirectfe_get_sensor_vals(0, "s", &r, nullptr); }},
        {"vals #", [&] { return velkdirectfe_get_sensor_vals_by_logical_num(0, 1, &r, nullptr); }},
        {"data", [] { return velkdirectfe_get_sensor_data(0, "s", nullptr); }},
        {"data #", [] { return velkdirectfe_get_sensor_data_by_logical_num(0, 1, nullptr); }},
        {"thresholds", [] { return velkdirectfe_get_normalized_thresholds(0, 1, nullptr); }},
        {"set thresholds", [] { return velkdirectfe_set_threshold_vals_internal(0, nullptr); }},
        {"enable word", [&] { return velkdirectfe_enable_sensor_polling(0, 1, nullptr, &ps); }},
        {"enable short", [&] { return velkdirectfe_enable_sensor_polling(0, 1, &w, nullptr); }},
        {"disable word", [&] { return velkdirectfe_disable_sensor_polling(0, 1, nullptr, &ps); }},
        {"disable short", [&] { return velkdirectfe_disable_sensor_polling(0, 1, &w, nullptr); }},
        {"association", [] { return velkdirectfe_get_entity_association(0, 1, 2, nullptr); }},
        {"assocs count", [&] { return velkdirectfe_get_entity_associations(0, nullptr, &assoc); }},
        {"assocs array", [&] { return velkdirectfe_get_entity_associations(0, &n, nullptr); }},
        {"to raw", [] { return velkdirectfe_convert_normal_to_raw(0, "s", 1.0f, nullptr); }},
        {"to normal", [] { return velkdirectfe_convert_raw_to_normal(0, "s", 1, nullptr); }},
        {"mode", [] { return velkdirectfe_get_indicator_mode(0, "i", nullptr); }},
        {"mode name", [&] { return velkdirectfe_get_indicator_mode(0, nullptr, &m); }},
        {"set mode name", [] { return velkdirectfe_set_indicator_mode(0, nullptr, 1); }},
        {"read name", [&] { return velkdirectfe_read_fru_direct(0, nullptr, 0, 4, b, &len); }},
        {"read buffer", [&] { return velkdirectfe_read_fru_direct(0, "f", 0, 4, nullptr, &len); }},
        {"read length", [&] { return velkdirectfe_read_fru_direct(0, "f", 0, 4, b, nullptr); }},
        {"write result", [&] { return velkdirectfe_write_fru_direct(0, "f", 0, 4, b, nullptr); }},
        {"inventory callback", [] { return velkdirectfe_inventory_direct(0, nullptr, nullptr); }},
        {"free sensors", [] { return velkdirectfe_free_sensor_attrs(0, 1, nullptr); }},
        {"free associations", [] { return velkdirectfe_free_entity_associations(0, 1, nullptr); }},
    };
    for (const auto& [what, run] : calls) EXPECT_EQ(run(), -1) << what;
    EXPECT_EQ(sensor, nullptr);
    EXPECT_EQ(daemon.call_count(), 0u);
}

// The frees take any handle, refuse a count of 0 (releasing nothing), skip
// zeroed records and release what a caller set; null is a no-op for the
// single ones. The leak checker sees the rest.
template <typename T>
T* zeroed(size_t count = 1) { return static_cast<T*>(calloc(count, sizeof(T))); }

TEST(Frees, ReleaseWhatIsSetAndRefuseAnEmptyCount) {
    auto* comp = zeroed<velkdirectfe_comp_attr_t>();
    auto* assoc = zeroed<velkdirectfe_entity_assoc_t>();
    EXPECT_EQ(velkdirectfe_free_component_attrs(0, 0, comp), -1);
    EXPECT_EQ(velkdirectfe_free_entity_associations(0, 0, assoc), -1);
    EXPECT_EQ(velkdirectfe_free_component_attrs(-12345, 1, comp), 0); // not freed before
    EXPECT_EQ(velkdirectfe_free_entity_associations(0, 1, assoc), 0);
    velkdirectfe_free_sensor_attr(nullptr);
    velkdirectfe_free_indicator_attr(nullptr);
    velkdirectfe_free_fru_attr(nullptr);
    velkdirectfe_free_component_attr(nullptr);
    velkdirectfe_nvlist_free(nullptr);
    auto* frus = zeroed<velkdirectfe_fru_attr_t>(3);
    frus[0].path = strdup("/a");
    frus[0].aux_str = strdup("a");
    frus[0].props = zeroed<velkdirectfe_nvlist_t>();
    frus[0].props->name = strdup("n");
    frus[0].props->value = strdup("v");
    EXPECT_EQ(velkdirectfe_free_fru_attrs(7, 3, frus), 0);
    auto* sensor = zeroed<velkdirectfe_sensor_attr_t>();
    sensor->aux_ptr_a = malloc(8);
    sensor->aux_ptr_b = malloc(8);
    sensor->opt_str = strdup("o");
    EXPECT_EQ(velkdirectfe_free_sensor_attrs(0, 1, sensor), 0);
}

TEST_F(ApiTest, FruWritesPrivateCopyFirstAndBeyondTheClientsStackBuffers) {
    // The write's private copy is its first allocation: when it fails, no
    // request reaches the daemon.
    uint8_t data[] = {1, 2, 3, 4, 5};
    int32_t result = 0;
    AllocationProbe::fail_at(0);
    EXPECT_EQ(velkdirectfe_write_fru_direct(0, "mb", 0, 5, data, &result), -1);
    AllocationProbe::disarm();
    EXPECT_EQ(daemon.call_count(), 0u);
    // 20,000 bytes each way: the call is encoded into a heap buffer of its
    // size and the reply record, in several fragments, grows on the heap;
    // each of those allocations fails in turn too.
    std::vector<uint8_t> bytes(20000), buffer(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 256);
    daemon.reply(21, xdr_fru_read_res, fru_read_res{0, 20000, bytes.data()});
    daemon.reply(22, xdr_fru_write_res, fru_write_res{0, 20000});
    uint32_t length = 0;
    auto expect_failed = [](int r) { EXPECT_EQ(r, -1); };
    sweep_allocation_failures(
        [&] { return velkdirectfe_read_fru_direct(0, "mb", 0, 20000, buffer.data(), &length); },
        expect_failed, [&](int r) {
            EXPECT_EQ(r, 0);
            EXPECT_EQ(buffer, bytes);
        });
    long allocations = sweep_allocation_failures(
        [&] { return velkdirectfe_write_fru_direct(0, "mb", 0, 20000, bytes.data(), &result); },
        expect_failed, [&](int r) {
            EXPECT_EQ(r, 0);
            EXPECT_EQ(result, 20000);
        });
    EXPECT_GE(allocations, 2); // the private copy and the call's buffer
}

// Counts and lengths claimed far beyond what the reply holds: no allocation
// is made for the claim, only for what arrives. Member slots of associations
// are not carried by the reply at all: one reply may make the library
// allocate at most as many bytes of them as a reply may carry, in all.
TEST_F(ApiTest, HostileCountsReserveOnlyWhatArrives) {
    constexpr uint32_t kSlotsAtLimit = uint32_t(vdfe::kReplyByteLimit / sizeof(velkdirectfe_entity_member_t));
    const Bytes slots_claim = words({0, 1, 1, 2, 3, 0xFFFFFFFF, 0}); // 20 bytes of association
    uint32_t count = 5, length = 0, assoc_count = 0;
    velkdirectfe_sensor_attr_t* attrs = nullptr;
    velkdirectfe_entity_assoc_t* assocs = nullptr;
    char* strid = nullptr;
    uint8_t buffer[4];
    const std::vector<std::pair<Bytes, std::function<int()>>> claims = {
        {words({0, 12000000, 0x41424300}), // 12 million records claimed
         [&] { return velkdirectfe_get_sensor_attrs(0, &count, &attrs); }},
        {words({0, 0xFFFFFFF0, 0x41414141}), [&] { return velkdirectfe_logical_num_to_strid(0, 1, &strid); }},
        {words({0, 0x7FFFFFFF, 1, 2, 3}),
         [&] { return velkdirectfe_read_fru_direct(0, "mb", 0, 4, buffer, &length); }},
        {slots_claim, [&] { return velkdirectfe_get_entity_association(0, 1, 2, &assocs); }},
        {slots_claim, [&] { return velkdirectfe_get_entity_associations(0, &assoc_count, &assocs); }},
        // two associations that each fit, one slot beyond the limit together
        {words({0, 2, 1, 2, 3, kSlotsAtLimit / 2, 0, 4, 5, 6, kSlotsAtLimit / 2 + 1, 0}),
         [&] { return velkdirectfe_get_entity_associations(0, &assoc_count, &assocs); }},
    };
    for (const auto& [reply, call] : claims) {
        for (uint32_t procedure : {3u, 20u, 21u, 23u, 24u}) daemon.reply(procedure, reply);
        AllocationProbe::count_only();
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(call(), -1);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        EXPECT_LE(AllocationProbe::largest_request(), 64u * 1024);
    }
    AllocationProbe::disarm();
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(assocs, nullptr);
    // Exactly at the limit the slots are delivered (all zero past the nodes).
    daemon.reply(24, words({0, 2, 1, 2, 3, kSlotsAtLimit / 2, 1, 7, 8, 4, 5, 6, kSlotsAtLimit / 2, 0}));
    ASSERT_EQ(velkdirectfe_get_entity_associations(0, &assoc_count, &assocs), 0);
    ASSERT_EQ(assoc_count, 2u);
    EXPECT_EQ(assocs[0].members[0].key1, 8u);
    EXPECT_EQ(assocs[1].members[kSlotsAtLimit / 2 - 1].key0, 0u);
    EXPECT_EQ(velkdirectfe_free_entity_associations(0, 2, assocs), 0);
}
