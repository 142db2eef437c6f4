// Platform names, sensor string ids and entity associations.
#include "api_fixture.h"

using namespace vdfe::test;

namespace {
using PlatformNames = ApiTest;
using EntityAssociations = ApiTest;
} // namespace

TEST_F(PlatformNames, NamesAndLeadByteAreHandedOver) {
    char a[] = "Velk 9000", b[] = "";
    daemon.reply(8, xdr_get_plat_names_res, get_plat_names_res{0, {0xC3, a, b}});
    velkdirectfe_plat_names_t names{0, nullptr, nullptr};
    ASSERT_EQ(velkdirectfe_get_platform_names(0, &names), 0);
    EXPECT_EQ(last_procedure(), 8u);
    EXPECT_EQ(names.lead_byte, 0xC3);
    EXPECT_STREQ(names.name1, "Velk 9000");
    ASSERT_NE(names.name2, nullptr);
    EXPECT_STREQ(names.name2, "");
    free(names.name1);
    free(names.name2);
}

TEST_F(PlatformNames, StatusWritesNothing) {
    daemon.reply_status(8, 3);
    daemon.reply_status(20, 3);
    velkdirectfe_plat_names_t names{7, nullptr, nullptr};
    char* strid = static_cast<char*>(const_cast<void*>(untouched_pointer()));
    EXPECT_EQ(velkdirectfe_get_platform_names(0, &names), 3);
    EXPECT_EQ(velkdirectfe_logical_num_to_strid(0, 1, &strid), 3);
    EXPECT_EQ(names.lead_byte, 7);
    EXPECT_EQ(names.name1, nullptr);
    EXPECT_EQ(strid, untouched_pointer());
}

TEST_F(PlatformNames, StringIdOfNegativeNumber) {
    char id[] = "psu0_vout";
    daemon.reply(20, xdr_sensor_name_res, sensor_name_res{0, id});
    char* strid = nullptr;
    ASSERT_EQ(velkdirectfe_logical_num_to_strid(0, -2, &strid), 0);
    EXPECT_EQ(daemon.last_arguments(20), words({0xFFFFFFFE}));
    EXPECT_STREQ(strid, "psu0_vout");
    free(strid);
}

TEST_F(EntityAssociations, MembersFillFromNodesAndTheRestIsZero) {
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
    EXPECT_TRUE(daemon.last_arguments(24).empty());
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
}

TEST_F(EntityAssociations, SingleAssociationByKey) {
    velkfe_mem_node node{3, 4};
    velkfe_assoc_t wire{0x25, 0x01, 7, 1, 1, &node};
    daemon.reply(23, xdr_entity_assoc_res, entity_assoc_res{0, 1, &wire});
    velkdirectfe_entity_assoc_t* assoc = nullptr;
    ASSERT_EQ(velkdirectfe_get_entity_association(0, 0x25, 0x01, &assoc), 0);
    EXPECT_EQ(daemon.last_arguments(23), words({0x25, 0x01}));
    EXPECT_EQ(assoc->members[0].key1, 4u);
    EXPECT_EQ(velkdirectfe_free_entity_associations(0, 1, assoc), 0);
}

TEST_F(EntityAssociations, EmptyAnswersAndStatuses) {
    daemon.reply(23, words({0, 0}));
    velkdirectfe_entity_assoc_t* assoc = nullptr;
    EXPECT_EQ(velkdirectfe_get_entity_association(0, 1, 2, &assoc), -1); // no record to copy
    EXPECT_EQ(assoc, nullptr);

    daemon.reply(24, words({0, 0}));
    uint32_t count = 9;
    velkdirectfe_entity_assoc_t* assocs = reinterpret_cast<velkdirectfe_entity_assoc_t*>(uintptr_t{8});
    EXPECT_EQ(velkdirectfe_get_entity_associations(0, &count, &assocs), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(assocs, nullptr);

    daemon.reply_status(24, 4);
    count = 9;
    EXPECT_EQ(velkdirectfe_get_entity_associations(0, &count, &assocs), 4);
    EXPECT_EQ(count, 9u);
}

TEST_F(EntityAssociations, MemberCountTooLargeToAllocateFails) {
    velkfe_assoc_t wire{1, 2, 3, 0xFFFFFFFF, 0, nullptr};
    daemon.reply(24, xdr_entity_assoc_res, entity_assoc_res{0, 1, &wire});
    uint32_t count = 0;
    velkdirectfe_entity_assoc_t* assocs = nullptr;
    EXPECT_EQ(velkdirectfe_get_entity_associations(0, &count, &assocs), -1);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(assocs, nullptr);
}

TEST(EntityAssociationFree, RefusesNullAndZeroCount) {
    EXPECT_EQ(velkdirectfe_free_entity_associations(0, 1, nullptr), -1);
    auto* one = static_cast<velkdirectfe_entity_assoc_t*>(calloc(1, sizeof(velkdirectfe_entity_assoc_t)));
    EXPECT_EQ(velkdirectfe_free_entity_associations(0, 0, one), -1);
    EXPECT_EQ(velkdirectfe_free_entity_associations(0, 1, one), 0);
}
