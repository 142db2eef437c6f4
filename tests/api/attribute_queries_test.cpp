// Attribute queries and the records and property lists they hand out.
#include <functional>

#include "api_fixture.h"

using namespace vdfe::test;

namespace {

class AttributeQueries : public ApiTest {
protected:
    velkfe_sensor_attr sensor(const char* path, const char* id, const char* opt,
                              std::vector<std::pair<std::string, std::string>> props = {}) {
        velkfe_sensor_attr rec{};
        fill_pattern(rec.block, 1);
        rec.path = pool.keep(path);
        rec.aux_str = pool.keep(id);
        rec.opt_str = pool.keep(opt);
        rec.prop_count = static_cast<uint32_t>(props.size());
        rec.props = props.empty() ? nullptr : pool.props(props);
        return rec;
    }
    WirePool pool;
};

std::vector<std::pair<std::string, std::string>> names_of(const velkdirectfe_nvlist_t* list) {
    std::vector<std::pair<std::string, std::string>> out;
    for (; list; list = list->next) out.emplace_back(list->name, list->value);
    return out;
}

} // namespace

TEST_F(AttributeQueries, SensorByNameCopiesBlockStringsAndPropertiesInWireOrder) {
    velkfe_sensor_attr wire = sensor("/mb/cpu/temp", "cpu_temp", "", {{"a", "1"}, {"b", "2"}, {"a", "3"}});
    // bytes where the pointers of a 4-byte-pointer record lie, non-zero on purpose
    uint32_t kind = 0xCAFE0102;
    std::memcpy(&wire.block[44], &kind, 4);
    sensor_attrs_res res{0, 1, &wire};
    daemon.reply(1, xdr_sensor_attrs_res, res);

    velkdirectfe_sensor_attr_t* attr = nullptr;
    ASSERT_EQ(velkdirectfe_get_sensor_attr(0, "cpu_temp", &attr), 0);
    EXPECT_EQ(last_procedure(), 1u);
    EXPECT_EQ(daemon.last_arguments(1), xdr_str("cpu_temp"));
    ASSERT_NE(attr, nullptr);
    EXPECT_STREQ(attr->path, "/mb/cpu/temp");
    EXPECT_STREQ(attr->aux_str, "cpu_temp");
    EXPECT_EQ(attr->opt_str, nullptr); // empty third string: no string
    EXPECT_EQ(attr->kind, kind);
    EXPECT_EQ(0, std::memcmp(attr->desc, &wire.block[48], 10));
    EXPECT_EQ(0, std::memcmp(attr->opaque0, &wire.block[0], 8));
    EXPECT_EQ(0, std::memcmp(attr->opaque1, &wire.block[16], 28));
    EXPECT_EQ(0, std::memcmp(attr->opaque2, &wire.block[58], 50));
    EXPECT_EQ(0, std::memcmp(attr->opaque3, &wire.block[116], 28));
    EXPECT_EQ(attr->aux_ptr_a, nullptr); // never taken from the block
    EXPECT_EQ(attr->aux_ptr_b, nullptr);
    using P = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(names_of(attr->props), (P{{"a", "1"}, {"b", "2"}, {"a", "3"}}));
    EXPECT_EQ(velkdirectfe_free_sensor_attrs(0, 1, attr), 0);
}

TEST_F(AttributeQueries, BlankThirdStringIsKeptAndEmptyStringsStayStrings) {
    velkfe_sensor_attr wire = sensor("", "", " ", {{"", ""}});
    sensor_attrs_res res{0, 1, &wire};
    daemon.reply(2, xdr_sensor_attrs_res, res);
    velkdirectfe_sensor_attr_t* attr = nullptr;
    ASSERT_EQ(velkdirectfe_get_sensor_attr_by_logical_num(0, 0xFFFFFFF0u, &attr), 0);
    EXPECT_EQ(daemon.last_arguments(2), words({0xFFFFFFF0u}));
    EXPECT_STREQ(attr->opt_str, " ");
    EXPECT_STREQ(attr->path, "");
    EXPECT_STREQ(attr->aux_str, "");
    ASSERT_NE(attr->props, nullptr);
    EXPECT_STREQ(attr->props->name, "");
    EXPECT_EQ(attr->props->next, nullptr);
    velkdirectfe_free_sensor_attrs(0, 1, attr);
}

TEST_F(AttributeQueries, SingleQueryUsesFirstRecordOnly) {
    velkfe_sensor_attr two[] = {sensor("/one", "one", "x"), sensor("/two", "two", "y")};
    sensor_attrs_res res{0, 2, two};
    daemon.reply(1, xdr_sensor_attrs_res, res);
    velkdirectfe_sensor_attr_t* attr = nullptr;
    ASSERT_EQ(velkdirectfe_get_sensor_attr(0, "one", &attr), 0);
    EXPECT_STREQ(attr->path, "/one");
    velkdirectfe_free_sensor_attrs(0, 1, attr);
}

TEST_F(AttributeQueries, SingleQueryAnsweredWithNoRecordFailsAndWritesNothing) {
    daemon.reply(1, words({0, 0}));
    daemon.reply(4, words({0, 0}));
    daemon.reply(6, words({0, 0}));
    auto* sensor_out = static_cast<velkdirectfe_sensor_attr_t*>(const_cast<void*>(untouched_pointer()));
    auto* ind_out = static_cast<velkdirectfe_ind_attr_t*>(const_cast<void*>(untouched_pointer()));
    auto* fru_out = static_cast<velkdirectfe_fru_attr_t*>(const_cast<void*>(untouched_pointer()));
    EXPECT_EQ(velkdirectfe_get_sensor_attr(0, "x", &sensor_out), -1);
    EXPECT_EQ(velkdirectfe_get_indicator_attr(0, "x", &ind_out), -1);
    EXPECT_EQ(velkdirectfe_get_fru_attr(0, "x", &fru_out), -1);
    EXPECT_EQ(sensor_out, untouched_pointer());
    EXPECT_EQ(ind_out, untouched_pointer());
    EXPECT_EQ(fru_out, untouched_pointer());
}

TEST_F(AttributeQueries, DaemonStatusLeavesCountAndPointerAsTheyWere) {
    for (uint32_t proc : {3u, 5u, 7u, 29u}) daemon.reply_status(proc, 2);
    uint32_t count = 99;
    auto* sensors = static_cast<velkdirectfe_sensor_attr_t*>(const_cast<void*>(untouched_pointer()));
    auto* comps = static_cast<velkdirectfe_comp_attr_t*>(const_cast<void*>(untouched_pointer()));
    EXPECT_EQ(velkdirectfe_get_sensor_attrs(0, &count, &sensors), 2);
    EXPECT_EQ(velkdirectfe_get_component_attrs(0, &count, &comps), 2);
    EXPECT_EQ(count, 99u);
    EXPECT_EQ(sensors, untouched_pointer());
    EXPECT_EQ(comps, untouched_pointer());
}

TEST_F(AttributeQueries, EmptyListsGiveCountZeroAndNothingToRelease) {
    for (uint32_t proc : {3u, 5u, 7u, 29u}) daemon.reply(proc, words({0, 0}));
    uint32_t count = 99;
    velkdirectfe_fru_attr_t* frus = reinterpret_cast<velkdirectfe_fru_attr_t*>(uintptr_t{1});
    EXPECT_EQ(velkdirectfe_get_fru_attrs(0, &count, &frus), 0);
    EXPECT_EQ(last_procedure(), 7u);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(frus, nullptr);
    velkdirectfe_ind_attr_t* inds = nullptr;
    count = 5;
    EXPECT_EQ(velkdirectfe_get_indicator_attrs(0, &count, &inds), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(last_procedure(), 5u);
}

TEST_F(AttributeQueries, ListsOfEveryKindInDaemonOrder) {
    velkfe_ind_attr inds[2] = {};
    velkfe_fru_attr frus[2] = {};
    velkfe_comp_attr comps[2] = {};
    for (int i = 0; i < 2; ++i) {
        fill_pattern(inds[i].block, uint8_t(10 + i));
        fill_pattern(frus[i].block, uint8_t(20 + i));
        fill_pattern(comps[i].block, uint8_t(30 + i));
        inds[i].path = frus[i].path = comps[i].path = pool.keep("/p" + std::to_string(i));
        inds[i].aux_str = frus[i].aux_str = pool.keep("n" + std::to_string(i));
    }
    comps[1].prop_count = 1;
    comps[1].props = pool.props({{"k", "v"}});
    indicator_attrs_res ind_res{0, 2, inds};
    fru_attrs_res fru_res{0, 2, frus};
    comp_attrs_res comp_res{0, 2, comps};
    daemon.reply(5, xdr_indicator_attrs_res, ind_res);
    daemon.reply(7, xdr_fru_attrs_res, fru_res);
    daemon.reply(29, xdr_comp_attrs_res, comp_res);

    uint32_t count = 0;
    velkdirectfe_ind_attr_t* ind = nullptr;
    ASSERT_EQ(velkdirectfe_get_indicator_attrs(0, &count, &ind), 0);
    ASSERT_EQ(count, 2u);
    EXPECT_STREQ(ind[1].path, "/p1");
    EXPECT_STREQ(ind[1].aux_str, "n1");
    EXPECT_EQ(0, std::memcmp(&ind[1].kind, &inds[1].block[12], 4));
    EXPECT_EQ(0, std::memcmp(ind[1].desc, &inds[1].block[16], 10));
    EXPECT_EQ(0, std::memcmp(ind[1].opaque1, &inds[1].block[26], 14));
    EXPECT_EQ(velkdirectfe_free_indicator_attrs(0, count, ind), 0);

    velkdirectfe_fru_attr_t* fru = nullptr;
    ASSERT_EQ(velkdirectfe_get_fru_attrs(0, &count, &fru), 0);
    EXPECT_STREQ(fru[0].aux_str, "n0");
    EXPECT_EQ(0, std::memcmp(&fru[0].kind, &frus[0].block[16], 4));
    EXPECT_EQ(0, std::memcmp(fru[0].desc, &frus[0].block[20], 10));
    EXPECT_EQ(0, std::memcmp(fru[0].opaque1, &frus[0].block[12], 4));
    EXPECT_EQ(0, std::memcmp(fru[0].opaque2, &frus[0].block[30], 70));
    EXPECT_EQ(fru[0].props, nullptr);
    EXPECT_EQ(velkdirectfe_free_fru_attrs(0, count, fru), 0);

    velkdirectfe_comp_attr_t* comp = nullptr;
    ASSERT_EQ(velkdirectfe_get_component_attrs(0, &count, &comp), 0);
    EXPECT_EQ(0, std::memcmp(&comp[1].kind, &comps[1].block[8], 4));
    EXPECT_EQ(0, std::memcmp(comp[1].desc, &comps[1].block[12], 10));
    EXPECT_EQ(0, std::memcmp(comp[1].opaque1, &comps[1].block[22], 2));
    ASSERT_NE(comp[1].props, nullptr);
    EXPECT_STREQ(comp[1].props->value, "v");
    EXPECT_EQ(velkdirectfe_free_component_attrs(0, count, comp), 0);
}

TEST_F(AttributeQueries, IndicatorAndFruByName) {
    velkfe_ind_attr ind{};
    ind.path = pool.keep("/front/led");
    ind.aux_str = pool.keep("power_led");
    velkfe_fru_attr fru{};
    fru.path = pool.keep("/mb");
    fru.aux_str = pool.keep("mainboard");
    indicator_attrs_res ind_res{0, 1, &ind};
    fru_attrs_res fru_res{0, 1, &fru};
    daemon.reply(4, xdr_indicator_attrs_res, ind_res);
    daemon.reply(6, xdr_fru_attrs_res, fru_res);
    velkdirectfe_ind_attr_t* i = nullptr;
    ASSERT_EQ(velkdirectfe_get_indicator_attr(0, "power_led", &i), 0);
    EXPECT_EQ(daemon.last_arguments(4), xdr_str("power_led"));
    EXPECT_STREQ(i->aux_str, "power_led");
    velkdirectfe_free_indicator_attrs(0, 1, i);
    velkdirectfe_fru_attr_t* f = nullptr;
    ASSERT_EQ(velkdirectfe_get_fru_attr(0, "mainboard", &f), 0);
    EXPECT_EQ(daemon.last_arguments(6), xdr_str("mainboard"));
    EXPECT_STREQ(f->path, "/mb");
    velkdirectfe_free_fru_attrs(0, 1, f);
}

TEST(AttributeFrees, RefuseNullOrEmptyAndAcceptAnyHandle) {
    EXPECT_EQ(velkdirectfe_free_sensor_attrs(0, 1, nullptr), -1);
    velkdirectfe_comp_attr_t* comp = static_cast<velkdirectfe_comp_attr_t*>(calloc(1, sizeof *comp));
    EXPECT_EQ(velkdirectfe_free_component_attrs(0, 0, comp), -1); // count 0: not released
    velkdirectfe_free_sensor_attr(nullptr);
    velkdirectfe_free_indicator_attr(nullptr);
    velkdirectfe_free_fru_attr(nullptr);
    velkdirectfe_free_component_attr(nullptr);
    velkdirectfe_nvlist_free(nullptr);
    EXPECT_EQ(velkdirectfe_free_component_attrs(-12345, 1, comp), 0);
}

TEST(AttributeFrees, ReleasesCallerSetPointersAndSkipsZeroRecords) {
    auto* frus = static_cast<velkdirectfe_fru_attr_t*>(calloc(3, sizeof(velkdirectfe_fru_attr_t)));
    frus[0].path = strdup("/a");
    frus[0].aux_str = strdup("a");
    auto* node = static_cast<velkdirectfe_nvlist_t*>(calloc(1, sizeof(velkdirectfe_nvlist_t)));
    node->name = strdup("n");
    node->value = strdup("v");
    frus[0].props = node;
    EXPECT_EQ(velkdirectfe_free_fru_attrs(7, 3, frus), 0);

    auto* sensor = static_cast<velkdirectfe_sensor_attr_t*>(calloc(1, sizeof(velkdirectfe_sensor_attr_t)));
    sensor->aux_ptr_a = malloc(8);
    sensor->aux_ptr_b = malloc(8);
    sensor->opt_str = strdup("o");
    EXPECT_EQ(velkdirectfe_free_sensor_attrs(0, 1, sensor), 0); // the leak check sees the rest
}

// A null output is refused before any connection, by every function that has
// one, so the daemon never sees the call.
TEST_F(AttributeQueries, NullOutputsAreRefusedBeforeConnecting) {
    uint32_t count = 0, word = 0, got = 0;
    uint16_t reading = 0, poll_short = 0;
    float value = 0;
    uint8_t buffer[4] = {};
    velkdirectfe_sensor_attr_t* sensor = nullptr;
    velkdirectfe_entity_assoc_t* assoc = nullptr;
    const std::vector<std::pair<const char*, std::function<int()>>> calls = {
        {"open", [] { return velkdirectfe_open(nullptr); }},
        {"sensor attr", [] { return velkdirectfe_get_sensor_attr(0, "s", nullptr); }},
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
        {"vals reading", [&] { return velkdirectfe_get_sensor_vals(0, "s", nullptr, &value); }},
        {"vals value", [&] { return velkdirectfe_get_sensor_vals(0, "s", &reading, nullptr); }},
        {"vals #", [&] { return velkdirectfe_get_sensor_vals_by_logical_num(0, 1, &reading, nullptr); }},
        {"data", [] { return velkdirectfe_get_sensor_data(0, "s", nullptr); }},
        {"data #", [] { return velkdirectfe_get_sensor_data_by_logical_num(0, 1, nullptr); }},
        {"thresholds", [] { return velkdirectfe_get_normalized_thresholds(0, 1, nullptr); }},
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
        {"read buffer", [&] { return velkdirectfe_read_fru_direct(0, "f", 0, 4, nullptr, &got); }},
        {"read length", [&] { return velkdirectfe_read_fru_direct(0, "f", 0, 4, buffer, nullptr); }},
        {"write result", [&] { return velkdirectfe_write_fru_direct(0, "f", 0, 4, buffer, nullptr); }},
    };
    for (const auto& [what, run] : calls) EXPECT_EQ(run(), -1) << what;
    EXPECT_EQ(daemon.call_count(), 0u);
}
