// Every function that talks to the daemon as one table: how to call it, the
// argument bytes it sends, a reply in literal bytes and what the caller must
// then hold. Used by the call tests and by the allocation failure sweeps.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <functional>
#include <tuple>

#include "test_daemon.h"
#include "velkdirectfe.h"
#include "wire/block_layout.h"

namespace vdfe::test {

class ApiTest : public testing::Test {
protected:
    TestDaemon daemon;
};

// Every output any call writes; filled with a pattern before each call, so
// that a write on a failure path, or past an output, shows.
struct Out {
    uint32_t count, word, length;
    void* list;
    char* strid;
    uint16_t reading, poll_short;
    float value, six[7];
    int32_t mode;
    uint8_t raw[3], buffer[8];
    velkdirectfe_sensor_data_t data;
    velkdirectfe_plat_names_t names;
};
template <typename T>
T** as(void*& list) { return reinterpret_cast<T**>(&list); }
using Sensor = velkdirectfe_sensor_attr_t;
using Ind = velkdirectfe_ind_attr_t;
using Fru = velkdirectfe_fru_attr_t;
using Comp = velkdirectfe_comp_attr_t;
using Assoc = velkdirectfe_entity_assoc_t;
inline uint32_t bits(float f) { return std::bit_cast<uint32_t>(f); }

struct Call {
    const char* name;
    uint32_t procedure;
    std::function<int(Out&)> run;
    Bytes arguments;
    Bytes reply; // an answer
    std::function<void(Out&, const Out&)> check = {}; // what it delivered (and releases it)
    uint32_t records = 0; // of the reply: 1 for a query of one record, else a list (0: no records)
    int result = 0;       // of the reply
};
inline void PrintTo(const Call& c, std::ostream* out) { *out << c.name; }

// A block whose every byte is distinct, so misplaced copies show.
template <size_t N>
void fill_pattern(uint8_t (&block)[N], uint8_t seed) {
    for (size_t i = 0; i < N; ++i) block[i] = static_cast<uint8_t>(seed + i * 3);
}

inline const wire::BlockLayout& layout_of(Sensor*) { return wire::kSensorLayout; }
inline const wire::BlockLayout& layout_of(Ind*) { return wire::kIndicatorLayout; }
inline const wire::BlockLayout& layout_of(Fru*) { return wire::kFruLayout; }
inline const wire::BlockLayout& layout_of(Comp*) { return wire::kComponentLayout; }

// A call answered with three records of a kind: patterned blocks, whose data
// runs land where the kind's layout (proven in tests/wire) says, and two
// properties of one name; the second record's strings are empty, and its empty
// third string is no string. A query of one hands over the first, a list all.
template <typename Res, typename Record>
Call records(const char* name, uint32_t procedure, std::function<int(Out&)> run, Bytes arguments,
             bool_t (*routine)(XDR*, Res*), int (*free_records)(int, uint32_t, Record*),
             uint32_t count) {
    using Wire = std::remove_pointer_t<decltype(Res::items)>;
    static char paths[3][4] = {"/x0", "/x1", "/x2"}, n[] = "n", blank[] = " ", none[] = "";
    static char k[] = "k", v[] = "v";
    static prop_node props[] = {{k, none}, {k, v}};
    Wire recs[3] = {};
    for (int i = 0; i < 3; ++i) {
        fill_pattern(recs[i].block, uint8_t(i));
        recs[i].path = paths[i];
        if constexpr (requires { recs[i].aux_str; }) recs[i].aux_str = i == 1 ? none : n;
        if constexpr (requires { recs[i].opt_str; }) recs[i].opt_str = i == 1 ? none : blank;
        recs[i].prop_count = 2;
        recs[i].props = props;
    }
    auto check = [free_records, count](Out& o, const Out&) {
        auto* got = static_cast<Record*>(o.list);
        if (count > 1) { EXPECT_EQ(o.count, count); }
        for (uint32_t i = 0; i < count; ++i) {
            Wire sent{};
            fill_pattern(sent.block, uint8_t(i));
            auto& r = got[i];
            auto* bytes = reinterpret_cast<const uint8_t*>(&r);
            for (const wire::BlockRun& run : layout_of(got).runs)
                EXPECT_TRUE(!wire::carries_bytes(run.role) ||
                            !std::memcmp(bytes + run.record_offset, sent.block + run.block_offset,
                                         run.width)) << "block offset " << run.block_offset;
            EXPECT_STREQ(r.path, paths[i]);
            const bool two = i == 1;
            if constexpr (requires { r.aux_str; }) { EXPECT_STREQ(r.aux_str, two ? "" : "n"); }
            if constexpr (requires { r.opt_str; }) { EXPECT_STREQ(r.opt_str, two ? nullptr : " "); }
            if constexpr (requires { r.aux_ptr_a; }) { EXPECT_TRUE(!r.aux_ptr_a && !r.aux_ptr_b); }
            ASSERT_NE(r.props, nullptr);
            EXPECT_STREQ(r.props->value, "");
            ASSERT_NE(r.props->next, nullptr);
            EXPECT_STREQ(r.props->next->value, "v"); // in wire order
            EXPECT_EQ(r.props->next->next, nullptr);
        }
        EXPECT_EQ(free_records(0, count, got), 0);
    };
    return {name, procedure, std::move(run), std::move(arguments),
            encode(routine, Res{0, 3, recs}), check, count};
}

inline const uint8_t kWritten[] = {0x01, 0x80, 0xFF};
inline const Bytes kSensorData = words({0, 0xABCD, bits(21.5f), 0x80, 0xFF, 0x01, 0x7F, 0x1234,
                                        0xFEDC, bits(1), bits(2), bits(3), bits(4), bits(5),
                                        bits(6)});
inline void expect_sensor_data(Out& o, const Out&) {
    const auto& d = o.data; // bytes widened without sign
    EXPECT_EQ(std::tie(d.reading, d.normal_value, d.byte1, d.byte2, d.byte3, d.word1, d.word2),
              std::make_tuple(0xABCD, 21.5f, 128, 255, 1, 0x1234, 0xFEDC));
    for (int i = 0; i < 6; ++i) EXPECT_EQ(d.thresholds[i], float(i + 1));
}
inline void expect_reading(Out& o, const Out&) {
    EXPECT_EQ(o.reading, 0xFFFF);
    EXPECT_EQ(o.value, -40.25f);
}
inline void nothing_written(Out& o, const Out& before) {
    EXPECT_EQ(0, std::memcmp(&o, &before, sizeof o));
}

inline const std::vector<Call> kCalls = {
    records("sensor_attr", 1,
            [](Out& o) { return velkdirectfe_get_sensor_attr(0, "cpu", as<Sensor>(o.list)); },
            xdr_str("cpu"), xdr_sensor_attrs_res, velkdirectfe_free_sensor_attrs, 1),
    records("sensor_attr_by_number", 2,
            [](Out& o) {
                auto** list = as<Sensor>(o.list);
                return velkdirectfe_get_sensor_attr_by_logical_num(0, 0xFFFFFFF0, list);
            },
            words({0xFFFFFFF0u}), xdr_sensor_attrs_res, velkdirectfe_free_sensor_attrs, 1),
    records("sensor_attrs", 3,
            [](Out& o) { return velkdirectfe_get_sensor_attrs(0, &o.count, as<Sensor>(o.list)); },
            {}, xdr_sensor_attrs_res, velkdirectfe_free_sensor_attrs, 3),
    records("indicator_attr", 4,
            [](Out& o) { return velkdirectfe_get_indicator_attr(0, "led", as<Ind>(o.list)); },
            xdr_str("led"), xdr_indicator_attrs_res, velkdirectfe_free_indicator_attrs, 1),
    records("indicator_attrs", 5,
            [](Out& o) { return velkdirectfe_get_indicator_attrs(0, &o.count, as<Ind>(o.list)); },
            {}, xdr_indicator_attrs_res, velkdirectfe_free_indicator_attrs, 3),
    records("fru_attr", 6,
            [](Out& o) { return velkdirectfe_get_fru_attr(0, "mainboard", as<Fru>(o.list)); },
            xdr_str("mainboard"), xdr_fru_attrs_res, velkdirectfe_free_fru_attrs, 1),
    records("fru_attrs", 7,
            [](Out& o) { return velkdirectfe_get_fru_attrs(0, &o.count, as<Fru>(o.list)); },
            {}, xdr_fru_attrs_res, velkdirectfe_free_fru_attrs, 3),
    records("component_attrs", 29,
            [](Out& o) { return velkdirectfe_get_component_attrs(0, &o.count, as<Comp>(o.list)); },
            {}, xdr_comp_attrs_res, velkdirectfe_free_component_attrs, 3),
    {"platform_names", 8, [](Out& o) { return velkdirectfe_get_platform_names(0, &o.names); }, {},
     words({0, 0xC3}) + xdr_str("Velk 9000") + xdr_str(""),
     [](Out& o, const Out&) {
         EXPECT_EQ(o.names.lead_byte, 0xC3);
         EXPECT_STREQ(o.names.name1, "Velk 9000");
         EXPECT_STREQ(o.names.name2, ""); // a string, not null
         free(o.names.name1);
         free(o.names.name2);
     }},
    {"strid", 20, [](Out& o) { return velkdirectfe_logical_num_to_strid(0, -2, &o.strid); },
     words({0xFFFFFFFE}), words({0}) + xdr_str("psu0_vout"),
     [](Out& o, const Out&) {
         EXPECT_STREQ(o.strid, "psu0_vout");
         free(o.strid);
     }},
    {"sensor_vals", 9,
     [](Out& o) { return velkdirectfe_get_sensor_vals(0, "fan1", &o.reading, &o.value); },
     xdr_str("fan1"), words({0, 0xFFFF, bits(-40.25f)}), expect_reading},
    {"sensor_vals_by_number", 12,
     [](Out& o) { return velkdirectfe_get_sensor_vals_by_logical_num(0, 7, &o.reading, &o.value); },
     words({7}), words({0, 0xFFFF, bits(-40.25f)}), expect_reading},
    // returns 0 whatever the fourth byte, which has no field
    {"sensor_data", 10, [](Out& o) { return velkdirectfe_get_sensor_data(0, "cpu", &o.data); },
     xdr_str("cpu"), kSensorData, expect_sensor_data},
    {"sensor_data_by_number", 11,
     [](Out& o) { return velkdirectfe_get_sensor_data_by_logical_num(0, 3, &o.data); }, words({3}),
     kSensorData, expect_sensor_data},
    {"thresholds", 15, [](Out& o) { return velkdirectfe_get_normalized_thresholds(0, -4, o.six); },
     words({0xFFFFFFFC}), words({0, bits(-1.5f), 0, bits(1), bits(2), bits(3), bits(1e30f)}),
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
    {"enable_polling", 16,
     [](Out& o) { return velkdirectfe_enable_sensor_polling(0, 12, &o.word, &o.poll_short); },
     words({12, 0, 0}), words({0, 99, 0xDEADBEEF, 0xBEEF}),
     [](Out& o, const Out&) {
         EXPECT_EQ(o.word, 0xDEADBEEF);
         EXPECT_EQ(o.poll_short, 0xBEEF);
     }},
    // sends back the poll short it is given (what enabling received), writes only the word
    {"disable_polling", 17,
     [](Out& o) { return velkdirectfe_disable_sensor_polling(0, 12, &o.word, &o.poll_short); },
     words({12, 0, 0x5C5C}), words({0, 98, 0x11111111, 0x2222}),
     [](Out& o, const Out&) {
         EXPECT_EQ(o.word, 0x11111111u);
         EXPECT_EQ(o.poll_short, 0x5C5C);
     }},
    {"poll_state", 18, [](Out&) { return velkdirectfe_set_poll_state(0, 0xFF); }, words({0xFF}),
     words({0})},
    {"reset", 19, [](Out&) { return velkdirectfe_reset_all_sensors_state(0); }, {}, words({0})},
    {"read_fru", 21,
     [](Out& o) { return velkdirectfe_read_fru_direct(0, "mb", 16, 8, o.buffer, &o.length); },
     xdr_str("mb") + words({16, 8}), words({0, 3, 0x01, 0x80, 0xFF}),
     [](Out& o, const Out& before) { // a short read fills only the first bytes
         EXPECT_EQ(o.length, 3u);
         EXPECT_EQ(0, std::memcmp(o.buffer, kWritten, 3));
         EXPECT_EQ(0, std::memcmp(o.buffer + 3, before.buffer + 3, 5));
     }},
    {"read_fru_nothing", 21,
     [](Out& o) { return velkdirectfe_read_fru_direct(0, "mb", 0, 8, o.buffer, &o.length); },
     xdr_str("mb") + words({0, 8}), words({0, 0}),
     [](Out& o, const Out& before) {
         EXPECT_EQ(o.length, 0u);
         EXPECT_EQ(0, std::memcmp(o.buffer, before.buffer, 8));
     }},
    // more bytes than asked for cannot be delivered: nothing is written
    {"read_fru_overlong", 21,
     [](Out& o) { return velkdirectfe_read_fru_direct(0, "mb", 0, 4, o.buffer, &o.length); },
     xdr_str("mb") + words({0, 4}), words({0, 5, 1, 2, 3, 4, 5}), nothing_written, 0, -1},
    {"write_fru", 22,
     [](Out& o) { return velkdirectfe_write_fru_direct(0, "mb", 4, 3, kWritten, &o.mode); },
     xdr_str("mb") + words({4, 3, 3, 0x01, 0x80, 0xFF}), words({0, 0xFFFFFFEF}),
     [](Out& o, const Out&) { EXPECT_EQ(o.mode, -17); }},
    {"write_fru_nothing", 22,
     [](Out& o) { return velkdirectfe_write_fru_direct(0, "mb", 0, 0, nullptr, &o.mode); },
     xdr_str("mb") + words({0, 0, 0}), words({0, 0}),
     [](Out& o, const Out&) { EXPECT_EQ(o.mode, 0); }},
    {"association", 23,
     [](Out& o) { return velkdirectfe_get_entity_association(0, 0x25, 0x01, as<Assoc>(o.list)); },
     words({0x25, 0x01}), words({0, 1, 0x25, 0x01, 7, 1, 1, 3, 4}),
     [](Out& o, const Out&) {
         auto* assoc = static_cast<Assoc*>(o.list);
         EXPECT_EQ(assoc->members[0].key1, 4u);
         EXPECT_EQ(velkdirectfe_free_entity_associations(0, 1, assoc), 0);
     },
     1},
    // more members than nodes (the rest zero), fewer, none (still an array)
    {"associations", 24,
     [](Out& o) { return velkdirectfe_get_entity_associations(0, &o.count, as<Assoc>(o.list)); },
     {},
     words({0, 3, 0x25, 0xFF, 0xA0A0A0A0, 4, 2, 1, 0xFF, 2, 0x80, 0x26, 1, 1, 1, 3, 5, 6, 7, 8, 9,
            10, 0x27, 2, 2, 0, 0}),
     [](Out& o, const Out&) {
         auto* a = static_cast<Assoc*>(o.list);
         ASSERT_EQ(o.count, 3u);
         EXPECT_EQ(std::tie(a[0].key0, a[0].key1, a[0].reserved, a[0].assoc_word),
                   std::make_tuple(0x25, 255, 0, 0xA0A0A0A0u));
         ASSERT_EQ(a[0].member_count, 4u);
         const auto* m = a[0].members;
         EXPECT_EQ(std::tie(m[0].key0, m[0].key1, m[1].key1, m[2].key0, m[3].key1),
                   std::make_tuple(1u, 255u, 128u, 0u, 0u));
         ASSERT_EQ(a[1].member_count, 1u);
         EXPECT_EQ(a[1].members[0].key0, 5u);
         EXPECT_NE(a[2].members, nullptr);
         EXPECT_EQ(velkdirectfe_free_entity_associations(0, 3, a), 0);
     },
     3},
    // member slots beyond what one reply may make the library allocate: the
    // count is stored, no array
    {"associations_too_many_members", 24,
     [](Out& o) { return velkdirectfe_get_entity_associations(0, &o.count, as<Assoc>(o.list)); },
     {}, words({0, 1, 1, 2, 3, 0xFFFFFFFF, 0}),
     [](Out& o, const Out&) {
         EXPECT_EQ(o.count, 1u);
         EXPECT_EQ(o.list, nullptr);
     },
     0, -1},
    {"raw_to_normal", 25,
     [](Out& o) { return velkdirectfe_convert_raw_to_normal(0, "fan1", 255, &o.value); },
     xdr_str("fan1") + words({0xFF}), words({0, bits(0.1f)}),
     [](Out& o, const Out&) { EXPECT_EQ(o.value, 0.1f); }},
    // the caller's double becomes the nearest float at the call
    {"normal_to_raw", 26,
     [](Out& o) {
         return velkdirectfe_convert_normal_to_raw(0, "fan1", static_cast<float>(0.1), &o.raw[1]);
     },
     xdr_str("fan1") + words({0x3DCCCCCD}), words({0, 200}),
     [](Out& o, const Out& before) {
         EXPECT_EQ(o.raw[0], before.raw[0]);
         EXPECT_EQ(o.raw[1], 200);
         EXPECT_EQ(o.raw[2], before.raw[2]);
     }},
    {"indicator_mode", 27,
     [](Out& o) { return velkdirectfe_get_indicator_mode(0, "led0", &o.mode); }, xdr_str("led0"),
     words({0, 0x80}),
     [](Out& o, const Out&) { EXPECT_EQ(o.mode, 128); }}, // unsigned in all four bytes
    // with and without a duration of 0, the same record
    {"set_indicator_mode", 28, [](Out&) { return velkdirectfe_set_indicator_mode(0, "led0", 2); },
     xdr_str("led0") + words({2, 0}), words({0})},
    {"set_indicator_mode_for_0", 28,
     [](Out&) { return velkdirectfe_set_indicator_mode_for_duration(0, "led0", 2, 0); },
     xdr_str("led0") + words({2, 0}), words({0})},
    {"set_indicator_mode_for_duration", 28,
     [](Out&) { return velkdirectfe_set_indicator_mode_for_duration(0, "led0", 0xFF, 0xFFFFFFFF); },
     xdr_str("led0") + words({0xFF, 0xFFFFFFFF}), words({0})},
};

} // namespace vdfe::test
