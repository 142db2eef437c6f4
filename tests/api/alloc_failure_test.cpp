// Every allocation of every call made to fail in turn: the call returns -1,
// never crashes, leaves nothing allocated (the leak checker watches the
// whole process) and no output pointing to a released block; the clean run
// delivers what it should and its records are released completely by their
// free functions.
#include "every_call.h"
#include "failing_alloc.h"

using namespace vdfe::test;

namespace {

class AllocationFailure : public ApiTest, public testing::WithParamInterface<Call> {};

std::vector<Call> answered_calls() {
    std::vector<Call> out;
    for (const Call& call : kCalls)
        if (!call.reply.empty()) out.push_back(call);
    return out;
}

} // namespace

TEST_P(AllocationFailure, EveryAllocationFailsInTurn) {
    const Call& call = GetParam();
    daemon.reply(call.procedure, call.reply);
    Out out, before;
    long clean = sweep_allocation_failures(
        [&] {
            std::memset(&out, 0x5C, sizeof out);
            before = out;
            return call.run(out);
        },
        [&](int result) {
            EXPECT_EQ(result, -1);
            // A pointer is left as it was or set to null, never to a released block.
            EXPECT_TRUE(out.list == before.list || out.list == nullptr);
            EXPECT_TRUE(out.strid == before.strid || out.strid == nullptr);
            EXPECT_TRUE(out.names.name1 == before.names.name1 || out.names.name1 == nullptr);
            EXPECT_TRUE(out.names.name2 == before.names.name2 || out.names.name2 == nullptr);
        },
        [&](int result) {
            ASSERT_EQ(result, call.result);
            if (call.check) call.check(out, before);
        });
    // decoding and copying both swept
    EXPECT_GT(clean, std::string(call.name) == "sensor_attrs" ? 20 : 0);
}

INSTANTIATE_TEST_SUITE_P(Api, AllocationFailure, testing::ValuesIn(answered_calls()),
                         [](const testing::TestParamInfo<Call>& info) { return info.param.name; });

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
    EXPECT_GE(allocations, 3); // the private copy, the client, the call's buffer
}

// Counts and lengths claimed far beyond what the reply holds: no allocation
// is made for the claim, only for what arrives.
TEST_F(ApiTest, HostileCountsReserveOnlyWhatArrives) {
    daemon.reply(3, words({0, 12000000, 0x41424300})); // 12 million records claimed
    daemon.reply(20, words({0, 0xFFFFFFF0, 0x41414141}));
    daemon.reply(21, words({0, 0x7FFFFFFF, 1, 2, 3}));
    uint32_t count = 5, length = 0;
    velkdirectfe_sensor_attr_t* attrs = nullptr;
    char* strid = nullptr;
    uint8_t buffer[4];
    for (const std::function<int()>& call : std::vector<std::function<int()>>{
             [&] { return velkdirectfe_get_sensor_attrs(0, &count, &attrs); },
             [&] { return velkdirectfe_logical_num_to_strid(0, 1, &strid); },
             [&] { return velkdirectfe_read_fru_direct(0, "mb", 0, 4, buffer, &length); }}) {
        AllocationProbe::count_only();
        EXPECT_EQ(call(), -1);
        EXPECT_LE(AllocationProbe::largest_request(), 64u * 1024);
    }
    AllocationProbe::disarm();
    EXPECT_EQ(count, 5u);
}
