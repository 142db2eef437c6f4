// On the 32-bit target (4-byte pointers) the in-memory records are the
// protocol's layouts byte for byte: the fixed blocks are the public records,
// and the wire structs are what the RPC layer is handed. Pin that down.
#include <cstddef>
#include <cstdint>

#include "velkdirectfe_wire.h"

#if UINTPTR_MAX == 0xFFFFFFFFu
#define VDFE_AT(type, field, offset) static_assert(offsetof(type, field) == (offset), #type "." #field)

static_assert(sizeof(velkdirectfe_sensor_attr_t) == VELKFE_SENSOR_BLOCK_SIZE);
VDFE_AT(velkdirectfe_sensor_attr_t, path, 8);
VDFE_AT(velkdirectfe_sensor_attr_t, aux_str, 12);
VDFE_AT(velkdirectfe_sensor_attr_t, kind, 44);
VDFE_AT(velkdirectfe_sensor_attr_t, desc, 48);
VDFE_AT(velkdirectfe_sensor_attr_t, aux_ptr_a, 108);
VDFE_AT(velkdirectfe_sensor_attr_t, aux_ptr_b, 112);
VDFE_AT(velkdirectfe_sensor_attr_t, opt_str, 144);
VDFE_AT(velkdirectfe_sensor_attr_t, props, 148);
static_assert(sizeof(velkdirectfe_ind_attr_t) == VELKFE_IND_BLOCK_SIZE);
VDFE_AT(velkdirectfe_ind_attr_t, path, 4);
VDFE_AT(velkdirectfe_ind_attr_t, aux_str, 8);
VDFE_AT(velkdirectfe_ind_attr_t, kind, 12);
VDFE_AT(velkdirectfe_ind_attr_t, desc, 16);
VDFE_AT(velkdirectfe_ind_attr_t, props, 40);
static_assert(sizeof(velkdirectfe_fru_attr_t) == VELKFE_FRU_BLOCK_SIZE);
VDFE_AT(velkdirectfe_fru_attr_t, path, 4);
VDFE_AT(velkdirectfe_fru_attr_t, aux_str, 8);
VDFE_AT(velkdirectfe_fru_attr_t, kind, 16);
VDFE_AT(velkdirectfe_fru_attr_t, desc, 20);
VDFE_AT(velkdirectfe_fru_attr_t, props, 100);
static_assert(sizeof(velkdirectfe_comp_attr_t) == VELKFE_COMP_BLOCK_SIZE);
VDFE_AT(velkdirectfe_comp_attr_t, path, 4);
VDFE_AT(velkdirectfe_comp_attr_t, kind, 8);
VDFE_AT(velkdirectfe_comp_attr_t, desc, 12);
VDFE_AT(velkdirectfe_comp_attr_t, props, 24);

static_assert(sizeof(prop_node) == 8);
static_assert(sizeof(velkfe_sensor_attr) == 172);
VDFE_AT(velkfe_sensor_attr, path, 152);
VDFE_AT(velkfe_sensor_attr, prop_count, 164);
VDFE_AT(velkfe_sensor_attr, props, 168);
static_assert(sizeof(velkfe_ind_attr) == 60);
VDFE_AT(velkfe_ind_attr, props, 56);
static_assert(sizeof(velkfe_fru_attr) == 120);
VDFE_AT(velkfe_fru_attr, props, 116);
static_assert(sizeof(velkfe_comp_attr) == 40);
VDFE_AT(velkfe_comp_attr, props, 36);
static_assert(sizeof(test_sensor_attr) == 152);
static_assert(sizeof(velkfe_mem_node) == 2);
static_assert(sizeof(velkfe_assoc_t) == 20);
VDFE_AT(velkfe_assoc_t, assoc_word, 4);
VDFE_AT(velkfe_assoc_t, member_count, 8);
VDFE_AT(velkfe_assoc_t, node_count, 12);
VDFE_AT(velkfe_assoc_t, nodes, 16);
static_assert(sizeof(velkfe_plat_names_t) == 12);
VDFE_AT(velkfe_plat_names_t, name1, 4);

static_assert(sizeof(norm_thresh_info_t) == 24);
static_assert(sizeof(sensor_reading_values_t) == 8);
VDFE_AT(sensor_reading_values_t, normal_value, 4);
static_assert(sizeof(sensor_reading_info_t) == 40);
VDFE_AT(sensor_reading_info_t, byte1, 8);
VDFE_AT(sensor_reading_info_t, word1, 12);
VDFE_AT(sensor_reading_info_t, thresholds, 16);
static_assert(sizeof(pollctrl_thresh_t) == 16);
VDFE_AT(pollctrl_thresh_t, ctrl, 4);
VDFE_AT(pollctrl_thresh_t, val1, 6);
VDFE_AT(pollctrl_thresh_t, val8, 13);
static_assert(sizeof(sensor_poll_info_t) == 12);
VDFE_AT(sensor_poll_info_t, poll_short, 8);
static_assert(sizeof(set_sen_reading_t) == 8);
static_assert(sizeof(raw_to_norm_t) == 8);
static_assert(sizeof(norm_to_raw_t) == 8);
static_assert(sizeof(fru_direct_read_t) == 12);
static_assert(sizeof(fru_direct_write_t) == 20);
VDFE_AT(fru_direct_write_t, data_bytes, 16);
static_assert(sizeof(ind_data) == 12);
VDFE_AT(ind_data, duration, 8);

static_assert(sizeof(sensor_attrs_res) == 12);
static_assert(sizeof(get_plat_names_res) == 16);
static_assert(sizeof(sensor_poll_info_res) == 16);
static_assert(sizeof(sensor_reading_res) == 12);
static_assert(sizeof(sensor_data_res) == 44);
static_assert(sizeof(norm_thresh_res) == 28);
static_assert(sizeof(sensor_name_res) == 8);
static_assert(sizeof(fru_write_res) == 8);
static_assert(sizeof(raw_to_norm_res) == 8);
static_assert(sizeof(norm_to_raw_res) == 8);
static_assert(sizeof(ind_get_res) == 8);

#undef VDFE_AT
#endif
