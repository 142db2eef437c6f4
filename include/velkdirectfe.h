/*
 * libvelkdirectfe: client library for the local platform management daemon.
 *
 * Every function that talks to the daemon opens a fresh connection to
 * "/tmp/velkdirect.sock", issues one request, copies the answer into memory
 * the caller owns and closes the connection. The library keeps no state.
 *
 * Return convention: 0 is success, -1 a local failure (daemon unreachable,
 * RPC failure, memory exhausted), any other value is the daemon's own status,
 * passed on unchanged. Outputs are written only when the result is 0, except
 * that list queries write the count before they allocate the array.
 *
 * Ownership: records, lists and strings handed out come from malloc and
 * belong to the caller. Release record arrays with the plural free function
 * of their kind (count 1 for a single query), property lists with
 * velkdirectfe_nvlist_free and plain strings with free().
 *
 * The handle argument exists for symmetry; no function gives it a meaning.
 * All functions may be called from any number of threads at once.
 */
#ifndef VELKDIRECTFE_H
#define VELKDIRECTFE_H

/* The version of this header (and of the library built with it). The build
 * reads these lines; the shared library's soname follows the major number. */
#define VELKDIRECTFE_VERSION_MAJOR 1
#define VELKDIRECTFE_VERSION_MINOR 0
#define VELKDIRECTFE_VERSION_PATCH 0
#define VELKDIRECTFE_VERSION_STRING "1.0.0"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define VELKDIRECTFE_API __attribute__((visibility("default")))
#else
#define VELKDIRECTFE_API
#endif

/* ---- Property lists ---------------------------------------------------- */

/* One name/value pair of an object's properties, in the daemon's order. */
typedef struct velkdirectfe_nvlist {
    char *name;
    char *value;
    struct velkdirectfe_nvlist *next;
} velkdirectfe_nvlist_t;

/* Releases every node of the list and both strings of each; null is a no-op. */
VELKDIRECTFE_API void velkdirectfe_nvlist_free(velkdirectfe_nvlist_t *list);

/* ---- Attribute records --------------------------------------------------
 * The opaque runs carry bytes that only the daemon interprets. With 4-byte
 * pointers each record is exactly the daemon's fixed block (152, 44, 104 and
 * 28 bytes). */

typedef struct velkdirectfe_sensor_attr {
    uint8_t opaque0[8];
    char *path;
    char *aux_str;              /* the sensor's string id */
    uint8_t opaque1[28];
    uint32_t kind;
    uint8_t desc[10];
    uint8_t opaque2[50];
    void *aux_ptr_a;            /* null after a query; freed when set */
    void *aux_ptr_b;            /* null after a query; freed when set */
    uint8_t opaque3[28];
    char *opt_str;              /* null when the daemon sent no third string */
    velkdirectfe_nvlist_t *props;
} velkdirectfe_sensor_attr_t;

typedef struct velkdirectfe_ind_attr {
    uint8_t opaque0[4];
    char *path;
    char *aux_str;              /* the indicator's name */
    uint32_t kind;
    uint8_t desc[10];
    uint8_t opaque1[14];
    velkdirectfe_nvlist_t *props;
} velkdirectfe_ind_attr_t;

typedef struct velkdirectfe_fru_attr {
    uint8_t opaque0[4];
    char *path;
    char *aux_str;              /* the FRU's name */
    uint8_t opaque1[4];
    uint32_t kind;
    uint8_t desc[10];
    uint8_t opaque2[70];
    velkdirectfe_nvlist_t *props;
} velkdirectfe_fru_attr_t;

typedef struct velkdirectfe_comp_attr {
    uint8_t opaque0[4];
    char *path;
    uint32_t kind;
    uint8_t desc[10];
    uint8_t opaque1[2];
    velkdirectfe_nvlist_t *props;
} velkdirectfe_comp_attr_t;

/* Singular frees release what one record points to, never the record. A
 * null record is a no-op. */
VELKDIRECTFE_API void velkdirectfe_free_sensor_attr(velkdirectfe_sensor_attr_t *attr);
VELKDIRECTFE_API void velkdirectfe_free_indicator_attr(velkdirectfe_ind_attr_t *attr);
VELKDIRECTFE_API void velkdirectfe_free_fru_attr(velkdirectfe_fru_attr_t *attr);
VELKDIRECTFE_API void velkdirectfe_free_component_attr(velkdirectfe_comp_attr_t *attr);

/* Plural frees release count records and then the array. They return -1 and
 * release nothing for a null array or a count of 0, else 0. */
VELKDIRECTFE_API int velkdirectfe_free_sensor_attrs(int handle, uint32_t count,
                                                    velkdirectfe_sensor_attr_t *attrs);
VELKDIRECTFE_API int velkdirectfe_free_indicator_attrs(int handle, uint32_t count,
                                                       velkdirectfe_ind_attr_t *attrs);
VELKDIRECTFE_API int velkdirectfe_free_fru_attrs(int handle, uint32_t count,
                                                 velkdirectfe_fru_attr_t *attrs);
VELKDIRECTFE_API int velkdirectfe_free_component_attrs(int handle, uint32_t count,
                                                       velkdirectfe_comp_attr_t *attrs);

/* ---- Open and close ---------------------------------------------------- */

/* Stores 0 in *handle and returns 0; makes no connection. */
VELKDIRECTFE_API int velkdirectfe_open(int *handle);
/* Does nothing and returns 0. */
VELKDIRECTFE_API int velkdirectfe_close(int handle);

/* ---- Attribute queries --------------------------------------------------
 * Single queries store one record in *attr (release with the plural free and
 * count 1). List queries store the count, then an array of that many records
 * (release with the plural free and that count). A name must not be null. */

VELKDIRECTFE_API int velkdirectfe_get_sensor_attr(int handle, const char *name,
                                                  velkdirectfe_sensor_attr_t **attr);
VELKDIRECTFE_API int velkdirectfe_get_sensor_attr_by_logical_num(int handle, uint32_t logical_num,
                                                                 velkdirectfe_sensor_attr_t **attr);
VELKDIRECTFE_API int velkdirectfe_get_sensor_attrs(int handle, uint32_t *count,
                                                   velkdirectfe_sensor_attr_t **attrs);
VELKDIRECTFE_API int velkdirectfe_get_indicator_attr(int handle, const char *name,
                                                     velkdirectfe_ind_attr_t **attr);
VELKDIRECTFE_API int velkdirectfe_get_indicator_attrs(int handle, uint32_t *count,
                                                      velkdirectfe_ind_attr_t **attrs);
VELKDIRECTFE_API int velkdirectfe_get_fru_attr(int handle, const char *name,
                                               velkdirectfe_fru_attr_t **attr);
VELKDIRECTFE_API int velkdirectfe_get_fru_attrs(int handle, uint32_t *count,
                                                velkdirectfe_fru_attr_t **attrs);
VELKDIRECTFE_API int velkdirectfe_get_component_attrs(int handle, uint32_t *count,
                                                      velkdirectfe_comp_attr_t **attrs);

/* ---- Platform names and sensor string ids ------------------------------ */

typedef struct velkdirectfe_plat_names {
    uint8_t lead_byte;
    char *name1;
    char *name2;
} velkdirectfe_plat_names_t;

/* Fills lead_byte and two heap strings (release each with free()). */
VELKDIRECTFE_API int velkdirectfe_get_platform_names(int handle, velkdirectfe_plat_names_t *names);
/* Stores the sensor's string id as a heap string (release with free()). */
VELKDIRECTFE_API int velkdirectfe_logical_num_to_strid(int handle, int logical_num, char **strid);

/* ---- Sensor values, data and thresholds -------------------------------- */

typedef struct velkdirectfe_sensor_data {
    uint16_t reading;
    float normal_value;
    int32_t byte1;              /* 0 to 255 */
    uint16_t word1;
    int32_t byte2;              /* 0 to 255 */
    int32_t byte3;              /* 0 to 255 */
    uint16_t word2;
    float thresholds[6];
} velkdirectfe_sensor_data_t;

/* Reading and normalized value of one sensor, by string id or number. */
VELKDIRECTFE_API int velkdirectfe_get_sensor_vals(int handle, const char *sensor,
                                                  uint16_t *reading, float *normal_value);
VELKDIRECTFE_API int velkdirectfe_get_sensor_vals_by_logical_num(int handle, uint32_t logical_num,
                                                                 uint16_t *reading,
                                                                 float *normal_value);
/* The full reading record of one sensor into the caller's *data; 0 on success. */
VELKDIRECTFE_API int velkdirectfe_get_sensor_data(int handle, const char *sensor,
                                                  velkdirectfe_sensor_data_t *data);
VELKDIRECTFE_API int velkdirectfe_get_sensor_data_by_logical_num(int handle, uint32_t logical_num,
                                                                 velkdirectfe_sensor_data_t *data);
/* The six normalized thresholds into the caller's thresholds[0..5]. */
VELKDIRECTFE_API int velkdirectfe_get_normalized_thresholds(int handle, int sensor_num,
                                                            float *thresholds);

/* ---- Sensor control and polling ---------------------------------------- */

/* Threshold settings of one sensor; sent exactly as the caller fills it. */
typedef struct pollctrl_thresh {
    uint32_t sensor_num;
    uint16_t ctrl;
    uint8_t val1;
    uint8_t val2;
    uint8_t val3;
    uint8_t val4;
    uint8_t val5;
    uint8_t val6;
    uint8_t val7;
    uint8_t val8;
} pollctrl_thresh_t;

/* The setters return the daemon's answer: 0 on success. */
VELKDIRECTFE_API int velkdirectfe_set_threshold_vals_internal(int handle, pollctrl_thresh_t *thresh_vals);
VELKDIRECTFE_API int velkdirectfe_set_sensor_reading(int handle, uint32_t sensor_num, uint16_t reading);
/* Writes the daemon's poll_word and poll_short for the sensor. */
VELKDIRECTFE_API int velkdirectfe_enable_sensor_polling(int handle, uint32_t sensor_num,
                                                        uint32_t *poll_word, uint16_t *poll_short);
/* Sends *poll_short (as enabling returned it) and writes only *poll_word. */
VELKDIRECTFE_API int velkdirectfe_disable_sensor_polling(int handle, uint32_t sensor_num,
                                                         uint32_t *poll_word,
                                                         const uint16_t *poll_short);
VELKDIRECTFE_API int velkdirectfe_set_poll_state(int handle, uint8_t poll_state);
VELKDIRECTFE_API int velkdirectfe_reset_all_sensors_state(int handle);

/* ---- Entity associations ----------------------------------------------- */

/* One member entity, each key byte widened without sign. */
typedef struct velkdirectfe_entity_member {
    uint32_t key0;
    uint32_t key1;
} velkdirectfe_entity_member_t;

typedef struct velkdirectfe_entity_assoc {
    uint8_t key0;
    int32_t reserved;           /* always 0 */
    int32_t key1;               /* 0 to 255 */
    uint32_t assoc_word;
    uint32_t member_count;
    velkdirectfe_entity_member_t *members; /* member_count slots, owned by the record */
} velkdirectfe_entity_assoc_t;

/* One association in *assoc (release with the free below and count 1). */
VELKDIRECTFE_API int velkdirectfe_get_entity_association(int handle, uint8_t key0, uint8_t key1,
                                                         velkdirectfe_entity_assoc_t **assoc);
/* Every association: the count, then an array of that many records. */
VELKDIRECTFE_API int velkdirectfe_get_entity_associations(int handle, uint32_t *count,
                                                          velkdirectfe_entity_assoc_t **assocs);
/* Releases the member blocks and the array; -1 for null or a count of 0. */
VELKDIRECTFE_API int velkdirectfe_free_entity_associations(int handle, uint32_t count,
                                                           velkdirectfe_entity_assoc_t *assocs);

/* ---- Reading conversions ----------------------------------------------- */

VELKDIRECTFE_API int velkdirectfe_convert_normal_to_raw(int handle, const char *sensor,
                                                        float normal_value, uint8_t *raw_value);
VELKDIRECTFE_API int velkdirectfe_convert_raw_to_normal(int handle, const char *sensor,
                                                        uint8_t raw_value, float *normal_value);

/* ---- Indicator modes --------------------------------------------------- */

/* Stores the indicator's mode (0 to 255) in *mode. */
VELKDIRECTFE_API int velkdirectfe_get_indicator_mode(int handle, const char *indicator, int32_t *mode);
VELKDIRECTFE_API int velkdirectfe_set_indicator_mode(int handle, const char *indicator, uint8_t mode);
/* As above; the daemon returns to the previous mode after duration. */
VELKDIRECTFE_API int velkdirectfe_set_indicator_mode_for_duration(int handle, const char *indicator,
                                                                  uint8_t mode, uint32_t duration);

/* ---- FRU direct access ------------------------------------------------- */

/* Reads up to length bytes at offset into buffer (room for length bytes) and
 * their number into *read_len. An answer longer than length fails with -1. */
VELKDIRECTFE_API int velkdirectfe_read_fru_direct(int handle, const char *fru, uint32_t offset,
                                                  uint32_t length, uint8_t *buffer,
                                                  uint32_t *read_len);
/* Writes size bytes of buffer at offset; the daemon's result in *write_result. */
VELKDIRECTFE_API int velkdirectfe_write_fru_direct(int handle, const char *fru, uint32_t offset,
                                                   uint32_t size, const uint8_t *buffer,
                                                   int32_t *write_result);

/* ---- Inventory walk ---------------------------------------------------- */

/* Called once per node below the root, level by level. The pointers are
 * valid only during the call. The result is handed to the node's children as
 * parent_data. */
typedef void *(*velkdirectfe_inv_cb_t)(const char *path, uint32_t kind, const uint8_t *desc,
                                       const velkdirectfe_nvlist_t *props, void *parent_data);

/* Walks every FRU, sensor, indicator and component as one tree under a root
 * whose data is root_data. 0 when the walk ran, -1 when nothing was obtained
 * (the callback was then never called). */
VELKDIRECTFE_API int velkdirectfe_inventory_direct(int handle, velkdirectfe_inv_cb_t callback,
                                                   void *root_data);

#ifdef __cplusplus
}
#endif

#endif /* VELKDIRECTFE_H */
