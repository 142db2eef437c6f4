// Every allocation of every call made to fail in turn: the call returns -1,
// never crashes and leaves nothing allocated (the leak checker watches the
// whole process), and the records of a clean run are released completely by
// their free functions.
#include "api_fixture.h"
#include "failing_alloc.h"

using namespace vdfe::test;

namespace {

class AllocationFailure : public ApiTest {
protected:
    // Sweeps op; every failed run must give -1 and leave the outputs that
    // matter unset. Returns the allocations of the clean run.
    long sweep(const std::function<int()>& op, const std::function<void()>& release_success) {
        long clean = sweep_allocation_failures(
            op, [](int result) { EXPECT_EQ(result, -1); },
            [&](int result) {
                EXPECT_EQ(result, 0);
                release_success();
            });
        EXPECT_GT(clean, 0);
        return clean;
    }

    void serve_attribute_lists() {
        for (int i = 0; i < 3; ++i) {
            fill_pattern(sensors[i].block, uint8_t(i));
            sensors[i].path = pool.keep("/s" + std::to_string(i));
            sensors[i].aux_str = pool.keep("id" + std::to_string(i));
            sensors[i].opt_str = pool.keep(i == 1 ? "" : "opt");
            sensors[i].prop_count = 2;
            sensors[i].props = pool.props({{"a", "1"}, {"b", "2"}});
            inds[i].path = frus[i].path = comps[i].path = pool.keep("/x" + std::to_string(i));
            inds[i].aux_str = frus[i].aux_str = pool.keep("n");
            inds[i].prop_count = frus[i].prop_count = comps[i].prop_count = 1;
            inds[i].props = frus[i].props = comps[i].props = pool.props({{"k", "v"}});
        }
        sensor_attrs_res s{0, 3, sensors};
        indicator_attrs_res in{0, 3, inds};
        fru_attrs_res f{0, 3, frus};
        comp_attrs_res c{0, 3, comps};
        for (uint32_t proc : {1u, 2u, 3u}) daemon.reply(proc, xdr_sensor_attrs_res, s);
        for (uint32_t proc : {4u, 5u}) daemon.reply(proc, xdr_indicator_attrs_res, in);
        for (uint32_t proc : {6u, 7u}) daemon.reply(proc, xdr_fru_attrs_res, f);
        daemon.reply(29, xdr_comp_attrs_res, c);
    }

    WirePool pool;
    velkfe_sensor_attr sensors[3] = {};
    velkfe_ind_attr inds[3] = {};
    velkfe_fru_attr frus[3] = {};
    velkfe_comp_attr comps[3] = {};
};

} // namespace

TEST_F(AllocationFailure, AttributeListQueries) {
    serve_attribute_lists();
    uint32_t count = 0;
    velkdirectfe_sensor_attr_t* s = nullptr;
    long allocations = sweep([&] { s = nullptr; return velkdirectfe_get_sensor_attrs(0, &count, &s); },
                             [&] { EXPECT_EQ(velkdirectfe_free_sensor_attrs(0, count, s), 0); });
    EXPECT_GT(allocations, 20); // decoding and copying both were swept
    velkdirectfe_ind_attr_t* i = nullptr;
    sweep([&] { return velkdirectfe_get_indicator_attrs(0, &count, &i); },
          [&] { EXPECT_EQ(velkdirectfe_free_indicator_attrs(0, count, i), 0); });
    velkdirectfe_fru_attr_t* f = nullptr;
    sweep([&] { return velkdirectfe_get_fru_attrs(0, &count, &f); },
          [&] { EXPECT_EQ(velkdirectfe_free_fru_attrs(0, count, f), 0); });
    velkdirectfe_comp_attr_t* c = nullptr;
    sweep([&] { return velkdirectfe_get_component_attrs(0, &count, &c); },
          [&] { EXPECT_EQ(velkdirectfe_free_component_attrs(0, count, c), 0); });
}

TEST_F(AllocationFailure, SingleAttributeQueriesLeaveNoReleasedPointerBehind) {
    serve_attribute_lists();
    velkdirectfe_sensor_attr_t* s = nullptr;
    auto check_null = [&](int result) {
        EXPECT_EQ(result, -1);
        // Either untouched (decoding failed) or null (copying failed).
        EXPECT_TRUE(s == nullptr || s == untouched_pointer());
    };
    auto reset = [&] { s = static_cast<velkdirectfe_sensor_attr_t*>(const_cast<void*>(untouched_pointer())); };
    sweep_allocation_failures([&] { reset(); return velkdirectfe_get_sensor_attr(0, "id0", &s); }, check_null,
                              [&](int result) {
                                  ASSERT_EQ(result, 0);
                                  EXPECT_STREQ(s->opt_str, "opt");
                                  velkdirectfe_free_sensor_attrs(0, 1, s);
                              });
    sweep([&] { return velkdirectfe_get_sensor_attr_by_logical_num(0, 1, &s); },
          [&] { velkdirectfe_free_sensor_attrs(0, 1, s); });
    velkdirectfe_ind_attr_t* i = nullptr;
    sweep([&] { return velkdirectfe_get_indicator_attr(0, "n", &i); }, [&] { velkdirectfe_free_indicator_attrs(0, 1, i); });
    velkdirectfe_fru_attr_t* f = nullptr;
    sweep([&] { return velkdirectfe_get_fru_attr(0, "n", &f); }, [&] { velkdirectfe_free_fru_attrs(0, 1, f); });
}

TEST_F(AllocationFailure, NamesStringIdsAndAssociations) {
    char a[] = "platform-a", b[] = "platform-b", id[] = "cpu_temp";
    daemon.reply(8, xdr_get_plat_names_res, get_plat_names_res{0, {1, a, b}});
    daemon.reply(20, xdr_sensor_name_res, sensor_name_res{0, id});
    velkfe_mem_node nodes[] = {{1, 2}, {3, 4}};
    velkfe_assoc_t wire[] = {{1, 2, 3, 2, 2, nodes}, {4, 5, 6, 1, 2, nodes}, {7, 8, 9, 0, 0, nullptr}};
    daemon.reply(23, xdr_entity_assoc_res, entity_assoc_res{0, 3, wire});
    daemon.reply(24, xdr_entity_assoc_res, entity_assoc_res{0, 3, wire});

    velkdirectfe_plat_names_t names{};
    sweep_allocation_failures(
        [&] { names = {0, nullptr, reinterpret_cast<char*>(uintptr_t{1})}; return velkdirectfe_get_platform_names(0, &names); },
        [&](int result) {
            EXPECT_EQ(result, -1);
            EXPECT_EQ(names.name1, nullptr); // never a released address
        },
        [&](int result) {
            ASSERT_EQ(result, 0);
            free(names.name1);
            free(names.name2);
        });
    char* strid = nullptr;
    sweep([&] { return velkdirectfe_logical_num_to_strid(0, 1, &strid); }, [&] { free(strid); });
    velkdirectfe_entity_assoc_t* assoc = nullptr;
    sweep([&] { return velkdirectfe_get_entity_association(0, 1, 2, &assoc); },
          [&] { velkdirectfe_free_entity_associations(0, 1, assoc); });
    uint32_t count = 0;
    velkdirectfe_entity_assoc_t* assocs = nullptr;
    sweep_allocation_failures([&] { return velkdirectfe_get_entity_associations(0, &count, &assocs); },
                              [&](int result) {
                                  EXPECT_EQ(result, -1);
                              },
                              [&](int result) {
                                  ASSERT_EQ(result, 0);
                                  EXPECT_EQ(velkdirectfe_free_entity_associations(0, count, assocs), 0);
                              });
}

TEST_F(AllocationFailure, FruAccessAndIndicatorNames) {
    uint8_t data[] = {1, 2, 3, 4, 5};
    daemon.reply(21, xdr_fru_read_res, fru_read_res{0, 5, data});
    daemon.reply(22, xdr_fru_write_res, fru_write_res{0, 5});
    uint8_t buffer[8];
    uint32_t read_len = 0;
    sweep([&] { return velkdirectfe_read_fru_direct(0, "mb", 0, 8, buffer, &read_len); },
          [&] { EXPECT_EQ(read_len, 5u); });
    // The write's private copy is its first allocation: when it fails, no
    // request reaches the daemon.
    size_t before = daemon.call_count();
    AllocationProbe::fail_at(0);
    int32_t result = 0;
    EXPECT_EQ(velkdirectfe_write_fru_direct(0, "mb", 0, 5, data, &result), -1);
    AllocationProbe::disarm();
    EXPECT_EQ(daemon.call_count(), before);
    sweep([&] { return velkdirectfe_write_fru_direct(0, "mb", 0, 5, data, &result); }, [&] { EXPECT_EQ(result, 5); });
}

TEST_F(AllocationFailure, CallsAndRepliesBeyondTheClientsStackBuffers) {
    // 20,000 bytes each way: the call is encoded into a heap buffer of its
    // size and the reply record grows on the heap, and each of those
    // allocations fails in turn too.
    std::vector<uint8_t> data(20000, 0x5A);
    daemon.reply(21, xdr_fru_read_res, fru_read_res{0, 20000, data.data()});
    daemon.reply(22, xdr_fru_write_res, fru_write_res{0, 20000});
    std::vector<uint8_t> buffer(data.size());
    uint32_t read_len = 0;
    sweep([&] { return velkdirectfe_read_fru_direct(0, "mb", 0, 20000, buffer.data(), &read_len); },
          [&] { EXPECT_EQ(buffer, data); });
    int32_t result = 0;
    long allocations = sweep([&] { return velkdirectfe_write_fru_direct(0, "mb", 0, 20000, data.data(), &result); },
                             [&] { EXPECT_EQ(result, 20000); });
    EXPECT_GE(allocations, 3); // the private copy, the client, the call's buffer
}

TEST_F(AllocationFailure, HostileCountsReserveOnlyWhatArrives) {
    // 12 million sensor records claimed in 11 bytes of body.
    Bytes claim = words({0, 12000000});
    claim.insert(claim.end(), {0x41, 0x42, 0x43, 0x00}); // padded to a word by the record mark
    daemon.reply(3, claim);
    daemon.reply(20, words({0, 0xFFFFFFF0, 0x41414141}));
    daemon.reply(21, words({0, 0x7FFFFFFF, 1, 2, 3}));

    uint32_t count = 5;
    velkdirectfe_sensor_attr_t* attrs = nullptr;
    AllocationProbe::count_only();
    EXPECT_EQ(velkdirectfe_get_sensor_attrs(0, &count, &attrs), -1);
    EXPECT_LE(AllocationProbe::largest_request(), 64u * 1024);
    char* strid = nullptr;
    AllocationProbe::count_only();
    EXPECT_EQ(velkdirectfe_logical_num_to_strid(0, 1, &strid), -1);
    EXPECT_LE(AllocationProbe::largest_request(), 64u * 1024);
    uint8_t buffer[4];
    uint32_t read_len = 0;
    AllocationProbe::count_only();
    EXPECT_EQ(velkdirectfe_read_fru_direct(0, "mb", 0, 4, buffer, &read_len), -1);
    EXPECT_LE(AllocationProbe::largest_request(), 64u * 1024);
    AllocationProbe::disarm();
    EXPECT_EQ(count, 5u);
}
