/*
 * Wire protocol of the platform management daemon: ONC RPC program
 * 0x20000003 version 1 on the Unix stream socket "/tmp/velkdirect.sock".
 *
 * Declares the wire records, their XDR routines (each serves encoding,
 * decoding and freeing) and the client stubs, so that a daemon or a tool
 * written elsewhere speaks exactly the library's protocol.
 *
 * Fixed blocks travel as one XDR unsigned int per byte. Byte arrays
 * (fru_read_res, fru_direct_write_t) travel as one XDR int per byte with the
 * value 0 to 255. Decoding bounds every allocation by the bytes received.
 */
#ifndef VELKDIRECTFE_WIRE_H
#define VELKDIRECTFE_WIRE_H

#include <stdint.h>
#include <rpc/rpc.h>

#include "velkdirectfe.h"

#ifdef __cplusplus
extern "C" {
#endif

#define VELKD_PROG 0x20000003u
#define VELKD_VERS 1u
#define VELKD_SOCKET_PATH "/tmp/velkdirect.sock"

/* Sizes of the fixed blocks on the wire (in bytes before XDR expansion). */
#define VELKFE_SENSOR_BLOCK_SIZE 152
#define VELKFE_IND_BLOCK_SIZE 44
#define VELKFE_FRU_BLOCK_SIZE 104
#define VELKFE_COMP_BLOCK_SIZE 28

/* The library checks its procedure table against these when it is built. */
enum velkd_procedure {
    VELKD_GET_SENSOR_ATTR = 1,
    VELKD_GET_SENSOR_ATTR_BY_LOG_NUM = 2,
    VELKD_GET_SENSOR_ATTRS = 3,
    VELKD_GET_IND_ATTR = 4,
    VELKD_GET_IND_ATTRS = 5,
    VELKD_GET_FRU_ATTR = 6,
    VELKD_GET_FRU_ATTRS = 7,
    VELKD_GET_PLATFORM_NAMES = 8,
    VELKD_GET_SENS_VAL = 9,
    VELKD_GET_SENS_DATA = 10,
    VELKD_GET_SENS_DATA_BY_LOG_NUM = 11,
    VELKD_GET_SENS_VAL_BY_LOG_NUM = 12,
    VELKD_SET_THRESHOLD_VALS = 13,
    VELKD_SET_SENSOR_READING = 14,
    VELKD_GET_NORM_THRESHOLD = 15,
    VELKD_ENABLE_SENSOR_POLL = 16,
    VELKD_DISABLE_SENSOR_POLL = 17,
    VELKD_SET_POLL_STATE = 18,
    VELKD_RESET_ALL_SENSORS = 19,
    VELKD_LOGNUM_TO_STRID = 20,
    VELKD_READ_FRU_DIRECT = 21,
    VELKD_WRITE_FRU_DIRECT = 22,
    VELKD_GET_ENTITY_ASSOC = 23,
    VELKD_GET_ENTITY_ASSOCS = 24,
    VELKD_RAW_TO_NORM = 25,
    VELKD_NORM_TO_RAW = 26,
    VELKD_GET_INDICATOR_MODE = 27,
    VELKD_SET_INDICATOR_MODE = 28,
    VELKD_GET_COMP_ATTRS = 29
};

/* ---- Attribute records ------------------------------------------------- */

typedef struct prop_node {
    char *name;
    char *value;
} prop_node;

typedef struct velkfe_sensor_attr {
    uint8_t block[VELKFE_SENSOR_BLOCK_SIZE];
    char *path;
    char *aux_str;
    char *opt_str;              /* "" stands for no string */
    uint32_t prop_count;
    prop_node *props;
} velkfe_sensor_attr;

typedef struct velkfe_ind_attr {
    uint8_t block[VELKFE_IND_BLOCK_SIZE];
    char *path;
    char *aux_str;
    uint32_t prop_count;
    prop_node *props;
} velkfe_ind_attr;

typedef struct velkfe_fru_attr {
    uint8_t block[VELKFE_FRU_BLOCK_SIZE];
    char *path;
    char *aux_str;
    uint32_t prop_count;
    prop_node *props;
} velkfe_fru_attr;

typedef struct velkfe_comp_attr {
    uint8_t block[VELKFE_COMP_BLOCK_SIZE];
    char *path;
    uint32_t prop_count;
    prop_node *props;
} velkfe_comp_attr;

typedef struct test_sensor_attr {
    uint8_t block[VELKFE_SENSOR_BLOCK_SIZE];
} test_sensor_attr;

typedef struct velkfe_mem_node {
    uint8_t key0;
    uint8_t key1;
} velkfe_mem_node;

typedef struct velkfe_assoc_t {
    uint8_t key0;
    uint8_t key1;
    uint32_t assoc_word;
    uint32_t member_count;
    uint32_t node_count;
    velkfe_mem_node *nodes;
} velkfe_assoc_t;

typedef struct velkfe_plat_names_t {
    uint8_t lead_byte;
    char *name1;
    char *name2;
} velkfe_plat_names_t;

/* ---- Sensor records ---------------------------------------------------- */

typedef struct norm_thresh_info_t {
    float thresh1;
    float thresh2;
    float thresh3;
    float thresh4;
    float thresh5;
    float thresh6;
} norm_thresh_info_t;

typedef struct sensor_reading_values_t {
    uint16_t reading;
    float normal_value;
} sensor_reading_values_t;

typedef struct sensor_reading_info_t {
    uint16_t reading;
    float normal_value;
    uint8_t byte1;
    uint8_t byte2;
    uint8_t byte3;
    uint8_t byte4;
    uint16_t word1;
    uint16_t word2;
    norm_thresh_info_t thresholds;
} sensor_reading_info_t;

/* pollctrl_thresh_t is public: see velkdirectfe.h. */

typedef struct sensor_poll_info_t {
    uint32_t sensor_num;
    uint32_t poll_word;
    uint16_t poll_short;
} sensor_poll_info_t;

typedef struct set_sen_reading_t {
    uint32_t sensor_num;
    uint16_t reading;
} set_sen_reading_t;

typedef struct raw_to_norm_t {
    char *sensor;
    uint8_t raw;
} raw_to_norm_t;

typedef struct norm_to_raw_t {
    char *sensor;
    float normal_value;
} norm_to_raw_t;

/* ---- FRU-direct and indicator records ---------------------------------- */

typedef struct fru_direct_read_t {
    char *fru;
    uint32_t offset;
    uint32_t length;
} fru_direct_read_t;

typedef struct fru_direct_write_t {
    char *fru;
    uint32_t offset;
    uint32_t size;
    uint32_t data_count;
    uint8_t *data_bytes;
} fru_direct_write_t;

typedef struct ind_data {
    char *indicator;
    uint8_t mode;
    uint32_t duration;
} ind_data;

/* ---- Result envelopes: status, then a body only when the status is 0 ---- */

typedef struct sensor_attrs_res {
    int status;
    uint32_t count;
    velkfe_sensor_attr *items;
} sensor_attrs_res;

typedef struct indicator_attrs_res {
    int status;
    uint32_t count;
    velkfe_ind_attr *items;
} indicator_attrs_res;

typedef struct fru_attrs_res {
    int status;
    uint32_t count;
    velkfe_fru_attr *items;
} fru_attrs_res;

typedef struct comp_attrs_res {
    int status;
    uint32_t count;
    velkfe_comp_attr *items;
} comp_attrs_res;

typedef struct entity_assoc_res {
    int status;
    uint32_t count;
    velkfe_assoc_t *items;
} entity_assoc_res;

typedef struct fru_read_res {
    int status;
    uint32_t count;
    uint8_t *items;
} fru_read_res;

typedef struct test_res {
    int status;
    uint32_t count;
    test_sensor_attr *items;
} test_res;

typedef struct get_plat_names_res {
    int status;
    velkfe_plat_names_t names;
} get_plat_names_res;

typedef struct sensor_reading_res {
    int status;
    sensor_reading_values_t values;
} sensor_reading_res;

typedef struct sensor_data_res {
    int status;
    sensor_reading_info_t info;
} sensor_data_res;

typedef struct sensor_poll_info_res {
    int status;
    sensor_poll_info_t poll;
} sensor_poll_info_res;

typedef struct norm_thresh_res {
    int status;
    norm_thresh_info_t thresholds;
} norm_thresh_res;

typedef struct sensor_name_res {
    int status;
    char *strid;
} sensor_name_res;

typedef struct fru_write_res {
    int status;
    int write_result;
} fru_write_res;

typedef struct raw_to_norm_res {
    int status;
    float normal_value;
} raw_to_norm_res;

typedef struct norm_to_raw_res {
    int status;
    uint8_t raw;
} norm_to_raw_res;

typedef struct ind_get_res {
    int status;
    uint8_t mode;
} ind_get_res;

/* ---- XDR routines ------------------------------------------------------ */

VELKDIRECTFE_API bool_t xdr_prop_node(XDR *, prop_node *);
VELKDIRECTFE_API bool_t xdr_velkfe_sensor_attr(XDR *, velkfe_sensor_attr *);
VELKDIRECTFE_API bool_t xdr_test_sensor_attr(XDR *, test_sensor_attr *);
VELKDIRECTFE_API bool_t xdr_velkfe_ind_attr(XDR *, velkfe_ind_attr *);
VELKDIRECTFE_API bool_t xdr_velkfe_fru_attr(XDR *, velkfe_fru_attr *);
VELKDIRECTFE_API bool_t xdr_velkfe_comp_attr(XDR *, velkfe_comp_attr *);
VELKDIRECTFE_API bool_t xdr_velkfe_mem_node(XDR *, velkfe_mem_node *);
VELKDIRECTFE_API bool_t xdr_velkfe_assoc_t(XDR *, velkfe_assoc_t *);
VELKDIRECTFE_API bool_t xdr_velkfe_plat_names_t(XDR *, velkfe_plat_names_t *);

VELKDIRECTFE_API bool_t xdr_norm_thresh_info_t(XDR *, norm_thresh_info_t *);
VELKDIRECTFE_API bool_t xdr_sensor_reading_values_t(XDR *, sensor_reading_values_t *);
VELKDIRECTFE_API bool_t xdr_sensor_reading_info_t(XDR *, sensor_reading_info_t *);
VELKDIRECTFE_API bool_t xdr_pollctrl_thresh_t(XDR *, pollctrl_thresh_t *);
VELKDIRECTFE_API bool_t xdr_sensor_poll_info_t(XDR *, sensor_poll_info_t *);
VELKDIRECTFE_API bool_t xdr_set_sen_reading_t(XDR *, set_sen_reading_t *);
VELKDIRECTFE_API bool_t xdr_raw_to_norm_t(XDR *, raw_to_norm_t *);
VELKDIRECTFE_API bool_t xdr_norm_to_raw_t(XDR *, norm_to_raw_t *);

VELKDIRECTFE_API bool_t xdr_fru_direct_read_t(XDR *, fru_direct_read_t *);
VELKDIRECTFE_API bool_t xdr_fru_direct_write_t(XDR *, fru_direct_write_t *);
VELKDIRECTFE_API bool_t xdr_ind_data(XDR *, ind_data *);

VELKDIRECTFE_API bool_t xdr_sensor_attrs_res(XDR *, sensor_attrs_res *);
VELKDIRECTFE_API bool_t xdr_indicator_attrs_res(XDR *, indicator_attrs_res *);
VELKDIRECTFE_API bool_t xdr_fru_attrs_res(XDR *, fru_attrs_res *);
VELKDIRECTFE_API bool_t xdr_comp_attrs_res(XDR *, comp_attrs_res *);
VELKDIRECTFE_API bool_t xdr_entity_assoc_res(XDR *, entity_assoc_res *);
VELKDIRECTFE_API bool_t xdr_fru_read_res(XDR *, fru_read_res *);
VELKDIRECTFE_API bool_t xdr_test_res(XDR *, test_res *);
VELKDIRECTFE_API bool_t xdr_get_plat_names_res(XDR *, get_plat_names_res *);
VELKDIRECTFE_API bool_t xdr_sensor_reading_res(XDR *, sensor_reading_res *);
VELKDIRECTFE_API bool_t xdr_sensor_data_res(XDR *, sensor_data_res *);
VELKDIRECTFE_API bool_t xdr_sensor_poll_info_res(XDR *, sensor_poll_info_res *);
VELKDIRECTFE_API bool_t xdr_norm_thresh_res(XDR *, norm_thresh_res *);
VELKDIRECTFE_API bool_t xdr_sensor_name_res(XDR *, sensor_name_res *);
VELKDIRECTFE_API bool_t xdr_fru_write_res(XDR *, fru_write_res *);
VELKDIRECTFE_API bool_t xdr_raw_to_norm_res(XDR *, raw_to_norm_res *);
VELKDIRECTFE_API bool_t xdr_norm_to_raw_res(XDR *, norm_to_raw_res *);
VELKDIRECTFE_API bool_t xdr_ind_get_res(XDR *, ind_get_res *);

/* ---- Client stubs: one clnt_call each, 25-second timeout ----------------
 * Each takes the argument, result storage that the caller zeroed and later
 * releases with clnt_freeres, and the client; it returns the call status.
 * Stubs without an argument ignore argp. */

VELKDIRECTFE_API enum clnt_stat velkd_get_sensor_attr_1(char **argp, sensor_attrs_res *res, CLIENT *clnt);
VELKDIRECTFE_API enum clnt_stat velkd_get_sensor_attr_by_log_num_1(u_int *argp, sensor_attrs_res *res, CLIENT *clnt);
VELKDIRECTFE_API enum clnt_stat velkd_get_sensor_attrs_1(void *argp, sensor_attrs_res *res, CLIENT *clnt);
VELKDIRECTFE_API enum clnt_stat velkd_get_ind_attr_1(char **argp, indicator_attrs_res *res, CLIENT *clnt);
VELKDIRECTFE_API enum clnt_stat velkd_get_ind_attrs_1(void *argp, indicator_attrs_res *res, CLIENT *clnt);
VELKDIRECTFE_API enum clnt_stat velkd_get_fru_attr_1(char **argp, fru_attrs_res *res, CLIENT *clnt);
VELKDIRECTFE_API enum clnt_stat velkd_get_fru_attrs_1(void *argp, fru_attrs_res *res, CLIENT *clnt);
VELKDIRECTFE_API enum clnt_stat velkd_get_platform_names_1(void *argp, get_plat_names_res *res, CLIENT *clnt);
VELKDIRECTFE_API enum clnt_stat velkd_get_sens_val_1(char **argp, sensor_reading_res *res, CLIENT *clnt);
VELKDIRECTFE_API enum clnt_stat velkd_get_sens_data_1(char **argp, sensor_data_res *res, CLIENT *clnt);
VELKDIRECTFE_API enum clnt_stat velkd_get_sens_data_by_log_num_1(u_int *argp, sensor_data_res *res, CLIENT *clnt);
VELKDIRECTFE_API enum clnt_stat velkd_get_sens_val_by_log_num_1(u_int *argp, sensor_reading_res *res, CLIENT *clnt);
VELKDIRECTFE_API enum clnt_stat velkd_set_threshold_vals_1(pollctrl_thresh_t *argp, int *res, CLIENT *clnt);
VELKDIRECTFE_API enum clnt_stat velkd_set_sensor_reading_1(set_sen_reading_t *argp, int *res, CLIENT *clnt);
VELKDIRECTFE_API enum clnt_stat velkd_get_norm_threshold_1(int *argp, norm_thresh_res *res, CLIENT *clnt);
VELKDIRECTFE_API enum clnt_stat velkd_enable_sensor_poll_1(sensor_poll_info_t *argp, sensor_poll_info_res *res, CLIENT *clnt);
VELKDIRECTFE_API enum clnt_stat velkd_disable_sensor_poll_1(sensor_poll_info_t *argp, sensor_poll_info_res *res, CLIENT *clnt);
VELKDIRECTFE_API enum clnt_stat velkd_set_poll_state_1(u_char *argp, int *res, CLIENT *clnt);
VELKDIRECTFE_API enum clnt_stat velkd_reset_all_sensors_1(void *argp, int *res, CLIENT *clnt);
VELKDIRECTFE_API enum clnt_stat velkd_lognum_to_strid_1(int *argp, sensor_name_res *res, CLIENT *clnt);
VELKDIRECTFE_API enum clnt_stat velkd_read_fru_direct_1(fru_direct_read_t *argp, fru_read_res *res, CLIENT *clnt);
VELKDIRECTFE_API enum clnt_stat velkd_write_fru_direct_1(fru_direct_write_t *argp, fru_write_res *res, CLIENT *clnt);
VELKDIRECTFE_API enum clnt_stat velkd_get_entity_assoc_1(velkfe_mem_node *argp, entity_assoc_res *res, CLIENT *clnt);
VELKDIRECTFE_API enum clnt_stat velkd_get_entity_assocs_1(void *argp, entity_assoc_res *res, CLIENT *clnt);
VELKDIRECTFE_API enum clnt_stat velkd_raw_to_norm_1(raw_to_norm_t *argp, raw_to_norm_res *res, CLIENT *clnt);
VELKDIRECTFE_API enum clnt_stat velkd_norm_to_raw_1(norm_to_raw_t *argp, norm_to_raw_res *res, CLIENT *clnt);
VELKDIRECTFE_API enum clnt_stat velkd_get_indicator_mode_1(char **argp, ind_get_res *res, CLIENT *clnt);
VELKDIRECTFE_API enum clnt_stat velkd_set_indicator_mode_1(ind_data *argp, int *res, CLIENT *clnt);
VELKDIRECTFE_API enum clnt_stat velkd_get_comp_attrs_1(void *argp, comp_attrs_res *res, CLIENT *clnt);

#ifdef __cplusplus
}
#endif

#endif /* VELKDIRECTFE_WIRE_H */
