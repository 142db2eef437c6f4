// Attribute queries and entity associations: the records, lists and property
// lists they hand out, and the frees that release them.
#include "api_fixture.h"

using namespace vdfe::test;

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

class AttributeQueries : public ApiTest {
protected:
    velkfe_sensor_attr sensor(const char* path, const char* id, const char* opt, Pairs props = {}) {
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

Pairs names_of(const velkdirectfe_nvlist_t* list) {
    Pairs out;
    for (; list; list = list->next) out.emplace_back(list->name, list->value);
    return out;
}

} // namespace

TEST_F(AttributeQueries, SensorByNameCopiesBlockStringsAndPropertiesInWireOrder) {
    velkfe_sensor_attr wire = sensor("/mb/cpu/temp", "cpu_temp", "", {{"a", "1"}, {"b", "2"}, {"a", "3"}});
    // bytes where the pointers of a 4-byte-pointer record lie, non-zero on purpose
    uint32_t kind = 0xCAFE0102;
    std::memcpy(&wire.block[44], &kind, 4);
    daemon.reply(1, xdr_sensor_attrs_res, sensor_attrs_res{0, 1, &wire});
    velkdirectfe_sensor_attr_t* attr = nullptr;
    ASSERT_EQ(velkdirectfe_get_sensor_attr(0, "cpu_temp", &attr), 0);
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
    EXPECT_EQ(names_of(attr->props), (Pairs{{"a", "1"}, {"b", "2"}, {"a", "3"}}));
    EXPECT_EQ(velkdirectfe_free_sensor_attrs(0, 1, attr), 0);
}

TEST_F(AttributeQueries, BlankThirdStringIsKeptAndEmptyStringsStayStrings) {
    velkfe_sensor_attr wire = sensor("", "", " ", {{"", ""}});
    daemon.reply(2, xdr_sensor_attrs_res, sensor_attrs_res{0, 1, &wire});
    velkdirectfe_sensor_attr_t* attr = nullptr;
    ASSERT_EQ(velkdirectfe_get_sensor_attr_by_logical_num(0, 1, &attr), 0);
    EXPECT_STREQ(attr->opt_str, " ");
    EXPECT_STREQ(attr->path, "");
    EXPECT_STREQ(attr->aux_str, "");
    ASSERT_NE(attr->props, nullptr);
    EXPECT_STREQ(attr->props->name, "");
    EXPECT_EQ(attr->props->next, nullptr);
    velkdirectfe_free_sensor_attrs(0, 1, attr);
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
    daemon.reply(5, xdr_indicator_attrs_res, indicator_attrs_res{0, 2, inds});
    daemon.reply(7, xdr_fru_attrs_res, fru_attrs_res{0, 2, frus});
    daemon.reply(29, xdr_comp_attrs_res, comp_attrs_res{0, 2, comps});

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

TEST_F(AttributeQueries, AssociationMembersFillFromNodesAndTheRestIsZero) {
    velkfe_mem_node nodes_a[] = {{1, 0xFF}, {2, 0x80}};
    velkfe_mem_node nodes_b[] = {{5, 6}, {7, 8}, {9, 10}};
    velkfe_assoc_t wire[] = {
        {0x25, 0xFF, 0xA0A0A0A0, 4, 2, nodes_a}, // more members than nodes
        {0x26, 0x01, 1, 1, 3, nodes_b},          // fewer members than nodes
        {0x27, 0x02, 2, 0, 0, nullptr},          // no members: still a block
    };
    daemon.reply(24, xdr_entity_assoc_res, entity_assoc_res{0, 3, wire});
    uint32_t count = 0;
    velkdirectfe_entity_assoc_t* assocs = nullptr;
    ASSERT_EQ(velkdirectfe_get_entity_associations(0, &count, &assocs), 0);
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(assocs[0].key0, 0x25);
    EXPECT_EQ(assocs[0].key1, 255);
    EXPECT_EQ(assocs[0].reserved, 0);
    EXPECT_EQ(assocs[0].assoc_word, 0xA0A0A0A0u);
    ASSERT_EQ(assocs[0].member_count, 4u);
    EXPECT_EQ(assocs[0].members[0].key0, 1u);
    EXPECT_EQ(assocs[0].members[0].key1, 255u);
    EXPECT_EQ(assocs[0].members[1].key1, 128u);
    EXPECT_EQ(assocs[0].members[2].key0, 0u);
    EXPECT_EQ(assocs[0].members[3].key1, 0u);
    ASSERT_EQ(assocs[1].member_count, 1u);
    EXPECT_EQ(assocs[1].members[0].key0, 5u);
    EXPECT_NE(assocs[2].members, nullptr);
    EXPECT_EQ(velkdirectfe_free_entity_associations(0, count, assocs), 0);

    // A member count too large to allocate: the count is stored, no array.
    velkfe_assoc_t huge{1, 2, 3, 0xFFFFFFFF, 0, nullptr};
    daemon.reply(24, xdr_entity_assoc_res, entity_assoc_res{0, 1, &huge});
    EXPECT_EQ(velkdirectfe_get_entity_associations(0, &count, &assocs), -1);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(assocs, nullptr);
}

TEST(Frees, RefuseNullOrEmptyAndAcceptAnyHandle) {
    EXPECT_EQ(velkdirectfe_free_sensor_attrs(0, 1, nullptr), -1);
    EXPECT_EQ(velkdirectfe_free_entity_associations(0, 1, nullptr), -1);
    auto* comp = static_cast<velkdirectfe_comp_attr_t*>(calloc(1, sizeof(velkdirectfe_comp_attr_t)));
    auto* assoc = static_cast<velkdirectfe_entity_assoc_t*>(calloc(1, sizeof(velkdirectfe_entity_assoc_t)));
    EXPECT_EQ(velkdirectfe_free_component_attrs(0, 0, comp), -1); // count 0: not released
    EXPECT_EQ(velkdirectfe_free_entity_associations(0, 0, assoc), -1);
    velkdirectfe_free_sensor_attr(nullptr);
    velkdirectfe_free_indicator_attr(nullptr);
    velkdirectfe_free_fru_attr(nullptr);
    velkdirectfe_free_component_attr(nullptr);
    velkdirectfe_nvlist_free(nullptr);
    EXPECT_EQ(velkdirectfe_free_component_attrs(-12345, 1, comp), 0);
    EXPECT_EQ(velkdirectfe_free_entity_associations(0, 1, assoc), 0);
}

TEST(Frees, ReleaseCallerSetPointersAndSkipZeroRecords) {
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
